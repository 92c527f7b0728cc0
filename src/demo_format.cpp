#include "demo_format.h"

#include "last_error.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace demo {

std::uint32_t byteswap(std::uint32_t word)
{
    return (word >> 24) | ((word >> 8) & 0x0000FF00U) | ((word << 8) & 0x00FF0000U) | (word << 24);
}

std::uint32_t big_endian_word(const unsigned char* bytes)
{
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::little) {
        word = byteswap(word);
    }
    return word;
}

namespace {

// Reads up to `size` bytes; fewer arrive only at the end of the file or on
// an error (the stream's read retries short reads itself).
std::size_t read_fully(std::FILE* file, unsigned char* out, std::size_t size, int& read_error)
{
    errno = 0;
    const std::size_t got = std::fread(out, 1, size, file);
    if (std::ferror(file) != 0) {
        read_error = errors::last_errno();
    }
    return got;
}

} // namespace

header read_header(std::FILE* demo)
{
    header h;
    std::fseek(demo, 0, SEEK_SET); // a pipe cannot seek: it is read from where it stands
    h.bytes_read = read_fully(demo, h.bytes.data(), h.bytes.size(), h.read_error);
    std::fill(h.bytes.begin() + static_cast<std::ptrdiff_t>(h.bytes_read), h.bytes.end(), 0xFF);
    return h;
}

std::uint8_t byte_field(const header& h, std::size_t offset) { return h.bytes[offset]; }

std::uint32_t word_field(const header& h, std::size_t offset) { return big_endian_word(&h.bytes[offset]); }

std::uint8_t stage_code(const header& h) { return byte_field(h, stage_offset); }
std::int8_t difficulty_code(const header& h) { return static_cast<std::int8_t>(byte_field(h, difficulty_offset)); }
std::uint32_t controller_count(const header& h) { return word_field(h, controllers_offset); }
std::uint8_t setup_byte(const header& h) { return byte_field(h, setup_offset); }
std::uint8_t options_byte(const header& h) { return byte_field(h, options_offset); }
std::uint32_t time_word(const header& h) { return word_field(h, time_offset); }
std::uint32_t size_word(const header& h) { return word_field(h, size_offset); }
std::int8_t players_byte(const header& h) { return static_cast<std::int8_t>(byte_field(h, players_offset)); }

bool ends_stream(const unsigned char* block_header)
{
    return block_header[0] == 0 && block_header[1] == 0 && block_header[2] == 0 && block_header[3] == 0;
}

void start_reader(word_reader& reader, std::FILE* file, std::uint64_t offset)
{
    reader.file = file;
    reader.offset = offset;
}

namespace {

// The buffer holds whole words, and a read comes short only at the end of
// the demo or on an error: a part of a word left in it is the demo's end.
static_assert(std::tuple_size_v<decltype(word_reader::buffer)> % word_size == 0);

// Fills the buffer anew once every word in it has been taken.
void refill(word_reader& reader)
{
    reader.pos = 0;
    reader.len = 0;
    if (reader.read_error == 0) { // after a failed read nothing more is taken
        reader.len = read_fully(reader.file, reader.buffer.data(), reader.buffer.size(), reader.read_error);
    }
}

} // namespace

bool next_word(word_reader& reader, unsigned char* out)
{
    if (reader.pos == reader.len) {
        refill(reader);
    }
    if (reader.len - reader.pos < word_size) {
        return false;
    }
    std::memcpy(out, reader.buffer.data() + reader.pos, word_size);
    reader.pos += word_size;
    reader.offset += word_size;
    return true;
}

bool skip_words(word_reader& reader, std::uint64_t count)
{
    while (count > 0) {
        if (reader.pos == reader.len) {
            refill(reader);
        }
        const std::uint64_t whole = (reader.len - reader.pos) / word_size;
        if (whole == 0) {
            return false;
        }
        const std::uint64_t taken = std::min(whole, count);
        reader.pos += taken * word_size;
        reader.offset += taken * word_size;
        count -= taken;
    }
    return true;
}

std::span<const unsigned char> left_over(const word_reader& reader)
{
    return {reader.buffer.data() + reader.pos, reader.len - reader.pos};
}

} // namespace demo
