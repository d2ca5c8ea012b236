// What each packet from a client does: Open and its answer, the private
// extension for our own client library, and the calls, each logged before it
// is answered.

#include <SimConnect.h>

#include <cstdio>

#include "server.h"

namespace velmar::standin {

namespace {

constexpr DWORD kNoIndex = SIMCONNECT_RECV_EXCEPTION::UNKNOWN_INDEX;

bool accepted_protocol(std::uint32_t version) {
    return version == protocol::kProtocolFsxSp2 || version == protocol::kProtocolKittyHawk ||
           version == protocol::kProtocolSunRise;
}

std::string hex_number(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

}  // namespace

void Server::handle_packet(Client& client, const std::uint8_t* packet, std::size_t size) {
    packet_log_.write(client.number, packet, size);
    const protocol::PacketHeader header = protocol::read_header(packet);
    if (!header.marked) return drop(client, "a packet of type " + hex_number(header.type));
    const auto type = static_cast<protocol::Packet>(header.type);
    if (type == protocol::Packet::Open) return handle_open(client, packet, size);
    if (client.state == Client::State::AwaitingOpen) return drop(client, "a packet before open");

    if (type == protocol::Packet::Hello) {
        if (client.state != Client::State::OpenPending) return drop(client, "a hello after the first packet");
        const auto hello = protocol::decode_hello(packet, size);
        if (!hello) return drop(client, "a malformed hello");
        settle_open(client, hello);
        return;
    }
    // Any other packet settles the Open of a client that does not ask for acknowledgements.
    if (client.state == Client::State::OpenPending && !settle_open(client, std::nullopt)) return;

    if (type == protocol::Packet::NullArguments || type == protocol::Packet::Close) {
        if (!client.acknowledged) return drop(client, "a private packet without hello");
        if (type == protocol::Packet::NullArguments) {
            const auto nulls = protocol::decode_null_arguments(packet, size);
            if (!nulls) return drop(client, "a malformed null-arguments packet");
            client.nulls = *nulls;
            return;
        }
        const std::int32_t result = take_failure(protocol::Function::Close).value_or(0);
        log_.write_line("SimConnect_Close -> " + std::to_string(result));
        respond(client, Answer{protocol::Function::Close, {ack_record(header.send_id, result)}, true});
        return;
    }
    handle_call(client, header, packet, size);
}

void Server::handle_open(Client& client, const std::uint8_t* packet, std::size_t size) {
    if (client.state != Client::State::AwaitingOpen) return drop(client, "a second open");
    const auto open = protocol::decode_open(packet, size);
    if (!open) return drop(client, "a malformed open of " + std::to_string(size) + " bytes");
    client.open_send_id = protocol::read_header(packet).send_id;
    if (!accepted_protocol(open->protocol)) {
        // As the simulator does: the client must reconnect to try another version.
        errors_("sim-standin: refused an open of protocol version " + std::to_string(open->protocol));
        send_record(client, exception_record(SIMCONNECT_EXCEPTION_VERSION_MISMATCH, client.open_send_id, kNoIndex));
        client.closing = true;
        flush_client(client);
        return;
    }
    client.application_name = open->application_name;
    client.state = Client::State::OpenPending;
    send_record(client, open_record());
}

// Logs the Open with the arguments our client sends in its Hello (none from
// other clients) and answers it. False when it is refused.
bool Server::settle_open(Client& client, const std::optional<protocol::Hello>& hello) {
    const protocol::Hello arguments = hello.value_or(protocol::Hello{});
    client.application_name.null = arguments.null_name != 0;
    const std::int32_t result = take_failure(protocol::Function::Open).value_or(0);
    log_.write_line("SimConnect_Open " + log_string(client.application_name) + " " + std::to_string(arguments.window) +
                    " " + std::to_string(arguments.user_event) + " " + std::to_string(arguments.event_handle) + " " +
                    std::to_string(arguments.config_index) + " -> " + std::to_string(result));
    client.state = Client::State::Open;
    client.acknowledged = hello.has_value();
    Answer answer{protocol::Function::Open, {}, result != 0};
    if (hello) {
        answer.records.push_back(ack_record(client.open_send_id, result));
    } else if (result != 0) {
        answer.records.push_back(exception_record(SIMCONNECT_EXCEPTION_ERROR, client.open_send_id, kNoIndex));
    }
    respond(client, std::move(answer));
    return result == 0;
}

void Server::handle_call(Client& client, const protocol::PacketHeader& header, const std::uint8_t* packet,
                         std::size_t size) {
    const std::optional<protocol::Call> call = protocol::decode_call(packet, size, std::exchange(client.nulls, 0));
    if (!call) {
        const std::string_view name = protocol::packet_function_name(header.type);
        if (!name.empty()) return drop(client, "a malformed " + std::string(name));
        // A call this simulator does not know: the exception a simulator sends for it.
        send_record(client, exception_record(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, header.send_id, kNoIndex));
        if (client.acknowledged) send_record(client, ack_record(header.send_id, 0));
        return;
    }

    const protocol::Function function = protocol::function_of(*call);
    const std::optional<std::int32_t> failure = take_failure(function);
    const std::optional<std::uint32_t> refusal = failure ? std::nullopt : take_refusal(function);
    const std::int32_t result = failure.value_or(0);
    log_.write_line(std::string(protocol::function_name(function)) + " " + log_arguments(*call) + " -> " +
                    std::to_string(result));
    Answer answer{function, {}, false};
    if (failure) {
        // Only our client hears an HRESULT; the others get what a simulator would send.
        if (!client.acknowledged)
            answer.records.push_back(exception_record(SIMCONNECT_EXCEPTION_ERROR, header.send_id, kNoIndex));
    } else if (!refusal) {
        // The simulator's own news, never held.
        broadcast_effect(client.session.apply(*call, header.send_id, world_, answer.records));
    }
    // Records the call caused go out before its acknowledgement, so they are queued when the call returns.
    if (client.acknowledged) answer.records.push_back(ack_record(header.send_id, result));
    // A refusal comes after the call has returned, as from the simulator.
    if (refusal) answer.records.push_back(exception_record(*refusal, header.send_id, kNoIndex));
    respond(client, std::move(answer));
}

void Server::respond(Client& client, Answer answer) {
    if (answer.close) client.finished = true;
    if (holds_.erase(answer.function) != 0) {
        // Logged and in effect, but unanswered: the client waits as for a slow simulator.
        client.held.push_back(std::move(answer));
        return;
    }
    send_answer(client, answer);
}

void Server::send_answer(Client& client, const Answer& answer) {
    for (const RecordBytes& record : answer.records) send_record(client, record);
    if (!answer.close || client.dropped) return;
    client.closing = true;
    flush_client(client);
}

void Server::release_held(protocol::Function function) {
    for (auto& client : clients_) {
        std::vector<Answer> answers;
        std::erase_if(client->held, [&](Answer& answer) {
            if (answer.function != function) return false;
            answers.push_back(std::move(answer));
            return true;
        });
        for (const Answer& answer : answers) {
            if (client->dropped) break;
            send_answer(*client, answer);
        }
    }
}

}  // namespace velmar::standin
