#include "report.h"

#include "demo_format.h"
#include "icons.h"
#include "report_writer.h"
#include "resources.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace report {

namespace {

// ---------------------------------------------------------------- labels

struct stage {
    std::uint8_t code;
    const char* title;
};

constexpr std::array<stage, 28> stage_titles = {{
    {0x09, "09 Bunker I"},  {0x14, "14 Silo"},    {0x16, "16 Statue Park"}, {0x17, "17 Control"},
    {0x18, "18 Archives"},  {0x19, "19 Train"},   {0x1A, "1A Frigate"},     {0x1B, "1B Bunker II"},
    {0x1C, "1C Aztec"},     {0x1D, "1D Streets"}, {0x1E, "1E Depot"},       {0x1F, "1F Complex"},
    {0x20, "20 Egyptian"},  {0x21, "21 Dam"},     {0x22, "22 Facility"},    {0x23, "23 Runway"},
    {0x24, "24 Surface I"}, {0x25, "25 Jungle"},  {0x26, "26 Temple"},      {0x27, "27 Caverns"},
    {0x28, "28 Citadel"},   {0x29, "29 Cradle"},  {0x2B, "2B Surface II"},  {0x2D, "2D Basement"},
    {0x2E, "2E Stack"},     {0x30, "30 Library"}, {0x32, "32 Caves"},       {0x36, "36 Cuba"},
}};

constexpr const char* unknown_stage = "Unknown Stage";

// Difficulty codes 0 (and below) to 3; 4 and above have no label.
constexpr std::array<const char*, 4> difficulty_labels = {"Agent", "Secret Agent", "00 Agent", "007"};

// Indexed by the setup byte's control style bits; each closes the paragraph.
constexpr std::array<const char*, 8> control_styles = {
    "1.1 Honey</I></P>\n",  "1.2 Solitaire</I></P>\n", "1.3 Kissy</I></P>\n",  "1.4 Goodnight</I></P>\n",
    "2.1 Plenty</I></P>\n", "2.2 Galore</I></P>\n",    "2.3 Domino</I></P>\n", "2.4 Goodhead</I></P>\n",
};

struct bit_label {
    unsigned mask;
    const char* set;
    const char* clear;
};

// The screen mode: its width (unless the screen is cinema) and its ratio.
constexpr bit_label screen_width = {demo::wide_bit, "Wide", "Full"};
constexpr bit_label screen_ratio = {demo::ratio_bit, "16:9", "Normal"};

struct option_label {
    const char* caption;
    bit_label label;
};

// The options shown after the screen mode, in the order the summary lists them.
constexpr std::array<option_label, 6> option_labels = {{
    {"Ammo On-Screen", {demo::ammo_bit, "On", "Off"}},
    {"Look Ahead", {demo::look_ahead_bit, "On", "Off"}},
    {"Sight On-Screen", {demo::sight_bit, "On", "Off"}},
    {"Aim Control", {demo::aim_control_bit, "Toggle", "Hold"}},
    {"Auto Aim", {demo::auto_aim_bit, "On", "Off"}},
    {"Look Up/Down", {demo::look_updown_bit, "Upright", "Reverse"}},
}};

// What the reserved bits 6 and 7 of an input entry's byte 2 show.
constexpr std::array<const char*, 2> reserved_bit_texts = {"reserved1 ", "reserved2 "};

constexpr const char* percent_format = " %3d%% ";
constexpr const char* cell_start = "<TD>";
constexpr const char* cell_end = "</TD>";
constexpr const char* row_open = "<TR>";
constexpr const char* striped_row_open = "<TR class=\"switch\">";
constexpr const char* row_close = "</TR>\n";

} // namespace

std::string_view stage_title(std::uint8_t code)
{
    const auto* found =
        std::find_if(stage_titles.begin(), stage_titles.end(), [code](const stage& s) { return s.code == code; });
    return found != stage_titles.end() ? found->title : unknown_stage;
}

std::string_view difficulty_label(std::int8_t code)
{
    const std::size_t index = code <= 0 ? 0 : static_cast<std::size_t>(code);
    return index < difficulty_labels.size() ? difficulty_labels.at(index) : "";
}

std::string_view control_style(std::uint8_t setup)
{
    const std::string_view style = control_styles[setup & demo::control_style_mask];
    return style.substr(0, style.find('<'));
}

namespace {

const char* label_for(std::uint8_t byte, const bit_label& label)
{
    return (byte & label.mask) != 0 ? label.set : label.clear;
}

// The screen's width, or "Cinema" when the setup byte says so.
const char* screen_width_label(std::uint8_t setup, std::uint8_t options)
{
    return (setup & demo::cinema_bit) != 0 ? "Cinema" : label_for(options, screen_width);
}

// ---------------------------------------------------------------- output

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* format, ...)
{
    std::array<char, 512> text{};
    va_list args;
    va_start(args, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): the analyzer misses va_start just above
    std::vsnprintf(text.data(), text.size(), format, args); // ends the text with a NUL, cut where it must be
    va_end(args);
    return text.data();
}

// ---------------------------------------------------------------- cells

// Every piece of a cell depends on one byte of the entry, so each is built
// once for all 256 values of its byte.
struct cell_pieces {
    std::array<std::string, 256> stick_x;
    std::array<std::string, 256> stick_y;
    std::array<std::string, 256> c_buttons;
    std::array<std::string, 256> main_buttons; // closes the cell
};

std::string image_tag(std::string_view icon)
{
    return std::string("<IMG SRC=\"").append(resources::folder_name).append("/").append(icon).append(".png\"></IMG>");
}

std::string stick_piece(int value, const std::array<std::string_view, 2>& images)
{
    const bool negative = value < 0;
    return image_tag(images[negative ? 1 : 0]) + formatted(percent_format, negative ? -value : value);
}

// What each bit of a button byte shows, bit 0 first.
using bit_pieces = std::array<std::string, 8>;

bit_pieces c_button_bit_pieces()
{
    bit_pieces bits;
    std::transform(icons::c_buttons.begin(), icons::c_buttons.end(), bits.begin(), image_tag);
    std::copy(reserved_bit_texts.begin(), reserved_bit_texts.end(), bits.begin() + icons::c_buttons.size());
    return bits;
}

bit_pieces main_button_bit_pieces()
{
    bit_pieces bits;
    std::transform(icons::main_buttons.begin(), icons::main_buttons.end(), bits.begin(), image_tag);
    return bits;
}

std::string button_piece(unsigned byte, const bit_pieces& bits)
{
    std::string piece;
    unsigned mask = 1; // bit 0 first
    for (const std::string& bit_piece : bits) {
        if ((byte & mask) != 0) {
            piece += bit_piece;
        }
        mask <<= 1U;
    }
    return piece;
}

cell_pieces build_cell_pieces()
{
    const bit_pieces c_bits = c_button_bit_pieces();
    const bit_pieces main_bits = main_button_bit_pieces();
    cell_pieces p;
    for (unsigned byte = 0; byte < 256; ++byte) {
        const int value = byte < 128 ? static_cast<int>(byte) : static_cast<int>(byte) - 256; // signed 8-bit
        p.stick_x[byte] = cell_start + stick_piece(value, icons::stick_x);
        p.stick_y[byte] = stick_piece(value, icons::stick_y);
        p.c_buttons[byte] = button_piece(byte, c_bits);
        p.main_buttons[byte] = button_piece(byte, main_bits) + cell_end;
    }
    return p;
}

const cell_pieces& pieces()
{
    static const cell_pieces built = build_cell_pieces();
    return built;
}

void put_cell(writer& out, const cell_pieces& p, const unsigned char* entry)
{
    put(out, p.stick_x[entry[0]]);
    put(out, p.stick_y[entry[1]]);
    put(out, p.c_buttons[entry[2]]);
    put(out, p.main_buttons[entry[3]]);
}

// ---------------------------------------------------------------- sections

void put_header_section(writer& out, const demo::header& h)
{
    put(out, first_line);
    put(out, "\n<HEAD><LINK REL=\"stylesheet\" HREF=\"");
    put(out, resources::stylesheet_path);
    put(out, "\"></LINK></HEAD>\n<BODY>\n");
    put_summary(out, h);
}

// The heading row is the same for every block of a report.
std::string heading_row(std::uint32_t controllers)
{
    std::string row = row_open;
    for (std::uint32_t n = 1; n <= controllers; ++n) {
        row += formatted("<TH>Controller %u</TH>", n);
    }
    return row + row_close;
}

// Writes the rows of one block; where the demo ends inside it, stops
// after closing the row that was open.
void put_rows(writer& out, demo::word_reader& in, unsigned rows, std::uint32_t controllers)
{
    if (controllers == 0) {
        return;
    }
    const cell_pieces& p = pieces();
    std::array<unsigned char, demo::word_size> entry{};
    // Rows are counted from the end of the block: the last row is row 1, and
    // the even ones are striped.
    for (unsigned row = rows; row > 0 && out.error == 0; --row) {
        for (std::uint32_t c = 0; c < controllers; ++c) {
            if (!demo::next_word(in, entry.data())) {
                if (c > 0) {
                    put(out, row_close);
                }
                return;
            }
            if (c == 0) {
                put(out, row % 2 == 0 ? striped_row_open : row_open);
            }
            put_cell(out, p, entry.data());
        }
        put(out, row_close);
    }
}

// Walks the command blocks up to the zero word, a table per block.
void put_block_tables(writer& out, demo::word_reader& in, std::uint32_t controllers, outcome& walk)
{
    const std::string headings = heading_row(controllers);
    walk_blocks(in, out, walk, [&](const unsigned char* word, demo::word_reader& entries) {
        const unsigned rows = demo::row_count(word);
        walk.rows += rows;
        put(out, formatted("\n<TABLE CELLSPACING=\"0\"><B>%08X </B>", demo::big_endian_word(word)));
        put(out, formatted("<I>Size: %u</I>\n", rows));
        put(out, headings);
        put_rows(out, entries, rows, controllers);
        put(out, "\n</TABLE>\n");
        return true; // a demo that ended inside it fails the next word's read
    });
}

// Walks the command blocks up to the zero word without showing them, so that
// a demo whose tables are left out is still told whole or cut short.
void pass_over_blocks(demo::word_reader& in, const writer& out, std::uint32_t controllers, outcome& walk)
{
    walk_blocks(in, out, walk, [&](const unsigned char* word, demo::word_reader& entries) {
        const std::uint8_t rows = demo::row_count(word);
        walk.rows += rows;
        // The row count times the controller count, in 32 bits as the tables' walk takes it.
        return demo::skip_words(entries, static_cast<std::uint32_t>(rows * controllers));
    });
    walk.blocks = 0; // the report shows none of them
}

void put_closing_line(writer& out, std::uint64_t blocks)
{
    const auto count = static_cast<unsigned long long>(blocks);
    put(out, formatted("\n<P><B>Final Count of Command Blocks:</B> <I>%llX/%llu</I>\n</BODY></HTML>", count, count));
}

} // namespace

outcome outcome_of(const demo::header& h)
{
    outcome done;
    done.header_bytes = h.bytes_read;
    done.read_error = h.read_error;
    done.controllers = demo::controller_count(h);
    return done;
}

int close_both(std::FILE* demo, writer& out, outcome& done, outcome* result)
{
    std::fclose(demo);
    done.write_error = finish(out);
    if (result != nullptr) {
        *result = done;
    }
    return done.write_error == 0 ? 0 : 1;
}

walk_end walk_blocks(demo::word_reader& in, const writer& out, outcome& walk,
                     const std::function<bool(const unsigned char* word, demo::word_reader& in)>& block)
{
    std::array<unsigned char, demo::word_size> word{};
    walk_end end = walk_end::zero_word;
    while (out.error == 0) {
        if (!demo::next_word(in, word.data())) {
            end = walk_end::inside_word;
            break;
        }
        if (demo::ends_stream(word.data())) {
            break;
        }
        ++walk.blocks;
        if (!block(word.data(), in)) {
            end = walk_end::inside_block;
            break;
        }
    }
    if (end != walk_end::zero_word) {
        walk.ended_early = true;
        walk.end_offset = in.offset;
        walk.read_error = in.read_error;
    }
    return end;
}

void put_summary(writer& out, const demo::header& h)
{
    put(out, "<H1>");
    put(out, stage_title(demo::stage_code(h)));
    put(out, formatted("</H1>\n<P><B>Size:</B> <I>%X</I>\n<BR />", demo::size_word(h)));
    const std::uint32_t seconds = demo::time_word(h);
    put(out, formatted("<B>Time:</B> <I>%u:%u seconds</I>\n<BR /><B>Difficulty:</B> <I>", seconds / 60, seconds % 60));
    put(out, difficulty_label(demo::difficulty_code(h)));
    put(out,
        formatted("</I>\n<BR /><B>Players:</B> <I>%i</I>\n<BR /><BR /><B>Screen:</B> <I>", demo::players_byte(h) + 1));
    const std::uint8_t setup = demo::setup_byte(h);
    const std::uint8_t options = demo::options_byte(h);
    put(out, formatted("%s; %s</I>\n", screen_width_label(setup, options), label_for(options, screen_ratio)));
    for (const option_label& option : option_labels) {
        put(out, formatted("<BR /><B>%s:</B> <I>%s</I>\n", option.caption, label_for(options, option.label)));
    }
    put(out, "<BR />");
    put(out, formatted("<BR /><B>Controllers:</B> <I>%i - ", static_cast<std::int32_t>(demo::controller_count(h))));
    put(out, control_styles[setup & demo::control_style_mask]);
}

std::string screen_and_options(std::uint8_t setup, std::uint8_t options)
{
    std::string text = std::string(screen_width_label(setup, options)) + "; " + label_for(options, screen_ratio);
    for (const option_label& option : option_labels) {
        text.append(", ").append(option.caption).append(" ").append(label_for(options, option.label));
    }
    return text;
}

bool begins_like_a_report(std::string_view bytes)
{
    const std::string_view rest = bytes.substr(std::min(bytes.size(), first_line.size()));
    return bytes.starts_with(first_line) && (rest.starts_with("\n") || rest.starts_with("\r\n"));
}

int unmush(std::FILE* demo, std::FILE* report, outcome* result)
{
    writer out;
    start_writer(out, report);

    const demo::header header = demo::read_header(demo);
    outcome done = outcome_of(header);
    put_header_section(out, header);

    auto in = std::make_unique<demo::word_reader>();
    demo::start_reader(*in, demo, demo::first_block_offset);
    if (done.controllers > max_table_controllers) {
        done.tables_left_out = true;
        pass_over_blocks(*in, out, done.controllers, done);
    } else {
        put_block_tables(out, *in, done.controllers, done);
    }
    if (done.header_bytes < demo::first_block_offset) {
        done.ended_early = true;
        done.end_offset = done.header_bytes;
    }
    put_closing_line(out, done.blocks);
    return close_both(demo, out, done, result);
}

} // namespace report
