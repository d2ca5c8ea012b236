// The thread that talks to the simulator for the main thread: jobs run in order.
#include "bridge/simulator_thread.h"

#include <exception>
#include <string>
#include <utility>

#include "platform/console.h"

namespace velmar {

SimulatorThread::SimulatorThread() : thread_([this] { run(); }) {}

SimulatorThread::~SimulatorThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SimulatorThread::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        jobs_.push_back(std::move(job));
    }
    wake_.notify_all();
}

bool SimulatorThread::busy() {
    std::lock_guard lock(mutex_);
    return running_job_ || !jobs_.empty();
}

bool SimulatorThread::finish_for(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    jobs_.clear();
    wake_.notify_all();
    if (!wake_.wait_for(lock, bound, [this] { return finished_; })) {
        lock.unlock();
        // Blocked in a call that never returns (an Open to a silent server):
        // the process may end without it.
        thread_.detach();
        return false;
    }
    lock.unlock();
    thread_.join();
    return true;
}

void SimulatorThread::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            break;  // stopping with nothing left
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        running_job_ = true;
        lock.unlock();
        try {
            job();
        } catch (const std::exception& error) {
            // Nothing else catches on this thread; one failed job must not end the process.
            platform::print_error_line(std::string("[CUSTOM ERROR] ") + error.what());
        }
        lock.lock();
        running_job_ = false;
    }
    finished_ = true;
    wake_.notify_all();
}

}  // namespace velmar
