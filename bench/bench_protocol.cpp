// The client library's cost per received sample record: a producer thread
// writes the product's sample records into one end of a socket pair, the
// library's connection reads the other end (its receiver thread frames and
// queues them) and this thread drains them with next_record, as
// SimConnect_GetNextDispatch does, every millisecond. Client CPU = process
// CPU minus the producer's own.

#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "connection.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace net = velmar::standin::net;

double cpu_seconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One SIMOBJECT_DATA record with nine doubles, as the stand-in sends a sample.
std::vector<std::uint8_t> sample_record() {
    constexpr std::size_t kHeader = 40;
    std::vector<std::uint8_t> bytes(kHeader + 9 * sizeof(double));
    const std::uint32_t header[10] = {
        static_cast<std::uint32_t>(bytes.size()), 5, SIMCONNECT_RECV_ID_SIMOBJECT_DATA, 2, 0, 0, 1, 1, 1, 9};
    std::memcpy(bytes.data(), header, kHeader);
    for (int i = 0; i < 9; ++i) {
        const double value = 1000.5 + i;
        std::memcpy(bytes.data() + kHeader + 8 * static_cast<std::size_t>(i), &value, sizeof value);
    }
    return bytes;
}

struct Round {
    double ns_per_record_cpu;
    double ns_per_record_wall;
};

Round run_round(std::size_t records) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) std::exit(1);
    const double process_before = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    double producer_cpu = 0;
    const auto start = Clock::now();
    std::size_t received = 0;
    {
        velmar::standin::Connection connection(static_cast<net::Socket>(ends[0]), 0);  // no wake
        std::thread producer([&] {
            const double before = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
            const std::vector<std::uint8_t> one = sample_record();
            std::vector<std::uint8_t> batch;
            for (int i = 0; i < 64; ++i) batch.insert(batch.end(), one.begin(), one.end());
            for (std::size_t sent = 0; sent < records; sent += 64)
                net::send_all(static_cast<net::Socket>(ends[1]), batch.data(), batch.size());
            producer_cpu = cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - before;
        });
        SIMCONNECT_RECV* record = nullptr;
        DWORD size = 0;
        while (received < records) {
            // Like the product's dispatch loop: drain, then sleep (1 ms here, not 50, to keep the queue short).
            while (connection.next_record(&record, &size) == S_OK) ++received;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        producer.join();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double client_cpu = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - process_before - producer_cpu;
    ::close(ends[1]);
    return Round{client_cpu * 1e9 / static_cast<double>(records), wall * 1e9 / static_cast<double>(records)};
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t records = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2'000'000;
    std::vector<Round> rounds;
    for (int i = 0; i < 5; ++i) rounds.push_back(run_round(records / 64 * 64));
    std::sort(rounds.begin(), rounds.end(),
              [](const Round& a, const Round& b) { return a.ns_per_record_cpu < b.ns_per_record_cpu; });
    std::printf("client record path: %zu sample records (112 bytes) a round, median of 5 rounds\n", records / 64 * 64);
    std::printf("  client CPU per record (receive, frame, queue, dispatch)   %.0f ns\n", rounds[2].ns_per_record_cpu);
    std::printf("  wall time per record                                      %.0f ns\n", rounds[2].ns_per_record_wall);
    return 0;
}
