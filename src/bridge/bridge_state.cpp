// bridge_state.json: what it tells a server, and when it is written.
#include "bridge/bridge_state.h"

#include <utility>

#include "bridge/flight_json.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "simconnect/simconnect_manager.h"

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
        case CommandResult::sent:
            return "sent";
    }
    return "done";
}

// Each member: its key after "{" or ",", then the value.
class JsonObject {
public:
    std::string finish() {
        out_.push_back('}');
        return std::move(out_);
    }
    template <typename Integer>
    JsonObject& integer(std::string_view key, Integer value) {
        member(key).append(std::to_string(value));
        return *this;
    }
    JsonObject& flag(std::string_view key, std::optional<bool> value) {
        member(key).append(!value ? "null" : *value ? "true" : "false");
        return *this;
    }
    JsonObject& text(std::string_view key, const std::optional<std::string>& value) {
        if (value) {
            append_json_string(member(key), *value);
        } else {
            member(key).append("null");
        }
        return *this;
    }
    JsonObject& raw(std::string_view key, std::string_view json) {
        member(key).append(json);
        return *this;
    }

private:
    std::string& member(std::string_view key) {
        out_.push_back(out_.empty() ? '{' : ',');
        out_.push_back('"');
        out_.append(key);
        out_.append("\":");
        return out_;
    }
    std::string out_;
};

std::string last_command_json(const std::optional<LastCommand>& command) {
    if (!command) {
        return "null";
    }
    const bool failed = command->result == CommandResult::failed;
    const bool refused = failed && command->exception.has_value();
    return JsonObject()
        .integer("seq", command->seq)
        .text("word", command->word)
        .raw("result", "\"" + std::string(result_word(command->result)) + "\"")
        .raw("hresult", failed && !refused ? std::to_string(command->hresult) : "null")
        .raw("exception", refused ? std::to_string(*command->exception) : "null")
        .text("exception_name",
              refused ? std::optional<std::string>(exception_name(*command->exception)) : std::nullopt)
        .integer("at", command->at)
        .finish();
}

std::string last_error_json(const std::optional<WriteError>& error) {
    if (!error) {
        return "null";
    }
    return JsonObject().text("file", error->file).text("reason", error->reason).integer("at", error->at).finish();
}

std::string last_recording_json(const std::optional<RecordingSummary>& recording) {
    if (!recording) {
        return "null";
    }
    return JsonObject().text("path", recording->path).integer("lines", recording->lines).finish();
}

// The modes as words; bit 2 (pause with sound, from older simulators) is a pause too.
std::string pause_modes_json(const std::optional<std::uint32_t>& modes) {
    if (!modes) {
        return "null";
    }
    std::string words;
    const auto add = [&](std::string_view word) {
        words += words.empty() ? "[\"" : ",\"";
        words += word;
        words += '"';
    };
    if ((*modes & 3U) != 0) {
        add("pause");
    }
    if ((*modes & 4U) != 0) {
        add("active");
    }
    if ((*modes & 8U) != 0) {
        add("sim");
    }
    return words.empty() ? "[]" : words + "]";
}

}  // namespace

std::string bridge_state_json(const BridgeState& state) {
    return JsonObject()
        .integer("pid", state.pid)
        .integer("started_at", state.started_at)
        .integer("alive_at", state.alive_at)
        .flag("connected", state.connected)
        .flag("sim_paused", state.sim_paused)
        .raw("pause_modes", pause_modes_json(state.pause_modes))
        .flag("test_active", state.test_active)
        .text("recording", state.recording)
        .raw("last_recording", last_recording_json(state.last_recording))
        .integer("samples", state.samples)
        .integer("test_samples", state.test_samples)
        .text("aircraft_title", state.aircraft_title)
        .text("aircraft_type", state.aircraft_type)
        .raw("last_command", last_command_json(state.last_command))
        .integer("write_errors", state.write_errors)
        .raw("last_error", last_error_json(state.last_error))
        .finish();
}

BridgeStateFile::BridgeStateFile() : pid_(platform::process_id()), started_at_(platform::wall_clock_seconds()) {}

void BridgeStateFile::set_path(std::string path, ExchangeFiles& files) {
    path_ = std::move(path);
    files_ = &files;
}

void BridgeStateFile::publish(BridgeState state) {
    if (path_.empty()) {
        return;
    }
    state.pid = pid_;
    state.started_at = started_at_;
    state.last_error = files_->last_error();
    // The counters change with every sample: a heartbeat shows them.
    const std::uint64_t samples = std::exchange(state.samples, 0);
    const std::uint64_t test_samples = std::exchange(state.test_samples, 0);
    const std::uint64_t recorded = state.last_recording ? std::exchange(state.last_recording->lines, 0) : 0;
    std::string key = bridge_state_json(state);
    const auto now = std::chrono::steady_clock::now();
    if (written_ && key == last_written_key_ && now - last_write_ < kHeartbeat) {
        return;
    }
    state.alive_at = platform::wall_clock_seconds();
    state.samples = samples;
    state.test_samples = test_samples;
    if (state.last_recording) {
        state.last_recording->lines = recorded;
    }
    state.write_errors = files_->write_errors();
    files_->write(path_, bridge_state_json(state), ExchangeFiles::Method::replace);
    last_written_key_ = std::move(key);
    last_write_ = now;
    written_ = true;
}

}  // namespace velmar
