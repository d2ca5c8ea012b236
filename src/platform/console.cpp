// The console queue and its writer thread: no caller ever waits for the console.
#include "platform/console.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

namespace velmar::platform {

namespace {

// A console that keeps up holds this near empty; one that stalls for minutes
// costs at most this many lines of memory.
constexpr std::size_t kQueueCapacity = 256;

struct QueuedLine {
    std::FILE* stream;
    std::string text;  // with its line end
};

enum class Writer { not_started, running, unavailable };

// Never destroyed: the writer thread may still wait in a write to a stalled
// console while the process exits.
struct ConsoleQueue {
    std::mutex mutex;                 // guards lines, dropped, writing and writer
    std::condition_variable changed;  // a line queued, or the writer finished one
    std::deque<QueuedLine> lines;
    std::size_t dropped = 0;  // lines refused since the console last took one
    bool writing = false;     // the writer holds a line taken off the queue
    Writer writer = Writer::not_started;
};

ConsoleQueue& console_queue() {
    static auto* queue = new ConsoleQueue;
    return *queue;
}

std::string drop_notice(std::size_t count) {
    return "[CUSTOM ERROR] The console was not taking output: " + std::to_string(count) +
           (count == 1 ? " line" : " lines") + " dropped\n";
}

// The writer thread: one line at a time, never holding the lock while the
// console may block.
void write_queued_lines() {
    ConsoleQueue& queue = console_queue();
    std::unique_lock lock(queue.mutex);
    for (;;) {
        queue.changed.wait(lock, [&] { return !queue.lines.empty(); });
        const QueuedLine line = std::move(queue.lines.front());
        queue.lines.pop_front();
        queue.writing = true;
        lock.unlock();
        const bool taken = console_detail::write_line_now(line.stream, line.text);
        lock.lock();
        std::size_t dropped = 0;
        if (taken) {
            std::swap(dropped, queue.dropped);
        }
        if (dropped > 0) {
            lock.unlock();
            console_detail::write_line_now(stderr, drop_notice(dropped));
            lock.lock();
        }
        queue.writing = false;
        queue.changed.notify_all();
    }
}

void queue_line(std::FILE* stream, std::string_view text) {
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back('\n');
    ConsoleQueue& queue = console_queue();
    {
        std::lock_guard lock(queue.mutex);
        if (queue.writer == Writer::not_started) {
            queue.writer =
                console_detail::start_writer_thread(write_queued_lines) ? Writer::running : Writer::unavailable;
        }
        if (queue.writer == Writer::running) {
            if (queue.lines.size() < kQueueCapacity) {
                queue.lines.push_back(QueuedLine{stream, std::move(line)});
                queue.changed.notify_all();
            } else {
                ++queue.dropped;
            }
            return;
        }
    }
    // Without a writer thread (none could be started) the caller writes, so
    // the error that follows such a failure is still seen.
    console_detail::write_line_now(stream, line);
}

}  // namespace

void print_line(std::string_view text) { queue_line(stdout, text); }

void print_error_line(std::string_view text) { queue_line(stderr, text); }

bool drain_console(std::chrono::milliseconds limit) {
    ConsoleQueue& queue = console_queue();
    std::unique_lock lock(queue.mutex);
    return queue.changed.wait_for(lock, limit, [&] { return queue.lines.empty() && !queue.writing; });
}

}  // namespace velmar::platform
