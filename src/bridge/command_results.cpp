// Each command's result: sent, then done or refused by the simulator's exception.
#include "bridge/command_results.h"

#include <algorithm>

#include "platform/clock.h"

namespace velmar {

void CommandResults::begin(std::uint64_t seq, std::string_view word) {
    std::lock_guard lock(mutex_);
    running_seq_ = seq;
    running_word_ = std::string(word);
    send_ids_.clear();
    refusal_.reset();
}

void CommandResults::sent(std::uint32_t send_id) {
    std::lock_guard lock(mutex_);
    send_ids_.push_back(send_id);
}

void CommandResults::finish(CommandResult result, std::int32_t hresult) {
    std::lock_guard lock(mutex_);
    if (result == CommandResult::done && !send_ids_.empty()) {
        result = CommandResult::sent;
        window_end_ = Clock::now() + kRefusalWindow;
    }
    latest_ = LastCommand{running_seq_, running_word_, result, hresult, platform::wall_clock_seconds(), std::nullopt};
    if (refusal_ && result == CommandResult::sent) {
        latest_->result = CommandResult::failed;
        latest_->exception = *refusal_;
    }
}

void CommandResults::exception(std::uint32_t send_id, std::uint32_t code) {
    std::lock_guard lock(mutex_);
    if (send_id == 0 || std::find(send_ids_.begin(), send_ids_.end(), send_id) == send_ids_.end() || refusal_) {
        return;
    }
    refusal_ = code;
    // Already finished: a refusal within the window turns `sent` into `failed`.
    if (latest_ && latest_->seq == running_seq_ && latest_->result == CommandResult::sent &&
        Clock::now() < window_end_) {
        latest_->result = CommandResult::failed;
        latest_->exception = code;
    }
}

std::optional<LastCommand> CommandResults::latest(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (latest_ && latest_->result == CommandResult::sent && now >= window_end_) {
        latest_->result = CommandResult::done;
    }
    return latest_;
}

}  // namespace velmar
