#include "demo_text.h"

#include "demo_format.h"
#include "lanes.h"
#include "last_error.h"
#include "report_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace demo_text {

namespace {

// ---------------------------------------------------------------- the header's fields

enum class shown { hex, decimal, signed_decimal };

struct field {
    std::string_view name; // the report's word for it
    std::size_t offset;
    std::size_t width; // 1 or 4 bytes
    shown as;
    std::string (*meaning)(const demo::header& h); // the report's reading of it, "" when none
};

std::string no_meaning(const demo::header& /*h*/) { return ""; }
std::string stage_meaning(const demo::header& h) { return std::string(report::stage_title(demo::stage_code(h))); }
std::string difficulty_meaning(const demo::header& h)
{
    return std::string(report::difficulty_label(demo::difficulty_code(h)));
}
std::string setup_meaning(const demo::header& h)
{
    const bool cinema = (demo::setup_byte(h) & demo::cinema_bit) != 0;
    return std::string(report::control_style(demo::setup_byte(h))) + (cinema ? ", Cinema" : "");
}
std::string options_meaning(const demo::header& h)
{
    return report::screen_and_options(demo::setup_byte(h), demo::options_byte(h));
}
std::string time_meaning(const demo::header& h)
{
    return std::to_string(demo::time_word(h) / 60) + ":" + std::to_string(demo::time_word(h) % 60) + " seconds";
}
std::string players_meaning(const demo::header& h) { return std::to_string(demo::players_byte(h) + 1) + " players"; }

// In the order of their offsets.
// clang-format off
constexpr std::array<field, 8> fields = {{
    {"Stage", demo::stage_offset, 1, shown::hex, stage_meaning},
    {"Difficulty", demo::difficulty_offset, 1, shown::signed_decimal, difficulty_meaning},
    {"Controllers", demo::controllers_offset, 4, shown::decimal, no_meaning},
    {"Setup", demo::setup_offset, 1, shown::hex, setup_meaning},
    {"Options", demo::options_offset, 1, shown::hex, options_meaning},
    {"Time", demo::time_offset, 4, shown::decimal, time_meaning},
    {"Size", demo::size_offset, 4, shown::hex, no_meaning},
    {"Players", demo::players_offset, 1, shown::signed_decimal, players_meaning},
}};
// clang-format on

// The keywords of the lines that are not rows.
constexpr std::string_view bytes_word = "bytes";
constexpr std::string_view header_ends_word = "header-ends";
constexpr std::string_view block_word = "block";
constexpr std::string_view cut_word = "cut";
constexpr std::string_view cut_block_word_word = "cut-word";
constexpr std::string_view end_word = "end";

constexpr std::size_t header_bytes_per_line = 16;
constexpr std::size_t stream_bytes_per_line = 64;
constexpr std::size_t max_rows = 255;
constexpr std::size_t max_text_controllers = report::max_table_controllers;

constexpr std::string_view hex_digits = "0123456789ABCDEF";

// ---------------------------------------------------------------- writing

// The pieces of a row line, each built once for every value of its byte.
struct row_pieces {
    std::array<std::array<char, 4>, 256> stick{};          // a signed value, right aligned
    std::array<std::array<char, lanes::count>, 256> two{}; // byte 2's places ('\0' at byte 3's)
    std::array<std::array<char, lanes::count>, 256> three{};
};

std::array<char, lanes::count> places_of(unsigned byte_index, unsigned value)
{
    std::array<char, lanes::count> places{};
    for (std::size_t i = 0; i < lanes::count; ++i) {
        const lanes::lane& lane = lanes::all[i];
        if (lane.byte == byte_index) {
            places[i] = (value & lane.mask) != 0 ? lane.letter : lanes::not_held;
        }
    }
    return places;
}

row_pieces build_row_pieces()
{
    row_pieces p;
    for (unsigned value = 0; value < 256; ++value) {
        const int stick = value < 128 ? static_cast<int>(value) : static_cast<int>(value) - 256;
        std::array<char, 8> digits{};
        std::snprintf(digits.data(), digits.size(), "%4d", stick);
        std::copy_n(digits.begin(), 4, p.stick[value].begin());
        p.two[value] = places_of(2, value);
        p.three[value] = places_of(3, value);
    }
    return p;
}

const row_pieces& pieces()
{
    static const row_pieces built = build_row_pieces();
    return built;
}

// One controller's part of a row line: X, Y and the 16 places.
constexpr std::size_t entry_text_size = 4 + 1 + 4 + 1 + lanes::count;
constexpr std::string_view entry_separator = "  ";

void append_entry(std::string& line, const row_pieces& p, const unsigned char* entry)
{
    std::array<char, entry_text_size> text{};
    std::copy(p.stick[entry[0]].begin(), p.stick[entry[0]].end(), text.begin());
    text[4] = ' ';
    std::copy(p.stick[entry[1]].begin(), p.stick[entry[1]].end(), text.begin() + 5);
    text[9] = ' ';
    for (std::size_t i = 0; i < lanes::count; ++i) {
        text[10 + i] = static_cast<char>(p.two[entry[2]][i] | p.three[entry[3]][i]);
    }
    line.append(text.data(), text.size());
}

void append_hex_byte(std::string& line, unsigned char byte)
{
    line += hex_digits[byte >> 4U];
    line += hex_digits[byte & 0x0FU];
}

// "KEYWORD HH HH ..." for `bytes`, in lines of at most `per_line` bytes; an
// empty run gives one line of the keyword alone when `even_empty`.
void put_byte_lines(report::writer& out, std::string_view keyword, std::span<const unsigned char> bytes,
                    std::size_t per_line, bool even_empty)
{
    for (std::size_t at = 0; at < bytes.size() || (even_empty && at == 0); at += per_line) {
        std::string line(keyword);
        for (const unsigned char byte : bytes.subspan(at, std::min(per_line, bytes.size() - at))) {
            line += ' ';
            append_hex_byte(line, byte);
        }
        line += '\n';
        report::put(out, line);
        even_empty = false;
    }
}

std::string value_text(const demo::header& h, const field& f)
{
    const std::uint32_t value = f.width == 1 ? demo::byte_field(h, f.offset) : demo::word_field(h, f.offset);
    std::array<char, 16> text{};
    if (f.as == shown::hex) {
        std::snprintf(text.data(), text.size(), f.width == 1 ? "0x%02X" : "0x%X", static_cast<unsigned>(value));
    } else if (f.as == shown::signed_decimal) {
        std::snprintf(text.data(), text.size(), "%d", static_cast<int>(static_cast<std::int8_t>(value)));
    } else {
        std::snprintf(text.data(), text.size(), "%u", static_cast<unsigned>(value));
    }
    return text.data();
}

void put_field_line(report::writer& out, const demo::header& h, const field& f)
{
    std::string line(f.name);
    line.resize(std::max<std::size_t>(line.size() + 1, 12), ' ');
    line += value_text(h, f);
    if (const std::string meaning = f.meaning(h); !meaning.empty()) {
        line.resize(std::max<std::size_t>(line.size() + 2, 24), ' ');
        line.append("# ").append(meaning);
    }
    report::put(out, line + "\n");
}

// The header, field by field; the bytes between the fields as "bytes"
// lines. Of a header cut short, the fields it holds whole; the rest of its
// bytes as "bytes" lines, and its length.
void put_header_lines(report::writer& out, const demo::header& h)
{
    const std::span<const unsigned char> bytes(h.bytes.data(), h.bytes_read);
    // The bytes from `from` to `to` that the demo holds.
    const auto held = [&](std::size_t from, std::size_t to) {
        const std::size_t start = std::min(from, bytes.size());
        return bytes.subspan(start, std::min(to, bytes.size()) - start);
    };
    std::size_t at = 0;
    for (const field& f : fields) {
        put_byte_lines(out, bytes_word, held(at, f.offset), header_bytes_per_line, false);
        at = f.offset + f.width;
        if (at <= h.bytes_read) {
            put_field_line(out, h, f);
        } else {
            put_byte_lines(out, bytes_word, held(f.offset, at), header_bytes_per_line, false);
        }
    }
    put_byte_lines(out, bytes_word, held(at, bytes.size()), header_bytes_per_line, false);
    if (h.bytes_read < demo::first_block_offset) {
        report::put(out, std::string(header_ends_word) + " " + std::to_string(h.bytes_read) +
                             "  # the demo ends inside its header\n");
    }
}

void put_lanes_comment(report::writer& out)
{
    std::string line = "# a row: for each controller, stick X, stick Y and the places ";
    std::string names;
    for (const lanes::lane& lane : lanes::all) {
        line += lane.letter;
        names.append(" ").append(lane.name);
    }
    report::put(out, line + " (" + names.substr(1) + ")\n");
}

// Everything from where `in` stands to the demo's end, as "bytes" lines.
void put_rest_as_bytes(report::writer& out, demo::word_reader& in, report::outcome* walk = nullptr)
{
    std::vector<unsigned char> run;
    std::array<unsigned char, demo::word_size> word{};
    // With `walk`, the blocks are followed as the report's walk takes them,
    // the row count times the controller count in 32 bits, to tell whether
    // the demo is whole.
    bool walking = walk != nullptr;
    const std::uint32_t controllers = walk != nullptr ? walk->controllers : 0;
    std::uint32_t entries_left = 0;
    while (out.error == 0 && demo::next_word(in, word.data())) {
        if (walking && entries_left > 0) {
            --entries_left;
        } else if (walking) {
            walking = !demo::ends_stream(word.data());
            entries_left = static_cast<std::uint32_t>(demo::row_count(word.data()) * controllers);
        }
        run.insert(run.end(), word.begin(), word.end());
        if (run.size() == stream_bytes_per_line) {
            put_byte_lines(out, bytes_word, run, stream_bytes_per_line, false);
            run.clear();
        }
    }
    if (walking) {
        walk->ended_early = true;
        walk->end_offset = in.offset;
    }
    const std::span<const unsigned char> last = demo::left_over(in);
    run.insert(run.end(), last.begin(), last.end());
    put_byte_lines(out, bytes_word, run, stream_bytes_per_line, false);
}

// The rows of one block. False when the demo ends inside it: then its
// "cut" lines hold what the unfinished row has.
bool put_rows(report::writer& out, demo::word_reader& in, unsigned rows, std::uint32_t controllers)
{
    const row_pieces& p = pieces();
    std::string line;
    std::array<unsigned char, max_text_controllers * demo::word_size> row{}; // the row's entries read so far
    std::array<unsigned char, demo::word_size> entry{};
    for (unsigned r = 0; r < rows && controllers > 0 && out.error == 0; ++r) {
        line.clear();
        for (std::uint32_t c = 0; c < controllers; ++c) {
            if (!demo::next_word(in, entry.data())) {
                std::vector<unsigned char> unfinished(row.begin(), row.begin() + std::ptrdiff_t{c} * 4);
                const std::span<const unsigned char> last = demo::left_over(in);
                unfinished.insert(unfinished.end(), last.begin(), last.end());
                put_byte_lines(out, cut_word, unfinished, stream_bytes_per_line, true);
                return false;
            }
            if (c > 0) {
                line += entry_separator;
            }
            std::copy(entry.begin(), entry.end(), row.begin() + std::ptrdiff_t{c} * 4);
            append_entry(line, p, entry.data());
        }
        line += '\n';
        report::put(out, line);
    }
    return true;
}

// Walks the command blocks up to the zero word, and then what follows it.
void put_blocks(report::writer& out, demo::word_reader& in, std::uint32_t controllers, report::outcome& walk)
{
    std::uint64_t first_row = 1;
    const report::walk_end end =
        report::walk_blocks(in, out, walk, [&](const unsigned char* word, demo::word_reader& entries) {
            std::array<char, 80> line{};
            std::snprintf(line.data(), line.size(), "%s %08X  # block %llu, row %llu\n", block_word.data(),
                          static_cast<unsigned>(demo::big_endian_word(word)),
                          static_cast<unsigned long long>(walk.blocks), static_cast<unsigned long long>(first_row));
            report::put(out, line.data());
            first_row += demo::row_count(word);
            return put_rows(out, entries, demo::row_count(word), controllers);
        });
    if (end == report::walk_end::inside_word && !demo::left_over(in).empty()) {
        put_byte_lines(out, cut_block_word_word, demo::left_over(in), stream_bytes_per_line, false);
    }
    if (end == report::walk_end::zero_word && out.error == 0) {
        report::put(out, std::string(end_word) + "\n");
        put_rest_as_bytes(out, in);
    }
}

// ---------------------------------------------------------------- reading: lines and fields

// The text, line by line, from a buffer that takes it in large reads.
struct line_reader {
    std::FILE* file = nullptr;
    std::vector<char> buffer = std::vector<char>(std::size_t{256} * 1024); // the longest line it takes
    std::size_t start = 0;
    std::size_t end = 0;
    bool at_end = false;
    int read_error = 0;
    std::uint64_t number = 0; // of the line last taken
};

enum class got { line, none, too_long };

void refill(line_reader& in)
{
    std::memmove(in.buffer.data(), in.buffer.data() + in.start, in.end - in.start);
    in.end -= in.start;
    in.start = 0;
    errno = 0;
    const std::size_t read = std::fread(in.buffer.data() + in.end, 1, in.buffer.size() - in.end, in.file);
    in.end += read;
    if (read == 0) {
        in.at_end = true;
        if (std::ferror(in.file) != 0) {
            in.read_error = errors::last_errno();
        }
    }
}

// The next line without its line end ("\n" or "\r\n").
got next_line(line_reader& in, std::string_view& line)
{
    for (;;) {
        const char* from = in.buffer.data() + in.start;
        const void* found = std::memchr(from, '\n', in.end - in.start);
        if (found != nullptr || (in.at_end && in.start < in.end)) {
            const char* stop = found != nullptr ? static_cast<const char*>(found) : in.buffer.data() + in.end;
            line = std::string_view(from, static_cast<std::size_t>(stop - from));
            in.start += line.size() + (found != nullptr ? 1 : 0);
            if (line.ends_with('\r')) {
                line.remove_suffix(1);
            }
            ++in.number;
            return got::line;
        }
        if (in.at_end) {
            return got::none;
        }
        if (in.start == 0 && in.end == in.buffer.size()) {
            ++in.number;
            return got::too_long;
        }
        refill(in);
    }
}

struct token {
    std::string_view text;
    std::size_t column = 0; // 1 for the line's first character
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The next field of `line` from `at`; empty at the line's end or at a comment.
token next_token(std::string_view line, std::size_t& at)
{
    while (at < line.size() && is_blank(line[at])) {
        ++at;
    }
    const std::size_t start = at;
    if (at < line.size() && line[at] == '#') {
        return {{}, start + 1};
    }
    while (at < line.size() && !is_blank(line[at]) && line[at] != '#') {
        ++at;
    }
    return {line.substr(start, at - start), start + 1};
}

// A reason to refuse the text, and where.
struct failure {
    std::size_t column = 0;
    std::string why;
};

std::string quoted(std::string_view text)
{
    std::string in_quotes(1, '\'');
    return in_quotes.append(text).append(1, '\'');
}

std::optional<unsigned char> hex_byte(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.size() != 2 || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return static_cast<unsigned char>(value);
}

// The hexadecimal bytes of the rest of `line`, appended to `bytes`.
std::optional<failure> read_hex_bytes(std::string_view line, std::size_t& at, std::vector<unsigned char>& bytes)
{
    for (token t = next_token(line, at); !t.text.empty(); t = next_token(line, at)) {
        const std::optional<unsigned char> byte = hex_byte(t.text);
        if (!byte) {
            return failure{t.column, quoted(t.text) + " is not a byte in two hexadecimal digits"};
        }
        bytes.push_back(*byte);
    }
    return std::nullopt;
}

// A number: decimal, with a sign or not, or hexadecimal after "0x".
std::optional<std::int64_t> number_of(std::string_view text)
{
    const bool negative = text.starts_with('-');
    std::string_view digits = negative ? text.substr(1) : text;
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() || value > 0xFFFFFFFFULL) {
        return std::nullopt;
    }
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

// ---------------------------------------------------------------- reading: the demo

enum class section { first_line, header, blocks, cut, closed, after_end, raw };

// What the reader knows of the text so far, and the one block it holds.
struct reading {
    report::writer out;
    section at = section::first_line;
    std::array<unsigned char, demo::first_block_offset> header{};
    std::size_t header_size = 0; // header bytes read so far
    std::uint32_t controllers = 0;
    bool block_open = false;
    std::array<unsigned char, demo::word_size> word{};
    std::vector<unsigned char> rows;
    std::size_t row_count = 0;
    std::uint64_t block_line = 0; // where the block open begins
};

void put_bytes(reading& r, std::span<const unsigned char> bytes)
{
    if (bytes.empty()) {
        return; // an empty vector's bytes may lie nowhere
    }
    report::put(r.out, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Writes the block held, its row count that of its rows unless it is cut
// or its rows hold no entries.
void close_block(reading& r)
{
    if (!r.block_open) {
        return;
    }
    if (r.at != section::cut && r.controllers > 0) {
        r.word[1] = static_cast<unsigned char>(r.row_count);
    }
    put_bytes(r, r.word);
    put_bytes(r, r.rows);
    r.rows.clear();
    r.row_count = 0;
    r.block_open = false;
}

std::optional<failure> read_first_line(reading& r, std::string_view line)
{
    std::size_t at = 0;
    const token name = next_token(line, at);
    const token what = next_token(line, at);
    const token version = next_token(line, at);
    if (name.text != "demo2html" || what.text != "text") {
        return failure{1, "this is not the text of a demo: its first line is not " + quoted(first_line)};
    }
    if (version.text != first_line.substr(first_line.rfind(' ') + 1)) {
        return failure{version.column,
                       "version " + quoted(version.text) + " of the text is not known; " + quoted(first_line) + " is"};
    }
    r.at = section::header;
    return std::nullopt;
}

void header_complete(reading& r)
{
    put_bytes(r, std::span<const unsigned char>(r.header.data(), r.header_size));
    if (r.header_size < demo::first_block_offset) {
        r.at = section::closed;
        return;
    }
    r.controllers = demo::big_endian_word(&r.header[demo::controllers_offset]);
    r.at = r.controllers > max_text_controllers ? section::raw : section::blocks;
}

std::optional<failure> put_header_bytes(reading& r, std::span<const unsigned char> bytes, std::size_t column)
{
    if (r.header_size + bytes.size() > r.header.size()) {
        return failure{column, "the header holds " + std::to_string(r.header.size()) +
                                   " bytes; this line takes it to " + std::to_string(r.header_size + bytes.size())};
    }
    std::copy(bytes.begin(), bytes.end(), r.header.begin() + static_cast<std::ptrdiff_t>(r.header_size));
    r.header_size += bytes.size();
    if (r.header_size == r.header.size()) {
        header_complete(r);
    }
    return std::nullopt;
}

std::optional<failure> read_field(reading& r, const field& f, std::string_view line, std::size_t& at,
                                  std::size_t column)
{
    if (r.header_size != f.offset) {
        return failure{column, quoted(f.name) + " stands at offset " + std::to_string(f.offset) +
                                   " of the header, but the lines before it hold " + std::to_string(r.header_size) +
                                   " bytes"};
    }
    const token value = next_token(line, at);
    const std::optional<std::int64_t> number = number_of(value.text);
    const std::int64_t low = f.width == 1 ? -128 : 0;
    const std::int64_t high = f.width == 1 ? 255 : 0xFFFFFFFFLL;
    if (!number || *number < low || *number > high) {
        return failure{value.column, quoted(value.text) + " is not a value of " + quoted(f.name) + " (" +
                                         std::to_string(low) + " to " + std::to_string(high) + ")"};
    }
    std::array<unsigned char, demo::word_size> bytes{};
    auto word = static_cast<std::uint32_t>(*number);
    for (std::size_t i = f.width; i > 0; --i) {
        bytes[i - 1] = static_cast<unsigned char>(word & 0xFFU);
        word >>= 8U;
    }
    return put_header_bytes(r, std::span<const unsigned char>(bytes.data(), f.width), column);
}

std::optional<failure> read_header_line(reading& r, std::string_view line, std::size_t& at, const token& key)
{
    if (key.text == bytes_word) {
        std::vector<unsigned char> bytes;
        if (auto failed = read_hex_bytes(line, at, bytes)) {
            return failed;
        }
        return put_header_bytes(r, bytes, key.column);
    }
    if (key.text == header_ends_word) {
        const token length = next_token(line, at);
        if (length.text != std::to_string(r.header_size)) {
            return failure{length.column, "the lines before hold " + std::to_string(r.header_size) +
                                              " header bytes, not " + quoted(length.text)};
        }
        header_complete(r);
        return std::nullopt;
    }
    const auto* f =
        std::find_if(fields.begin(), fields.end(), [&](const field& candidate) { return candidate.name == key.text; });
    if (f == fields.end()) {
        return failure{key.column, quoted(key.text) + " is not a header field, nor '" + std::string(bytes_word) +
                                       "' or '" + std::string(header_ends_word) + "'"};
    }
    return read_field(r, *f, line, at, key.column);
}

std::optional<failure> read_stick(const token& t, std::uint32_t controller, const char* axis, unsigned char& out)
{
    int value = 0;
    const auto [end, error] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), value);
    if (t.text.empty() || error != std::errc{} || end != t.text.data() + t.text.size() || value < -128 || value > 127) {
        return failure{t.column, quoted(t.text) + " is not a stick " + axis + " of controller " +
                                     std::to_string(controller) + " (-128 to 127)"};
    }
    out = static_cast<unsigned char>(value & 0xFF);
    return std::nullopt;
}

std::optional<failure> read_buttons(const token& t, std::uint32_t controller, unsigned char& two, unsigned char& three)
{
    const auto who = [controller] { return " of controller " + std::to_string(controller); };
    if (t.text.size() != lanes::count) {
        return failure{t.column,
                       quoted(t.text) + " is not the " + std::to_string(lanes::count) + " button places" + who()};
    }
    for (std::size_t i = 0; i < lanes::count; ++i) {
        const lanes::lane& lane = lanes::all[i];
        const char c = t.text[i];
        if (c == lane.letter) {
            (lane.byte == 2 ? two : three) |= static_cast<unsigned char>(lane.mask);
        } else if (c != lanes::not_held) {
            const bool a_button = std::any_of(lanes::all.begin(), lanes::all.end(),
                                              [c](const lanes::lane& other) { return other.letter == c; });
            return failure{t.column + i, a_button ? quoted(std::string(1, c)) + " stands in the place of " +
                                                        quoted(std::string(1, lane.letter)) + who()
                                                  : quoted(std::string(1, c)) + " is not a button" + who()};
        }
    }
    return std::nullopt;
}

const char* after_blanks(const char* p, const char* end)
{
    while (p < end && is_blank(*p)) {
        ++p;
    }
    return p;
}

// A stick's value at `p`, ended by a blank: false where there is none.
bool quick_stick(const char*& p, const char* end, unsigned char& out)
{
    const bool negative = p < end && *p == '-';
    p += negative ? 1 : 0;
    const char* digits = p;
    int value = 0;
    while (p < end && *p >= '0' && *p <= '9' && p - digits < 3) {
        value = value * 10 + (*p - '0');
        ++p;
    }
    value = negative ? -value : value;
    out = static_cast<unsigned char>(value & 0xFF);
    return p > digits && p < end && is_blank(*p) && value >= -128 && value <= 127;
}

// A stick's value in its four places, as the text writes it: false when
// they hold anything else. Its digits stand at the right, so a place
// without one counts as 0, and the text of the value read must be theirs.
bool stick_in_place(const row_pieces& p, const char* field, unsigned char& out)
{
    const auto digit = [](char c) {
        const auto value = static_cast<unsigned>(c - '0');
        return static_cast<int>(value < 10 ? value : 0U);
    };
    const int size = digit(field[1]) * 100 + digit(field[2]) * 10 + digit(field[3]);
    const bool negative = field[0] == '-' || field[1] == '-' || field[2] == '-';
    const int value = negative ? -size : size;
    out = static_cast<unsigned char>(value & 0xFF);
    std::uint32_t written = 0;
    std::uint32_t found = 0;
    std::memcpy(&written, p.stick[out].data(), sizeof written);
    std::memcpy(&found, field, sizeof found);
    return value >= -128 && value <= 127 && written == found;
}

// The 16 places are read eight at a time, as the bytes of a 64-bit word:
// byte i is place i, on any host.
constexpr std::size_t places_per_word = 8;
constexpr std::uint64_t high_bits = 0x8080808080808080ULL;
constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7FULL;

std::uint64_t word_of_places(const char* places)
{
    std::uint64_t word = 0;
    std::memcpy(&word, places, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        std::uint64_t reversed = 0;
        for (std::size_t i = 0; i < places_per_word; ++i, word >>= 8U) {
            reversed = reversed << 8U | (word & 0xFFU);
        }
        word = reversed;
    }
    return word;
}

// 0x80 in each byte where `a` and `b` hold the same byte, 0 elsewhere: the
// low seven bits of a byte that differs carry into its high bit, and no
// carry crosses into the next byte.
constexpr std::uint64_t same_bytes(std::uint64_t a, std::uint64_t b)
{
    const std::uint64_t differ = a ^ b;
    return ~(((differ & low_bits) + low_bits) | differ | low_bits);
}

// The high bits of the eight bytes as the bits 0 to 7 of one byte: the
// multiplier moves byte i's bit to bit 56 + i, and no two of its products
// meet.
constexpr unsigned gathered(std::uint64_t high_bits_set)
{
    return static_cast<unsigned>(((high_bits_set >> 7U) * 0x0102040810204080ULL) >> 56U);
}

// What the places show, eight at a time: each place's letter, and for each
// pattern of held places the entry's bits, byte 2's in the low byte and
// byte 3's in the high one.
struct place_words {
    std::array<std::uint64_t, 2> letters{};
    std::uint64_t not_held = 0;
    std::array<std::array<std::uint16_t, 256>, 2> bits{};
};

place_words build_place_words()
{
    static_assert(lanes::count == 2 * places_per_word);
    place_words words;
    std::array<char, lanes::count> letters{};
    std::transform(lanes::all.begin(), lanes::all.end(), letters.begin(),
                   [](const lanes::lane& l) { return l.letter; });
    const std::array<char, places_per_word> dots = {'.', '.', '.', '.', '.', '.', '.', '.'};
    words.not_held = word_of_places(dots.data());
    for (std::size_t half = 0; half < 2; ++half) {
        words.letters.at(half) = word_of_places(letters.data() + half * places_per_word);
        for (unsigned held = 0; held < 256; ++held) {
            unsigned bits = 0;
            for (std::size_t i = 0; i < places_per_word; ++i) {
                const lanes::lane& lane = lanes::all.at(half * places_per_word + i);
                bits |= (held >> i & 1U) != 0 ? (lane.byte == 2 ? lane.mask : lane.mask << 8U) : 0U;
            }
            words.bits.at(half).at(held) = static_cast<std::uint16_t>(bits);
        }
    }
    return words;
}

const place_words& words_of_places()
{
    static const place_words built = build_place_words();
    return built;
}

// The 16 places of a controller: false unless each holds its letter or '.'.
bool places_read(const place_words& words, const char* places, unsigned char& two, unsigned char& three)
{
    unsigned bits = 0;
    std::uint64_t right = high_bits;
    for (std::size_t half = 0; half < 2; ++half) {
        const std::uint64_t word = word_of_places(places + half * places_per_word);
        const std::uint64_t held = same_bytes(word, words.letters[half]);
        right &= held | same_bytes(word, words.not_held);
        bits |= words.bits[half][gathered(held)];
    }
    two = static_cast<unsigned char>(bits & 0xFFU);
    three = static_cast<unsigned char>(bits >> 8U);
    return right == high_bits;
}

// Reads a row laid out exactly as the text writes it; false for any other.
bool read_row_in_place(reading& r, std::string_view line)
{
    const std::size_t controllers = r.controllers;
    if (controllers == 0 || line.size() != controllers * (entry_text_size + entry_separator.size()) - 2) {
        return false;
    }
    const std::size_t before = r.rows.size();
    r.rows.resize(before + controllers * demo::word_size);
    unsigned char* entry = r.rows.data() + before;
    const row_pieces& p = pieces();
    const place_words& words = words_of_places();
    // Every test is taken, none skipped: the rows are read without a branch
    // that guesses.
    unsigned read = 1;
    for (std::size_t c = 0; c < controllers; ++c, entry += demo::word_size) {
        const char* text = line.data() + c * (entry_text_size + entry_separator.size());
        const bool last = c + 1 == controllers;
        read &= static_cast<unsigned>(stick_in_place(p, text, entry[0])) &
                static_cast<unsigned>(stick_in_place(p, text + 5, entry[1])) &
                static_cast<unsigned>(places_read(words, text + 10, entry[2], entry[3])) &
                static_cast<unsigned>(text[4] == ' ' && text[9] == ' ') &
                static_cast<unsigned>(last || (text[entry_text_size] == ' ' && text[entry_text_size + 1] == ' '));
    }
    if (read == 0) {
        r.rows.resize(before);
        return false;
    }
    ++r.row_count;
    return true;
}

// Reads a row as the text writes it, or as spaces and tabs change it, with
// no look at why a row may be wrong: true when it was read, else the row
// is read again, slowly, to tell what is wrong with it.
bool read_row_quickly(reading& r, std::string_view line)
{
    if (read_row_in_place(r, line)) {
        return true;
    }
    const char* p = line.data();
    const char* end = p + line.size();
    const std::size_t before = r.rows.size();
    r.rows.resize(before + std::size_t{r.controllers} * demo::word_size);
    unsigned char* entry = r.rows.data() + before;
    bool read = r.controllers > 0;
    for (std::uint32_t c = 0; c < r.controllers && read; ++c, entry += demo::word_size) {
        p = after_blanks(p, end);
        read = quick_stick(p, end, entry[0]);
        p = after_blanks(p, end);
        read = read && quick_stick(p, end, entry[1]);
        p = after_blanks(p, end);
        read = read && end - p >= static_cast<std::ptrdiff_t>(lanes::count);
        read = read && places_read(words_of_places(), p, entry[2], entry[3]);
        p += read ? lanes::count : 0;
        read = read && (p == end || is_blank(*p) || *p == '#');
    }
    p = after_blanks(p, end);
    if (!read || (p != end && *p != '#')) {
        r.rows.resize(before);
        return false;
    }
    ++r.row_count;
    return true;
}

std::optional<failure> read_row(reading& r, std::string_view line, std::size_t& at, const token& first)
{
    if (!r.block_open) {
        return failure{first.column, "a row before the first 'block' line"};
    }
    if (r.row_count == max_rows) {
        return failure{first.column, "the block of line " + std::to_string(r.block_line) + " holds more than " +
                                         std::to_string(max_rows) + " rows"};
    }
    if (read_row_quickly(r, line)) {
        return std::nullopt;
    }
    token x = first;
    for (std::uint32_t c = 1; c <= r.controllers; ++c) {
        if (c > 1) {
            x = next_token(line, at);
        }
        const token y = next_token(line, at);
        const token buttons = next_token(line, at);
        if (buttons.text.empty()) {
            return failure{buttons.column, "the row ends inside controller " + std::to_string(c) + " of " +
                                               std::to_string(r.controllers)};
        }
        std::array<unsigned char, demo::word_size> entry{};
        if (auto failed = read_stick(x, c, "X", entry[0])) {
            return failed;
        }
        if (auto failed = read_stick(y, c, "Y", entry[1])) {
            return failed;
        }
        if (auto failed = read_buttons(buttons, c, entry[2], entry[3])) {
            return failed;
        }
        r.rows.insert(r.rows.end(), entry.begin(), entry.end());
    }
    if (const token more = next_token(line, at); !more.text.empty() || r.controllers == 0) {
        return failure{more.column,
                       "the row holds more than the " + std::to_string(r.controllers) + " controllers of the header"};
    }
    ++r.row_count;
    return std::nullopt;
}

std::optional<failure> read_block_word(reading& r, std::string_view line, std::size_t& at, std::uint64_t number)
{
    close_block(r);
    const token word = next_token(line, at);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(word.text.data(), word.text.data() + word.text.size(), value, 16);
    if (word.text.size() != 8 || error != std::errc{} || end != word.text.data() + word.text.size()) {
        return failure{word.column, quoted(word.text) + " is not a block word in eight hexadecimal digits"};
    }
    if (value == 0) {
        return failure{word.column, "a block word of zero closes the blocks: write 'end'"};
    }
    for (std::size_t i = demo::word_size; i > 0; --i) {
        r.word[i - 1] = static_cast<unsigned char>(value & 0xFFU);
        value >>= 8U;
    }
    r.block_open = true;
    r.block_line = number;
    return std::nullopt;
}

// The line where the demo may end inside a block, or inside a block word.
std::optional<failure> read_cut(reading& r, std::string_view line, std::size_t& at, const token& key)
{
    std::vector<unsigned char> bytes;
    if (auto failed = read_hex_bytes(line, at, bytes)) {
        return failed;
    }
    if (key.text == cut_word) {
        if (!r.block_open) {
            return failure{key.column, "'cut' ends a block, and no block is open"};
        }
        r.rows.insert(r.rows.end(), bytes.begin(), bytes.end());
        r.at = section::cut;
        return std::nullopt;
    }
    if (bytes.empty() || bytes.size() >= demo::word_size) {
        return failure{key.column, "a block word cut short holds 1 to 3 bytes"};
    }
    close_block(r);
    put_bytes(r, bytes);
    r.at = section::closed;
    return std::nullopt;
}

std::optional<failure> read_block_line(reading& r, std::string_view line, std::size_t& at, const token& key,
                                       std::uint64_t number)
{
    const char c = key.text.front();
    if ((c >= '0' && c <= '9') || c == '-') {
        return read_row(r, line, at, key);
    }
    if (key.text == block_word) {
        return read_block_word(r, line, at, number);
    }
    if (key.text == cut_word || key.text == cut_block_word_word) {
        return read_cut(r, line, at, key);
    }
    if (key.text == end_word) {
        close_block(r);
        put_bytes(r, std::array<unsigned char, demo::word_size>{});
        r.at = section::after_end;
        return std::nullopt;
    }
    return failure{key.column, quoted(key.text) + " is neither a row nor a 'block', 'cut', 'cut-word' or 'end' line"};
}

std::optional<failure> read_stream_bytes(reading& r, std::string_view line, std::size_t& at, const token& key)
{
    if (key.text != bytes_word) {
        return failure{key.column, r.at == section::raw
                                       ? "above " + std::to_string(max_text_controllers) +
                                             " controllers the blocks are 'bytes' lines, not " + quoted(key.text)
                                       : "after 'end' only 'bytes' lines follow, not " + quoted(key.text)};
    }
    std::vector<unsigned char> bytes;
    if (auto failed = read_hex_bytes(line, at, bytes)) {
        return failed;
    }
    put_bytes(r, bytes);
    return std::nullopt;
}

std::optional<failure> read_line(reading& r, std::string_view line, std::uint64_t number)
{
    if (r.at == section::first_line) {
        return read_first_line(r, line);
    }
    std::size_t at = 0;
    const token key = next_token(line, at);
    if (key.text.empty()) {
        return std::nullopt; // blank, or a comment
    }
    switch (r.at) {
    case section::header:
        return read_header_line(r, line, at, key);
    case section::blocks:
        return read_block_line(r, line, at, key, number);
    case section::cut:
        if (key.text == cut_word) {
            return read_cut(r, line, at, key);
        }
        return failure{key.column, "the demo ends inside the block of line " + std::to_string(r.block_line) +
                                       ", at its 'cut' line: only 'cut' lines follow"};
    case section::closed:
        return failure{key.column, "the demo has ended above: nothing follows"};
    case section::after_end:
    case section::raw:
        return read_stream_bytes(r, line, at, key);
    case section::first_line:
        break;
    }
    return std::nullopt;
}

std::optional<failure> read_end(const reading& r)
{
    if (r.at == section::first_line) {
        return failure{1, "this is not the text of a demo: it is empty"};
    }
    if (r.at == section::header) {
        return failure{1, "the text ends inside the header, after " + std::to_string(r.header_size) +
                              " of its bytes (a demo that ends there says '" + std::string(header_ends_word) + " " +
                              std::to_string(r.header_size) + "')"};
    }
    return std::nullopt;
}

std::string place(std::string_view label, std::uint64_t line, std::size_t column)
{
    return std::string(label) + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

// Reads the whole text into `r`; "" when it is read, else where and why not.
std::string read_text(line_reader& in, reading& r, std::string_view label)
{
    std::string_view line;
    for (got next = next_line(in, line); r.out.error == 0; next = next_line(in, line)) {
        if (next == got::too_long) {
            return place(label, in.number, 1) + "the line is longer than " + std::to_string(in.buffer.size()) +
                   " characters";
        }
        if (next == got::none) {
            break;
        }
        if (const std::optional<failure> failed = read_line(r, line, in.number)) {
            return place(label, in.number, failed->column) + failed->why;
        }
    }
    if (in.read_error != 0) {
        return "reading " + quoted(label) + " failed after line " + std::to_string(in.number) + ": " +
               std::strerror(in.read_error);
    }
    if (const std::optional<failure> failed = read_end(r)) {
        return place(label, in.number + 1, failed->column) + failed->why;
    }
    close_block(r);
    return "";
}

} // namespace

bool begins_like_a_text(std::string_view first_bytes)
{
    const std::string_view format = first_line.substr(0, first_line.rfind(' ') + 1);
    return first_bytes.starts_with(format) && first_bytes.size() > format.size() && first_bytes[format.size()] >= '0' &&
           first_bytes[format.size()] <= '9';
}

int write_text(std::FILE* demo, std::FILE* text, report::outcome* result)
{
    report::writer out;
    report::start_writer(out, text);
    const demo::header header = demo::read_header(demo);
    report::outcome done = report::outcome_of(header);
    done.fills_short_header = false;
    report::put(out, std::string(first_line) + "\n");
    put_header_lines(out, header);
    if (done.header_bytes < demo::first_block_offset) {
        done.ended_early = true;
        done.end_offset = done.header_bytes;
    } else {
        auto in = std::make_unique<demo::word_reader>();
        demo::start_reader(*in, demo, demo::first_block_offset);
        if (done.controllers > max_text_controllers) {
            put_rest_as_bytes(out, *in, &done);
            done.read_error = in->read_error;
        } else {
            put_lanes_comment(out);
            put_blocks(out, *in, done.controllers, done);
        }
    }
    return report::close_both(demo, out, done, result);
}

int write_demo(std::FILE* text, std::FILE* demo, std::string_view label, report::outcome* result)
{
    report::outcome done;
    done.header_bytes = demo::first_block_offset; // a text is read whole, or refused: nothing is cut
    auto r = std::make_unique<reading>();
    report::start_writer(r->out, demo);
    auto in = std::make_unique<line_reader>();
    in->file = text;
    done.problem = read_text(*in, *r, label);
    return report::close_both(text, r->out, done, result) == 0 && done.problem.empty() ? 0 : 1;
}

} // namespace demo_text
