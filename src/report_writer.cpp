#include "report_writer.h"

#include "last_error.h"

#include <cstring>

namespace report {

// The writer hands the stream whole buffers, so the stream keeps no buffer of
// its own: with one, each buffer would reach the file as two writes, a small
// one and the rest, and small writes cost the filesystem much more per byte.
void start_writer(writer& out, std::FILE* report)
{
    out.file = report;
    std::setvbuf(report, nullptr, _IONBF, 0);
}

namespace {

void flush(writer& out)
{
    if (out.error == 0) {
        errno = 0;
        if (std::fwrite(out.buffer.data(), 1, out.used, out.file) != out.used) {
            out.error = errors::last_errno();
        }
    }
    out.used = 0;
}

} // namespace

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
    flush(out);
    errno = 0;
    if (std::fclose(out.file) != 0 && out.error == 0) {
        out.error = errors::last_errno();
    }
    return out.error;
}

} // namespace report
