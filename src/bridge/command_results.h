// Each command's result: sent, then done or refused by the simulator's exception.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/bridge_state.h"

namespace velmar {

// The result of the latest command as bridge_state.json shows it. A command
// the simulator took is `sent` until kRefusalWindow has passed without an
// exception naming one of its packets (then `done`); such an exception makes
// it `failed` with the exception's code.
//
// Threads: the simulator thread runs the command (begin, sent, finish), the
// dispatch thread reports exceptions, the main thread reads; mutex_ guards
// everything.
class CommandResults {
public:
    using Clock = std::chrono::steady_clock;
    // The simulator answers a refused packet at once; 250 ms leaves room for a
    // busy dispatch thread.
    static constexpr std::chrono::milliseconds kRefusalWindow{250};

    // A command taken from the file starts running.
    void begin(std::uint64_t seq, std::string_view word);
    // A packet the running command sent.
    void sent(std::uint32_t send_id);
    // The command's own verdict once its calls are made: anything but done is final.
    void finish(CommandResult result, std::int32_t hresult);
    // An exception from the simulator; changes the result only when it names
    // a packet of the latest command.
    void exception(std::uint32_t send_id, std::uint32_t code);
    // The latest finished command, `sent` turned `done` once its window passed.
    std::optional<LastCommand> latest(Clock::time_point now);

private:
    std::mutex mutex_;                   // guards every member below
    std::optional<LastCommand> latest_;  // the latest finished command
    std::uint64_t running_seq_ = 0;      // the command whose packets are collected
    std::string running_word_;
    std::vector<std::uint32_t> send_ids_;   // of the latest command (running or finished)
    std::optional<std::uint32_t> refusal_;  // an exception code that named one of them
    Clock::time_point window_end_{};
};

}  // namespace velmar
