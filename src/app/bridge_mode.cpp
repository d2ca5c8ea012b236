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
// a second one, while that shutdown runs, ends the process at once.
class InterruptRouter {
public:
    void attach(FileBridge& bridge) {
        std::lock_guard lock(mutex_);
        bridge_ = &bridge;
    }

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
        platform::print_line("\nShutting down...");
        // Without a bridge the main thread is already on its way out.
        if (bridge_ != nullptr) {
            bridge_->request_stop();
        }
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
    explicit StopOnInterrupt(FileBridge& bridge) {
        interrupt_router().attach(bridge);
        platform::install_interrupt_handler([] { interrupt_router().on_interrupt(); });
    }
    ~StopOnInterrupt() { interrupt_router().detach(); }
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;
};

}  // namespace

int run_bridge_mode(const std::string& portable_directory, const BridgeOptions& options) {
    // A full disk or a file-size limit loses lines, never the bridge.
    platform::ignore_file_size_limit_signal();
    try {
        FileBridge bridge(options);
        bridge.setup_data_folder(portable_directory);
        bridge.install_callbacks();
        // Before run starts any thread, so that every thread inherits the
        // routing of the interrupt signals.
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
