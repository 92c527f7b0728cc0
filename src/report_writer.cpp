#include "report_writer.h"

#include "last_error.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace report {

// One full buffer at a time, handed over by the thread that makes the
// report; the first error of its writes is kept.
struct background_writer {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<char> pending;
    std::size_t size = 0;
    bool has_work = false;
    bool stopping = false;
    int error = 0;
    std::thread thread;
};

namespace {

int write_whole(std::FILE* file, const char* bytes, std::size_t size)
{
    errno = 0;
    return std::fwrite(bytes, 1, size, file) == size ? 0 : errors::last_errno();
}

void write_in_background(background_writer& behind, std::FILE* file)
{
    std::unique_lock<std::mutex> held(behind.lock);
    for (;;) {
        behind.changed.wait(held, [&] { return behind.has_work || behind.stopping; });
        if (!behind.has_work) {
            return;
        }
        held.unlock();
        const int error = behind.error == 0 ? write_whole(file, behind.pending.data(), behind.size) : 0;
        held.lock();
        if (behind.error == 0) {
            behind.error = error;
        }
        behind.has_work = false;
        behind.changed.notify_all();
    }
}

// Waits until the background thread has written what it was given, and
// takes its error.
void wait_for_background(writer& out)
{
    background_writer& behind = *out.behind;
    std::unique_lock<std::mutex> held(behind.lock);
    behind.changed.wait(held, [&] { return !behind.has_work; });
    if (out.error == 0) {
        out.error = behind.error;
    }
}

void stop_background(writer& out)
{
    if (!out.behind) {
        return;
    }
    wait_for_background(out);
    {
        const std::lock_guard<std::mutex> held(out.behind->lock);
        out.behind->stopping = true;
    }
    out.behind->changed.notify_all();
    out.behind->thread.join();
    out.behind.reset();
}

// Hands the full buffer to the background thread, started at the first full
// buffer, and goes on with the buffer that thread has just written.
void flush(writer& out)
{
    if (!out.behind) {
        out.behind = std::make_unique<background_writer>();
        out.behind->pending.resize(out.buffer.size());
        out.behind->thread = std::thread(write_in_background, std::ref(*out.behind), out.file);
    }
    wait_for_background(out);
    if (out.error == 0) {
        const std::lock_guard<std::mutex> held(out.behind->lock);
        out.behind->pending.swap(out.buffer);
        out.behind->size = out.used;
        out.behind->has_work = true;
        out.behind->changed.notify_all();
    }
    out.used = 0;
}

} // namespace

writer::writer() = default;

writer::~writer() { stop_background(*this); }

// The writer hands the stream whole buffers, so the stream keeps no buffer of
// its own: with one, each buffer would reach the file as two writes, a small
// one and the rest, and small writes cost the filesystem much more per byte.
void start_writer(writer& out, std::FILE* report)
{
    out.file = report;
    std::setvbuf(report, nullptr, _IONBF, 0);
}

// Fills the buffer to the brim before each write, so that every write but the
// last is of the buffer's full size and starts at a multiple of it: the
// filesystem then never has to merge a write into a page that the write
// before left half full.
void put(writer& out, std::string_view text)
{
    while (text.size() > out.buffer.size() - out.used) {
        const std::size_t room = out.buffer.size() - out.used;
        std::memcpy(out.buffer.data() + out.used, text.data(), room);
        out.used += room;
        flush(out);
        text.remove_prefix(room);
    }
    std::memcpy(out.buffer.data() + out.used, text.data(), text.size());
    out.used += text.size();
}

int finish(writer& out)
{
    stop_background(out);
    if (out.error == 0 && out.used > 0) {
        out.error = write_whole(out.file, out.buffer.data(), out.used);
    }
    out.used = 0;
    errno = 0;
    if (std::fclose(out.file) != 0 && out.error == 0) {
        out.error = errors::last_errno();
    }
    return out.error;
}

} // namespace report
