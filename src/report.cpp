#include "report.h"

#include "demo_format.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

constexpr bit_label screen_width = {demo::wide_bit, "Wide", "Full"};

// The options shown after the screen mode, in the order the summary lists them.
constexpr std::array<bit_label, 7> option_labels = {{
    {demo::ratio_bit, "16:9", "Normal"},
    {demo::ammo_bit, "On", "Off"},
    {demo::look_ahead_bit, "On", "Off"},
    {demo::sight_bit, "On", "Off"},
    {demo::aim_control_bit, "Toggle", "Hold"},
    {demo::auto_aim_bit, "On", "Off"},
    {demo::look_updown_bit, "Upright", "Reverse"},
}};

// What each bit of an input entry's button bytes shows, bit 0 first.
constexpr std::array<const char*, 8> c_button_pieces = {
    "<IMG SRC=\"res/CLT.png\"></IMG>",
    "<IMG SRC=\"res/CRT.png\"></IMG>",
    "<IMG SRC=\"res/CDN.png\"></IMG>",
    "<IMG SRC=\"res/CUP.png\"></IMG>",
    "<IMG SRC=\"res/R.png\"></IMG>",
    "<IMG SRC=\"res/L.png\"></IMG>",
    "reserved1 ",
    "reserved2 ",
};
constexpr std::array<const char*, 8> main_button_pieces = {
    "<IMG SRC=\"res/LT.png\"></IMG>", "<IMG SRC=\"res/RT.png\"></IMG>", "<IMG SRC=\"res/DN.png\"></IMG>",
    "<IMG SRC=\"res/UP.png\"></IMG>", "<IMG SRC=\"res/S.png\"></IMG>",  "<IMG SRC=\"res/Z.png\"></IMG>",
    "<IMG SRC=\"res/B.png\"></IMG>",  "<IMG SRC=\"res/A.png\"></IMG>",
};

constexpr const char* stick_x_format = "<TD><IMG SRC=\"res/%s\"></IMG> %3d%% ";
constexpr const char* stick_y_format = "<IMG SRC=\"res/%s\"></IMG> %3d%% ";
constexpr const char* cell_end = "</TD>";
constexpr const char* row_open = "<TR>";
constexpr const char* striped_row_open = "<TR class=\"switch\">";
constexpr const char* row_close = "</TR>\n";

const char* stage_title(std::uint8_t code)
{
    const auto* found =
        std::find_if(stage_titles.begin(), stage_titles.end(), [code](const stage& s) { return s.code == code; });
    return found != stage_titles.end() ? found->title : unknown_stage;
}

const char* difficulty_label(std::int8_t code)
{
    const std::size_t index = code <= 0 ? 0 : static_cast<std::size_t>(code);
    return index < difficulty_labels.size() ? difficulty_labels.at(index) : "";
}

const char* label_for(std::uint8_t byte, const bit_label& label)
{
    return (byte & label.mask) != 0 ? label.set : label.clear;
}

// ---------------------------------------------------------------- output

// Collects the report in a buffer of 256 KiB and hands it to the stream in
// writes of that size. After the first failed write it keeps the error and
// drops the rest.
struct report_writer {
    std::FILE* file = nullptr;
    std::vector<char> buffer = std::vector<char>(std::size_t{256} * 1024);
    std::size_t used = 0;
    int error = 0;
};

// Binds the writer to a report stream that nothing has been written to yet.
// The writer hands the stream whole buffers, so the stream keeps no buffer of
// its own: with one, each buffer would reach the file as two writes, a small
// one and the rest, and small writes cost the filesystem much more per byte.
void start_writer(report_writer& out, std::FILE* report)
{
    out.file = report;
    std::setvbuf(report, nullptr, _IONBF, 0);
}

void flush(report_writer& out)
{
    if (out.error == 0 && out.used > 0) {
        errno = 0;
        if (std::fwrite(out.buffer.data(), 1, out.used, out.file) != out.used) {
            out.error = errno != 0 ? errno : EIO;
        }
    }
    out.used = 0;
}

// Fills the buffer to the brim before each write, so that every write but the
// last is of the buffer's full size and starts at a multiple of it: the
// filesystem then never has to merge a write into a page that the write
// before left half full.
void put(report_writer& out, std::string_view text)
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

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* format, ...)
{
    std::array<char, 512> text{};
    va_list args;
    va_start(args, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): the analyzer misses va_start just above
    const int n = std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    return n > 0 ? std::string(text.data(), std::min(static_cast<std::size_t>(n), text.size() - 1)) : std::string();
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

std::string stick_piece(const char* format, int value, const char* negative_image, const char* positive_image)
{
    const int magnitude = value < 0 ? -value : value;
    return formatted(format, value < 0 ? negative_image : positive_image, magnitude);
}

std::string button_piece(unsigned byte, const std::array<const char*, 8>& bit_pieces)
{
    std::string piece;
    for (unsigned bit = 0; bit < bit_pieces.size(); ++bit) {
        if ((byte & (1U << bit)) != 0) {
            piece += bit_pieces[bit];
        }
    }
    return piece;
}

cell_pieces build_cell_pieces()
{
    cell_pieces p;
    for (unsigned byte = 0; byte < 256; ++byte) {
        const int value = byte < 128 ? static_cast<int>(byte) : static_cast<int>(byte) - 256; // signed 8-bit
        p.stick_x[byte] = stick_piece(stick_x_format, value, "SLT.png", "SRT.png");
        p.stick_y[byte] = stick_piece(stick_y_format, value, "SDN.png", "SUP.png");
        p.c_buttons[byte] = button_piece(byte, c_button_pieces);
        p.main_buttons[byte] = button_piece(byte, main_button_pieces) + cell_end;
    }
    return p;
}

const cell_pieces& pieces()
{
    static const cell_pieces built = build_cell_pieces();
    return built;
}

void put_cell(report_writer& out, const cell_pieces& p, const unsigned char* entry)
{
    put(out, p.stick_x[entry[0]]);
    put(out, p.stick_y[entry[1]]);
    put(out, p.c_buttons[entry[2]]);
    put(out, p.main_buttons[entry[3]]);
}

// ---------------------------------------------------------------- sections

void put_header_section(report_writer& out, const demo::header& h)
{
    put(out, "<HTML>\n<HEAD><LINK REL=\"stylesheet\" HREF=\"res/pretty.css\"></LINK></HEAD>\n<BODY>\n<H1>");
    put(out, stage_title(demo::stage_code(h)));
    put(out, formatted("</H1>\n<P><B>Size:</B> <I>%X</I>\n<BR />", demo::size_word(h)));
    const std::uint32_t seconds = demo::time_word(h);
    put(out, formatted("<B>Time:</B> <I>%u:%u seconds</I>\n<BR /><B>Difficulty:</B> <I>", seconds / 60, seconds % 60));
    put(out, difficulty_label(demo::difficulty_code(h)));
    put(out,
        formatted("</I>\n<BR /><B>Players:</B> <I>%i</I>\n<BR /><BR /><B>Screen:</B> <I>", demo::players_byte(h) + 1));
    const std::uint8_t setup = demo::setup_byte(h);
    const std::uint8_t options = demo::options_byte(h);
    if ((setup & demo::cinema_bit) != 0) {
        put(out, "Cinema; ");
    } else {
        put(out, formatted("%s; ", label_for(options, screen_width)));
    }
    put(out, formatted("%s</I>\n<BR /><B>Ammo On-Screen:</B> <I>%s</I>\n<BR /><B>Look Ahead:</B> <I>%s</I>\n"
                       "<BR /><B>Sight On-Screen:</B> <I>%s</I>\n<BR /><B>Aim Control:</B> <I>%s</I>\n"
                       "<BR /><B>Auto Aim:</B> <I>%s</I>\n<BR /><B>Look Up/Down:</B> <I>%s</I>\n<BR />",
                       label_for(options, option_labels[0]), label_for(options, option_labels[1]),
                       label_for(options, option_labels[2]), label_for(options, option_labels[3]),
                       label_for(options, option_labels[4]), label_for(options, option_labels[5]),
                       label_for(options, option_labels[6])));
    put(out, formatted("<BR /><B>Controllers:</B> <I>%i - ", static_cast<std::int32_t>(demo::controller_count(h))));
    put(out, control_styles[setup & demo::control_style_mask]);
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

// Writes the rows of one block; returns false when the demo ended inside it,
// after closing the row that was open.
bool put_rows(report_writer& out, demo::word_reader& in, unsigned rows, std::uint32_t controllers)
{
    if (controllers == 0) {
        return true;
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
                return false;
            }
            if (c == 0) {
                put(out, row % 2 == 0 ? striped_row_open : row_open);
            }
            put_cell(out, p, entry.data());
        }
        put(out, row_close);
    }
    return true;
}

// Walks the command blocks up to the zero word, a table per block.
void put_block_tables(report_writer& out, demo::word_reader& in, std::uint32_t controllers, report_outcome& outcome)
{
    const std::string headings = heading_row(controllers);
    std::array<unsigned char, demo::word_size> word{};
    while (out.error == 0) {
        if (!demo::next_word(in, word.data())) {
            outcome.ended_early = true;
            break;
        }
        if (demo::ends_stream(word.data())) {
            break;
        }
        const unsigned rows = demo::row_count(word.data());
        put(out, formatted("\n<TABLE CELLSPACING=\"0\"><B>%08X </B>", demo::big_endian_word(word.data())));
        put(out, formatted("<I>Size: %u</I>\n", rows));
        put(out, headings);
        const bool whole = put_rows(out, in, rows, controllers);
        put(out, "\n</TABLE>\n");
        ++outcome.blocks;
        if (!whole) {
            outcome.ended_early = true;
            break;
        }
    }
    if (outcome.ended_early) {
        outcome.end_offset = in.offset;
        outcome.read_error = in.read_error;
    }
}

void put_closing_line(report_writer& out, std::uint64_t blocks)
{
    const auto count = static_cast<unsigned long long>(blocks);
    put(out, formatted("\n<P><B>Final Count of Command Blocks:</B> <I>%llX/%llu</I>\n</BODY></HTML>", count, count));
}

} // namespace

int unmush(std::FILE* demo, std::FILE* report, report_outcome* outcome)
{
    report_outcome result;
    report_writer out;
    start_writer(out, report);

    const demo::header header = demo::read_header(demo);
    result.header_bytes = header.bytes_read;
    result.read_error = header.read_error;
    result.controllers = demo::controller_count(header);
    put_header_section(out, header);

    if (result.controllers > max_table_controllers) {
        result.tables_left_out = true;
    } else {
        auto in = std::make_unique<demo::word_reader>();
        demo::start_reader(*in, demo, demo::first_block_offset);
        put_block_tables(out, *in, result.controllers, result);
    }
    if (result.header_bytes < demo::first_block_offset) {
        result.ended_early = true;
        result.end_offset = result.header_bytes;
    }
    put_closing_line(out, result.blocks);
    flush(out);

    std::fclose(demo);
    errno = 0;
    if (std::fclose(report) != 0 && out.error == 0) {
        out.error = errno != 0 ? errno : EIO;
    }
    result.write_error = out.error;
    if (outcome != nullptr) {
        *outcome = result;
    }
    return result.write_error == 0 ? 0 : 1;
}
