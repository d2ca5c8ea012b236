// sim-standin's control lines: read from the inputs, carried out in order, echoed.

#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include "server.h"

namespace velmar::standin {

using Clock = std::chrono::steady_clock;

void Server::run_control_lines() {
    {
        std::lock_guard lock(posted_mutex_);
        while (!posted_.empty()) {
            pending_lines_.push_back(std::move(posted_.front()));
            posted_.pop_front();
        }
    }
    while (!exit_) {
        if (waiting_until_) {
            if (Clock::now() < *waiting_until_) return;
            waiting_until_.reset();
            output_("ok " + pending_lines_.front());
            pending_lines_.pop_front();
            continue;
        }
        if (pending_lines_.empty()) return;
        std::string& line = pending_lines_.front();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const ParsedControl parsed = parse_control_line(line);
        if (!parsed.command) {
            if (!parsed.error.empty()) errors_("sim-standin: bad control line \"" + line + "\": " + parsed.error);
            pending_lines_.pop_front();
            continue;
        }
        if (const auto* wait = std::get_if<WaitCommand>(&*parsed.command)) {
            // The line stays at the front until its time is up, then is echoed.
            waiting_until_ = Clock::now() + std::chrono::milliseconds(wait->milliseconds);
            continue;
        }
        carry_out(*parsed.command);
        output_("ok " + line);
        pending_lines_.pop_front();
    }
}

void Server::carry_out(const ControlCommand& command) {
    if (const auto* fail = std::get_if<FailCommand>(&command)) {
        if (fail->result == 0) {
            failures_.erase(fail->function);
        } else {
            failures_[fail->function] = Failure{fail->result, fail->count};
        }
    } else if (const auto* exception = std::get_if<ExceptionCommand>(&command)) {
        broadcast(exception_record(exception->code, SIMCONNECT_RECV_EXCEPTION::UNKNOWN_SENDID,
                                   SIMCONNECT_RECV_EXCEPTION::UNKNOWN_INDEX));
    } else if (const auto* event = std::get_if<EventCommand>(&command)) {
        broadcast(event_record(event->event_id, event->data));
    } else if (const auto* sample = std::get_if<SampleCommand>(&command)) {
        std::string payload(sizeof sample->values, '\0');
        std::memcpy(payload.data(), sample->values.data(), payload.size());
        broadcast(data_record(sample->request_id, 0, 0, static_cast<DWORD>(sample->values.size()), payload));
    } else if (const auto* state = std::get_if<StateCommand>(&command)) {
        broadcast(system_state_record(state->request_id, 0, state->text));
    } else if (const auto* aircraft = std::get_if<AircraftCommand>(&command)) {
        world_.aircraft_path = aircraft->path;
    } else if (const auto* freeze = std::get_if<FreezeCommand>(&command)) {
        world_.frozen = freeze->on;
    } else if (std::holds_alternative<QuitCommand>(command)) {
        const RecordBytes quit = quit_record();
        for (auto& client : clients_) {
            if (client->dropped) continue;
            if (client->listening() && !silent_) send_record(*client, quit);  // a silent simulator says nothing
            client->closing = true;
            flush_client(*client);
        }
    } else if (std::holds_alternative<ExitCommand>(command)) {
        exit_ = true;
    } else if (const auto* refuse = std::get_if<RefuseCommand>(&command)) {
        if (refuse->code == 0) {
            refusals_.erase(refuse->function);
        } else {
            refusals_[refuse->function] = Failure{static_cast<std::int32_t>(refuse->code), refuse->count};
        }
    } else if (const auto* pause = std::get_if<PauseCommand>(&command)) {
        // The simulator's own menu: its pause news, but no client event was transmitted.
        const std::uint32_t before = std::exchange(world_.pause_modes, pause->modes);
        broadcast_effect(CallEffect{std::nullopt, 0, before});
    } else if (const auto* unknown = std::get_if<UnknownVariableCommand>(&command)) {
        std::string name = unknown->name;
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        world_.unknown_variables.insert(std::move(name));
    } else if (const auto* silence = std::get_if<SilenceCommand>(&command)) {
        silent_ = silence->silent;
        // What was kept goes out now; what clients sent meanwhile is read at the next poll.
        if (!silent_) {
            for (auto& client : clients_) flush_client(*client);
        }
    } else if (const auto* hold = std::get_if<HoldCommand>(&command)) {
        if (hold->hold) {
            holds_.insert(hold->function);
        } else {
            holds_.erase(hold->function);
            release_held(hold->function);
        }
    }
}

void Server::read_control_input() {
    for (auto input = control_inputs_.begin(); input != control_inputs_.end();) {
        pollfd entry{input->fd, POLLIN, 0};
        if (::poll(&entry, 1, 0) <= 0) {
            ++input;
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(input->fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            ++input;
            continue;
        }
        if (got <= 0) {
            // End of input stops nothing; an unfinished last line still counts.
            if (!input->partial.empty()) pending_lines_.push_back(std::move(input->partial));
            input = control_inputs_.erase(input);
            continue;
        }
        input->partial.append(buffer, static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end = input->partial.find('\n'); end != std::string::npos;
             end = input->partial.find('\n', start)) {
            pending_lines_.push_back(input->partial.substr(start, end - start));
            start = end + 1;
        }
        input->partial.erase(0, start);
        ++input;
    }
}

}  // namespace velmar::standin
