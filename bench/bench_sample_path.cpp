// The cost of one sample on its way to the files: FileBridge::write_flight_data
// against a bare floor that writes the same bytes with open, truncate, write,
// close (and, with a test, one append to an already open recording), on tmpfs
// and on disk; and the JSON text alone. Prints figures; never fails on them.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bridge/file_bridge.h"
#include "sample_mix.h"

namespace velmar::bench {
namespace {

FILE* report = stdout;

constexpr int kRounds = 7;
constexpr std::size_t kSamplesPerRound = 4000;

template <typename Body>
double microseconds_per_sample(Body&& body) {
    Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < kSamplesPerRound; ++i) body(i);
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
           static_cast<double>(kSamplesPerRound);
}

void write_all(int fd, const std::string& bytes) {
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, at, left);
        if (n <= 0) return;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
}

struct Figures {
    double bridge = 0, floor = 0, stdio_floor = 0, stream_floor = 0;
};

// The same bytes as the bridge, with the least the operating system needs.
Figures measure(const std::filesystem::path& base, bool with_test) {
    Scratch scratch(base);
    std::filesystem::path data = scratch.path() / "data";
    std::filesystem::path app_data = scratch.path() / "appdata";
    std::filesystem::create_directories(app_data / "Velmar");
    setenv("APPDATA", app_data.c_str(), 1);
    const std::vector<FlightData> mix = sample_mix();

    FileBridge bridge;
    bridge.setup_data_folder(data.string());
    // The exact text of each sample, taken from the bridge's own file.
    std::vector<std::string> texts, lines;
    for (const auto& sample : mix) {
        bridge.write_flight_data(sample);
        texts.push_back(read_file(bridge.data_file_path()));
        lines.push_back(texts.back() + "\n");
    }
    std::string floor_file = (scratch.path() / "floor.json").string();
    std::string floor_recording = (scratch.path() / "floor_recording.json").string();

    std::vector<double> bridge_rounds, floor_rounds, stdio_rounds, stream_rounds;
    for (int round = 0; round < kRounds; ++round) {
        if (with_test) bridge.start_test();
        bridge_rounds.push_back(
            microseconds_per_sample([&](std::size_t i) { bridge.write_flight_data(mix[i % mix.size()]); }));
        if (with_test) bridge.stop_test();

        int recording =
            with_test ? ::open(floor_recording.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
        floor_rounds.push_back(microseconds_per_sample([&](std::size_t i) {
            std::size_t k = i % mix.size();
            int fd = ::open(floor_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            write_all(fd, texts[k]);
            ::close(fd);
            if (recording >= 0) write_all(recording, lines[k]);
        }));
        if (recording >= 0) ::close(recording);

        // The data file as the C library writes it (an unbuffered FILE), the
        // recording as above: what the floor lacks of the bridge's file work.
        recording = with_test ? ::open(floor_recording.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
        stdio_rounds.push_back(microseconds_per_sample([&](std::size_t i) {
            std::size_t k = i % mix.size();
            FILE* file = std::fopen(floor_file.c_str(), "w");
            std::setvbuf(file, nullptr, _IONBF, 0);
            std::fwrite(texts[k].data(), 1, texts[k].size(), file);
            std::fclose(file);
            if (recording >= 0) write_all(recording, lines[k]);
        }));
        if (recording >= 0) ::close(recording);

        std::ofstream stream_recording;
        if (with_test) stream_recording.open(floor_recording, std::ios::out | std::ios::trunc);
        stream_rounds.push_back(microseconds_per_sample([&](std::size_t i) {
            std::size_t k = i % mix.size();
            std::ofstream out(floor_file, std::ios::out | std::ios::trunc);
            out << texts[k];
            out.close();
            if (with_test) stream_recording << texts[k] << '\n' << std::flush;
        }));
        // Recordings of earlier rounds would only fill the folder.
        for (const auto& entry : std::filesystem::directory_iterator(app_data / "Velmar")) {
            std::filesystem::remove(entry.path());
        }
    }
    return {median(bridge_rounds), median(floor_rounds), median(stdio_rounds), median(stream_rounds)};
}

}  // namespace
}  // namespace velmar::bench

int main() {
    using namespace velmar::bench;
    // The bridge prints its own lines on standard output; keep the figures apart.
    report = fdopen(dup(1), "w");
    int null_fd = ::open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);

    std::filesystem::path tmpfs = std::getenv("VELMAR_BENCH_DIR") ? std::getenv("VELMAR_BENCH_DIR") : "/dev/shm";
    std::filesystem::path disk =
        std::getenv("VELMAR_BENCH_DISK_DIR") ? std::getenv("VELMAR_BENCH_DISK_DIR") : "/var/tmp";
    std::fprintf(report, "sample path: %s; %zu samples per round, median of %d rounds\n", machine_description().c_str(),
                 kSamplesPerRound, kRounds);
    std::fprintf(report, "  %-22s %-6s %10s %10s %7s %10s %12s\n", "folder", "test", "bridge us", "floor us", "ratio",
                 "stdio us", "ofstream us");
    for (const auto& base : {tmpfs, disk}) {
        for (bool with_test : {false, true}) {
            Figures f = measure(base, with_test);
            std::string where = base.string() + " (" + file_system_of(base) + ")";
            std::fprintf(report, "  %-22s %-6s %10.2f %10.2f %7.3f %10.2f %12.2f\n", where.c_str(),
                         with_test ? "yes" : "no", f.bridge, f.floor, f.bridge / f.floor, f.stdio_floor,
                         f.stream_floor);
            std::fflush(report);
        }
    }
    velmar::bench::json_text_figures(report);
    return 0;
}
