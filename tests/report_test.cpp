#include "demo_builder.h"
#include "demo_format.h"
#include "demo_text.h"
#include "lanes.h"
#include "report.h"
#include "report_writer.h"
#include "test_support.h"
#include "view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using demo_builder::entry;
using demo_builder::header_fields;
using test_support::count_of;
using test_support::render;

const std::string summary_example = "<HTML>\n"
                                    "<HEAD><LINK REL=\"stylesheet\" HREF=\"res/pretty.css\"></LINK></HEAD>\n"
                                    "<BODY>\n"
                                    "<H1>21 Dam</H1>\n"
                                    "<P><B>Size:</B> <I>E00</I>\n"
                                    "<BR /><B>Time:</B> <I>2:5 seconds</I>\n"
                                    "<BR /><B>Difficulty:</B> <I>Secret Agent</I>\n"
                                    "<BR /><B>Players:</B> <I>2</I>\n"
                                    "<BR /><BR /><B>Screen:</B> <I>Wide; Normal</I>\n"
                                    "<BR /><B>Ammo On-Screen:</B> <I>Off</I>\n"
                                    "<BR /><B>Look Ahead:</B> <I>Off</I>\n"
                                    "<BR /><B>Sight On-Screen:</B> <I>On</I>\n"
                                    "<BR /><B>Aim Control:</B> <I>Hold</I>\n"
                                    "<BR /><B>Auto Aim:</B> <I>On</I>\n"
                                    "<BR /><B>Look Up/Down:</B> <I>Upright</I>\n"
                                    "<BR /><BR /><B>Controllers:</B> <I>2 - 1.3 Kissy</I></P>\n";

const std::string blocks_example =
    "\n"
    "<TABLE CELLSPACING=\"0\"><B>00020000 </B><I>Size: 2</I>\n"
    "<TR><TH>Controller 1</TH><TH>Controller 2</TH></TR>\n"
    "<TR class=\"switch\"><TD><IMG SRC=\"res/SRT.png\"></IMG>  16% <IMG SRC=\"res/SDN.png\"></IMG>  16% <IMG "
    "SRC=\"res/A.png\"></IMG></TD><TD><IMG SRC=\"res/SRT.png\"></IMG>   0% <IMG SRC=\"res/SUP.png\"></IMG>   0% "
    "</TD></TR>\n"
    "<TR><TD><IMG SRC=\"res/SLT.png\"></IMG> 128% <IMG SRC=\"res/SUP.png\"></IMG> 127% <IMG "
    "SRC=\"res/L.png\"></IMG><IMG SRC=\"res/S.png\"></IMG></TD><TD><IMG SRC=\"res/SRT.png\"></IMG>   0% <IMG "
    "SRC=\"res/SUP.png\"></IMG>   0% reserved1 <IMG SRC=\"res/LT.png\"></IMG></TD></TR>\n"
    "\n"
    "</TABLE>\n"
    "\n"
    "<P><B>Final Count of Command Blocks:</B> <I>1/1</I>\n"
    "</BODY></HTML>";

const std::string zero_cell = "<TD><IMG SRC=\"res/SRT.png\"></IMG>   0% <IMG SRC=\"res/SUP.png\"></IMG>   0% </TD>";

std::string closing_line(const std::string& count)
{
    return "\n<P><B>Final Count of Command Blocks:</B> <I>" + count + "</I>\n</BODY></HTML>";
}

std::string demo_with(const header_fields& fields, const std::string& blocks = "")
{
    std::string bytes = demo_builder::header(fields) + blocks;
    demo_builder::put_word(bytes, 0);
    return bytes;
}

// The part of a report after its summary paragraph.
std::string block_section(const std::string& report)
{
    const std::string end = "</I></P>\n";
    return report.substr(report.find(end) + end.size());
}

bool well_formed(const std::string& report)
{
    const std::string closing = "</BODY></HTML>";
    return count_of(report, "<TABLE") == count_of(report, "</TABLE>") &&
           count_of(report, "<TR") == count_of(report, "</TR>") &&
           count_of(report, "<TD>") == count_of(report, "</TD>") && report.size() >= closing.size() &&
           report.compare(report.size() - closing.size(), closing.size(), closing) == 0;
}

TEST(Format, WordsAreTakenMostSignificantByteFirst)
{
    const unsigned char bytes[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(demo::big_endian_word(bytes), 0x12345678U);
    EXPECT_EQ(demo::byteswap(0x12345678U), 0x78563412U);
    EXPECT_EQ(demo::byteswap(demo::byteswap(0xA1B2C3D4U)), 0xA1B2C3D4U);
}

TEST(Summary, WorkedExample) { EXPECT_EQ(render(demo_with(header_fields{})), summary_example + closing_line("0/0")); }

struct summary_case {
    const char* what;
    void (*change)(header_fields&);
    std::string expected; // a piece the summary must hold
};

// Test names show what a case is about, not its bytes.
void PrintTo(const summary_case& c, std::ostream* os) { *os << c.what; }

class SummaryLabels : public testing::TestWithParam<summary_case> {};

TEST_P(SummaryLabels, ShowTheField)
{
    header_fields fields;
    GetParam().change(fields);
    EXPECT_NE(render(demo_with(fields)).find(GetParam().expected), std::string::npos) << GetParam().what;
}

const summary_case summary_cases[] = {
    {"stage between two titles", [](header_fields& f) { f.stage = 0x2A; }, "<H1>Unknown Stage</H1>"},
    {"stage below 2A", [](header_fields& f) { f.stage = 0x29; }, "<H1>29 Cradle</H1>"},
    {"stage above 2A", [](header_fields& f) { f.stage = 0x2B; }, "<H1>2B Surface II</H1>"},
    {"first stage", [](header_fields& f) { f.stage = 0x09; }, "<H1>09 Bunker I</H1>"},
    {"last stage", [](header_fields& f) { f.stage = 0x36; }, "<H1>36 Cuba</H1>"},
    {"stage 00", [](header_fields& f) { f.stage = 0x00; }, "<H1>Unknown Stage</H1>"},
    {"stage FF", [](header_fields& f) { f.stage = 0xFF; }, "<H1>Unknown Stage</H1>"},
    {"difficulty 0", [](header_fields& f) { f.difficulty = 0; }, "Difficulty:</B> <I>Agent</I>"},
    {"difficulty negative", [](header_fields& f) { f.difficulty = 0x80; }, "Difficulty:</B> <I>Agent</I>"},
    {"difficulty 2", [](header_fields& f) { f.difficulty = 2; }, "Difficulty:</B> <I>00 Agent</I>"},
    {"difficulty 3", [](header_fields& f) { f.difficulty = 3; }, "Difficulty:</B> <I>007</I>"},
    {"difficulty 4", [](header_fields& f) { f.difficulty = 4; }, "Difficulty:</B> <I></I>"},
    {"difficulty 127", [](header_fields& f) { f.difficulty = 0x7F; }, "Difficulty:</B> <I></I>"},
    {"players FF", [](header_fields& f) { f.players = 0xFF; }, "Players:</B> <I>0</I>"},
    {"players 7F", [](header_fields& f) { f.players = 0x7F; }, "Players:</B> <I>128</I>"},
    {"players 80", [](header_fields& f) { f.players = 0x80; }, "Players:</B> <I>-127</I>"},
    {"time 59", [](header_fields& f) { f.time = 59; }, "<I>0:59 seconds</I>"},
    {"time 60", [](header_fields& f) { f.time = 60; }, "<I>1:0 seconds</I>"},
    {"time 0", [](header_fields& f) { f.time = 0; }, "<I>0:0 seconds</I>"},
    {"time at most", [](header_fields& f) { f.time = 0xFFFFFFFF; }, "<I>71582788:15 seconds</I>"},
    {"cinema", [](header_fields& f) { f.setup = 0x0F; }, "<I>Cinema; Normal</I>"},
    {"cinema style", [](header_fields& f) { f.setup = 0x0F; }, "<I>2 - 2.4 Goodhead</I></P>\n"},
    {"style 0", [](header_fields& f) { f.setup = 0xF0 & ~0x08; }, "<I>2 - 1.1 Honey</I></P>\n"},
    {"style 4", [](header_fields& f) { f.setup = 0x04; }, "<I>2 - 2.1 Plenty</I></P>\n"},
    {"options clear", [](header_fields& f) { f.options = 0x00; },
     "<I>Full; Normal</I>\n<BR /><B>Ammo On-Screen:</B> <I>Off</I>\n<BR /><B>Look Ahead:</B> <I>Off</I>\n<BR "
     "/><B>Sight On-Screen:</B> <I>Off</I>\n<BR /><B>Aim Control:</B> <I>Hold</I>\n<BR /><B>Auto Aim:</B> "
     "<I>Off</I>\n<BR /><B>Look Up/Down:</B> <I>Reverse</I>\n"},
    {"options set", [](header_fields& f) { f.options = 0xFF; },
     "<I>Wide; 16:9</I>\n<BR /><B>Ammo On-Screen:</B> <I>On</I>\n<BR /><B>Look Ahead:</B> <I>On</I>\n<BR "
     "/><B>Sight On-Screen:</B> <I>On</I>\n<BR /><B>Aim Control:</B> <I>Toggle</I>\n<BR /><B>Auto Aim:</B> "
     "<I>On</I>\n<BR /><B>Look Up/Down:</B> <I>Upright</I>\n"},
    {"cinema hides the width",
     [](header_fields& f) {
         f.setup = 0x08;
         f.options = 0x40;
     },
     "<I>Cinema; Normal</I>"},
    {"size 0", [](header_fields& f) { f.size = 0; }, "<B>Size:</B> <I>0</I>"},
    {"size ABC", [](header_fields& f) { f.size = 0xabc; }, "<B>Size:</B> <I>ABC</I>"},
    {"controllers signed", [](header_fields& f) { f.controllers = 0xFFFFFFFF; }, "Controllers:</B> <I>-1 - "},
};

INSTANTIATE_TEST_SUITE_P(Cases, SummaryLabels, testing::ValuesIn(summary_cases));

TEST(Summary, EveryStageTitleStartsWithItsCode)
{
    int titled = 0;
    for (int code = 0; code < 256; ++code) {
        header_fields fields;
        fields.stage = static_cast<std::uint8_t>(code);
        const std::string report = render(demo_with(fields));
        const std::string title =
            report.substr(report.find("<H1>") + 4, report.find("</H1>") - report.find("<H1>") - 4);
        char code_text[3];
        std::snprintf(code_text, sizeof code_text, "%02X", code);
        if (title != "Unknown Stage") {
            ++titled;
            EXPECT_EQ(title.substr(0, 3), std::string(code_text) + " ") << title;
        }
    }
    EXPECT_EQ(titled, 28);
}

TEST(Summary, ShortDemoReadsMissingBytesAsAllSet)
{
    report::outcome outcome;
    const std::string report = render("", &outcome);
    EXPECT_NE(report.find("<H1>Unknown Stage</H1>"), std::string::npos);
    EXPECT_NE(report.find("<I>FFFFFFFF</I>"), std::string::npos);
    EXPECT_NE(report.find("<I>71582788:15 seconds</I>"), std::string::npos);
    EXPECT_NE(report.find("Difficulty:</B> <I>Agent</I>"), std::string::npos);
    EXPECT_NE(report.find("Players:</B> <I>0</I>"), std::string::npos);
    EXPECT_NE(report.find("<I>Cinema; 16:9</I>"), std::string::npos);
    EXPECT_NE(report.find("<I>-1 - 2.4 Goodhead</I>"), std::string::npos);
    EXPECT_TRUE(outcome.tables_left_out);
    EXPECT_EQ(outcome.header_bytes, 0U);
    EXPECT_TRUE(well_formed(report));
}

TEST(Summary, WordCutByTheEndOfTheDemoKeepsTheBytesItHas)
{
    // The time word's first two bytes are there (00 00), the last two are not.
    const std::string report = render(demo_builder::header(header_fields{}).substr(0, 126));
    EXPECT_NE(report.find("<I>1092:15 seconds</I>"), std::string::npos); // 0x0000FFFF seconds
    EXPECT_NE(report.find("<B>Size:</B> <I>FFFFFFFF</I>"), std::string::npos);
}

TEST(Blocks, WorkedExample)
{
    report::outcome outcome;
    const std::string report = render(demo_builder::shapes().front().second, &outcome);
    EXPECT_EQ(report, summary_example + blocks_example);
    EXPECT_FALSE(outcome.ended_early);
    EXPECT_EQ(outcome.blocks, 1U);
}

struct block_case {
    const char* what;
    std::uint32_t controllers;
    std::string blocks;   // bytes after the header, before the zero word
    std::string expected; // the report after the summary
};

std::string word(std::uint32_t value)
{
    std::string bytes;
    demo_builder::put_word(bytes, value);
    return bytes;
}

std::string table_head(const std::string& word_hex, int rows, const std::string& headings)
{
    return "\n<TABLE CELLSPACING=\"0\"><B>" + word_hex + " </B><I>Size: " + std::to_string(rows) + "</I>\n<TR>" +
           headings + "</TR>\n";
}

const std::string two_headings = "<TH>Controller 1</TH><TH>Controller 2</TH>";
const std::string table_end = "\n</TABLE>\n";

void PrintTo(const block_case& c, std::ostream* os) { *os << c.what; }

class BlockShapes : public testing::TestWithParam<block_case> {};

TEST_P(BlockShapes, GiveTheirTables)
{
    header_fields fields;
    fields.controllers = GetParam().controllers;
    report::outcome outcome;
    const std::string report = render(demo_with(fields, GetParam().blocks), &outcome);
    EXPECT_EQ(block_section(report), GetParam().expected) << GetParam().what;
    EXPECT_FALSE(outcome.ended_early);
}

const block_case block_cases[] = {
    {"zero word at once", 2, "", closing_line("0/0")},
    {"row count 0, next word follows at once", 2, word(0x7F001234) + word(0x00010000) + std::string(8, '\0'),
     table_head("7F001234", 0, two_headings) + table_end + table_head("00010000", 1, two_headings) + "<TR>" +
         zero_cell + zero_cell + "</TR>\n" + table_end + closing_line("2/2")},
    {"row count is the second byte", 0, word(0x7F340000) + word(0x00FF0000),
     table_head("7F340000", 52, "") + table_end + table_head("00FF0000", 255, "") + table_end + closing_line("2/2")},
    {"a word with only its third or last byte set is a block", 0, word(0x0000AB00) + word(0x000000CD),
     table_head("0000AB00", 0, "") + table_end + table_head("000000CD", 0, "") + table_end + closing_line("2/2")},
    {"no controllers: every word is a block", 0, word(0x00050000) + word(0x01000000),
     table_head("00050000", 5, "") + table_end + table_head("01000000", 0, "") + table_end + closing_line("2/2")},
    {"one controller, three rows: the middle one striped", 1, word(0x00030000) + std::string(12, '\0'),
     table_head("00030000", 3, "<TH>Controller 1</TH>") + "<TR>" + zero_cell + "</TR>\n<TR class=\"switch\">" +
         zero_cell + "</TR>\n<TR>" + zero_cell + "</TR>\n" + table_end + closing_line("1/1")},
    {"even rows: the first row striped", 2, word(0x00020000) + std::string(16, '\0'),
     table_head("00020000", 2, two_headings) + "<TR class=\"switch\">" + zero_cell + zero_cell + "</TR>\n<TR>" +
         zero_cell + zero_cell + "</TR>\n" + table_end + closing_line("1/1")},
    {"striping restarts with every block", 1,
     word(0x00010000) + std::string(4, '\0') + word(0x00020000) + std::string(8, '\0'),
     table_head("00010000", 1, "<TH>Controller 1</TH>") + "<TR>" + zero_cell + "</TR>\n" + table_end +
         table_head("00020000", 2, "<TH>Controller 1</TH>") + "<TR class=\"switch\">" + zero_cell + "</TR>\n<TR>" +
         zero_cell + "</TR>\n" + table_end + closing_line("2/2")},
};

INSTANTIATE_TEST_SUITE_P(Cases, BlockShapes, testing::ValuesIn(block_cases));

TEST(Blocks, SixteenBlocksCountInHexAndDecimal)
{
    std::string blocks;
    for (int i = 0; i < 16; ++i) {
        demo_builder::put_block(blocks, 0, {});
        blocks[blocks.size() - 1] = '\1'; // a non-zero word with no rows
    }
    const std::string report = render(demo_with(header_fields{}, blocks));
    EXPECT_NE(report.find(closing_line("10/16")), std::string::npos);
    EXPECT_EQ(count_of(report, "<TABLE"), 16U);
}

struct cell_case {
    entry input;
    std::string expected;
};

void PrintTo(const cell_case& c, std::ostream* os)
{
    char bytes[24];
    std::snprintf(bytes, sizeof bytes, "entry %02X %02X %02X %02X", c.input.x, c.input.y, c.input.c_buttons,
                  c.input.main_buttons);
    *os << bytes;
}

class Cells : public testing::TestWithParam<cell_case> {};

TEST_P(Cells, ShowSticksAndButtons)
{
    header_fields fields;
    fields.controllers = 1;
    std::string blocks;
    demo_builder::put_block(blocks, 1, {GetParam().input});
    const std::string report = render(demo_with(fields, blocks));
    EXPECT_NE(report.find("<TR>" + GetParam().expected + "</TR>\n"), std::string::npos) << report;
}

const cell_case cell_cases[] = {
    {{0x80, 0x80, 0, 0}, "<TD><IMG SRC=\"res/SLT.png\"></IMG> 128% <IMG SRC=\"res/SDN.png\"></IMG> 128% </TD>"},
    {{0x7F, 0x7F, 0, 0}, "<TD><IMG SRC=\"res/SRT.png\"></IMG> 127% <IMG SRC=\"res/SUP.png\"></IMG> 127% </TD>"},
    {{0xFF, 0x01, 0, 0}, "<TD><IMG SRC=\"res/SLT.png\"></IMG>   1% <IMG SRC=\"res/SUP.png\"></IMG>   1% </TD>"},
    {{0x00, 0x00, 0, 0}, zero_cell},
    {{0x00, 0x00, 0xFF, 0xFF},
     "<TD><IMG SRC=\"res/SRT.png\"></IMG>   0% <IMG SRC=\"res/SUP.png\"></IMG>   0% "
     "<IMG SRC=\"res/CLT.png\"></IMG><IMG SRC=\"res/CRT.png\"></IMG><IMG SRC=\"res/CDN.png\"></IMG>"
     "<IMG SRC=\"res/CUP.png\"></IMG><IMG SRC=\"res/R.png\"></IMG><IMG SRC=\"res/L.png\"></IMG>reserved1 reserved2 "
     "<IMG SRC=\"res/LT.png\"></IMG><IMG SRC=\"res/RT.png\"></IMG><IMG SRC=\"res/DN.png\"></IMG>"
     "<IMG SRC=\"res/UP.png\"></IMG><IMG SRC=\"res/S.png\"></IMG><IMG SRC=\"res/Z.png\"></IMG>"
     "<IMG SRC=\"res/B.png\"></IMG><IMG SRC=\"res/A.png\"></IMG></TD>"},
    {{0x00, 0x00, 0x80, 0x01},
     "<TD><IMG SRC=\"res/SRT.png\"></IMG>   0% <IMG SRC=\"res/SUP.png\"></IMG>   0% reserved2 "
     "<IMG SRC=\"res/LT.png\"></IMG></TD>"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Cells, testing::ValuesIn(cell_cases));

TEST(Blocks, StripesFollowTheRowsLeft)
{
    struct stripe_case {
        std::uint32_t controllers;
        std::uint8_t rows;
        std::string pattern; // S striped, P plain, first row first
    };
    for (const stripe_case& c : std::vector<stripe_case>{
             {2, 3, "PSP"}, {2, 4, "SPSP"}, {1, 3, "PSP"}, {3, 1, "P"}, {1, 2, "SP"}, {254, 2, "SP"}}) {
        header_fields fields;
        fields.controllers = c.controllers;
        std::string blocks;
        demo_builder::put_block(blocks, c.rows, std::vector<entry>(c.rows * c.controllers));
        const std::string report = block_section(render(demo_with(fields, blocks)));
        std::string pattern;
        for (std::size_t at = report.find("<TR", report.find("</TR>")); at != std::string::npos;
             at = report.find("<TR", at + 1)) {
            pattern += report.compare(at, 19, "<TR class=\"switch\">") == 0 ? 'S' : 'P';
        }
        EXPECT_EQ(pattern, c.pattern) << c.controllers << " controllers, " << int{c.rows} << " rows";
    }
}

TEST(Blocks, TooManyControllersLeaveTheTablesOut)
{
    for (std::uint32_t count : {255U, 0x80000000U, 0xFFFFFFFFU}) {
        header_fields fields;
        fields.controllers = count;
        std::string blocks;
        demo_builder::put_block(blocks, 1, {});
        report::outcome outcome;
        const std::string report = render(demo_with(fields, blocks), &outcome);
        EXPECT_EQ(block_section(report), closing_line("0/0")) << count;
        EXPECT_TRUE(outcome.tables_left_out);
        EXPECT_EQ(outcome.controllers, count);
    }
}

// Cut at every byte, a demo still gives a well-formed report that shows
// every entry it holds whole.
TEST(Blocks, EveryPrefixGivesAWellFormedReport)
{
    std::string demo;
    for (const auto& [name, bytes] : demo_builder::shapes()) {
        if (name == "odd_rows") {
            demo = bytes;
        }
    }
    ASSERT_FALSE(demo.empty());
    const std::size_t entries_start = 232 + 4;
    for (std::size_t length = 0; length <= demo.size(); ++length) {
        report::outcome outcome;
        const std::string report = render(demo.substr(0, length), &outcome);
        ASSERT_TRUE(well_formed(report)) << length;
        const bool whole = length == demo.size();
        EXPECT_EQ(outcome.ended_early, !whole) << length;
        const std::size_t entries_read =
            length < entries_start ? 0 : std::min<std::size_t>((length - entries_start) / 4, 6);
        EXPECT_EQ(count_of(report, "<TD>"), entries_read) << length;
        EXPECT_EQ(outcome.blocks, length >= entries_start ? 1U : 0U) << length;
        if (!whole) {
            const std::size_t end = length < 232             ? length
                                    : length < entries_start ? 232
                                                             : entries_start + entries_read * 4;
            EXPECT_EQ(outcome.end_offset, end) << length;
        }
    }
}

// How a report stream's writes and close end: -1 in success, 0 in a failure
// that sets no errno (as some streams' do), else in a failure with that errno.
struct failing_stream {
    int first_write;
    int later_writes;
    int close;
    int writes = 0;
};

// Ends a call of the stream as `how` says; returns whether it failed.
bool fails(int how)
{
    if (how > 0) {
        errno = how;
    }
    return how >= 0;
}

std::FILE* stream_failing(const failing_stream& how)
{
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char*, std::size_t size) -> ssize_t {
        auto& s = *static_cast<failing_stream*>(cookie);
        return fails(s.writes++ == 0 ? s.first_write : s.later_writes) ? 0 : static_cast<ssize_t>(size);
    };
    io.close = [](void* cookie) {
        const int how = static_cast<failing_stream*>(cookie)->close;
        delete static_cast<failing_stream*>(cookie);
        return fails(how) ? -1 : 0;
    };
    return fopencookie(new failing_stream(how), "w", io);
}

// A demo stream that gives `bytes` up to `fails_at`, then fails its read
// with `error` (0: without setting errno, as some streams do).
struct failing_demo {
    std::string bytes;
    std::size_t fails_at;
    int error;
    std::size_t at = 0;
};

std::FILE* stream_failing_at(failing_demo& demo)
{
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* out, std::size_t size) -> ssize_t {
        auto& d = *static_cast<failing_demo*>(cookie);
        if (d.at >= d.fails_at) {
            if (d.error != 0) {
                errno = d.error;
            }
            return -1;
        }
        const std::size_t n = std::min(size, d.fails_at - d.at);
        std::memcpy(out, d.bytes.data() + d.at, n);
        d.at += n;
        return static_cast<ssize_t>(n);
    };
    return fopencookie(&demo, "r", io);
}

// The report's writer and the view's, which keep the same contract.
using write_function = int (*)(std::FILE*, std::FILE*, report::outcome*);
const std::pair<const char*, write_function> writers[] = {{"report", report::unmush},
                                                          {"view", test_support::write_view_of_in_demo}};

TEST(Report, FailedReadOfTheDemoIsReported)
{
    struct read_case {
        std::size_t fails_at;
        int error;
        int read_error;           // as the outcome tells it
        std::size_t header_bytes; // read before the failure
        std::uint64_t end_offset; // where the report ends
    };
    const std::string demo = demo_builder::shapes().front().second;
    const read_case cases[] = {
        {20, ENXIO, ENXIO, 20, 0},                            // before the controller count: no block is read
        {100, EIO, EIO, 100, 0},       {100, 0, EIO, 100, 0}, // errno is not left over from an earlier call
        {236, ENXIO, ENXIO, 232, 236}, {240, 0, EIO, 232, 240},
    };
    for (const auto& [writer, write] : writers)
        for (const read_case& c : cases) {
            failing_demo source{demo, c.fails_at, c.error};
            std::FILE* in = stream_failing_at(source);
            std::FILE* out = std::fopen("/dev/null", "w");
            ASSERT_NE(in, nullptr);
            report::outcome outcome;
            errno = ENOENT;
            SCOPED_TRACE(writer);
            EXPECT_EQ(write(in, out, &outcome), 0) << c.fails_at;
            EXPECT_EQ(outcome.read_error, c.read_error) << c.fails_at;
            EXPECT_EQ(outcome.header_bytes, c.header_bytes) << c.fails_at;
            if (c.header_bytes == 232) {
                EXPECT_TRUE(outcome.ended_early) << c.fails_at;
                EXPECT_EQ(outcome.end_offset, c.end_offset) << c.fails_at;
            }
        }
}

// The report and the view start from the demo's first byte, wherever the
// stream stands, and both streams are closed.
TEST(Report, ReadsTheDemoFromItsStart)
{
    const std::filesystem::path folder = test_support::scratch_folder("from_start");
    const std::string demo = demo_builder::shapes().front().second;
    test_support::write_file(folder / "in.demo", demo);
    for (const auto& [writer, write] : writers) {
        for (const char* name : {"whole.htm", "advanced.htm"}) {
            test_support::write_file(folder / name, "");
            std::FILE* in = std::fopen((folder / "in.demo").string().c_str(), "rb");
            std::FILE* out = std::fopen((folder / name).string().c_str(), "w");
            ASSERT_NE(in, nullptr);
            ASSERT_EQ(std::fseek(in, name[0] == 'a' ? 100 : 0, SEEK_SET), 0);
            const std::size_t descriptors = test_support::open_descriptors();
            EXPECT_EQ(write(in, out, nullptr), 0);
            EXPECT_EQ(test_support::open_descriptors(), descriptors - 2) << writer << ": a stream is left open";
        }
        EXPECT_EQ(test_support::read_file(folder / "advanced.htm"), test_support::read_file(folder / "whole.htm"))
            << writer;
    }
}

// A file may be replaced by a report only when it begins as every report
// does; a page of the user's never does.
TEST(Report, IsKnownByItsFirstLine)
{
    struct start_case {
        std::string bytes;
        bool report;
    };
    const start_case cases[] = {
        {render(demo_with(header_fields{})).substr(0, report::start_bytes), true},
        {"<HTML>\r\n<HEAD>", true},
        {"<HTML>\n", true},
        {"<HTML>", false},
        {"<HTML>\r", false},
        {"<HTML> \n", false},
        {"<html>\n", false},
        {" <HTML>\n", false},
        {"<HTM\n", false},
        {"", false},
    };
    for (const start_case& c : cases) {
        EXPECT_EQ(report::begins_like_a_report(c.bytes), c.report) << c.bytes;
    }
}

// The sizes of the writes a report stream received.
std::FILE* stream_counting_writes(std::vector<std::size_t>& sizes)
{
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char*, std::size_t size) -> ssize_t {
        static_cast<std::vector<std::size_t>*>(cookie)->push_back(size);
        return static_cast<ssize_t>(size);
    };
    return fopencookie(&sizes, "w", io);
}

// The report reaches its stream in writes of the writer's whole buffer, the
// last one holding the rest: small writes cost the filesystem dearly.
TEST(Report, ReachesTheStreamInWholeBuffers)
{
    const std::filesystem::path folder = test_support::scratch_folder("whole_buffers");
    const std::string demo = demo_builder::random_demo(20000, 4, 255, 1);
    test_support::write_file(folder / "in.demo", demo);
    std::vector<std::size_t> sizes;
    ASSERT_EQ(report::unmush(std::fopen((folder / "in.demo").string().c_str(), "rb"), stream_counting_writes(sizes)),
              0);
    const std::size_t buffer = report::writer{}.buffer.size();
    const std::size_t length = render(demo).size();
    ASSERT_GT(length, 2 * buffer);
    std::vector<std::size_t> expected(length / buffer, buffer);
    if (length % buffer != 0) {
        expected.push_back(length % buffer);
    }
    EXPECT_EQ(sizes, expected);
}

TEST(Report, FailedWriteOrCloseIsReported)
{
    struct failing_case {
        const char* what;
        std::FILE* report;
        int error;
    };
    const std::filesystem::path folder = test_support::scratch_folder("full");
    // A report of several buffers, so that the writer writes more than once.
    test_support::write_file(folder / "in.demo", demo_builder::random_demo(20000, 4, 255, 1));
    for (const auto& [writer, write] : writers) {
        const failing_case cases[] = {
            {"a write", std::fopen("/dev/full", "w"), ENOSPC},
            {"the close", stream_failing({-1, -1, EIO}), EIO},
            {"the close, without a reason", stream_failing({-1, -1, 0}), EIO},
            {"every write: the first error is told", stream_failing({ENOSPC, ENXIO, -1}), ENOSPC},
            {"a write, then the close: the write's error is told", stream_failing({ENOSPC, -1, ENXIO}), ENOSPC},
            {"a write, without a reason", stream_failing({0, 0, -1}), EIO},
        };
        for (const failing_case& c : cases) {
            ASSERT_NE(c.report, nullptr) << c.what;
            report::outcome outcome;
            std::FILE* demo = std::fopen((folder / "in.demo").string().c_str(), "rb");
            errno = ENOENT; // not the reason of any failure here
            EXPECT_EQ(write(demo, c.report, &outcome), 1) << writer << ": " << c.what;
            EXPECT_EQ(outcome.write_error, c.error) << writer << ": " << c.what;
        }
    }
}

// ------------------------------------------------------- the view

using test_support::view_of;

// The bytes of base64 `text`, up to its first character that is not a digit.
std::string decoded(std::string_view text)
{
    const std::string_view digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned group = 0;
    int bits = 0;
    for (const char c : text.substr(0, text.find_first_not_of(digits))) {
        group = (group << 6U) | static_cast<unsigned>(digits.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((group >> static_cast<unsigned>(bits)) & 0xFFU));
        }
    }
    return bytes;
}

// The demo's bytes, as the page carries them in base64.
std::string demo_in(const std::string& page)
{
    const std::string start = "<script type=\"application/octet-stream\" id=\"demo\">";
    return decoded(std::string_view(page).substr(page.find(start) + start.size()));
}

std::string outcome_text(const report::outcome& o)
{
    return std::to_string(o.header_bytes) + " " + std::to_string(o.ended_early) + " " + std::to_string(o.end_offset) +
           " " + std::to_string(o.read_error) + " " + std::to_string(o.tables_left_out) + " " +
           std::to_string(o.controllers) + " " + std::to_string(o.blocks) + " " + std::to_string(o.write_error);
}

// Every shape, and every prefix of one, and a demo of several chunks: the
// page holds the demo byte for byte and the report's own summary, the text
// gives the demo back byte for byte, and their outcomes are the report's.
TEST(View, HoldsTheDemoAndTellsWhatTheReportTells)
{
    std::vector<std::pair<std::string, std::string>> demos = demo_builder::shapes();
    const std::string odd_rows =
        std::find_if(demos.begin(), demos.end(), [](const auto& shape) { return shape.first == "odd_rows"; })->second;
    for (std::size_t length = 0; length < odd_rows.size(); ++length) {
        demos.emplace_back("odd_rows cut at " + std::to_string(length), odd_rows.substr(0, length));
    }
    demos.emplace_back("long", demo_builder::random_demo(40000, 3, 255, 2) + "after the zero word");
    demos.emplace_back("255 controllers, bytes after the end",
                       demo_with({.controllers = 255}, word(0x00010000)) + "tail");
    for (const auto& [name, bytes] : demos) {
        report::outcome of_report;
        report::outcome of_view;
        report::outcome of_text;
        const std::string report = render(bytes, &of_report);
        const std::string page = view_of(bytes, &of_view);
        EXPECT_TRUE(test_support::demo_of(test_support::text_of(bytes, &of_text)) == bytes) << name;
        of_text.tables_left_out = of_report.tables_left_out; // the text leaves nothing out
        EXPECT_EQ(outcome_text(of_text), outcome_text(of_report)) << name;
        const std::size_t summary = report.find("<H1>");
        const std::size_t summary_end = report.find("</P>\n") + 5;
        EXPECT_TRUE(demo_in(page) == bytes) << name;
        EXPECT_NE(page.find(report.substr(summary, summary_end - summary)), std::string::npos) << name;
        EXPECT_EQ(outcome_text(of_view), outcome_text(of_report)) << name;
    }
}

// The page needs nothing beside it: the report's stylesheet, its own
// stylesheet and script, and every icon as a data: URI in its rule.
TEST(View, CarriesItsStylesheetsScriptAndIcons)
{
    const std::string page = view_of(demo_with(header_fields{}), nullptr);
    const auto text = [](const resources::file& f) { return std::string(f.bytes.begin(), f.bytes.end()); };
    for (const resources::file& f : view::page_files()) {
        EXPECT_NE(page.find(text(f)), std::string::npos) << f.name;
    }
    for (const resources::file& f : resources::built_in()) {
        const std::string name(f.name);
        std::string wanted = text(f);
        if (name.ends_with(".png")) {
            wanted = ".i-" + name.substr(0, name.size() - 4) + "{background-image:url(\"data:image/png;base64,";
            EXPECT_EQ(decoded(std::string_view(page).substr(page.find(wanted) + wanted.size())), text(f)) << name;
            EXPECT_NE(page.find(wanted), std::string::npos) << name;
        }
    }
    // The report's stylesheet is there, but for its url()s: the page asks
    // for nothing beside it.
    EXPECT_NE(page.find("<style>\n/* The stylesheet of a demo2html report."), std::string::npos);
    EXPECT_NE(page.find("td img[src$=\"/CLT.png\"]"), std::string::npos);
    EXPECT_EQ(count_of(page, "url("), count_of(page, "url(\"data:image/png;base64,"));
    EXPECT_NE(page.find("background-image:\n        none,\n        none,"), std::string::npos);
}

// The demo's file name, as the page shows it and offers it for saving: no
// folder, text and never markup, U+FFFD for what is not UTF-8.
TEST(View, CarriesTheDemosNameAsText)
{
    struct name_case {
        std::string given;
        std::string shown;
    };
    // clang-format off
    const name_case cases[] = {
        {"play.demo", "play.demo"}, {"far/away/play.demo", "play.demo"}, {"-", "demo"}, {"dir/", "demo"},
        {"<svg onload=alert(1)>.demo", "&lt;svg onload=alert(1)&gt;.demo"},
        {"<img src=x onerror=alert(1)>.demo", "&lt;img src=x onerror=alert(1)&gt;.demo"},
        {"a&b\"c'.demo", "a&amp;b&quot;c'.demo"}, {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAE", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAE"},
        {"\xE0\xA0\x80\xE2\xA0\x80\xED\x9F\xBF\xF4\x8F\xBF\xBF", "\xE0\xA0\x80\xE2\xA0\x80\xED\x9F\xBF\xF4\x8F\xBF\xBF"},
        {"bad\xFF\xC3(\xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80\xC3", "bad\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    };
    // clang-format on
    const std::filesystem::path folder = test_support::scratch_folder("named");
    test_support::write_file(folder / "in.demo", demo_with(header_fields{}));
    for (const name_case& c : cases) {
        std::FILE* in = std::fopen((folder / "in.demo").string().c_str(), "rb");
        std::FILE* out = std::fopen((folder / "out.htm").string().c_str(), "wb");
        ASSERT_EQ(view::write_view(in, out, c.given, nullptr), 0);
        const std::string page = test_support::read_file(folder / "out.htm");
        EXPECT_NE(page.find("<span id=\"demo-name\">" + c.shown + "</span>"), std::string::npos) << c.given;
    }
}

TEST(View, IsKnownByItsFirstBytes)
{
    struct start_case {
        std::string bytes;
        bool view;
    };
    const start_case cases[] = {
        {view_of(demo_with(header_fields{}), nullptr).substr(0, view::start_bytes), true},
        {render(demo_with(header_fields{})).substr(0, view::start_bytes), false},
        {std::string(view::first_bytes.substr(0, view::start_bytes - 1)), false},
        {"<!DOCTYPE html>\r\n<!-- demo2html view -->\r\n", false},
        {"<!DOCTYPE html>\n<html>", false},
        {"", false},
    };
    for (const start_case& c : cases) {
        EXPECT_EQ(view::begins_like_a_view(c.bytes), c.view) << c.bytes;
    }
}

// ------------------------------------------------------- the text

// A report's cell as the text shows its entry: "X Y PLACES".
std::string cell_as_text(const std::string& cell)
{
    // The stick's two images, "res/SRT.png" and the like, each followed by
    // its strength after the image's closing tag.
    const auto stick_part = [&](std::size_t& at, std::string_view negative) {
        at = cell.find("res/S", at) + std::string_view("res/S").size();
        const std::string direction = cell.substr(at, 2);
        at = cell.find_first_not_of(' ', cell.find("</IMG>", at) + std::string_view("</IMG>").size());
        const std::size_t digits = cell.find('%', at) - at;
        const std::string value = cell.substr(at, digits);
        return (direction == negative ? "-" : "") + value;
    };
    std::size_t at = 0;
    const std::string x = stick_part(at, "LT");
    const std::string y = stick_part(at, "DN");
    std::string places;
    for (const lanes::lane& lane : lanes::all) {
        const bool held = cell.find("res/" + std::string(lane.name) + ".png") != std::string::npos ||
                          cell.find(std::string(lane.name) + " ") != std::string::npos;
        places += held ? lane.letter : lanes::not_held;
    }
    return x + " " + y + " " + places;
}

// A table line's entry as the text shows it: "X Y PLACES".
std::string table_line_as_text(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');) {
        fields.push_back(field);
    }
    std::string places;
    for (std::size_t i = 0; i < lanes::count; ++i) {
        places += fields.at(6 + i).starts_with("1") ? lanes::all.at(i).letter : lanes::not_held;
    }
    return fields.at(4) + " " + fields.at(5) + " " + places;
}

// Every cell of the report, in order, every controller's part of the text's
// row lines and every line of the table, side by side; and each block's line
// of the text with the report's word, the block's number and its first row.
TEST(Text, RowsShowWhatTheReportsCellsShow)
{
    const std::string demo = demo_builder::random_demo(3000, 4, 200, 7) + demo_builder::shapes().front().second;
    const std::string report = render(demo);
    std::vector<std::string> cells;
    for (std::size_t at = report.find("<TD>"); at != std::string::npos; at = report.find("<TD>", at + 1)) {
        cells.push_back(cell_as_text(report.substr(at, report.find("</TD>", at) - at)));
    }
    std::vector<std::string> blocks;
    std::size_t first_row = 1;
    // Each block's head: "<B>WORD </B><I>Size: ROWS</I>".
    const std::string head = "<TABLE CELLSPACING=\"0\"><B>";
    for (std::size_t at = report.find(head); at != std::string::npos; at = report.find(head, at + 1)) {
        const std::string block_word = report.substr(at + head.size(), 8);
        const std::size_t size = report.find("<I>Size: ", at) + std::string_view("<I>Size: ").size();
        blocks.push_back("block " + block_word + "  # block " + std::to_string(blocks.size() + 1) + ", row " +
                         std::to_string(first_row));
        first_row += std::stoul(report.substr(size, report.find("</I>", size) - size));
    }
    std::istringstream text(test_support::text_of(demo));
    std::vector<std::string> entries;
    std::vector<std::string> block_lines;
    for (std::string line; std::getline(text, line);) {
        std::istringstream fields(line);
        for (std::string x, y, places; (line[0] == ' ' || line[0] == '-') && fields >> x >> y >> places;) {
            entries.push_back((x == "-0" ? "0" : x) + " " + y + " " + places);
        }
        if (line.starts_with("block ")) {
            block_lines.push_back(line);
        }
    }
    std::istringstream table(test_support::table_of(demo));
    std::vector<std::string> table_entries;
    for (std::string line; std::getline(table, line);) {
        if (!line.starts_with("block,")) {
            table_entries.push_back(table_line_as_text(line));
        }
    }
    EXPECT_EQ(entries.size(), 3000U);
    EXPECT_TRUE(entries == cells);
    EXPECT_TRUE(table_entries == cells);
    EXPECT_EQ(block_lines, blocks);
}

// A demo of cinema screen, three blocks (one of no rows) and two bytes after
// its end: its text line by line, and its table.
TEST(Text, ExampleAsTextAndAsTable)
{
    header_fields fields;
    fields.setup = 0x0A;
    const std::string demo = demo_with(fields, word(0x00010000) + word(0x01FF4181) + word(0x807F8002) +
                                                   word(0x7F000000) + word(0x00010000) + std::string(8, '\0')) +
                             "\xAB\xCD";
    const std::string zeros = "bytes 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
    EXPECT_EQ(test_support::text_of(demo),
              "demo2html text 1\n" + zeros +
                  "bytes 00 00 00\nStage       0x21        # 21 Dam\nbytes 00 00 00\n"
                  "Difficulty  1           # Secret Agent\nControllers 2\nbytes 00 00 00 00 00 00 00 00 00 00 00 00\n"
                  "Setup       0x0A        # 1.3 Kissy, Cinema\n"
                  "Options     0x4B        # Cinema; Normal, Ammo On-Screen Off, Look Ahead Off, Sight On-Screen On, "
                  "Aim Control Hold, Auto Aim On, Look Up/Down Upright\n" +
                  zeros + zeros + zeros + zeros + zeros +
                  "bytes 00 00\nTime        125         # 2:5 seconds\nSize        0xE00\n"
                  "bytes 00 00 00 00 00 00 00 00 00 00 00\nPlayers     1           # 2 players\n" +
                  zeros + zeros + zeros + zeros + zeros +
                  "bytes 00 00 00 00 00 00 00 00\n"
                  "# a row: for each controller, stick X, stick Y and the places lrduRL<>v^SZBA12 (CLT CRT CDN CUP R L "
                  "LT RT DN UP S Z B A reserved1 reserved2)\n"
                  "block 00010000  # block 1, row 1\n   1   -1 l.....<......A1.  -128  127 .......>.......2\n"
                  "block 7F000000  # block 2, row 2\nblock 00010000  # block 3, row 2\n"
                  "   0    0 ................     0    0 ................\nend\nbytes AB CD\n");
    const std::string zero_flags = ",0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\r\n";
    EXPECT_EQ(test_support::table_of(demo),
              "block,row,demo_row,controller,stick_x,stick_y,CLT,CRT,CDN,CUP,R,L,LT,RT,DN,UP,S,Z,B,A,reserved1,"
              "reserved2\r\n1,1,1,1,1,-1,1,0,0,0,0,0,1,0,0,0,0,0,0,1,1,0\r\n1,1,1,2,-128,127,0,0,0,0,0,0,0,1,0,0,0,0,"
              "0,0,0,1\r\n3,1,2,1,0,0" +
                  zero_flags + "3,1,2,2,0,0" + zero_flags);
}

std::string repeated(int count, const std::string& row)
{
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += row + "\n";
    }
    return lines;
}

// The worked example's text with line `line` (counted from 1) replaced by
// `now`, cut after it, and without its last line end.
std::string edited(std::size_t line, const std::string& now, bool cut_after, bool last_line_end)
{
    std::istringstream text(test_support::text_of(demo_builder::shapes().front().second));
    std::string result;
    std::size_t number = 0;
    for (std::string l; std::getline(text, l) && !(cut_after && number == line);) {
        result += (++number == line ? now : l) + "\n";
    }
    return last_line_end ? result : result.substr(0, result.size() - 1);
}

struct edit_case {
    const char* what;
    std::size_t line;
    std::string now;
    std::string problem;                            // "" when the text is read
    std::function<void(std::string& demo)> changes; // what the edit makes of the worked example's demo
    bool cut_after = false;
    bool last_line_end = true;
};

void PrintTo(const edit_case& c, std::ostream* os) { *os << c.what; }

class TextEdits : public testing::TestWithParam<edit_case> {};

TEST_P(TextEdits, MakeTheEditedDemoOrSayWhereAndWhy)
{
    const edit_case& c = GetParam();
    std::string expected = demo_builder::shapes().front().second;
    c.changes(expected);
    report::outcome outcome;
    const std::string demo = test_support::demo_of(edited(c.line, c.now, c.cut_after, c.last_line_end), &outcome);
    EXPECT_EQ(outcome.problem, c.problem);
    EXPECT_TRUE(!c.problem.empty() || demo == expected) << c.what; // a text refused leaves no file (the CLI's rows)
}

void same(std::string& /*demo*/) {}
const std::string row_1 = "  16  -16 .............A..     0    0 ................";

// clang-format off
const edit_case edit_cases[] = {
    {"a letter added", 29, "  16  -16 ............BA..     0    0 ................", "", [](std::string& d) { d[239] = '\xC0'; }},
    {"a stick changed, tabs between the fields", 29, "\t-1 -16\t.............A..  0 0 ................", "", [](std::string& d) { d[236] = '\xFF'; }},
    {"a row removed: the count follows", 30, "", "", [](std::string& d) { d[233] = 1; d.erase(244, 8); }},
    {"a row added", 31, row_1 + "\nend", "", [](std::string& d) { d[233] = 3; d.insert(252, d.substr(236, 8)); }},
    {"a field changed by name", 4, "Stage 9", "", [](std::string& d) { d[19] = 9; }},
    {"a field's bytes changed, CRLF line end", 2, "bytes 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 FF\r", "", [](std::string& d) { d[0] = 1; d[15] = '\xFF'; }},
    {"no last line end", 31, "end", "", same, false, false},
    {"a header that ends early", 3, "header-ends 16", "", [](std::string& d) { d.resize(16); }, true},
    {"sticks at their ends, with leading zeros", 29, "-0128 0127 .............A..     0    0 ................", "", [](std::string& d) { d[236] = '\x80'; d[237] = 0x7F; }},
    {"a field below zero", 6, "Difficulty -1", "", [](std::string& d) { d[23] = '\xFF'; }},
    {"a row cut by a comment", 29, "  16  -16 .............A.. # two", "t:29:28: the row ends inside controller 2 of 2", same},
    {"an unknown button", 29, "  16  -16 ....Q........A..     0    0 ................", "t:29:15: 'Q' is not a button of controller 1", same},
    {"an unknown button of controller 2", 29, "  16  -16 .............A..     0    0 .Q..............", "t:29:40: 'Q' is not a button of controller 2", same},
    {"a button in another's place", 29, "  16  -16 A............A..     0    0 ................", "t:29:11: 'A' stands in the place of 'l' of controller 1", same},
    {"a stick beyond its range", 29, "  16  128 .............A..     0    0 ................", "t:29:7: '128' is not a stick Y of controller 1 (-128 to 127)", same},
    {"a row without its last controller", 29, "  16  -16 .............A..", "t:29:27: the row ends inside controller 2 of 2", same},
    {"a row of three controllers", 29, row_1 + "  0 0 ................", "t:29:57: the row holds more than the 2 controllers of the header", same},
    {"fifteen places", 29, "  16  -16 .............A.     0    0 ................", "t:29:11: '.............A.' is not the 16 button places of controller 1", same},
    {"256 rows", 30, repeated(255, row_1), "t:284:3: the block of line 28 holds more than 255 rows", same},
    {"a block word of seven digits", 28, "block 0002000", "t:28:7: '0002000' is not a block word in eight hexadecimal digits", same},
    {"a block word of zero", 28, "block 00000000", "t:28:7: a block word of zero closes the blocks: write 'end'", same},
    {"a row before any block", 28, "", "t:29:3: a row before the first 'block' line", same},
    {"a field out of its place", 4, "Difficulty 1", "t:4:1: 'Difficulty' stands at offset 23 of the header, but the lines before it hold 19 bytes", same},
    {"a byte too many", 3, "bytes 00 00 00 00", "t:4:1: 'Stage' stands at offset 19 of the header, but the lines before it hold 20 bytes", same},
    {"a value beyond its byte", 4, "Stage 256", "t:4:7: '256' is not a value of 'Stage' (-128 to 255)", same},
    {"an unknown field", 4, "Stag 0x21", "t:4:1: 'Stag' is not a header field, nor 'bytes' or 'header-ends'", same},
    {"a byte of one digit", 3, "bytes 00 0 00", "t:3:10: '0' is not a byte in two hexadecimal digits", same},
    {"a header length that is not the bytes'", 3, "header-ends 20", "t:3:13: the lines before hold 16 header bytes, not '20'", same},
    {"a line after the header's end", 3, "header-ends 16", "t:4:1: the demo has ended above: nothing follows", same},
    {"another format", 1, "demo2html txt 1", "t:1:1: this is not the text of a demo: its first line is not 'demo2html text 1'", same},
    {"another version", 1, "demo2html text 2", "t:1:16: version '2' of the text is not known; 'demo2html text 1' is", same},
    {"the text ends inside the header", 20, "Players 1", "t:21:1: the text ends inside the header, after 144 of its bytes (a demo that ends there says 'header-ends 144')", same, true},
    {"an unknown line among the blocks", 31, "ende", "t:31:1: 'ende' is neither a row nor a 'block', 'cut', 'cut-word' or 'end' line", same},
    {"a block after the end", 31, "end\nblock 00010000", "t:32:1: after 'end' only 'bytes' lines follow, not 'block'", same},
    {"a cut word of four bytes", 31, "cut-word 00 00 00 00", "t:31:1: a block word cut short holds 1 to 3 bytes", same},
    {"a line after a cut", 31, "cut 00\nend", "t:32:1: the demo ends inside the block of line 28, at its 'cut' line: only 'cut' lines follow", same},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, TextEdits, testing::ValuesIn(edit_cases));

// ------------------------------------------------------- long reports

// A report many times the size of the writer's buffer, its cells of every
// length from the cell table in turn, so that the buffer fills up in the
// middle of pieces of many sizes: it must still come out byte for byte.
TEST(Report, LongReportComesOutWhole)
{
    constexpr int blocks = 70; // more than the demo reader's 64 KiB buffer holds
    constexpr int rows = 255;
    header_fields fields;
    fields.controllers = 1;
    std::string demo_blocks;
    std::string expected;
    std::size_t next_cell = 0;
    for (int b = 0; b < blocks; ++b) {
        std::vector<entry> entries;
        expected += table_head("00FF0000", rows, "<TH>Controller 1</TH>");
        for (int left = rows; left > 0; --left) {
            const cell_case& cell = cell_cases[next_cell++ % std::size(cell_cases)];
            entries.push_back(cell.input);
            expected += (left % 2 == 0 ? "<TR class=\"switch\">" : "<TR>") + cell.expected + "</TR>\n";
        }
        demo_builder::put_block(demo_blocks, rows, entries);
        expected += table_end;
    }
    expected += closing_line("46/70");
    const std::string report = render(demo_with(fields, demo_blocks));
    ASSERT_GT(report.size(), std::size_t{2} * 1024 * 1024);
    EXPECT_TRUE(block_section(report) == expected); // a mismatch of megabytes is not worth printing
}

} // namespace
