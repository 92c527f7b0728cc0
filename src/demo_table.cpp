#include "demo_table.h"

#include "demo_format.h"
#include "lanes.h"
#include "report_writer.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>

namespace demo_table {

namespace {

constexpr std::array<std::string_view, 6> counting_columns = {"block",      "row",     "demo_row",
                                                              "controller", "stick_x", "stick_y"};
constexpr std::string_view line_end = "\r\n";

// A row's button columns: "F," for each place, the last one's ending the
// line. Each place is owned by one of the two button bytes; the other
// byte's table holds '0' there, and '0' | '1' is '1', so or-ing the two
// tables' texts gives the row's.
constexpr std::size_t flags_size = lanes::count * 2 + 1;
using flag_text = std::array<char, flags_size>;

// A stick's value and its comma, at most "-128,".
struct stick_text {
    std::array<char, 5> text{};
    std::size_t size = 0;
};

struct table_pieces {
    std::array<stick_text, 256> stick;
    std::array<flag_text, 256> two;
    std::array<flag_text, 256> three;
};

flag_text flags_of(unsigned byte_index, unsigned value)
{
    flag_text text{};
    for (std::size_t i = 0; i < lanes::count; ++i) {
        const lanes::lane& lane = lanes::all[i];
        text[2 * i] = lane.byte == byte_index && (value & lane.mask) != 0 ? '1' : '0';
        text[2 * i + 1] = ',';
    }
    text[flags_size - 2] = line_end[0];
    text[flags_size - 1] = line_end[1];
    return text;
}

table_pieces build_pieces()
{
    table_pieces p;
    for (unsigned value = 0; value < 256; ++value) {
        const int stick = value < 128 ? static_cast<int>(value) : static_cast<int>(value) - 256;
        const std::string text = std::to_string(stick) + ",";
        std::copy(text.begin(), text.end(), p.stick[value].text.begin());
        p.stick[value].size = text.size();
        p.two[value] = flags_of(2, value);
        p.three[value] = flags_of(3, value);
    }
    return p;
}

const table_pieces& pieces()
{
    static const table_pieces built = build_pieces();
    return built;
}

// Writes `number` and its comma at `at`, which has room for 21 characters;
// returns where they end.
char* put_number(char* at, std::uint64_t number)
{
    at = std::to_chars(at, at + 20, number).ptr;
    *at = ',';
    return at + 1;
}

// One line of the table: where the row stands, the controller, its entry.
constexpr std::size_t max_line_size = 4 * 21 + 2 * 5 + flags_size;
using line_text = std::array<char, max_line_size>;

char* put_stick(char* at, const stick_text& stick)
{
    std::memcpy(at, stick.text.data(), stick.text.size()); // the whole array: the line has room
    return at + stick.size;
}

char* put_entry(char* at, const table_pieces& p, const unsigned char* entry)
{
    at = put_stick(put_stick(at, p.stick[entry[0]]), p.stick[entry[1]]);
    flag_text flags{}; // or-ed here, apart from the line, so that it goes a register at a time
    for (std::size_t i = 0; i < flags_size; ++i) {
        flags[i] = static_cast<char>(p.two[entry[2]][i] | p.three[entry[3]][i]);
    }
    std::memcpy(at, flags.data(), flags.size());
    return at + flags_size;
}

// Where a row stands: its block, its row in the block, its row in the demo.
struct row_place {
    std::uint64_t block = 0;
    unsigned row = 0;
    std::uint64_t demo_row = 0;
};

// The lines of one block's rows. False when the demo ends inside it.
bool put_rows(report::writer& out, demo::word_reader& in, unsigned rows, std::uint32_t controllers, row_place& at)
{
    const table_pieces& p = pieces();
    line_text line{};
    std::string lines; // the row's, one per controller
    std::array<unsigned char, demo::word_size> entry{};
    for (at.row = 1; at.row <= rows && out.error == 0; ++at.row) {
        ++at.demo_row;
        char* const start_end = put_number(put_number(put_number(line.data(), at.block), at.row), at.demo_row);
        lines.clear();
        for (std::uint32_t c = 1; c <= controllers; ++c) {
            if (!demo::next_word(in, entry.data())) {
                report::put(out, lines);
                return false;
            }
            const char* end = put_entry(put_number(start_end, c), p, entry.data());
            lines.append(line.data(), static_cast<std::size_t>(end - line.data()));
        }
        report::put(out, lines);
    }
    return true;
}

void put_blocks(report::writer& out, demo::word_reader& in, std::uint32_t controllers, report::outcome& walk)
{
    row_place at;
    report::walk_blocks(in, out, walk, [&](const unsigned char* word, demo::word_reader& entries) {
        at.block = walk.blocks;
        return put_rows(out, entries, demo::row_count(word), controllers, at);
    });
}

} // namespace

std::string heading_line()
{
    std::string line;
    for (const std::string_view column : counting_columns) {
        line.append(column).append(",");
    }
    for (const lanes::lane& lane : lanes::all) {
        line.append(lane.name).append(",");
    }
    line.pop_back();
    return line.append(line_end);
}

std::size_t start_bytes() { return heading_line().size(); }

bool begins_like_a_table(std::string_view first_bytes) { return first_bytes.starts_with(heading_line()); }

int write_table(std::FILE* demo, std::FILE* table, report::outcome* result)
{
    report::writer out;
    report::start_writer(out, table);
    const demo::header header = demo::read_header(demo);
    report::outcome done = report::outcome_of(header);
    report::put(out, heading_line());
    if (done.header_bytes < demo::first_block_offset) {
        done.ended_early = true;
        done.end_offset = done.header_bytes;
        done.fills_short_header = false;
    } else {
        auto in = std::make_unique<demo::word_reader>();
        demo::start_reader(*in, demo, demo::first_block_offset);
        put_blocks(out, *in, done.controllers, done);
    }
    return report::close_both(demo, out, done, result);
}

} // namespace demo_table
