#pragma once
// Checks of the bridge's wakes shared by the native and the Wine tests: both
// are generous bounds that a bridge draining every 50 ms and polling the
// command file every 100 ms fails.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/process.h"

namespace velmar::test {

// Sends marker samples about 25 ms apart while a test records, and returns the
// median of |gap between recorded timestamps - gap between sends| in ms, with
// every pair of gaps in `gaps`. A bridge draining every 50 ms records gaps of
// 0 or 50 ms: a median error of about 25.
inline double median_timestamp_gap_error(Standin& standin, const std::function<std::string()>& read_recording,
                                         std::string& gaps) {
    using Clock = std::chrono::steady_clock;
    constexpr double kMarkerAltitude = 70000;  // no model frame flies this high
    constexpr int kMarkers = 20;
    std::map<int, Clock::time_point> sent;
    for (int i = 0; i < kMarkers; ++i) {
        sent[i] = Clock::now();
        standin.control("sample 2 " + std::to_string(kMarkerAltitude + i) + " 120 131 270 500 40 0 47.5 11.5");
        standin.control("wait 25");
    }
    std::map<int, std::int64_t> recorded;  // marker number -> timestamp
    eventually([&] {
        recorded.clear();
        for (const std::string& line : split_lines(read_recording())) {
            const auto sample = nlohmann::json::parse(line, nullptr, false);
            const double altitude = sample.is_object() ? sample.value("altitude", 0.0) : 0.0;
            if (altitude >= kMarkerAltitude) {
                recorded[static_cast<int>(std::lround(altitude - kMarkerAltitude))] = sample["timestamp"];
            }
        }
        return recorded.size() == kMarkers;
    });
    if (recorded.size() != kMarkers) {
        gaps = "only " + std::to_string(recorded.size()) + " markers recorded";
        return 1e9;
    }
    std::vector<double> errors;
    for (int i = 1; i < kMarkers; ++i) {
        const auto recorded_gap = static_cast<double>(recorded[i] - recorded[i - 1]);
        const double sent_gap = std::chrono::duration<double, std::milli>(sent[i] - sent[i - 1]).count();
        errors.push_back(std::abs(recorded_gap - sent_gap));
        gaps += " " + std::to_string(std::lround(recorded_gap)) + "/" + std::to_string(std::lround(sent_gap));
    }
    // The median, as a machine under load may hold up a few sends or wakes.
    std::nth_element(errors.begin(), errors.begin() + kMarkers / 2, errors.end());
    return errors[kMarkers / 2];
}

// Writes PAUSE_REGULAR and UNPAUSE in turn, each just after a poll has found
// the (existing, empty) command file empty, so the next poll is 100 ms away;
// checks each one's call in the stand-in's log and returns how many of
// `rounds` reached it within 50 ms, with every time in `times`. `by_rename`:
// written beside it and renamed into place, as a careful server does.
inline int commands_taken_within_50ms(Process& bridge, Standin& standin, const std::filesystem::path& command_file,
                                      int rounds, std::string& times, bool by_rename = false) {
    using Clock = std::chrono::steady_clock;
    const std::string empty_line = "[DEBUG] Command file empty";
    int prompt = 0;
    for (int i = 0; i < rounds; ++i) {
        const bool pause = i % 2 == 0;
        const std::size_t log_before = standin.log_lines().size();
        if (!bridge.wait_for_line_count(empty_line, bridge.count_lines(empty_line) + 1)) {
            times += " (no poll line)";
            continue;
        }
        const auto written = Clock::now();
        const std::filesystem::path written_file =
            by_rename ? std::filesystem::path(command_file.string() + ".new") : command_file;
        write_file(written_file, pause ? "PAUSE_REGULAR" : "UNPAUSE");
        if (by_rename) std::filesystem::rename(written_file, command_file);
        if (!eventually([&] { return standin.log_lines().size() > log_before; }, 5s)) {
            times += " (not taken)";
            continue;
        }
        const double taken = std::chrono::duration<double, std::milli>(Clock::now() - written).count();
        const bool right_call = standin.log_lines()[log_before] ==
                                "SimConnect_TransmitClientEvent 0 " + std::string(pause ? "4" : "5") + " 0 1 16 -> 0";
        prompt += right_call && taken <= 50.0;
        times += " " + std::to_string(std::lround(taken)) + (right_call ? "" : " (another call)");
    }
    return prompt;
}

}  // namespace velmar::test
