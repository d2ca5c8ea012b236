// FileBridge's tests: start and stop, the recording file, and each sample's way to the data file and the recording.
#include <string>
#include <string_view>
#include <utility>

#include "bridge/app_folder.h"
#include "bridge/file_bridge.h"
#include "bridge/flight_json.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/filesystem.h"

namespace velmar {

namespace {

using platform::print_error_line;
using platform::print_line;

constexpr std::string_view kRecordingPrefix = "flight_data_";
constexpr std::string_view kRecordingExtension = ".json";
constexpr const char* kRecordingTimePattern = "%Y%m%d_%H%M%S";

// Tried in turn when a recording name is taken: <name>_2, <name>_3, ...
constexpr int kMaxRecordingSuffix = 10000;

std::int64_t monotonic_now_nanoseconds() { return monotonic_nanoseconds(std::chrono::steady_clock::now()); }

}  // namespace

void FileBridge::write_flight_data(const FlightData& sample) {
    // The test state is read once, so a sample's timestamp and the recording
    // it goes to belong to the same test. The lock is not held while the data
    // file is written: a busy stream of samples must not starve the commands.
    std::int64_t test_start = 0;
    bool test_active = false;
    {
        std::lock_guard lock(test_mutex_);
        // A sample that arrived before the test started is not part of it,
        // even when it is written after the start.
        test_active = test_active_ && monotonic_nanoseconds(sample.timestamp) >= test_start_;
        test_start = test_start_;
    }
    const std::int64_t timestamp_ms =
        test_active ? elapsed_milliseconds(monotonic_nanoseconds(sample.timestamp), test_start) : 0;
    format_flight_json(last_json_, sample, timestamp_ms);
    write_data_file();
    if (!test_active) {
        sample_counters_.count(false);
        return;
    }
    std::string report;
    {
        std::lock_guard lock(test_mutex_);
        // A test stopped or started meanwhile: this sample is not part of it.
        const bool in_test = test_active_ && test_start_ == test_start;
        // Under the lock, so that a new test's count never takes an old test's sample.
        sample_counters_.count(in_test);
        if (!in_test || !recording_.is_open()) {
            return;
        }
        last_json_.append(platform::kLineEnd);
        const std::error_code error = recording_.append(last_json_);
        last_json_.resize(last_json_.size() - platform::kLineEnd.size());
        // One report per run of failures; each later sample tries again, so
        // the recording goes on once there is room.
        if (error && !std::exchange(recording_failing_, true)) {
            report = "[CUSTOM ERROR] Failed to append to recording " + recording_path_ + ": " + error.message() +
                     " (the line was cut back; later samples are appended once there is room)";
        } else if (!error) {
            recording_failing_ = false;
            ++last_recording_->lines;  // open, so there is one
        }
    }
    if (!report.empty()) {
        print_error_line(report);
    }
}

bool FileBridge::open_recording() {
    recording_.close();
    recording_path_.clear();
    recording_failing_ = false;
    const auto app_data = platform::app_data_folder();
    if (!app_data) {
        return true;  // no app-data folder: tests run unrecorded, as documented
    }
    const std::string folder = platform::join_path(*app_data, kAppFolderName);
    platform::create_directories(folder);  // a missing one shows as the recording's failure
    std::string base = platform::join_path(folder, kRecordingPrefix);
    base += platform::format_local_time(platform::wall_clock_seconds(), kRecordingTimePattern);
    // Created exclusively: another bridge sharing the folder may take a name
    // between any look and the open, and a recording is never overwritten.
    std::error_code error;
    for (int suffix = 1; suffix <= kMaxRecordingSuffix; ++suffix) {
        std::string path = base;
        if (suffix > 1) {
            path += "_" + std::to_string(suffix);
        }
        path += kRecordingExtension;
        error = recording_.create_new(path);
        if (error != std::errc::file_exists) {
            if (!error) {
                last_recording_ = RecordingSummary{path, 0};
                recording_path_ = std::move(path);
                return true;
            }
            files_.note(path, error);
            return false;
        }
    }
    files_.note(base + "_N" + std::string(kRecordingExtension), error);
    return false;
}

bool FileBridge::start_test() {
    bool recording = false;
    {
        std::lock_guard lock(test_mutex_);
        recording = open_recording();  // a second start ends the current recording whole
        test_active_ = recording;
        test_start_ = monotonic_now_nanoseconds();
        sample_counters_.start_test();
    }
    if (!recording) {
        // Nothing could be recorded: no test runs, and the status says so.
        write_status_file(simconnect_.is_connected());
        return false;
    }
    const bool collecting = simconnect_.start_data_collection();
    write_status_file(simconnect_.is_connected());
    print_line("[OK] Test started - Data collection active");
    return collecting;
}

void FileBridge::stop_test() {
    {
        std::lock_guard lock(test_mutex_);
        test_active_ = false;
    }
    simconnect_.stop_data_collection();
    {
        std::lock_guard lock(test_mutex_);
        recording_.close();
    }
    write_status_file(simconnect_.is_connected());
    print_line("[OK] Test stopped - Data saved to AppData/Velmar/");
}

void FileBridge::end_test_of_closed_session() {
    {
        std::lock_guard lock(test_mutex_);
        if (!test_active_) {
            return;
        }
        test_active_ = false;
        recording_.close();
    }
    print_line("[CUSTOM ERROR] Test stopped - connection to MSFS ended; data saved to AppData/Velmar/");
}

}  // namespace velmar
