// Hostile input, through the executable: demos cut short, controller and row
// counts at their limits, names longer than one system call takes. Every case
// ends with a complete report, and the demo's bytes are the same afterwards.
#include "cli_support.h"
#include "demo_builder.h"
#include "outputs.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using test_support::count_of;
using test_support::demo_prompt;
using test_support::done;
using test_support::read_file;
using test_support::render;
using test_support::report_prompt;
using test_support::run;
using test_support::run_result;
using test_support::worked_demo;
using test_support::write_file;

// ---------------------------------------------------------------- cut short

// Every cut demo is named in one run: each is converted as if named alone,
// and one process is much quicker than one a demo.
TEST(BadInput, DemoCutAtEveryByteGivesACompleteReport)
{
    const fs::path folder = test_support::scratch_folder("bad_cut");
    const std::string& whole = worked_demo();
    std::vector<std::string> names;
    std::string out;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const std::string name = "cut" + std::to_string(length);
        write_file(folder / (name + ".bin"), whole.substr(0, length));
        names.push_back(name + ".bin");
        out += done(name + ".htm");
    }
    const run_result result = run(folder, names, "");
    EXPECT_EQ(result.status, outputs::cut_status) << result.err;
    EXPECT_EQ(result.out, out);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE("demo cut after " + std::to_string(length) + " bytes");
        const std::string cut = whole.substr(0, length);
        const std::string name = "cut" + std::to_string(length);
        const std::string warning = length < 232 ? "' ends after " + std::to_string(length) +
                                                       (length == 1 ? " byte" : " bytes") + ", inside its header"
                                                 : "' ends early, at offset";
        // The cause comes first: the first message that names the demo is this warning.
        const std::string first_cause = "demo2html: warning: '" + name + ".bin" + warning;
        EXPECT_EQ(result.err.find("'" + name + ".bin'"), result.err.find(first_cause) + first_cause.find('\''));
        EXPECT_EQ(read_file(folder / (name + ".htm")), render(cut));
        EXPECT_EQ(read_file(folder / (name + ".bin")), cut) << "the demo changed";
    }
}

// ---------------------------------------------------------------- counts

struct count_case {
    std::uint32_t controllers;
    std::uint8_t rows;    // of the demo's one block
    bool tables_left_out; // more controllers than a table is drawn for
    const char* summary;  // the controller count as the summary shows it
    int status;           // the exit status: whole, or cut where the entries in 32 bits pass the demo's end
};

const count_case count_cases[] = {
    {0, 2, false, "<I>0 - ", 0},           {1, 2, false, "<I>1 - ", 0},
    {254, 2, false, "<I>254 - ", 0},       {255, 2, true, "<I>255 - ", 0},
    {256, 2, true, "<I>256 - ", 3},        {0x80000000U, 2, true, "<I>-2147483648 - ", 3},
    {0xFFFFFFFFU, 2, true, "<I>-1 - ", 3}, {254, 255, false, "<I>254 - ", 0},
};

// One block of `rows` rows, an entry per controller up to 255 controllers,
// and the closing zero word.
std::string demo_with(const count_case& c)
{
    demo_builder::header_fields fields;
    fields.controllers = c.controllers;
    const std::size_t entries = std::size_t{c.rows} * std::min(c.controllers, report::max_table_controllers + 1);
    std::vector<demo_builder::entry> block;
    for (std::size_t i = 0; i < entries; ++i) {
        block.push_back({static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i * 91),
                         static_cast<std::uint8_t>(i * 5 + 1), static_cast<std::uint8_t>(i * 3 + 7)});
    }
    std::string bytes = demo_builder::header(fields);
    demo_builder::put_block(bytes, c.rows, block);
    demo_builder::put_word(bytes, 0);
    return bytes;
}

void PrintTo(const count_case& c, std::ostream* out)
{
    *out << c.controllers << " controllers, " << int{c.rows} << " rows";
}

class Counts : public testing::TestWithParam<count_case> {};

TEST_P(Counts, GiveACompleteReportOfTheRightShape)
{
    const count_case& c = GetParam();
    const fs::path folder = test_support::scratch_folder("bad_counts");
    const std::string demo = demo_with(c);
    write_file(folder / "n.bin", demo);

    const run_result result = run(folder, {"n.bin"}, "");
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(result.out, done("n.htm"));
    const std::string report = read_file(folder / "n.htm");
    EXPECT_EQ(report, render(demo));
    EXPECT_NE(report.find(c.summary), std::string::npos);
    const std::string left_out = "has " + std::to_string(c.controllers) + " controllers, more than 254";
    EXPECT_EQ(result.err.find(left_out) != std::string::npos, c.tables_left_out) << result.err;
    if (c.tables_left_out) {
        EXPECT_EQ(count_of(report, "<TABLE"), 0U);
        EXPECT_NE(report.find("<I>0/0</I>"), std::string::npos);
    } else {
        EXPECT_EQ(count_of(report, "<TABLE"), 1U);
        EXPECT_EQ(count_of(report, "<TH>"), c.controllers);
        EXPECT_EQ(count_of(report, "<TD>"), std::size_t{c.rows} * c.controllers);
        const std::size_t rows_drawn = c.controllers == 0 ? 0 : c.rows;
        EXPECT_EQ(count_of(report, "<TR"), 1 + rows_drawn);
        EXPECT_EQ(count_of(report, "<TR class=\"switch\">"), rows_drawn / 2);
        EXPECT_NE(report.find("<I>1/1</I>"), std::string::npos);
    }
    EXPECT_EQ(read_file(folder / "n.bin"), demo) << "the demo changed";
}

INSTANTIATE_TEST_SUITE_P(Limits, Counts, testing::ValuesIn(count_cases));

// ---------------------------------------------------------------- long names

// Folders with spaces and UTF-8 in their names, each well below the 255
// bytes one name may have, nested until the whole name is longer than the
// 4,096 bytes one system call takes.
std::vector<std::string> deep_folders()
{
    std::vector<std::string> parts;
    for (int i = 0; parts.size() * 200 < 4200; ++i) {
        std::string part = "f\xC3\xB6lder \xE2\x98\x85 " + std::to_string(i) + " ";
        part.resize(200, 'x');
        parts.push_back(part);
    }
    return parts;
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string name;
    for (const std::string& part : parts) {
        name += part + "/";
    }
    return name;
}

// The deepest folder, opened (and made where missing) one name at a time;
// the caller closes it.
int open_deep_folder(const fs::path& base, const std::vector<std::string>& parts)
{
    int folder = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& part : parts) {
        mkdirat(folder, part.c_str(), 0777);
        const int next = openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(folder);
        folder = next;
    }
    return folder;
}

void write_deep(const fs::path& base, const std::vector<std::string>& parts, const std::string& leaf,
                const std::string& bytes)
{
    const int folder = open_deep_folder(base, parts);
    const int fd = openat(folder, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0) << leaf;
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    close(folder);
}

// The file's bytes, or "<missing>" when it cannot be opened.
std::string read_deep(const fs::path& base, const std::vector<std::string>& parts, const std::string& leaf)
{
    const int folder = open_deep_folder(base, parts);
    const int fd = openat(folder, leaf.c_str(), O_RDONLY | O_CLOEXEC);
    close(folder);
    if (fd < 0) {
        return "<missing>";
    }
    std::string bytes;
    char chunk[4096];
    for (ssize_t n = read(fd, chunk, sizeof chunk); n > 0; n = read(fd, chunk, sizeof chunk)) {
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return bytes;
}

const std::string deep = joined(deep_folders());
const std::string demo_leaf = "d\xC3\xA9mo \xE2\x98\x85 run.bin";
const std::string demo_name = deep + demo_leaf;
const std::string derived_leaf = "d\xC3\xA9mo \xE2\x98\x85 run.htm";

struct long_name_case {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    std::string out;
    std::string report_leaf; // the report, in the deep folder
    std::string err_piece;   // "" when no error is expected
};

const long_name_case long_name_cases[] = {
    {"long demo name on the command line: the report lands beside it",
     {demo_name},
     "",
     done(deep + derived_leaf),
     derived_leaf,
     ""},
    {"long demo name typed at the prompt",
     {},
     demo_name + "\n",
     demo_prompt + done(deep + derived_leaf),
     derived_leaf,
     ""},
    {"long report name as the second argument",
     {demo_name, deep + "other report.html"},
     "",
     done(deep + "other report.html"),
     "other report.html",
     ""},
    {"long report name typed at the report prompt",
     {demo_name, "no/such/r.htm"},
     deep + "typed report.htm\n",
     report_prompt + done(deep + "typed report.htm"),
     "typed report.htm",
     "cannot open 'no/such/r.htm' for writing"},
    {"long report name in a folder that does not exist: the report prompt",
     {demo_name, deep + "no such folder/r.htm"},
     deep + "typed report.htm\n",
     report_prompt + done(deep + "typed report.htm"),
     "typed report.htm",
     "cannot open '" + deep + "no such folder/r.htm' for writing: No such file or directory"},
    {"long name of a demo named twice: converted once",
     {demo_name, demo_name},
     "",
     done(deep + derived_leaf),
     derived_leaf,
     ""},
};

void PrintTo(const long_name_case& c, std::ostream* out) { *out << c.what; }

class LongNames : public testing::TestWithParam<long_name_case> {};

TEST_P(LongNames, AreOpenedFolderByFolder)
{
    const long_name_case& c = GetParam();
    ASSERT_GE(demo_name.size(), 4096U);
    const fs::path folder = test_support::scratch_folder("bad_long");
    write_deep(folder, deep_folders(), demo_leaf, worked_demo());

    const run_result result = test_support::run_as_user(folder, c.args, c.input, c.out);
    EXPECT_EQ(result.status, 0) << c.what << "\n" << result.err;
    EXPECT_EQ(result.out, c.out) << c.what;
    if (c.err_piece.empty()) {
        EXPECT_EQ(result.err.find("demo2html: cannot"), std::string::npos) << c.what << "\n" << result.err;
    } else {
        EXPECT_NE(result.err.find(c.err_piece), std::string::npos) << c.what << "\n" << result.err;
    }
    EXPECT_EQ(read_deep(folder, deep_folders(), c.report_leaf), render(worked_demo())) << c.what;
    EXPECT_EQ(read_deep(folder, deep_folders(), demo_leaf), worked_demo()) << c.what << ": the demo changed";
}

INSTANTIATE_TEST_SUITE_P(Nested, LongNames, testing::ValuesIn(long_name_cases));

} // namespace
