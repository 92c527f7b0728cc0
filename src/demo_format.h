// The layout of a demo file: a fixed header that describes the recorded game,
// followed from offset 232 by a stream of command blocks. Every multi-byte
// field is a 32-bit unsigned word stored most significant byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace demo {

// Offsets of the header fields the report uses, from the start of the file.
inline constexpr std::size_t stage_offset = 19;        // unsigned 8-bit
inline constexpr std::size_t difficulty_offset = 23;   // signed 8-bit
inline constexpr std::size_t controllers_offset = 24;  // word
inline constexpr std::size_t setup_offset = 40;        // bit field
inline constexpr std::size_t options_offset = 41;      // bit field
inline constexpr std::size_t time_offset = 124;        // word, seconds
inline constexpr std::size_t size_offset = 128;        // word
inline constexpr std::size_t players_offset = 143;     // signed 8-bit, players - 1
inline constexpr std::size_t first_block_offset = 232; // end of the header

inline constexpr std::size_t word_size = 4;

// Setup byte: bits 0-2 are the control style, bit 3 the cinema screen.
inline constexpr unsigned control_style_mask = 0x07;
inline constexpr unsigned cinema_bit = 0x08;

// Options byte bits.
inline constexpr unsigned look_updown_bit = 0x01;
inline constexpr unsigned auto_aim_bit = 0x02;
inline constexpr unsigned aim_control_bit = 0x04;
inline constexpr unsigned sight_bit = 0x08;
inline constexpr unsigned look_ahead_bit = 0x10;
inline constexpr unsigned ammo_bit = 0x20;
inline constexpr unsigned wide_bit = 0x40;
inline constexpr unsigned ratio_bit = 0x80;

// Reverses the byte order of a 32-bit word.
std::uint32_t byteswap(std::uint32_t word);

// Takes four bytes, most significant first, as a word, whatever the host's
// byte order.
std::uint32_t big_endian_word(const unsigned char* bytes);

// The header bytes as read from a demo. A byte that lies beyond the end of a
// short demo reads as 0xFF, so every short file gives one defined header.
struct header {
    std::array<unsigned char, first_block_offset> bytes{};
    std::size_t bytes_read = 0; // how many of them the demo really held
    int read_error = 0;         // errno of a failed read, 0 when none failed
};

// Reads the header from the start of the demo. Where the stream cannot seek
// (a pipe), it reads from where the stream stands.
header read_header(std::FILE* demo);

std::uint8_t byte_field(const header& h, std::size_t offset);
std::uint32_t word_field(const header& h, std::size_t offset);

// The fields the report shows.
std::uint8_t stage_code(const header& h);
std::int8_t difficulty_code(const header& h);
std::uint32_t controller_count(const header& h);
std::uint8_t setup_byte(const header& h);
std::uint8_t options_byte(const header& h);
std::uint32_t time_word(const header& h);
std::uint32_t size_word(const header& h);
std::int8_t players_byte(const header& h);

// A block header word: shown whole, its second byte is the row count, and a
// word of four zero bytes ends the stream.
inline std::uint8_t row_count(const unsigned char* block_header) { return block_header[1]; }
bool ends_stream(const unsigned char* block_header);

// Sequential reader for the command block stream: words are taken straight
// from a block buffer, so the walk costs one read call per buffer, not per
// word.
struct word_reader {
    std::FILE* file = nullptr;
    std::uint64_t offset = 0; // file offset of the next unread byte
    std::size_t pos = 0;
    std::size_t len = 0;
    int read_error = 0;
    std::array<unsigned char, std::size_t{64} * 1024> buffer{};
};

// Prepares a new reader over `file`, whose next byte lies at `offset`.
void start_reader(word_reader& reader, std::FILE* file, std::uint64_t offset);

// Copies the next whole word into `out` and returns true; returns false when
// the demo ends (or fails) before four more bytes could be read.
bool next_word(word_reader& reader, unsigned char* out);

// Passes over the next `count` words unread; returns false when the demo ends
// (or fails) before all of them, the reader then standing at its end.
bool skip_words(word_reader& reader, std::uint64_t count);

// Once next_word returned false at the demo's end: the 0 to 3 bytes of the
// incomplete word the demo ends with.
std::span<const unsigned char> left_over(const word_reader& reader);

} // namespace demo
