// Whether a quiet simulator is still there: when to ask, when it is gone.
#include "simconnect/liveness.h"

namespace velmar {

void LivenessWatch::restart(Clock::time_point now) {
    asked_at_ = 0;
    last_heard_ = ticks(now);
}

void LivenessWatch::heard(Clock::time_point now) { last_heard_.store(ticks(now), std::memory_order_relaxed); }

LivenessWatch::Verdict LivenessWatch::check(Clock::time_point now) {
    const std::int64_t heard = last_heard_.load(std::memory_order_relaxed);
    const std::int64_t asked = asked_at_;
    if (asked != 0 && heard < asked) {
        const bool overdue = ticks(now) - asked >= Clock::duration(kAnswerWithin).count();
        return overdue ? Verdict::gone : Verdict::alive;
    }
    if (ticks(now) - heard >= Clock::duration(kQuietBeforeAsking).count()) {
        asked_at_ = ticks(now);
        return Verdict::ask;
    }
    asked_at_ = 0;
    return Verdict::alive;
}

}  // namespace velmar
