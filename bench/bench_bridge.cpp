// End-to-end figures of the bridge run as a process against sim-standin:
//   end-to-end  frames sent, lines recorded, sample latency (stand-in -> data
//               file and recording), recorded timestamps against send times
//   commands    command pickup latency (file written -> the stand-in's call log)
//   idle        CPU of a connected bridge with nothing to do
//   soak        resident memory over a long run at 60 frames a second with a test
// Prints figures; never fails on them.

#include <SimConnect.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "simconnect/sample_definition.h"

namespace velmar::bench {
namespace {

constexpr double kMarkerBase = 900000.0;  // altitudes no model frame reaches

struct Options {
    std::string mode;
    double seconds = 0;
    int rate = 0;
    int count = 0;
    std::filesystem::path base = "/dev/shm";
};

// A second SimConnect client on the stand-in that asks for the same sample as
// the bridge and keeps every frame it gets: the independent count of what the
// stand-in sent.
class FrameCounter {
public:
    explicit FrameCounter(int port) {
        setenv("SIMCONNECT_STANDIN_PORT", std::to_string(port).c_str(), 1);
        if (SimConnect_Open(&handle_, "velmar bench counter", nullptr, 0, nullptr, 0) != S_OK) {
            throw std::runtime_error("the frame counter could not connect");
        }
        for (const SampleVariable& variable : kSampleDefinition) {
            SimConnect_AddToDataDefinition(handle_, 0, variable.name, variable.unit, SIMCONNECT_DATATYPE_FLOAT64, 0,
                                           SIMCONNECT_UNUSED);
        }
        SimConnect_RequestDataOnSimObject(handle_, 2, 0, SIMCONNECT_OBJECT_ID_USER, SIMCONNECT_PERIOD_VISUAL_FRAME,
                                          SIMCONNECT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0);
        thread_ = std::thread([this] { loop(); });
    }
    ~FrameCounter() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        SimConnect_Close(handle_);
    }
    // Latitude and longitude of every model frame, as the bridge prints them.
    std::vector<std::string> stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        return frames_;
    }

private:
    void loop() {
        while (running_) {
            SIMCONNECT_RECV* record = nullptr;
            DWORD size = 0;
            while (SimConnect_GetNextDispatch(handle_, &record, &size) == S_OK) {
                if (record->dwID != SIMCONNECT_RECV_ID_SIMOBJECT_DATA) continue;
                auto* data = reinterpret_cast<SIMCONNECT_RECV_SIMOBJECT_DATA*>(record);
                double values[9];
                std::memcpy(values, &data->dwData, sizeof values);
                if (values[0] >= kMarkerBase) continue;
                char key[64];
                std::snprintf(key, sizeof key, "%.8f,%.8f", values[7], values[8]);
                frames_.emplace_back(key);
            }
            std::this_thread::sleep_for(500us);
        }
    }

    HANDLE handle_ = nullptr;
    std::atomic<bool> running_{true};
    std::vector<std::string> frames_;
    std::thread thread_;
};

// The number after "KEY": in a JSON line, as text.
std::string member_text(std::string_view line, std::string_view key) {
    std::string pattern = "\"" + std::string(key) + "\":";
    std::size_t at = line.find(pattern);
    if (at == std::string_view::npos) return {};
    at += pattern.size();
    std::size_t end = line.find_first_of(",}", at);
    return std::string(line.substr(at, end - at));
}

// Reads the recording as it grows and stamps each whole line on arrival.
class RecordingTail {
public:
    explicit RecordingTail(std::filesystem::path path) : path_(std::move(path)) {
        thread_ = std::thread([this] { loop(); });
    }
    std::vector<StampedLine> stop() {
        running_ = false;
        thread_.join();
        read_new();
        return lines_;
    }

private:
    void loop() {
        while (running_) {
            read_new();
            std::this_thread::sleep_for(250us);
        }
    }
    void read_new() {
        FILE* file = std::fopen(path_.c_str(), "rb");
        if (file == nullptr) return;
        std::fseek(file, static_cast<long>(offset_), SEEK_SET);
        char buffer[1 << 16];
        std::size_t n;
        Clock::time_point now = Clock::now();
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            pending_.append(buffer, n);
            offset_ += n;
        }
        std::fclose(file);
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
            lines_.push_back({now, pending_.substr(start, end - start)});
        }
        pending_.erase(0, start);
    }

    std::filesystem::path path_;
    std::atomic<bool> running_{true};
    std::size_t offset_ = 0;
    std::string pending_;
    std::vector<StampedLine> lines_;
    std::thread thread_;
};

std::filesystem::path newest_recording(const std::filesystem::path& folder) {
    std::filesystem::path newest;
    std::filesystem::file_time_type newest_time{};
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (!name.starts_with("flight_data_")) continue;
        if (newest.empty() || entry.last_write_time() > newest_time) {
            newest = entry.path();
            newest_time = entry.last_write_time();
        }
    }
    return newest;
}

void run_command(BridgeProcess& bridge, const std::string& word, std::string_view confirmation) {
    std::size_t from = bridge.child().line_count();
    bridge.write_command(word);
    if (!bridge.child().wait_line_equal(confirmation, from, 10s) || !bridge.wait_command_file_empty(10s)) {
        throw std::runtime_error("the bridge did not take " + word);
    }
}

void end_to_end(const Options& options) {
    Scratch scratch(options.base);
    StandinProcess standin(scratch.path(), options.rate);
    BridgeProcess bridge(standin, scratch.path() / "data", scratch.path() / "appdata");
    FrameCounter counter(standin.port());

    run_command(bridge, "START_TEST", "[OK] Test started - Data collection active");
    std::filesystem::path recording = newest_recording(scratch.path() / "appdata" / "Velmar");
    if (recording.empty()) throw std::runtime_error("no recording");
    RecordingTail tail(recording);
    // When each marker was first seen in the data file.
    std::mutex data_file_mutex;
    std::map<std::size_t, Clock::time_point> in_data_file;  // guarded by data_file_mutex
    FileWatch data_file_watch(bridge.data_file(), [&](Clock::time_point at) {
        const std::string text = member_text(read_file(bridge.data_file()), "altitude");
        const double altitude = text.empty() ? 0 : std::strtod(text.c_str(), nullptr);
        if (altitude < kMarkerBase) return;
        std::lock_guard lock(data_file_mutex);
        in_data_file.emplace(static_cast<std::size_t>(altitude - kMarkerBase + 0.5), at);
    });

    // Markers: samples of our own, sent through the stand-in among the model
    // frames, each with an altitude that names it.
    std::vector<Clock::time_point> sent;
    Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause_us(15000, 35000);
    while (Clock::now() < end) {
        char line[160];
        std::snprintf(line, sizeof line, "sample 2 %.2f 120 131 270 500 40 0 47.5 11.5",
                      kMarkerBase + static_cast<double>(sent.size()));
        sent.push_back(Clock::now());
        standin.control_async(line);
        std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)));
    }
    std::this_thread::sleep_for(300ms);
    run_command(bridge, "STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/");
    std::this_thread::sleep_for(200ms);
    std::vector<std::string> frames = counter.stop();
    std::vector<StampedLine> lines = tail.stop();

    std::vector<double> latencies;
    std::vector<double> stamp_offsets;  // recorded timestamp - send time, ms (a constant apart from error)
    std::vector<std::string> recorded;  // model frames in the recording
    std::size_t markers_seen = 0;
    for (const auto& line : lines) {
        double altitude = std::stod(member_text(line.text, "altitude"));
        if (altitude >= kMarkerBase) {
            auto index = static_cast<std::size_t>(altitude - kMarkerBase + 0.5);
            if (index < sent.size()) {
                latencies.push_back(milliseconds_between(sent[index], line.at));
                stamp_offsets.push_back(std::stod(member_text(line.text, "timestamp")) -
                                        milliseconds_between(sent.front(), sent[index]));
            }
            ++markers_seen;
        } else {
            recorded.push_back(member_text(line.text, "latitude") + "," + member_text(line.text, "longitude"));
        }
    }
    // The frames the stand-in sent while the test ran: those the counter saw
    // from the first recorded model frame to the last one.
    std::size_t expected = 0, matched = 0;
    if (!recorded.empty()) {
        auto first = std::find(frames.begin(), frames.end(), recorded.front());
        auto last = std::find(frames.rbegin(), frames.rend(), recorded.back());
        if (first == frames.end() || last == frames.rend()) {
            std::printf("  (the counting client did not see the %s recorded frame: no count of frames sent)\n",
                        first == frames.end() ? "first" : "last");
        } else {
            auto last_index = static_cast<std::size_t>(frames.rend() - last) - 1;
            auto first_index = static_cast<std::size_t>(first - frames.begin());
            expected = last_index >= first_index ? last_index - first_index + 1 : 0;
            std::size_t r = 0;
            for (std::size_t f = first_index; f <= last_index && r < recorded.size(); ++f) {
                if (frames[f] == recorded[r]) {
                    ++matched;
                    ++r;
                }
            }
        }
    }
    std::printf("end-to-end: %s, stand-in --rate %d, test recording for %.0f s, files on %s\n",
                machine_description().c_str(), options.rate, options.seconds, file_system_of(scratch.path()).c_str());
    std::printf("  frames sent by the stand-in during the test   %zu (the counting client saw %zu in all)\n", expected,
                frames.size());
    std::printf("  model lines recorded                          %zu (in order and matching: %zu; lost: %zu)\n",
                recorded.size(), matched, expected > matched ? expected - matched : 0);
    std::printf("  marker samples sent / recorded                %zu / %zu\n", sent.size(), markers_seen);
    std::vector<double> data_file_latencies;
    {
        std::lock_guard lock(data_file_mutex);
        for (const auto& [index, at] : in_data_file) {
            if (index < sent.size()) data_file_latencies.push_back(milliseconds_between(sent[index], at));
        }
    }
    std::vector<double> stamp_errors;
    const double offset = median(stamp_offsets);
    for (double value : stamp_offsets) stamp_errors.push_back(std::abs(value - offset));
    std::printf("  latency send -> data file (%5zu markers)      p50 %.2f ms  p99 %.2f ms  max %.2f ms\n",
                data_file_latencies.size(), percentile(data_file_latencies, 0.5), percentile(data_file_latencies, 0.99),
                percentile(data_file_latencies, 1.0));
    std::printf("  latency send -> recorded line                 p50 %.2f ms  p99 %.2f ms  max %.2f ms\n",
                percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0));
    std::printf("  recorded timestamp error against send times   p50 %.2f ms  p99 %.2f ms  max %.2f ms\n",
                percentile(stamp_errors, 0.5), percentile(stamp_errors, 0.99), percentile(stamp_errors, 1.0));
    std::printf("  bridge exit status after SIGINT                %d\n", bridge.stop().value_or(-1));
}

void commands(const Options& options) {
    Scratch scratch(options.base);
    StandinProcess standin(scratch.path(), 60);
    BridgeProcess bridge(standin, scratch.path() / "data", scratch.path() / "appdata");
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pause_us(0, 100000);  // spreads the writes over the poll period
    std::vector<double> pickup, to_call;
    // Each growth of the call log: when, and how many lines it then held.
    const std::filesystem::path log = scratch.path() / "standin-calls.log";
    std::mutex log_mutex;
    std::vector<std::pair<Clock::time_point, std::size_t>> log_growth;  // guarded by log_mutex
    auto log_lines = [&] {
        const std::string text = read_file(log);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    FileWatch log_watch(log, [&](Clock::time_point at) {
        const std::size_t count = log_lines();
        std::lock_guard lock(log_mutex);
        log_growth.emplace_back(at, count);
    });
    for (int i = 0; i < options.count; ++i) {
        bool pause = i % 2 == 0;
        std::string word = pause ? "PAUSE_REGULAR" : "UNPAUSE";
        std::string confirmation = pause ? "[OK] Executing regular pause" : "[OK] Executing unpause";
        std::size_t from = bridge.child().line_count();
        const std::size_t calls_before = log_lines();
        Clock::time_point written = bridge.write_command(word);
        auto index = bridge.child().wait_line_equal(confirmation, from, 10s);
        if (!index || !bridge.wait_command_file_empty(10s)) throw std::runtime_error("command not taken");
        pickup.push_back(milliseconds_between(written, bridge.child().line(*index).at));
        for (Clock::time_point deadline = Clock::now() + 2s; Clock::now() < deadline;
             std::this_thread::sleep_for(1ms)) {
            std::lock_guard lock(log_mutex);
            auto call = std::find_if(log_growth.begin(), log_growth.end(), [&](const auto& growth) {
                return growth.first >= written && growth.second > calls_before;
            });
            if (call != log_growth.end()) {
                to_call.push_back(milliseconds_between(written, call->first));
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)));
    }
    std::printf("commands: %s\n", machine_description().c_str());
    std::printf(
        "  %zu commands, file written -> first call in the stand-in's log  p50 %.2f ms  p99 %.2f ms  max %.2f ms\n",
        to_call.size(), percentile(to_call, 0.5), percentile(to_call, 0.99), percentile(to_call, 1.0));
    std::printf(
        "  %zu commands, file written -> confirmation line                p50 %.2f ms  p99 %.2f ms  max %.2f ms\n",
        pickup.size(), percentile(pickup, 0.5), percentile(pickup, 0.99), percentile(pickup, 1.0));
    std::printf("  bridge exit status after SIGINT                %d\n", bridge.stop().value_or(-1));
}

void idle(const Options& options) {
    Scratch scratch(options.base);
    StandinProcess standin(scratch.path(), 60);
    standin.control("freeze on");
    BridgeProcess bridge(standin, scratch.path() / "data", scratch.path() / "appdata");
    // The normal idle state: the command file exists and is empty.
    run_command(bridge, "UNPAUSE", "[OK] Executing unpause");
    std::this_thread::sleep_for(3s);  // past the aircraft request
    double cpu_before = process_cpu_seconds(bridge.child().pid());
    Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    double cpu = process_cpu_seconds(bridge.child().pid()) - cpu_before;
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("idle: %s\n", machine_description().c_str());
    std::printf(
        "  connected bridge, no samples, empty command file: %.2f %% of one core over %.0f s"
        " (%.3f s CPU), RSS %ld KiB\n",
        100.0 * cpu / wall, wall, cpu, process_rss_kib(bridge.child().pid()));
    std::printf("  bridge exit status after SIGINT                %d\n", bridge.stop().value_or(-1));
}

void soak(const Options& options) {
    Scratch scratch(options.base);
    StandinProcess standin(scratch.path(), options.rate);
    BridgeProcess bridge(standin, scratch.path() / "data", scratch.path() / "appdata");
    run_command(bridge, "START_TEST", "[OK] Test started - Data collection active");
    int pid = bridge.child().pid();
    std::printf("soak: %s, stand-in --rate %d, test recording for %.0f s\n", machine_description().c_str(),
                options.rate, options.seconds);
    std::printf("  %8s %10s %12s\n", "second", "RSS KiB", "CPU %");
    Clock::time_point start = Clock::now();
    double last_cpu = process_cpu_seconds(pid);
    Clock::time_point last = start;
    long rss_at_minute_1 = -1, rss_max_after_minute_1 = 0, rss_last = 0;
    for (int step = 1;; ++step) {
        std::this_thread::sleep_until(start + std::chrono::seconds(10 * step));
        double cpu = process_cpu_seconds(pid);
        Clock::time_point now = Clock::now();
        long rss = process_rss_kib(pid);
        double elapsed = std::chrono::duration<double>(now - start).count();
        std::printf("  %8.0f %10ld %12.2f\n", elapsed, rss,
                    100.0 * (cpu - last_cpu) / std::chrono::duration<double>(now - last).count());
        std::fflush(stdout);
        last_cpu = cpu;
        last = now;
        rss_last = rss;
        if (elapsed >= 59.0 && rss_at_minute_1 < 0) rss_at_minute_1 = rss;
        if (rss_at_minute_1 >= 0) rss_max_after_minute_1 = std::max(rss_max_after_minute_1, rss);
        if (elapsed >= options.seconds) break;
    }
    run_command(bridge, "STOP_TEST", "[OK] Test stopped - Data saved to AppData/Velmar/");
    std::size_t lines = 0;
    std::string content = read_file(newest_recording(scratch.path() / "appdata" / "Velmar"));
    for (char c : content) lines += c == '\n';
    std::printf(
        "  RSS at minute 1 %ld KiB, at the end %ld KiB, highest after minute 1 %ld KiB;"
        " %zu lines recorded\n",
        rss_at_minute_1, rss_last, rss_max_after_minute_1, lines);
    std::printf("  bridge exit status after SIGINT                %d\n", bridge.stop().value_or(-1));
}

int usage() {
    std::fprintf(stderr,
                 "usage: bench_bridge end-to-end [SECONDS] [RATE] | commands [COUNT] | idle [SECONDS] |"
                 " soak [SECONDS] [RATE]\n"
                 "  scratch folders go under $VELMAR_BENCH_DIR (default /dev/shm)\n");
    return 2;
}

}  // namespace
}  // namespace velmar::bench

int main(int argc, char** argv) {
    using namespace velmar::bench;
    if (argc < 2) return usage();
    Options options;
    options.mode = argv[1];
    if (const char* base = std::getenv("VELMAR_BENCH_DIR")) options.base = base;
    auto number = [&](int index, double fallback) { return argc > index ? std::stod(argv[index]) : fallback; };
    try {
        if (options.mode == "end-to-end") {
            options.seconds = number(2, 30);
            options.rate = static_cast<int>(number(3, 1000));
            end_to_end(options);
        } else if (options.mode == "commands") {
            options.count = static_cast<int>(number(2, 60));
            commands(options);
        } else if (options.mode == "idle") {
            options.seconds = number(2, 60);
            idle(options);
        } else if (options.mode == "soak") {
            options.seconds = number(2, 600);
            options.rate = static_cast<int>(number(3, 60));
            soak(options);
        } else {
            return usage();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_bridge %s: %s\n", options.mode.c_str(), error.what());
        return 1;
    }
    return 0;
}
