// Bridge mode: builds, runs and tears down the FileBridge; interrupts; exit status.
#include "app/bridge_mode.h"

#include <exception>
#include <mutex>

#include "bridge/file_bridge.h"
#include "platform/console.h"
#include "platform/filesystem.h"
#include "platform/interrupt.h"

namespace velmar {

namespace {

// Where interrupts meet the bridge. The first interrupt asks the bridge to
// stop and leaves the orderly shutdown (loops ended, threads joined, the
// recording closed, the status file saying disconnected) to the main thread;
// a second one, while that shutdown runs, ends the process at once. Nothing
// here waits for the console: printing only queues a line.
class InterruptRouter {
public:
    // An interrupt that came before the bridge existed stops it at once.
    void attach(FileBridge& bridge) {
        std::lock_guard lock(mutex_);
        bridge_ = &bridge;
        if (interrupted_) {
            bridge.request_stop();
        }
    }

    // Waits for a handler that is running: its line is queued before the
    // bridge's teardown prints anything.
    void detach() {
        std::lock_guard lock(mutex_);
        bridge_ = nullptr;
    }

    void on_interrupt() {
        std::lock_guard lock(mutex_);
        if (interrupted_) {
            platform::exit_immediately(0);
        }
        interrupted_ = true;
        // The stop first; the line after it only queues, never waits.
        // Without a bridge the main thread is either about to build one
        // (attach stops it) or already on its way out.
        if (bridge_ != nullptr) {
            bridge_->request_stop();
        }
        platform::print_line("\nShutting down...");
    }

private:
    std::mutex mutex_;  // guards bridge_ and interrupted_
    FileBridge* bridge_ = nullptr;
    bool interrupted_ = false;
};

// Never destroyed: an interrupt may arrive while the process exits.
InterruptRouter& interrupt_router() {
    static auto* router = new InterruptRouter;
    return *router;
}

// Routes interrupts to the bridge for as long as this object lives; declared
// after the bridge, so the bridge is never reached once its teardown begins.
class StopOnInterrupt {
public:
    explicit StopOnInterrupt(FileBridge& bridge) { interrupt_router().attach(bridge); }
    ~StopOnInterrupt() { interrupt_router().detach(); }
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;
};

}  // namespace

int run_bridge_mode(const std::string& portable_directory, const BridgeOptions& options) {
    // A full disk or a file-size limit loses lines, never the bridge; nor
    // does a console whose reader went away.
    platform::ignore_file_size_limit_signal();
    platform::ignore_broken_pipe_signal();
    try {
        // First of all, so that every thread started later (the console's
        // writer too) inherits the routing of the interrupt signals.
        platform::install_interrupt_handler([] { interrupt_router().on_interrupt(); });
        FileBridge bridge(options);
        if (!bridge.setup_data_folder(portable_directory)) {
            return 1;
        }
        bridge.install_callbacks();
        StopOnInterrupt stop_on_interrupt(bridge);
        bridge.run();
    } catch (const std::exception& error) {
        // The bridge is gone by now: its teardown ran during unwinding.
        platform::print_error_line(std::string("[CUSTOM ERROR] ") + error.what());
        return 1;
    }
    return 0;
}

}  // namespace velmar
