// Whether a quiet simulator is still there: when to ask, when it is gone.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace velmar {

// Notices a simulator that has gone quiet without saying so (a hung process,
// a network that drops silently): after kQuietBeforeAsking without a record
// the owner asks the simulator something cheap, and when nothing at all has
// come kAnswerWithin after that question the link counts as gone.
class LivenessWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kQuietBeforeAsking{5};
    static constexpr std::chrono::seconds kAnswerWithin{5};

    enum class Verdict { alive, ask, gone };

    // A new connection: heard from now, nothing asked. Any thread.
    void restart(Clock::time_point now);
    // A record arrived. Any thread; lock-free, since it runs for every record.
    void heard(Clock::time_point now);
    // One thread only (the owner's): `ask` once per quiet spell, when the
    // question is due; `gone` once the question has gone unanswered too long.
    Verdict check(Clock::time_point now);

private:
    static std::int64_t ticks(Clock::time_point time) { return time.time_since_epoch().count(); }
    std::atomic<std::int64_t> last_heard_{0};
    std::atomic<std::int64_t> asked_at_{0};  // 0: nothing asked in this quiet spell
};

}  // namespace velmar
