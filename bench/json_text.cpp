#include <chrono>
#include <string>

#include "bench_support.h"
#include "bridge/flight_json.h"
#include "sample_mix.h"

namespace velmar::bench {

void json_text_figures(FILE* report) {
    const std::vector<FlightData> mix = sample_mix();
    constexpr std::size_t kSamples = 2'000'000;
    std::string out;
    std::size_t bytes = 0;
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        Clock::time_point start = Clock::now();
        for (std::size_t i = 0; i < kSamples; ++i) {
            format_flight_json(out, mix[i % mix.size()], static_cast<std::int64_t>(i));
            bytes += out.size();
        }
        rounds.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                         static_cast<double>(kSamples));
    }
    std::fprintf(report,
                 "json text alone (format_flight_json, reused string): %.0f ns per sample, median of 5 x %zu"
                 " samples (%zu bytes written)\n",
                 median(rounds), kSamples, bytes);
}

}  // namespace velmar::bench
