#include "demo_table.h"

#include "demo_format.h"
#include "lanes.h"
#include "report_writer.h"

#include <array>
#include <charconv>
#include <cstdint>
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

struct table_pieces {
    std::array<std::string, 256> stick; // a signed value and its comma
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
        p.stick[value] = std::to_string(stick) + ",";
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

void append_number(std::string& line, std::uint64_t number)
{
    std::array<char, 24> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
    line.append(digits.data(), end);
    line += ',';
}

void append_entry(std::string& line, const table_pieces& p, const unsigned char* entry)
{
    line += p.stick[entry[0]];
    line += p.stick[entry[1]];
    const std::size_t at = line.size();
    line.append(p.two[entry[2]].data(), flags_size);
    for (std::size_t i = 0; i < flags_size; ++i) {
        line[at + i] = static_cast<char>(line[at + i] | p.three[entry[3]][i]);
    }
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
    std::string start;
    std::string line;
    std::array<unsigned char, demo::word_size> entry{};
    for (at.row = 1; at.row <= rows && controllers > 0 && out.error == 0; ++at.row) {
        ++at.demo_row;
        start.clear();
        append_number(start, at.block);
        append_number(start, at.row);
        append_number(start, at.demo_row);
        for (std::uint32_t c = 1; c <= controllers; ++c) {
            if (!demo::next_word(in, entry.data())) {
                return false;
            }
            line = start;
            append_number(line, c);
            append_entry(line, p, entry.data());
            report::put(out, line);
        }
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
