#include "platform/interrupt.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace velmar::platform {
namespace {

using namespace std::chrono_literals;

// Counts handler calls and remembers the thread of the last one.
class Calls {
public:
    void record(int tag) {
        std::lock_guard lock(mutex_);
        ++count_;
        last_tag_ = tag;
        thread_ = std::this_thread::get_id();
        changed_.notify_all();
    }
    bool wait_for(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return count_ >= count; });
    }
    int count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    int last_tag() {
        std::lock_guard lock(mutex_);
        return last_tag_;
    }
    std::thread::id thread() {
        std::lock_guard lock(mutex_);
        return thread_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
    int last_tag_ = 0;
    std::thread::id thread_;
};

// Kept alive past the test: the handler stays installed until the process ends.
Calls& calls() {
    static auto* calls = new Calls;
    return *calls;
}

TEST(InterruptHandler, EachSigintAndSigtermReachesTheHandlerOnItsOwnThread) {
    install_interrupt_handler([] { calls().record(1); });
    const int start = calls().count();

    ASSERT_EQ(kill(getpid(), SIGINT), 0);
    ASSERT_TRUE(calls().wait_for(start + 1));
    EXPECT_NE(calls().thread(), std::this_thread::get_id());

    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    ASSERT_TRUE(calls().wait_for(start + 2));
    EXPECT_EQ(calls().count(), start + 2);

    // Threads started afterwards inherit the blocked signals, so none of
    // them is ever interrupted by a signal handler.
    bool blocked_in_new_thread = false;
    std::thread([&] {
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        blocked_in_new_thread = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
    }).join();
    EXPECT_TRUE(blocked_in_new_thread);
}

TEST(InterruptHandler, InstallingAgainReplacesTheHandler) {
    install_interrupt_handler([] { calls().record(1); });
    install_interrupt_handler([] { calls().record(2); });
    const int start = calls().count();
    ASSERT_EQ(kill(getpid(), SIGINT), 0);
    ASSERT_TRUE(calls().wait_for(start + 1));
    EXPECT_EQ(calls().last_tag(), 2);
}

TEST(ExitImmediately, FlushesStandardOutputAndEndsWithTheStatus) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        // "At once": no exit handlers, no static destructors racing other threads.
        std::atexit([] { std::fputs(" exit handler ran", stdout); });
        std::fputs("last words without a line end", stdout);
        exit_immediately(7);
    }
    close(fds[1]);
    std::string output;
    char buffer[256];
    ssize_t count = 0;
    while ((count = read(fds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(count));
    }
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(output, "last words without a line end");
}

}  // namespace
}  // namespace velmar::platform
