// The thread that talks to the simulator for the main thread: jobs run in order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velmar {

// Runs what may wait on the simulator (connecting, the commands' calls) in
// order on a thread of its own, so that the bridge's main thread keeps
// polling, publishing and reacting to Ctrl+C whatever the simulator does.
class SimulatorThread {
public:
    using Job = std::function<void()>;

    SimulatorThread();
    // Joins, after the jobs already queued; a job still blocked is the
    // owner's to end (see finish_for).
    ~SimulatorThread();
    SimulatorThread(const SimulatorThread&) = delete;
    SimulatorThread& operator=(const SimulatorThread&) = delete;

    // Any thread. Ignored once stopping.
    void post(Job job);
    // Any thread: true while a job runs or waits.
    bool busy();
    // Drops the jobs not yet started and waits up to `bound` for the running
    // one; false when it is still running (the thread is then left to the
    // process's exit).
    bool finish_for(std::chrono::milliseconds bound);

private:
    void run();

    std::mutex mutex_;  // guards jobs_, running_job_, stopping_, finished_
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool running_job_ = false;
    bool stopping_ = false;
    bool finished_ = false;  // run() has returned
    std::thread thread_;     // started in the constructor, joined or detached by the owner's thread
};

}  // namespace velmar
