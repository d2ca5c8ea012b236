#include "bridge/bridge_state.h"

#include <utility>

#include "bridge/flight_json.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/filesystem.h"

namespace velmar {

namespace {

std::string_view result_word(CommandResult result) {
    switch (result) {
        case CommandResult::done:
            return "done";
        case CommandResult::unknown:
            return "unknown";
        case CommandResult::failed:
            return "failed";
        case CommandResult::not_connected:
            return "not_connected";
    }
    return "done";
}

void append_member(std::string& out, std::string_view key) {
    out.push_back(out.empty() ? '{' : ',');
    out.push_back('"');
    out.append(key);
    out.append("\":");
}

void append_flag(std::string& out, bool value) { out.append(value ? "true" : "false"); }

}  // namespace

std::string bridge_state_json(const BridgeState& state) {
    std::string out;
    append_member(out, "pid");
    out.append(std::to_string(state.pid));
    append_member(out, "started_at");
    out.append(std::to_string(state.started_at));
    append_member(out, "alive_at");
    out.append(std::to_string(state.alive_at));
    append_member(out, "connected");
    append_flag(out, state.connected);
    append_member(out, "sim_paused");
    if (state.sim_paused) {
        append_flag(out, *state.sim_paused);
    } else {
        out.append("null");
    }
    append_member(out, "test_active");
    append_flag(out, state.test_active);
    append_member(out, "recording");
    if (state.recording) {
        append_json_string(out, *state.recording);
    } else {
        out.append("null");
    }
    append_member(out, "samples");
    out.append(std::to_string(state.samples));
    append_member(out, "test_samples");
    out.append(std::to_string(state.test_samples));
    append_member(out, "aircraft_title");
    append_json_string(out, state.aircraft_title);
    append_member(out, "aircraft_type");
    append_json_string(out, state.aircraft_type);
    append_member(out, "last_command");
    if (const auto& command = state.last_command) {
        out.append("{\"seq\":" + std::to_string(command->seq) + ",\"word\":");
        append_json_string(out, command->word);
        out.append(",\"result\":\"");
        out.append(result_word(command->result));
        out.append("\",\"hresult\":");
        out.append(command->result == CommandResult::failed ? std::to_string(command->hresult) : "null");
        out.append(",\"at\":" + std::to_string(command->at) + "}");
    } else {
        out.append("null");
    }
    out.push_back('}');
    return out;
}

BridgeStateFile::BridgeStateFile() : pid_(platform::process_id()), started_at_(platform::wall_clock_seconds()) {}

void BridgeStateFile::set_path(std::string path) { path_ = std::move(path); }

void BridgeStateFile::note_command(std::string_view word, CommandResult result, std::int32_t hresult) {
    last_command_ = LastCommand{++commands_taken_, std::string(word), result, hresult, platform::wall_clock_seconds()};
}

void BridgeStateFile::publish(BridgeState state) {
    if (path_.empty()) {
        return;
    }
    state.pid = pid_;
    state.started_at = started_at_;
    state.last_command = last_command_;
    const std::uint64_t samples = std::exchange(state.samples, 0);
    const std::uint64_t test_samples = std::exchange(state.test_samples, 0);
    std::string key = bridge_state_json(state);
    const auto now = std::chrono::steady_clock::now();
    if (written_ && key == last_written_key_ && now - last_write_ < kHeartbeat) {
        return;
    }
    state.alive_at = platform::wall_clock_seconds();
    state.samples = samples;
    state.test_samples = test_samples;
    // A failed write is tried again at the next heartbeat; nothing else depends on it.
    platform::replace_file(path_, bridge_state_json(state));
    last_written_key_ = std::move(key);
    last_write_ = now;
    written_ = true;
}

}  // namespace velmar
