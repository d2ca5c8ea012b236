// --export on long recordings: wall time and peak resident memory of the
// executable for each format, at 100 000 and 1 000 000 lines, so constant
// memory shows as the same figure at both sizes. Prints figures; never fails on them.
//   bench_export [LINES...]

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "bridge/flight_json.h"
#include "sample_mix.h"

extern char** environ;

namespace velmar::bench {
namespace {

struct Run {
    double seconds = 0;
    double cpu_seconds = 0;
    long peak_rss_kib = 0;
    int status = -1;
};

// The exporter as a child process: its wall time, and its peak resident set from wait4.
Run run_export(const std::string& recording, const std::string& output) {
    const std::string executable = bin_path("velmar-tracker");
    std::vector<std::string> arguments = {executable, "--export", recording, output};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Run run;
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        run.peak_rss_kib = usage.ru_maxrss;
        const auto seconds_of = [](const timeval& time) {
            return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
        };
        run.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// A recording of `lines` realistic samples, 200 ms apart.
void write_recording(const std::filesystem::path& path, std::size_t lines) {
    const std::vector<FlightData> mix = sample_mix();
    std::ofstream out(path, std::ios::binary);
    std::string line;
    for (std::size_t i = 0; i < lines; ++i) {
        format_flight_json(line, mix[i % mix.size()], static_cast<std::int64_t>(i) * 200);
        out << line << '\n';
    }
}

}  // namespace
}  // namespace velmar::bench

int main(int argc, char** argv) {
    using namespace velmar::bench;
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::stoul(argv[i]));
    if (sizes.empty()) sizes = {100'000, 1'000'000};
    const char* base = std::getenv("VELMAR_BENCH_DIR");
    Scratch scratch(base ? base : "/dev/shm");
    std::printf("export: %s; %s\n", machine_description().c_str(), file_system_of(scratch.path()).c_str());
    std::printf("export: %10s %6s %8s %8s %12s %14s\n", "lines", "format", "wall s", "CPU s", "peak RSS KiB",
                "output bytes");
    for (const std::size_t lines : sizes) {
        const std::filesystem::path recording = scratch.path() / "flight_data_20250314_093005.json";
        write_recording(recording, lines);
        for (const char* format : {"gpx", "kml", "csv", "html"}) {
            const std::filesystem::path output = scratch.path() / (std::string("flight.") + format);
            const Run run = run_export(recording.string(), output.string());
            std::printf("export: %10zu %6s %8.3f %8.3f %12ld %14ju%s\n", lines, format, run.seconds, run.cpu_seconds,
                        run.peak_rss_kib, static_cast<std::uintmax_t>(std::filesystem::file_size(output)),
                        run.status == 0 ? "" : "  FAILED");
        }
    }
    return 0;
}
