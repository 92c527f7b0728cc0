// The executable end to end, in a scratch folder, with standard input piped.
#include "cli_support.h"
#include "demo_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using test_support::demo_prompt;
using test_support::done;
using test_support::read_file;
using test_support::report_prompt;
using test_support::run;
using test_support::run_result;
using test_support::worked_demo;
using test_support::write_file;

struct cli_case {
    const char* what;
    std::function<void(const fs::path&)> prepare; // files beyond demo.bin
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;               // standard output, exactly
    std::string err_piece;         // a piece standard error must hold ("" for empty stderr)
    std::string report;            // the file that must hold the report ("" for none)
    std::string demo = "demo.bin"; // the demo whose bytes must not change
    std::string kept = "";         // a file of the user's that must still hold "mine"
};

void nothing(const fs::path&) {}

void demo_as(const fs::path& folder, const std::string& name) { write_file(folder / name, worked_demo()); }

void notes_as(const fs::path& folder, const std::string& name) { write_file(folder / name, "mine"); }

const cli_case cli_cases[] = {
    {"demo named on the command line", nothing, {"demo.bin"}, "", 0, done("demo.htm"), "", "demo.htm"},
    {"second argument names the report", nothing, {"demo.bin", "out.html"}, "", 0, done("out.html"), "", "out.html"},
    {"no argument: the prompt", nothing, {}, "demo.bin\n", 0, demo_prompt + done("demo.htm"), "", "demo.htm"},
    {"demo that will not open: the prompt, the typed name names the report",
     [](const fs::path& f) { demo_as(f, "typed.x.y"); },
     {"missing.bin"},
     "typed.x.y\n",
     0,
     demo_prompt + done("typed.htm"),
     "cannot open 'missing.bin' for reading: No such file or directory",
     "typed.htm",
     "typed.x.y"},
    {"empty line: the same prompt again",
     nothing,
     {},
     "\n\ndemo.bin\n",
     0,
     demo_prompt + demo_prompt + demo_prompt + done("demo.htm"),
     "",
     "demo.htm"},
    {"CRLF line ends are taken off", nothing, {}, "demo.bin\r\n", 0, demo_prompt + done("demo.htm"), "", "demo.htm"},
    {"-- ends the options: a demo named --help",
     [](const fs::path& f) { demo_as(f, "--help"); },
     {"--", "--help"},
     "",
     0,
     done("--help.htm"),
     "",
     "--help.htm",
     "--help"},
    {"quoted name typed at the demo prompt",
     nothing,
     {},
     "'demo.bin'  \n",
     0,
     demo_prompt + done("demo.htm"),
     "",
     "demo.htm"},
    {"double-quoted name typed at the demo prompt",
     nothing,
     {},
     "\"demo.bin\"\n",
     0,
     demo_prompt + done("demo.htm"),
     "",
     "demo.htm"},
    {"quoted name that opens as typed is used as typed",
     [](const fs::path& f) { demo_as(f, "'q.bin'"); },
     {},
     "'q.bin'\n",
     0,
     demo_prompt + done("'q.htm"),
     "",
     "'q.htm",
     "'q.bin'"},
    {"quoted name typed at the report prompt",
     [](const fs::path& f) { fs::create_directory(f / "sub"); },
     {"demo.bin", "no/such/r.htm"},
     "'sub/out.htm'\n",
     0,
     report_prompt + done("sub/out.htm"),
     "cannot open 'no/such/r.htm' for writing",
     "sub/out.htm"},
    {"directory as the demo",
     [](const fs::path& f) { fs::create_directory(f / "dir.bin"); },
     {"dir.bin"},
     "demo.bin\n",
     0,
     demo_prompt + done("demo.htm"),
     "cannot open 'dir.bin' for reading: Is a directory",
     "demo.htm"},
    {"input ends at the demo prompt", nothing, {}, "", 1, demo_prompt, "no demo name given: standard input ended", ""},
    {"input ends after a name that will not open",
     nothing,
     {"missing"},
     "also-missing\n",
     1,
     demo_prompt + demo_prompt,
     "no demo name given",
     ""},
    {"report folder missing: the report prompt",
     nothing,
     {"demo.bin", "no/such/r.htm"},
     "r.htm\n",
     0,
     report_prompt + done("r.htm"),
     "cannot open 'no/such/r.htm' for writing",
     "r.htm"},
    {"input ends at the report prompt",
     nothing,
     {"demo.bin", "no/such/r.htm"},
     "",
     1,
     report_prompt,
     "no report name given: standard input ended",
     ""},
    {"demo named like its report",
     [](const fs::path& f) { demo_as(f, "x.htm"); },
     {"x.htm"},
     "y.htm\n",
     0,
     report_prompt + done("y.htm"),
     "will not write the report to 'x.htm': it is the demo 'x.htm' itself",
     "y.htm",
     "x.htm"},
    {"second argument repeats the first: one demo, converted once",
     nothing,
     {"demo.bin", "demo.bin"},
     "",
     0,
     done("demo.htm"),
     "",
     "demo.htm"},
    {"second argument reaches the demo through ./: one demo, converted once",
     nothing,
     {"demo.bin", "./demo.bin"},
     "",
     0,
     done("demo.htm"),
     "",
     "demo.htm"},
    {"second argument is a hard link to the demo: one demo, converted once",
     [](const fs::path& f) { fs::create_hard_link(f / "demo.bin", f / "hard.htm"); },
     {"demo.bin", "hard.htm"},
     "",
     0,
     done("demo.htm"),
     "",
     "demo.htm"},
    {"derived name is a symbolic link to the demo",
     [](const fs::path& f) {
         fs::rename(f / "demo.bin", f / "real.bin");
         fs::create_symlink("real.bin", f / "demo.bin");
         fs::create_symlink("real.bin", f / "demo.htm");
     },
     {"demo.bin"},
     "y.htm\n",
     0,
     report_prompt + done("y.htm"),
     "will not write the report to 'demo.htm'",
     "y.htm",
     "real.bin"},
    {"the demo typed at the report prompt",
     nothing,
     {"demo.bin", "no/such/r.htm"},
     "demo.bin\nz.htm\n",
     0,
     report_prompt + report_prompt + done("z.htm"),
     "will not write the report to 'demo.bin'",
     "z.htm"},
    {"demo named like its report, through ./",
     [](const fs::path& f) { demo_as(f, "x.htm"); },
     {"./x.htm"},
     "y.htm\n",
     0,
     report_prompt + done("y.htm"),
     "will not write the report to './x.htm'",
     "y.htm",
     "x.htm"},
    {"a symbolic link to the demo typed at the report prompt",
     [](const fs::path& f) { fs::create_symlink("demo.bin", f / "link.htm"); },
     {"demo.bin", "no/such/r.htm"},
     "link.htm\nz.htm\n",
     0,
     report_prompt + report_prompt + done("z.htm"),
     "will not write the report to 'link.htm'",
     "z.htm"},
    {"input ends at the report prompt after the demo was refused as its report",
     [](const fs::path& f) { demo_as(f, "x.htm"); },
     {"x.htm"},
     "",
     1,
     report_prompt,
     "no report name given: standard input ended",
     "",
     "x.htm"},
    {"input ends after a report name that will not open",
     nothing,
     {"demo.bin", "no/such/r.htm"},
     "no/such/s.htm\n",
     1,
     report_prompt + report_prompt,
     "no report name given: standard input ended",
     ""},
    {"derived name is a file that is not a report: refused, the report prompt",
     [](const fs::path& f) { notes_as(f, "demo.htm"); },
     {"demo.bin"},
     "r.htm\n",
     0,
     report_prompt + done("r.htm"),
     "will not replace 'demo.htm': it is not a report",
     "r.htm",
     "demo.bin",
     "demo.htm"},
    {"derived name is a link to a file that is not a report: refused",
     [](const fs::path& f) {
         notes_as(f, "notes.txt");
         fs::create_symlink("notes.txt", f / "demo.htm");
     },
     {"demo.bin"},
     "r.htm\n",
     0,
     report_prompt + done("r.htm"),
     "will not replace 'demo.htm': it is not a report",
     "r.htm",
     "demo.bin",
     "notes.txt"},
    {"a file that is not a report typed at the report prompt: refused",
     [](const fs::path& f) { notes_as(f, "notes.txt"); },
     {"demo.bin", "no/such/r.htm"},
     "notes.txt\nr.htm\n",
     0,
     report_prompt + report_prompt + done("r.htm"),
     "will not replace 'notes.txt': it is not a report",
     "r.htm",
     "demo.bin",
     "notes.txt"},
    {"a page of the user's whose first line is not the report's: refused",
     [](const fs::path& f) { write_file(f / "index.htm", "<HTML>mine"); },
     {"demo.bin", "no/such/r.htm"},
     "index.htm\nr.htm\n",
     0,
     report_prompt + report_prompt + done("r.htm"),
     "will not replace 'index.htm': it is not a report",
     "r.htm"},
    {"last line without a line end is still a name",
     nothing,
     {},
     "demo.bin",
     0,
     demo_prompt + done("demo.htm"),
     "",
     "demo.htm"},
    {"directory as the report",
     [](const fs::path& f) { fs::create_directory(f / "out.htm"); },
     {"demo.bin", "out.htm"},
     "r.htm\n",
     0,
     report_prompt + done("r.htm"),
     "cannot open 'out.htm' for writing: Is a directory",
     "r.htm"},
    {"a full disk typed at the report prompt",
     test_support::make_devices,
     {"demo.bin", "no/such/r.htm"},
     "full\n",
     1,
     report_prompt,
     "cannot write the report 'full': No space left on device; the report is incomplete",
     ""},
    {"names with spaces and UTF-8",
     [](const fs::path& f) { demo_as(f, "my d\xC3\xA9mo \xE2\x98\x85.bin"); },
     {"my d\xC3\xA9mo \xE2\x98\x85.bin"},
     "",
     0,
     done("my d\xC3\xA9mo \xE2\x98\x85.htm"),
     "",
     "my d\xC3\xA9mo \xE2\x98\x85.htm",
     "my d\xC3\xA9mo \xE2\x98\x85.bin"},
    {"a typed name longer than any buffer",
     nothing,
     {},
     std::string(4000, 'q') + "\ndemo.bin\n",
     0,
     demo_prompt + demo_prompt + done("demo.htm"),
     "File name too long",
     "demo.htm"},
};

// Test names show what a case is about, not its bytes.
void PrintTo(const cli_case& c, std::ostream* os) { *os << c.what; }

class Cli : public testing::TestWithParam<cli_case> {};

TEST_P(Cli, BehavesAsAConsoleToolShould)
{
    const cli_case& c = GetParam();
    const fs::path folder = test_support::scratch_folder("cli");
    write_file(folder / "demo.bin", worked_demo());
    c.prepare(folder);
    const std::string demo_before = read_file(folder / c.demo);

    const run_result result = test_support::run_as_user(folder, c.args, c.input, c.out);
    EXPECT_EQ(result.status, c.status) << c.what << "\n" << result.err;
    EXPECT_EQ(result.out, c.out) << c.what;
    if (c.err_piece.empty()) {
        EXPECT_EQ(result.err.find("demo2html: cannot"), std::string::npos) << c.what << "\n" << result.err;
    } else {
        EXPECT_EQ(result.err.rfind("demo2html: ", 0), 0U) << c.what;
        EXPECT_NE(result.err.find(c.err_piece), std::string::npos) << c.what << "\n" << result.err;
    }
    if (!c.report.empty()) {
        EXPECT_EQ(read_file(folder / c.report), test_support::render(worked_demo())) << c.what;
    }
    EXPECT_EQ(read_file(folder / c.demo), demo_before) << c.what << ": the demo changed";
    if (!c.kept.empty()) {
        EXPECT_EQ(read_file(folder / c.kept), "mine") << c.what << ": " << c.kept << " changed";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Cli, testing::ValuesIn(cli_cases));

// ---------------------------------------------------------------- names

// A demo a row makes, and which of the builder's shapes it holds.
struct named_demo {
    std::string name;
    std::size_t shape;
};

// The builder's shapes, and past them a demo of one byte.
constexpr std::size_t one_byte = 100;

const std::string& shape(std::size_t index)
{
    static const auto all = demo_builder::shapes();
    static const std::string byte = "x";
    return index == one_byte ? byte : all.at(index).second;
}

struct names_case {
    const char* what;
    std::vector<named_demo> demos;
    std::function<void(const fs::path&)> prepare; // files beyond the demos
    std::vector<std::string> args;
    int status;
    std::string out; // standard output, exactly
    std::string err; // standard error, exactly
    std::vector<std::pair<std::string, int>>
        reports;                    // each report, and the shape whose report it is (-1: kept as prepared)
    std::vector<std::string> files; // every name in the folder afterwards, sorted
    int input = -1;                 // the shape whose demo standard input holds, -1 for none
    int output = -1;                // the shape whose report standard output holds before `out`, -1 for none
};

// A socket named "sock" in `folder`, which no open() opens.
void socket_as_sock(const fs::path& folder)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (folder / "sock").string();
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

// A report's shape index from here on stands for the view of shape (index - as_view), and so on: its text,
// its table, the shape's own bytes. A demo's index from as_text on is a text, or the shape's bytes.
constexpr int as_view = 1000;
constexpr int as_text = 2000;
constexpr int as_table = 3000;
constexpr int as_bytes = 4000;

// What the index of a report or of a named demo stands for.
std::string made_of(int index, const std::string& demo_name = "in.demo")
{
    const std::string& demo = shape(static_cast<std::size_t>(index % as_view));
    switch (index / as_view) {
    case 0:
        return test_support::render(demo);
    case 1:
        return test_support::view_of(demo, nullptr, demo_name);
    case 2:
        return test_support::text_of(demo);
    case 3:
        return test_support::table_of(demo);
    default:
        return demo;
    }
}

std::string demo_made_of(std::size_t index)
{
    return index >= as_text ? made_of(static_cast<int>(index)) : shape(index);
}

const std::string res_note = "demo2html: note: wrote the report's stylesheet and icons into 'res' (19 files)\n";
const std::string old_report = "<HTML>\nan earlier report\n";
const fs::perms rw_r = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
const fs::perms rw_r_x_r_x =
    fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;

const std::string no_res_note = "demo2html: note: no res/ is written beside a report on standard output; name the "
                                "report (demo2html DEMO REPORT) to have its stylesheet and icons beside it\n";

void old_report_as(const fs::path& folder, const std::string& name) { write_file(folder / name, old_report); }

const names_case names_cases[] = {
    {"one name",
     {{"a.demo", 0}},
     nothing,
     {"a.demo"},
     0,
     done("a.htm"),
     res_note,
     {{"a.htm", 0}},
     {"a.demo", "a.htm", "res"}},
    {"two names, the second absent: the report",
     {{"a.demo", 0}},
     nothing,
     {"a.demo", "r.htm"},
     0,
     done("r.htm"),
     res_note,
     {{"r.htm", 0}},
     {"a.demo", "r.htm", "res"}},
    {"two names, the second a report: replaced",
     {{"a.demo", 1}},
     [](const fs::path& f) { old_report_as(f, "r.htm"); },
     {"a.demo", "r.htm"},
     0,
     done("r.htm"),
     res_note,
     {{"r.htm", 1}},
     {"a.demo", "r.htm", "res"}},
    {"two names, the second a report with CRLF line ends: replaced",
     {{"a.demo", 1}},
     [](const fs::path& f) { write_file(f / "r.htm", "<HTML>\r\nold"); },
     {"a.demo", "r.htm"},
     0,
     done("r.htm"),
     res_note,
     {{"r.htm", 1}},
     {"a.demo", "r.htm", "res"}},
    {"two names, the second empty: replaced",
     {{"a.demo", 1}},
     [](const fs::path& f) { write_file(f / "r.htm", ""); },
     {"a.demo", "r.htm"},
     0,
     done("r.htm"),
     res_note,
     {{"r.htm", 1}},
     {"a.demo", "r.htm", "res"}},
    {"two names, the second a file that is not a report: two demos",
     {{"a.demo", 0}, {"b.x", 1}},
     nothing,
     {"a.demo", "b.x"},
     0,
     done("a.htm") + done("b.htm"),
     res_note,
     {{"a.htm", 0}, {"b.htm", 1}},
     {"a.demo", "a.htm", "b.htm", "b.x", "res"}},
    {"two names, the second one byte that is not a report: two demos",
     {{"a.demo", 0}, {"b.x", one_byte}},
     nothing,
     {"a.demo", "b.x"},
     outputs::cut_status,
     done("a.htm") + done("b.htm"),
     res_note +
         "demo2html: warning: 'b.x' ends after 1 byte, inside its header; the missing header bytes are shown as "
         "0xFF\n" +
         "demo2html: warning: 'b.x' has 4294967295 controllers, more than 254; the block tables are left out\n",
     {{"a.htm", 0}, {"b.htm", static_cast<int>(one_byte)}},
     {"a.demo", "a.htm", "b.htm", "b.x", "res"}},
    {"a whole demo, a cut one and a refused one: 1 over 3",
     {{"a.demo", 0}, {"b.x", one_byte}, {"c.x", 1}},
     [](const fs::path& f) { write_file(f / "c.htm", "mine"); },
     {"a.demo", "b.x", "c.x"},
     1,
     done("a.htm") + done("b.htm"),
     res_note + "demo2html: warning: 'b.x' ends after 1 byte, inside its header; the missing header bytes are shown as "
                "0xFF\ndemo2html: warning: 'b.x' has 4294967295 controllers, more than 254; the block tables are left "
                "out\ndemo2html: will not replace 'c.htm': it is not a report\n",
     {{"a.htm", 0}, {"b.htm", static_cast<int>(one_byte)}},
     {"a.demo", "a.htm", "b.htm", "b.x", "c.htm", "c.x", "res"}},
    {"two names, the second a device: the report goes there",
     {{"a.demo", 0}},
     test_support::make_devices,
     {"a.demo", "null"},
     0,
     done("null"),
     "",
     {},
     {"a.demo", "full", "null"}},
    {"two names, the second a folder: an error, no prompt from a script",
     {{"a.demo", 0}},
     [](const fs::path& f) { fs::create_directory(f / "out"); },
     {"a.demo", "out"},
     1,
     "",
     "demo2html: cannot open 'out' for writing: Is a directory\n",
     {},
     {"a.demo", "out"}},
    {"three names: three demos",
     {{"a.demo", 0}, {"b.demo", 1}, {"c.demo", 2}},
     nothing,
     {"a.demo", "b.demo", "c.demo"},
     0,
     done("a.htm") + done("b.htm") + done("c.htm"),
     res_note,
     {{"a.htm", 0}, {"b.htm", 1}, {"c.htm", 2}},
     {"a.demo", "a.htm", "b.demo", "b.htm", "c.demo", "c.htm", "res"}},
    {"a demo named twice is converted once",
     {{"a.demo", 0}, {"b.demo", 1}},
     nothing,
     {"a.demo", "b.demo", "./a.demo"},
     0,
     done("a.htm") + done("b.htm"),
     res_note,
     {{"a.htm", 0}, {"b.htm", 1}},
     {"a.demo", "a.htm", "b.demo", "b.htm", "res"}},
    {"reports that would share a name: the later demo is not converted",
     {{"a.1.demo", 0}, {"a.2.demo", 1}},
     nothing,
     {"a.1.demo", "a.2.demo"},
     1,
     done("a.htm"),
     res_note + "demo2html: will not write the report of 'a.2.demo' to 'a.htm': it holds the report of 'a.1.demo', "
                "written just before\n",
     {{"a.htm", 0}},
     {"a.1.demo", "a.2.demo", "a.htm", "res"}},
    {"one missing demo among three: the others are converted",
     {{"a.demo", 0}, {"c.demo", 2}},
     nothing,
     {"a.demo", "missing.demo", "c.demo"},
     1,
     done("a.htm") + done("c.htm"),
     res_note + "demo2html: cannot open 'missing.demo' for reading: No such file or directory\n",
     {{"a.htm", 0}, {"c.htm", 2}},
     {"a.demo", "a.htm", "c.demo", "c.htm", "res"}},
    {"-- before several",
     {{"-a.demo", 0}, {"b.demo", 1}, {"c.demo", 2}},
     nothing,
     {"--", "-a.demo", "b.demo", "c.demo"},
     0,
     done("-a.htm") + done("b.htm") + done("c.htm"),
     res_note,
     {{"-a.htm", 0}, {"b.htm", 1}, {"c.htm", 2}},
     {"-a.demo", "-a.htm", "b.demo", "b.htm", "c.demo", "c.htm", "res"}},
    {"several: a derived name that is not a report is refused, the next goes on",
     {{"a.demo", 0}, {"b.demo", 1}, {"c.demo", 2}},
     [](const fs::path& f) { write_file(f / "b.htm", "x"); }, // one byte is not a report either
     {"a.demo", "b.demo", "c.demo"},
     1,
     done("a.htm") + done("c.htm"),
     res_note + "demo2html: will not replace 'b.htm': it is not a report\n",
     {{"a.htm", 0}, {"c.htm", 2}},
     {"a.demo", "a.htm", "b.demo", "b.htm", "c.demo", "c.htm", "res"}},
    {"several: a report on a demo named too is refused",
     {{"b.htm", 0}, {"b.x.demo", 1}, {"c.demo", 2}},
     nothing,
     {"b.htm", "b.x.demo", "c.demo"},
     1,
     done("c.htm"),
     "demo2html: will not write the report to 'b.htm': it is the demo 'b.htm' itself\n"
     "demo2html: will not write the report of 'b.x.demo' to 'b.htm': it is the demo 'b.htm', named too\n" +
         res_note,
     {{"c.htm", 2}},
     {"b.htm", "b.x.demo", "c.demo", "c.htm", "res"}},
    {"several: an earlier report among the names is replaced, not converted",
     {{"a.demo", 0}, {"b.demo", 1}},
     [](const fs::path& f) { old_report_as(f, "a.htm"); },
     {"a.demo", "a.htm", "b.demo"},
     1,
     done("a.htm") + done("b.htm"),
     res_note + "demo2html: will not read 'a.htm' as a demo: it holds the report of 'a.demo', written just before\n",
     {{"a.htm", 0}, {"b.htm", 1}},
     {"a.demo", "a.htm", "b.demo", "b.htm", "res"}},
    {"several: a report that cannot be written, the next goes on",
     {{"a.demo", 0}, {"b.demo", 1}, {"c.demo", 2}},
     [](const fs::path& f) { ASSERT_EQ(mknod((f / "b.htm").c_str(), S_IFCHR | 0666, makedev(1U, 7U)), 0); },
     {"a.demo", "b.demo", "c.demo"},
     1,
     done("a.htm") + done("c.htm"),
     res_note + "demo2html: cannot write the report 'b.htm': No space left on device; the report is incomplete\n",
     {{"a.htm", 0}, {"c.htm", 2}},
     {"a.demo", "a.htm", "b.demo", "b.htm", "c.demo", "c.htm", "res"}},
    {"several: a report that cannot be opened, the next goes on",
     {{"a.demo", 0}, {"b.demo", 1}, {"c.demo", 2}},
     [](const fs::path& f) { fs::create_directory(f / "b.htm"); },
     {"a.demo", "b.demo", "c.demo"},
     1,
     done("a.htm") + done("c.htm"),
     res_note + "demo2html: cannot open 'b.htm' for writing: Is a directory\n",
     {{"a.htm", 0}, {"c.htm", 2}},
     {"a.demo", "a.htm", "b.demo", "b.htm", "c.demo", "c.htm", "res"}},
    // clang-format off
    {"- as the report into a file: standard output, a note on res/, the completion message on standard error", {{"a.demo", 0}}, nothing, {"a.demo", "-"}, 0, "", no_res_note + done("standard output"), {}, {"a.demo"}, -1, 0},
    {"- alone: standard input to standard output", {}, nothing, {"-"}, 0, "", no_res_note + done("standard output"), {}, {}, 1, 1},
    {"- as the demo, a report named", {}, nothing, {"-", "r.htm"}, 0, done("r.htm"), res_note, {{"r.htm", 1}}, {"r.htm", "res"}, 1},
    {"- among several demos: refused, the others converted", {{"a.demo", 0}, {"b.demo", 1}}, nothing, {"a.demo", "-", "b.demo"}, 1, done("a.htm") + done("b.htm"), res_note + "demo2html: standard input ('-') is converted alone: demo2html - [REPORT]\n", {{"a.htm", 0}, {"b.htm", 1}}, {"a.demo", "a.htm", "b.demo", "b.htm", "res"}},
    {"a file named - is ./-", {{"-", 2}}, nothing, {"./-"}, 0, done("./-.htm"), "demo2html: note: wrote the report's stylesheet and icons into './res' (19 files)\n", {{"-.htm", 2}}, {"-", "-.htm", "res"}},
    {"two names, the second a socket: it cannot be opened, the system says why", {{"a.demo", 0}}, socket_as_sock, {"a.demo", "sock"}, 1, "", "demo2html: cannot open 'sock' for writing: No such device or address\n", {}, {"a.demo", "sock"}},
    {"--view: a page beside the demo, and no res/", {{"a.demo", 0}}, nothing, {"--view", "a.demo"}, 0, done("a.view.htm"), "", {{"a.view.htm", as_view + 0}}, {"a.demo", "a.view.htm"}},
    {"--view with the page named", {{"a.demo", 1}}, nothing, {"--view", "a.demo", "p.htm"}, 0, done("p.htm"), "", {{"p.htm", as_view + 1}}, {"a.demo", "p.htm"}},
    {"--view over an earlier view: replaced; over a report: refused", {{"a.demo", 0}, {"b.demo", 1}, {"c.demo", 2}}, [](const fs::path& f) { write_file(f / "a.view.htm", "<!DOCTYPE html>\n<!-- demo2html view -->\nold"); old_report_as(f, "b.view.htm"); }, {"--view", "a.demo", "b.demo", "c.demo"}, 1, done("a.view.htm") + done("c.view.htm"), "demo2html: will not replace 'b.view.htm': it is not a view\n", {{"a.view.htm", as_view + 0}, {"c.view.htm", as_view + 2}}, {"a.demo", "a.view.htm", "b.demo", "b.view.htm", "c.demo", "c.view.htm"}},
    {"a report over a view: refused, the view not taken for a demo", {{"a.demo", 0}}, [](const fs::path& f) { write_file(f / "b.view.htm", "<!DOCTYPE html>\n<!-- demo2html view -->\nold"); }, {"a.demo", "b.view.htm"}, 1, "", "demo2html: will not replace 'b.view.htm': it is not a report\n", {}, {"a.demo", "b.view.htm"}},
    {"--view over a file that is neither a report nor a view: refused, the next goes on", {{"a.demo", 0}, {"b.demo", 1}, {"c.demo", 2}}, [](const fs::path& f) { write_file(f / "b.view.htm", "<!DOCTYPE html>\n<p>mine"); }, {"--view", "--", "a.demo", "b.demo", "c.demo"}, 1, done("a.view.htm") + done("c.view.htm"), "demo2html: will not replace 'b.view.htm': it is not a view\n", {{"a.view.htm", as_view + 0}, {"c.view.htm", as_view + 2}}, {"a.demo", "a.view.htm", "b.demo", "b.view.htm", "c.demo", "c.view.htm"}},
    {"a demo that reaches a report written in the run: not read as a demo", {{"a.demo", 0}, {"c.demo", 2}}, [](const fs::path& f) { fs::create_symlink("a.htm", f / "x.demo"); }, {"a.demo", "x.demo", "c.demo"}, 1, done("a.htm") + done("c.htm"), res_note + "demo2html: will not read 'x.demo' as a demo: it holds the report of 'a.demo', written just before\n", {{"a.htm", 0}, {"c.htm", 2}}, {"a.demo", "a.htm", "c.demo", "c.htm", "res", "x.demo"}},
    {"two names, the second a folder named with its slash: an error", {{"a.demo", 0}}, [](const fs::path& f) { fs::create_directory(f / "out"); }, {"a.demo", "out/"}, 1, "", "demo2html: cannot open 'out/' for writing: Is a directory\n", {}, {"a.demo", "out"}},
    {"--text: NAME.txt beside the demo, and no res/", {{"a.demo", 0}}, nothing, {"--text", "a.demo"}, 0, done("a.txt"), "", {{"a.txt", as_text + 0}}, {"a.demo", "a.txt"}},
    {"--text over an earlier text: replaced; over a file of the user's: refused", {{"a.demo", 0}, {"b.demo", 1}}, [](const fs::path& f) { write_file(f / "a.txt", "demo2html text 0\nold"); notes_as(f, "b.txt"); }, {"--text", "a.demo", "b.demo"}, 1, done("a.txt"), "demo2html: will not replace 'b.txt': it is not a text of a demo\n", {{"a.txt", as_text + 0}}, {"a.demo", "a.txt", "b.demo", "b.txt"}},
    {"--csv: NAME.csv beside the demo", {{"a.demo", 1}}, nothing, {"--csv", "a.demo"}, 0, done("a.csv"), "", {{"a.csv", as_table + 1}}, {"a.csv", "a.demo"}},
    {"--demo: the text's demo, byte for byte, as NAME.demo", {{"a.txt", as_text + 1}}, nothing, {"--demo", "a.txt"}, 0, done("a.demo"), "", {{"a.demo", as_bytes + 1}}, {"a.demo", "a.txt"}},
    {"--demo of two texts: two demos", {{"a.txt", as_text + 1}, {"b.txt", as_text + 2}}, nothing, {"--demo", "a.txt", "b.txt"}, 0, done("a.demo") + done("b.demo"), "", {{"a.demo", as_bytes + 1}, {"b.demo", as_bytes + 2}}, {"a.demo", "a.txt", "b.demo", "b.txt"}},
    {"--demo over an existing demo: refused, the demo kept", {{"a.txt", as_text + 1}, {"a.demo", 2}}, nothing, {"--demo", "a.txt"}, 1, "", "demo2html: will not replace 'a.demo': it exists, and no demo is replaced\n", {}, {"a.demo", "a.txt"}},
    {"--demo of a text it cannot read: where and why, nothing written", {{"a.txt", 1}}, nothing, {"--demo", "a.txt", "b.demo"}, 1, "", "demo2html: a.txt:1:1: this is not the text of a demo: its first line is not 'demo2html text 1'\n", {}, {"a.txt"}},
    {"--demo - reads the text from standard input", {}, nothing, {"--demo", "-", "x.demo"}, 0, done("x.demo"), "", {{"x.demo", as_bytes + 2}}, {"x.demo"}, as_text + 2},
    {"--view of standard input: the page offers demo as the saved name", {}, nothing, {"--view", "-", "p.htm"}, 0, done("p.htm"), "", {{"p.htm", as_view + 1}}, {"p.htm"}, 1},
    {"a missing demo, input from a script: an error, nothing asked", {}, nothing, {"missing.demo"}, 1, "", "demo2html: cannot open 'missing.demo' for reading: No such file or directory\n", {}, {}, 0},
    {"--view after the demo: an option still", {{"a.demo", 0}}, nothing, {"a.demo", "--view"}, 0, done("a.view.htm"), "", {{"a.view.htm", as_view + 0}}, {"a.demo", "a.view.htm"}},
    {"an unknown option: an error naming it, nothing written", {{"a.demo", 0}}, nothing, {"--vieww", "a.demo"}, 2, "", "demo2html: unknown option '--vieww'; demo2html --help lists them\n", {}, {"a.demo"}},
    {"-x after the names: unknown, nothing written", {{"a.demo", 0}}, nothing, {"a.demo", "r.htm", "-x"}, 2, "", "demo2html: unknown option '-x'; demo2html --help lists them\n", {}, {"a.demo"}},
    {"a name after --: a file, even with a dash", {{"-x", 1}}, nothing, {"--view", "--", "-x", "--view"}, 0, done("--view"), "", {{"--view", as_view + 1}}, {"--view", "-x"}},
    {"--view and --text: one kind a run, nothing written", {{"a.demo", 0}}, nothing, {"--view", "a.demo", "--text"}, 2, "", "demo2html: --view and --text cannot be given together: a run writes one kind of file\n", {}, {"a.demo"}},
    {"--view twice counts once", {{"a.demo", 0}}, nothing, {"--view", "a.demo", "--view"}, 0, done("a.view.htm"), "", {{"a.view.htm", as_view + 0}}, {"a.demo", "a.view.htm"}},
    // clang-format on
};

void PrintTo(const names_case& c, std::ostream* os) { *os << c.what; }

class CliNames : public testing::TestWithParam<names_case> {};

std::vector<std::string> names_in(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != ".stdin" && name != ".stdout" && name != ".stderr") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_P(CliNames, GiveOneReportPerDemoAndReplaceNoOtherFile)
{
    const names_case& c = GetParam();
    const fs::path folder = test_support::scratch_folder("cli_names");
    for (const named_demo& d : c.demos) {
        write_file(folder / d.name, demo_made_of(d.shape));
    }
    c.prepare(folder);

    const std::string input = c.input >= 0 ? demo_made_of(static_cast<std::size_t>(c.input)) : "";
    const run_result result = run(folder, c.args, input);
    EXPECT_EQ(result.status, c.status);
    const std::string report_out = c.output >= 0 ? made_of(c.output) : "";
    EXPECT_EQ(result.out, report_out + c.out);
    EXPECT_EQ(result.err, c.err);
    for (const auto& [report, shape_index] : c.reports) {
        const int shown = shape_index % as_view;
        const auto named = std::find_if(c.demos.begin(), c.demos.end(),
                                        [shown](const named_demo& d) { return static_cast<int>(d.shape) == shown; });
        const std::string demo_name = named != c.demos.end() ? named->name : "-"; // no demo named: standard input
        EXPECT_EQ(read_file(folder / report), made_of(shape_index, demo_name)) << report;
    }
    for (const named_demo& d : c.demos) {
        EXPECT_EQ(read_file(folder / d.name), demo_made_of(d.shape)) << d.name << ": the demo changed";
    }
    EXPECT_EQ(names_in(folder), c.files);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliNames, testing::ValuesIn(names_cases));

// ---------------------------------------------------------------- pipes and descriptors

struct through_case {
    const char* what;
    std::string command; // for bash, in the folder; $D is the program, demo.bin the worked demo
    std::string file;    // the file that must hold `holds`, then the report where `report_follows`
    std::string holds;
    bool report_follows;
    std::string err; // what the program wrote to .stderr
    std::vector<std::string> files;
};

// clang-format off
const through_case through_cases[] = {
    {"/dev/stdout to a pipe", "$D demo.bin /dev/stdout 2>.stderr | cat >piped", "piped", "", true, done("/dev/stdout"), {"demo.bin", "piped"}},
    {"/dev/stdout to a file opened for appending: appended", "echo log >log && $D demo.bin /dev/stdout 2>.stderr >>log", "log", "log\n", true, done("/dev/stdout"), {"demo.bin", "log"}},
    {"/dev/fd/3 open for appending", "echo log >log && $D demo.bin /dev/fd/3 3>>log 2>.stderr >/dev/null", "log", "log\n", true, "", {"demo.bin", "log"}},
    {"a process substitution", "$D demo.bin >(cat >sub) 2>.stderr >/dev/null; wait $!", "sub", "", true, "", {"demo.bin", "sub"}},
    {"- appended onto the demo: refused, the demo kept", "$D demo.bin - 2>.stderr >>demo.bin || echo $? >code", "demo.bin", worked_demo(), false, "demo2html: will not write the report to standard output: it is the demo 'demo.bin' itself\n", {"code", "demo.bin"}},
    {"- from the demo onto the demo, read and written: refused, the demo kept", "$D - <demo.bin 2>.stderr 1<>demo.bin || echo $? >code", "demo.bin", worked_demo(), false, "demo2html: will not write the report to standard output: it is the demo 'standard input' itself\n", {"code", "demo.bin"}},
    {"> the derived name: the report there, its res/ beside it", "$D demo.bin 2>.stderr >demo.htm", "demo.htm", "", true, res_note + done("demo.htm"), {"demo.bin", "demo.htm", "res"}},
    {"a script's loop: a missing demo does not eat the next name", "cp demo.bin a.demo && cp demo.bin b.demo && printf 'a.demo\\nmissing.demo\\nb.demo\\n' | while read -r f; do $D \"$f\" 2>>.stderr >/dev/null; echo $? >>codes; done", "codes", "0\n1\n0\n", false, res_note + "demo2html: cannot open 'missing.demo' for reading: No such file or directory\n", {"a.demo", "a.htm", "b.demo", "b.htm", "codes", "demo.bin", "res"}},
};
// clang-format on

void PrintTo(const through_case& c, std::ostream* os) { *os << c.what; }

class CliThrough : public testing::TestWithParam<through_case> {};

// A report to a pipe, a descriptor or a shell's substitution is written
// through as it is: appended where that was asked, never renamed over, and
// no res/ beside it.
TEST_P(CliThrough, WritesThroughAsItIs)
{
    const through_case& c = GetParam();
    const fs::path folder = test_support::scratch_folder("cli_through");
    write_file(folder / "demo.bin", worked_demo());
    const std::string command = "cd " + test_support::shell_quoted(folder.string()) +
                                " && D=" + test_support::shell_quoted(DEMO2HTML_EXE) + " && " + c.command;
    ASSERT_EQ(std::system(("bash -c " + test_support::shell_quoted(command) + " </dev/null").c_str()), 0);
    EXPECT_EQ(read_file(folder / c.file), c.holds + (c.report_follows ? test_support::render(worked_demo()) : ""));
    EXPECT_EQ(read_file(folder / ".stderr"), c.err);
    fs::remove(folder / ".stderr");
    EXPECT_EQ(names_in(folder), c.files);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliThrough, testing::ValuesIn(through_cases));

// Runs side by side on one report, in one process namespace and in
// namespaces of their own (where their process numbers are the same), each
// end with the whole report under its name, and nothing else is left.
TEST(CliSideBySide, EachLeavesTheWholeReport)
{
    if (std::system("unshare --pid --fork true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no process namespaces here";
    }
    for (const bool earlier : {true, false}) { // over an earlier report, and on a free name
        const fs::path folder = test_support::scratch_folder("cli_side_by_side");
        write_file(folder / "d.demo", demo_builder::random_demo(400000, 4, 255, 1));
        if (earlier) {
            write_file(folder / "r.htm", old_report);
        }
        const std::string program = test_support::shell_quoted(DEMO2HTML_EXE);
        const std::string command = "cd " + test_support::shell_quoted(folder.string()) +
                                    " && for i in 1 2 3 4 5 6; do (case $i in [1-4]) u='unshare --pid --fork';; *) "
                                    "u=;; esac; $u " +
                                    program +
                                    " d.demo r.htm </dev/null >/dev/null 2>&1; echo $? >s$i) & "
                                    "done; wait; cat s? >codes; rm s?";
        ASSERT_EQ(std::system(("bash -c " + test_support::shell_quoted(command)).c_str()), 0);
        EXPECT_EQ(read_file(folder / "codes"), "0\n0\n0\n0\n0\n0\n") << earlier;
        EXPECT_EQ(read_file(folder / "r.htm"), test_support::render(demo_builder::random_demo(400000, 4, 255, 1)));
        EXPECT_EQ(names_in(folder), (std::vector<std::string>{"codes", "d.demo", "r.htm", "res"}));
    }
}

TEST(CliFailures, ReportThatCannotBeWrittenIsNoSuccess)
{
    const fs::path folder = test_support::scratch_folder("cli_full");
    write_file(folder / "demo.bin", worked_demo());
    test_support::make_devices(folder);
    const run_result result = run(folder, {"demo.bin", "full"}, "");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "demo2html: cannot write the report 'full': No space left on device; the report is incomplete\n");
    EXPECT_EQ(read_file(folder / "demo.bin"), worked_demo());
}

TEST(CliFailures, OutputThatCannotBeWrittenIsNoSuccess)
{
    struct full_case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::string full = "demo2html: cannot write to standard output: No space left on device\n";
    const full_case cases[] = {
        {{"demo.bin"}, res_note + full},
        {{"demo.bin", "demo.bin", "demo.bin"}, res_note + full},
        {{"--version"}, full},
        {{"--help"}, full},
    };
    for (const full_case& c : cases) {
        const fs::path folder = test_support::scratch_folder("cli_stdout_full");
        write_file(folder / "demo.bin", worked_demo());
        const run_result result = run(folder, c.args, "", "/dev/full");
        EXPECT_EQ(result.status, 1) << c.args[0];
        EXPECT_EQ(result.err, c.err) << c.args[0];
    }
}

// ---------------------------------------------------------------- replacing a report

// A demo whose report is larger than the file size limit of the rows below.
const std::string& large_demo()
{
    static const std::string bytes = demo_builder::random_demo(20000, 4, 255, 1);
    return bytes;
}

const std::string long_leaf = std::string(248, 'r') + ".htm"; // no longer name fits beside it

struct replace_case {
    const char* what;
    std::string report;                           // the name the report is written to
    std::function<void(const fs::path&)> prepare; // the earlier report and what leads to it
    std::string before;                           // shell commands before the program
    int status;
    std::string err;                // standard error, exactly
    std::string replaced;           // the file that must now hold the new report, or the old one
    bool new_report;                // whether it holds the new report (else the earlier one, unchanged)
    fs::perms mode;                 // its permission bits afterwards
    std::vector<std::string> files; // every name in the folder afterwards, sorted
};

void earlier_report(const fs::path& file, fs::perms mode)
{
    write_file(file, old_report);
    fs::permissions(file, mode);
}

// Links l1 to l`count`, each to the one before, l1 to `target`.
void chain_of_links(const fs::path& folder, const std::string& target, int count)
{
    std::string previous = target;
    for (int i = 1; i <= count; ++i) {
        const std::string link = std::string("l").append(std::to_string(i));
        fs::create_symlink(previous, folder / link);
        previous = link;
    }
}

// `names` and the links of chain_of_links, sorted.
std::vector<std::string> with_links(std::vector<std::string> names, int count)
{
    for (int i = 1; i <= count; ++i) {
        names.push_back(std::string("l").append(std::to_string(i)));
    }
    std::sort(names.begin(), names.end());
    return names;
}

const fs::perms rw_rw_r = rw_r | fs::perms::group_write | fs::perms::others_read;

const replace_case replace_cases[] = {
    {"an earlier report: replaced, its permission bits kept",
     "r.htm",
     [](const fs::path& f) {
         earlier_report(f / "r.htm", rw_r);
         [[maybe_unused]] const int owned = chown((f / "r.htm").c_str(), 1234, 1234); // kept when run as root
     },
     "",
     0,
     res_note,
     "r.htm",
     true,
     rw_r,
     {"d.demo", "r.htm", "res"}},
    {"through a symbolic link: the file it points to is replaced, the link stays",
     "r.htm",
     [](const fs::path& f) {
         fs::create_directory(f / "sub");
         earlier_report(f / "sub" / "t.htm", rw_r);
         fs::create_symlink("sub/t.htm", f / "r.htm");
     },
     "",
     0,
     res_note,
     "sub/t.htm",
     true,
     rw_r,
     {"d.demo", "r.htm", "res", "sub"}},
    {"through a link in another folder: the link's text is read from there",
     "out/r.htm",
     [](const fs::path& f) {
         fs::create_directories(f / "sub");
         fs::create_directories(f / "out");
         earlier_report(f / "sub" / "t.htm", rw_r);
         fs::create_symlink("../sub/t.htm", f / "out" / "r.htm");
     },
     "",
     0,
     "demo2html: note: wrote the report's stylesheet and icons into 'out/res' (19 files)\n",
     "sub/t.htm",
     true,
     rw_r,
     {"d.demo", "out", "sub"}},
    {"through a chain of links, one of them absolute",
     "r.htm",
     [](const fs::path& f) {
         fs::create_directory(f / "sub");
         earlier_report(f / "sub" / "t.htm", rw_r);
         fs::create_symlink(f / "sub" / "t.htm", f / "l");
         fs::create_symlink("l", f / "r.htm");
     },
     "",
     0,
     res_note,
     "sub/t.htm",
     true,
     rw_r,
     {"d.demo", "l", "r.htm", "res", "sub"}},
    {"through a link, a write that fails midway: the file it points to stays as it was",
     "r.htm",
     [](const fs::path& f) {
         fs::create_directory(f / "sub");
         earlier_report(f / "sub" / "t.htm", rw_r);
         fs::create_symlink("sub/t.htm", f / "r.htm");
     },
     "ulimit -f 64 && trap '' XFSZ && ",
     1,
     "demo2html: cannot write the report 'r.htm': File too large; 'r.htm' is left as it was\n",
     "sub/t.htm",
     false,
     rw_r,
     {"d.demo", "r.htm", "sub"}},
    {"a link to nothing: refused, nothing made where it points",
     "r.htm",
     [](const fs::path& f) {
         fs::create_directory(f / "sub");
         fs::create_symlink("sub/new.htm", f / "r.htm");
     },
     "",
     1,
     "demo2html: 'r.htm' is a link to nothing; not followed\n",
     "",
     false,
     rw_r,
     {"d.demo", "r.htm", "sub"}},
    {"a link that loops: refused, no prompt from a script",
     "r.htm",
     [](const fs::path& f) { fs::create_symlink("r.htm", f / "r.htm"); },
     "",
     1,
     "demo2html: cannot open 'r.htm' for writing: Too many levels of symbolic links\n",
     "",
     false,
     rw_r,
     {"d.demo", "r.htm"}},
    {"a name of 252 bytes: its temporary file is of fixed length, so it fits too",
     long_leaf,
     [](const fs::path& f) { earlier_report(f / long_leaf, rw_rw_r); },
     "",
     0,
     res_note,
     long_leaf,
     true,
     rw_rw_r,
     {"d.demo", "res", long_leaf}},
    // clang-format off
    {"a name of 252 bytes, a write that fails midway: the earlier report stays as it was", long_leaf, [](const fs::path& f) { earlier_report(f / long_leaf, rw_rw_r); }, "ulimit -f 64 && trap '' XFSZ && ", 1, "demo2html: cannot write the report '" + long_leaf + "': File too large; '" + long_leaf + "' is left as it was\n", long_leaf, false, rw_rw_r, {"d.demo", long_leaf}},
    {"a chain of 41 links to a report: refused, as the system refuses it", "l41", [](const fs::path& f) { earlier_report(f / "t.htm", rw_r); chain_of_links(f, "t.htm", 41); }, "", 1, "demo2html: cannot open 'l41' for writing: Too many levels of symbolic links\n", "t.htm", false, rw_r, with_links({"d.demo", "t.htm"}, 41)},
    {"a chain of 41 links to the demo: refused, the demo kept", "l41", [](const fs::path& f) { chain_of_links(f, "d.demo", 41); }, "", 1, "demo2html: cannot open 'l41' for writing: Too many levels of symbolic links\n", "", false, rw_r, with_links({"d.demo"}, 41)},
    {"a chain of 40 links: followed, the file at its end replaced", "l40", [](const fs::path& f) { earlier_report(f / "t.htm", rw_r); chain_of_links(f, "t.htm", 40); }, "", 0, res_note, "t.htm", true, rw_r, with_links({"d.demo", "res", "t.htm"}, 40)},
    {"a new report: a new file's bits (0644 under umask 022)", "r.htm", nothing, "umask 022 && ", 0, res_note, "r.htm", true, rw_r | fs::perms::others_read, {"d.demo", "r.htm", "res"}},
    {"an earlier report with set-ID and sticky bits: replaced without them", "r.htm", [](const fs::path& f) { earlier_report(f / "r.htm", rw_rw_r | fs::perms::set_uid | fs::perms::set_gid | fs::perms::sticky_bit); }, "", 0, res_note, "r.htm", true, rw_rw_r, {"d.demo", "r.htm", "res"}},
    // clang-format on
    {"a write that fails midway: the earlier report stays as it was",
     "r.htm",
     [](const fs::path& f) { earlier_report(f / "r.htm", rw_r); },
     "ulimit -f 64 && trap '' XFSZ && ",
     1,
     "demo2html: cannot write the report 'r.htm': File too large; 'r.htm' is left as it was\n",
     "r.htm",
     false,
     rw_r,
     {"d.demo", "r.htm"}},
    {"a write that fails midway to a new name: nothing is left under it",
     "r.htm",
     nothing,
     "ulimit -f 64 && trap '' XFSZ && ",
     1,
     "demo2html: cannot write the report 'r.htm': File too large; 'r.htm' is not written\n",
     "",
     false,
     rw_r,
     {"d.demo"}},
};

void PrintTo(const replace_case& c, std::ostream* os) { *os << c.what; }

class CliReplace : public testing::TestWithParam<replace_case> {};

TEST_P(CliReplace, ReportTakesItsNameOnlyWhenComplete)
{
    const replace_case& c = GetParam();
    const fs::path folder = test_support::scratch_folder("cli_replace");
    write_file(folder / "d.demo", large_demo());
    c.prepare(folder);
    const bool was_link = fs::is_symlink(folder / c.report);
    struct stat owner_before {};
    const bool existed = !c.replaced.empty() && stat((folder / c.replaced).c_str(), &owner_before) == 0;

    const run_result result = run(folder, {"d.demo", c.report}, "", "", c.before);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    if (!c.replaced.empty()) {
        EXPECT_EQ(read_file(folder / c.replaced), c.new_report ? test_support::render(large_demo()) : old_report);
        EXPECT_EQ(fs::status(folder / c.replaced).permissions(), c.mode);
    }
    struct stat owner_after {};
    if (existed && stat((folder / c.replaced).c_str(), &owner_after) == 0) {
        EXPECT_EQ(owner_after.st_uid, owner_before.st_uid);
        EXPECT_EQ(owner_after.st_gid, owner_before.st_gid);
    }
    EXPECT_EQ(fs::is_symlink(folder / c.report), was_link) << "the link is gone";
    EXPECT_EQ(read_file(folder / "d.demo"), large_demo()) << "the demo changed";
    EXPECT_EQ(names_in(folder), c.files);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliReplace, testing::ValuesIn(replace_cases));

// Another user's files in a folder shared with the user who runs the
// program (uid 4322, through setpriv): what another user planted is not
// written through, followed or widened, and the run says why.
struct shared_case {
    const char* what;
    fs::perms folder;                             // the shared folder's bits
    std::function<void(const fs::path&)> prepare; // in the shared folder, as user 4321
    int status;
    std::string err;                // standard error, exactly
    std::vector<std::string> files; // every name in the shared folder afterwards
    std::string mode_of = "";       // a file there whose bits afterwards must be `mode`
    fs::perms mode = fs::perms::none;
    bool needs_link_protection = false;
};

const fs::perms sticky_for_all = fs::perms::all | fs::perms::sticky_bit;

// `name` in `folder`, made by `make`, and then another user's (4321).
void of_another_user(const fs::path& path) { ASSERT_EQ(lchown(path.c_str(), 4321, 4321), 0); }

void victim_link(const fs::path& f)
{
    fs::create_symlink("../home/victim", f / "run.htm");
    of_another_user(f / "run.htm");
}

void others_pipe(const fs::path& f)
{
    ASSERT_EQ(mkfifo((f / "run.htm").c_str(), 0622), 0);
    of_another_user(f / "run.htm");
}

void others_report(const fs::path& f)
{
    earlier_report(f / "run.htm", rw_rw_r);
    of_another_user(f / "run.htm");
}

void others_unreadable_report(const fs::path& f)
{
    earlier_report(f / "run.htm", fs::perms::owner_read | fs::perms::owner_write);
    of_another_user(f / "run.htm");
}

void others_res_link(const fs::path& f)
{
    fs::create_directory_symlink("../home", f / "res");
    of_another_user(f / "res");
}

void others_res(const fs::path& f)
{
    fs::create_directory(f / "res");
    of_another_user(f / "res");
}

const std::string res_kept_note =
    "demo2html: note: 'res' belongs to another user: the report shows its files as they are there\n";

// clang-format off
const shared_case shared_cases[] = {
    {"another user's link in a sticky folder: refused as the system refuses it", sticky_for_all, victim_link, 1, "demo2html: cannot open 'run.htm' for writing: Permission denied\n", {"run.demo", "run.htm"}, "", fs::perms::none, true},
    {"another user's pipe in a sticky folder: refused, never waited on", sticky_for_all, others_pipe, 1, "demo2html: will not write the report to 'run.htm': it belongs to another user\n", {"run.demo", "run.htm"}},
    {"another user's report: replaced, its group's bits not given to the new group", fs::perms::all, others_report, 0, res_note, {"res", "run.demo", "run.htm"}, "run.htm", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read},
    {"another user's report that cannot be read: refused, kept", fs::perms::all, others_unreadable_report, 1, "demo2html: will not replace 'run.htm': cannot tell whether it is a report: Permission denied\n", {"run.demo", "run.htm"}, "run.htm", fs::perms::owner_read | fs::perms::owner_write},
    {"res/ another user's link: not followed, one warning", fs::perms::all, others_res_link, 0, "demo2html: warning: cannot write the folder 'res': it is another user's link; not followed; the report shows without its stylesheet and icons\n", {"res", "run.demo", "run.htm"}},
    {"res/ another user's, not writable: one warning, one note", fs::perms::all, others_res, 0, "demo2html: warning: cannot write the folder 'res': Permission denied; the report shows without its stylesheet and icons\n" + res_kept_note, {"res", "run.demo", "run.htm"}},
};
// clang-format on

void PrintTo(const shared_case& c, std::ostream* os) { *os << c.what; }

class CliShared : public testing::TestWithParam<shared_case> {};

TEST_P(CliShared, AnotherUsersFilesAreNotWrittenThrough)
{
    const shared_case& c = GetParam();
    const bool protects_links = read_file("/proc/sys/fs/protected_symlinks") == "1\n";
    if (geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0 ||
        (c.needs_link_protection && !protects_links)) {
        GTEST_SKIP() << "needs root, setpriv (and for links fs.protected_symlinks=1)";
    }
    const fs::path folder = test_support::scratch_folder("cli_shared");
    fs::permissions(folder, fs::perms::all);
    fs::create_directory(folder / "home");
    write_file(folder / "home" / "victim", "mine");
    fs::permissions(folder / "home" / "victim", fs::perms::all);
    fs::create_directory(folder / "shared");
    fs::permissions(folder / "shared", c.folder);
    write_file(folder / "shared" / "run.demo", worked_demo());
    c.prepare(folder / "shared");
    const std::string command = "cd " + test_support::shell_quoted((folder / "shared").string()) +
                                " && timeout 20 setpriv --reuid=4322 --regid=4322 --clear-groups " +
                                test_support::shell_quoted(DEMO2HTML_EXE) + " run.demo </dev/null >/dev/null 2>../err";
    const int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
    EXPECT_EQ(read_file(folder / "err"), c.err);
    EXPECT_EQ(read_file(folder / "home" / "victim"), "mine");
    EXPECT_EQ(names_in(folder / "home"), (std::vector<std::string>{"victim"}));
    EXPECT_EQ(names_in(folder / "shared"), c.files);
    if (!c.mode_of.empty()) {
        EXPECT_EQ(fs::status(folder / "shared" / c.mode_of).permissions(), c.mode);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CliShared, testing::ValuesIn(shared_cases));

// The size of the largest file the process `pid` has open, but for `demo`.
std::uintmax_t largest_open_file(pid_t pid, const fs::path& demo)
{
    std::uintmax_t largest = 0;
    std::error_code error;
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        struct stat info {};
        if (fs::read_symlink(fd.path(), error) != demo && stat(fd.path().c_str(), &info) == 0 &&
            S_ISREG(info.st_mode)) {
            largest = std::max(largest, static_cast<std::uintmax_t>(info.st_size));
        }
    }
    return largest;
}

// A run stopped while it writes a large report over an earlier one leaves
// the earlier report whole under its name and nothing else: interrupted, it
// says so and ends with the conventional status; killed, it leaves no
// temporary file either.
TEST(CliReplaceKilled, LeavesTheEarlierReportWholeAndNothingElse)
{
    struct signal_case {
        int signal;
        int status; // -1: ended by the signal
        std::string err;
    };
    const std::string told = "demo2html: interrupted; 'big.htm' is left as it was\n";
    const signal_case cases[] = {{SIGINT, 130, told}, {SIGTERM, 143, told}, {SIGHUP, 129, told}, {SIGKILL, -1, ""}};
    const fs::path folder = test_support::scratch_folder("cli_killed");
    write_file(folder / "big.demo", demo_builder::random_demo(2000000, 4, 255, 1));
    for (const signal_case& c : cases) {
        write_file(folder / "big.htm", old_report);
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(folder.c_str()) == 0 && std::freopen("/dev/null", "w", stdout) != nullptr &&
                std::freopen(".stderr", "w", stderr) != nullptr) {
                execl(DEMO2HTML_EXE, DEMO2HTML_EXE, "big.demo", static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        // Stopped once its temporary report holds a few megabytes.
        for (int waited = 0; waited < 5000 && largest_open_file(pid, folder / "big.demo") < 4U << 20U; ++waited) {
            usleep(1000);
        }
        kill(pid, c.signal);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << c.signal;
        EXPECT_EQ(read_file(folder / ".stderr"), c.err) << c.signal;
        EXPECT_EQ(read_file(folder / "big.htm"), old_report) << c.signal;
        EXPECT_EQ(names_in(folder), (std::vector<std::string>{"big.demo", "big.htm"})) << c.signal;
    }
}

TEST(CliWarnings, NameWhatTheReportLeavesOut)
{
    struct warning_case {
        std::string demo;
        std::string piece;
        int status = outputs::cut_status;
        bool view = false;
    };
    demo_builder::header_fields many;
    many.controllers = 300;
    const std::string cut = worked_demo().substr(0, worked_demo().size() - 9);
    // One block of 255 rows of 300 entries, more than the reader's buffer holds, and the zero word.
    std::string many_whole = demo_builder::header(many);
    demo_builder::put_block(many_whole, 255, std::vector<demo_builder::entry>(std::size_t{255} * 300));
    demo_builder::put_word(many_whole, 0);
    // One block of one row, whose 300 entries are cut after 10.
    const std::string many_cut = demo_builder::header(many) + std::string("\0\1\0\0", 4) + std::string(40, '\1');
    // clang-format off
    const warning_case cases[] = {
        {demo_builder::header(many) + std::string(4, '\0'), "warning: 'w.bin' has 300 controllers, more than 254; the block tables are left out", 0},
        {many_cut, "warning: 'w.bin' ends early, at offset 276, before the zero word that closes its command blocks\ndemo2html: note: wrote"},
        {cut, "warning: 'w.bin' ends early, at offset 244, before the zero word that closes its command blocks; the report shows what was read (1 block)"},
        {worked_demo().substr(0, 234), "warning: 'w.bin' ends early, at offset 232, before the zero word that closes its command blocks; the report shows what was read (0 blocks)"},
        {worked_demo().substr(0, 100), "warning: 'w.bin' ends after 100 bytes, inside its header"},
        {cut, "warning: 'w.bin' ends early, at offset 244, before the zero word that closes its command blocks; the view shows what was read (1 block)", outputs::cut_status, true},
        {many_whole, "warning: 'w.bin' has 300 controllers, more than 254; the block tables are left out\ndemo2html: note: wrote", 0},
        {demo_builder::random_demo(20000, 1, 255, 7), "note: wrote the report's stylesheet and icons into 'res' (19 files)\n", 0},
        {demo_builder::random_demo(20001, 1, 255, 7), "note: wrote the report's stylesheet and icons into 'res' (19 files)\ndemo2html: note: 'w.htm' has 20,001 rows; 'demo2html --view w.bin' makes a view that opens at once\n", 0},
    };
    // clang-format on
    for (const warning_case& c : cases) {
        const fs::path folder = test_support::scratch_folder("cli_warn");
        write_file(folder / "w.bin", c.demo);
        const std::string page = c.view ? "w.view.htm" : "w.htm";
        const run_result result =
            run(folder, c.view ? std::vector<std::string>{"--view", "w.bin"} : std::vector<std::string>{"w.bin"}, "");
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.out, done(page));
        EXPECT_NE(result.err.find("demo2html: " + c.piece), std::string::npos) << result.err;
        // A piece that ends a line ends the messages.
        EXPECT_TRUE(!c.piece.ends_with('\n') || result.err.ends_with(c.piece)) << result.err;
        EXPECT_EQ(read_file(folder / page),
                  c.view ? test_support::view_of(c.demo, nullptr, "w.bin") : test_support::render(c.demo));
    }
}

TEST(CliOptions, AnswerWithoutAsking)
{
    struct option_case {
        std::vector<std::string> args;
        std::string out_start;
    };
    const option_case cases[] = {
        {{"--help"}, "Usage: demo2html [OPTION] [DEMO [REPORT]]\n"},
        {{"-h", "demo.bin"}, "Usage: demo2html [OPTION] [DEMO [REPORT]]\n"},
        {{"demo.bin", "--vieww", "--help"}, "Usage: demo2html [OPTION] [DEMO [REPORT]]\n"},
        {{"--version"}, "demo2html " DEMO2HTML_VERSION "\n"},
        {{"demo.bin", "--view", "--version"}, "demo2html " DEMO2HTML_VERSION "\n"},
    };
    for (const option_case& c : cases) {
        const fs::path folder = test_support::scratch_folder("cli_options");
        write_file(folder / "demo.bin", worked_demo());
        const run_result result = run(folder, c.args, "");
        EXPECT_EQ(result.status, 0) << c.args[0];
        EXPECT_EQ(result.out.rfind(c.out_start, 0), 0U) << c.args[0] << "\n" << result.out;
        EXPECT_EQ(result.err, "") << c.args[0];
        EXPECT_FALSE(fs::exists(folder / "demo.htm")) << c.args[0];
    }
}

// ---------------------------------------------------------------- res/

// The files a report shows, as the project keeps them.
std::vector<std::string> resource_names()
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(DEMO2HTML_RES_SOURCE)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

struct resource_case {
    const char* what;
    std::function<void(const fs::path&)> prepare;
    std::vector<std::string> args;
    std::string res;          // where res/ must be complete ("" for nowhere)
    std::string err_piece;    // a piece standard error must hold ("" for empty stderr)
    std::string kept = "";    // a file of res/ that must still hold "mine"
    std::string before = "";  // shell commands before the program
    std::string missing = ""; // a file of res/ that could not be written
    bool new_bits = false;    // res/ and its files have a new folder's and file's bits under umask 022
};

const resource_case resource_cases[] = {
    {"none beside the report: all written",
     nothing,
     {"demo.bin"},
     "res",
     "note: wrote the report's stylesheet "
     "and icons into 'res' (19 files)"},
    {"beside a report in another folder",
     [](const fs::path& f) { fs::create_directory(f / "out"); },
     {"demo.bin", "out/r.htm"},
     "out/res",
     "into 'out/res' (19 files)"},
    {"an existing file is kept",
     [](const fs::path& f) {
         fs::create_directory(f / "res");
         write_file(f / "res" / "pretty.css", "mine");
     },
     {"demo.bin"},
     "res",
     "(18 files)",
     "pretty.css"},
    {"one missing: written, and said in the singular",
     [](const fs::path& f) {
         fs::copy(DEMO2HTML_RES_SOURCE, f / "res");
         fs::remove(f / "res" / "pretty.css");
     },
     {"demo.bin"},
     "res",
     "note: wrote the report's stylesheet and icons into 'res' (1 file)\n"},
    {"all in place: nothing written, nothing said",
     [](const fs::path& f) { fs::copy(DEMO2HTML_RES_SOURCE, f / "res"); },
     {"demo.bin"},
     "res",
     ""},
    {"res is a link to a folder: written into it",
     [](const fs::path& f) {
         fs::create_directory(f / "shared");
         fs::create_directory_symlink("shared", f / "res");
     },
     {"demo.bin"},
     "shared",
     "note: wrote the report's stylesheet and icons into 'res' (19 files)"},
    {"a report to a device: nothing written", test_support::make_devices, {"demo.bin", "null"}, "", ""},
    {"a file larger than the system lets the program write: a warning, the others written",
     nothing,
     {"demo.bin"},
     "res",
     "demo2html: warning: cannot write 'res/pretty.css': File too large; the report shows without it\n"
     "demo2html: note: wrote the report's stylesheet and icons into 'res' (18 files)\n",
     "",
     "ulimit -f 4 && trap '' XFSZ && ",
     "pretty.css"},
    {"under umask 022: the folder 0755, its files 0644",
     nothing,
     {"demo.bin"},
     "res",
     "(19 files)",
     "",
     "umask 022 && ",
     "",
     true},
    {"res is a file: a warning, and the report stands",
     [](const fs::path& f) { write_file(f / "res", "mine"); },
     {"demo.bin"},
     "",
     "warning: cannot write the folder 'res': Not a directory; the report shows without its stylesheet and icons"},
};

void PrintTo(const resource_case& c, std::ostream* os) { *os << c.what; }

class CliResources : public testing::TestWithParam<resource_case> {};

TEST_P(CliResources, AreWrittenBesideTheReportWhereMissing)
{
    const resource_case& c = GetParam();
    const fs::path folder = test_support::scratch_folder("cli_res");
    write_file(folder / "demo.bin", worked_demo());
    c.prepare(folder);
    const run_result result = run(folder, c.args, "", "", c.before);
    EXPECT_EQ(result.status, 0) << result.err;
    if (c.err_piece.empty()) {
        EXPECT_EQ(result.err, "");
    } else {
        EXPECT_NE(result.err.find(c.err_piece), std::string::npos) << result.err;
    }
    if (!c.res.empty()) {
        for (const std::string& name : resource_names()) {
            const std::string expected = name == c.kept      ? "mine"
                                         : name == c.missing ? ""
                                                             : read_file(fs::path(DEMO2HTML_RES_SOURCE) / name);
            EXPECT_EQ(read_file(folder / c.res / name), expected) << name;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(folder / c.res)) {
            EXPECT_TRUE(!c.new_bits || entry.status().permissions() == (rw_r | fs::perms::others_read)) << entry.path();
        }
        EXPECT_TRUE(!c.new_bits || fs::status(folder / c.res).permissions() == (fs::perms::owner_all | rw_r_x_r_x));
        // Nothing else: no part file is left behind.
        EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(folder / c.res), {})),
                  resource_names().size() - (c.missing.empty() ? 0 : 1));
    } else {
        EXPECT_FALSE(fs::is_directory(folder / "res"));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CliResources, testing::ValuesIn(resource_cases));

TEST(CliResourcesAtOnce, RunsIntoOneFolderSideBySideAllSucceed)
{
    const fs::path folder = test_support::scratch_folder("cli_res_at_once");
    std::string command = "cd " + test_support::shell_quoted(folder.string()) + " && for i in 1 2 3 4 5 6; do (" +
                          test_support::shell_quoted(DEMO2HTML_EXE) +
                          " d$i.bin </dev/null >/dev/null 2>&1; echo $? >status$i) & done; wait";
    for (int i = 1; i <= 6; ++i) {
        write_file(folder / std::string("d").append(std::to_string(i)).append(".bin"), worked_demo());
    }
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (int i = 1; i <= 6; ++i) {
        EXPECT_EQ(read_file(folder / std::string("status").append(std::to_string(i))), "0\n") << i;
    }
    for (const std::string& name : resource_names()) {
        EXPECT_EQ(read_file(folder / "res" / name), read_file(fs::path(DEMO2HTML_RES_SOURCE) / name)) << name;
    }
}

// Files of the user's named as a temporary file of the run's could be
// named are never removed, beside the report or in res/.
TEST(CliReplaceKilled, FilesNamedLikeTemporaryOnesAreKept)
{
    const fs::path folder = test_support::scratch_folder("cli_leftovers");
    write_file(folder / "d.demo", worked_demo());
    fs::create_directory(folder / "res");
    const pid_t pid = fork();
    if (pid == 0) {
        // The program keeps the number of the process it replaces.
        const std::string number = std::to_string(getpid());
        write_file(folder / ("r.htm." + number + ".part"), "precious");
        write_file(folder / "res" / ("pretty.css." + number + ".part"), "precious");
        if (chdir(folder.c_str()) == 0 && std::freopen("/dev/null", "w", stdout) != nullptr &&
            std::freopen(".stderr", "w", stderr) != nullptr) {
            execl(DEMO2HTML_EXE, DEMO2HTML_EXE, "d.demo", "r.htm", static_cast<char*>(nullptr));
        }
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(folder / "r.htm"), test_support::render(worked_demo()));
    EXPECT_EQ(read_file(folder / ".stderr"), res_note);
    const std::string part = "r.htm." + std::to_string(pid) + ".part";
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"d.demo", "r.htm", part, "res"}));
    EXPECT_EQ(read_file(folder / part), "precious");
    EXPECT_EQ(read_file(folder / "res" / ("pretty.css." + std::to_string(pid) + ".part")), "precious");
    EXPECT_EQ(names_in(folder / "res").size(), resource_names().size() + 1);
}

// Many demos in one run under a small limit of open files: each demo is
// closed when it is done with, converted, refused or named again.
TEST(CliNamesMany, LeaveNoDemoOpen)
{
    const fs::path folder = test_support::scratch_folder("cli_many");
    std::vector<std::string> names;
    std::string err;
    std::string out;
    for (int i = 0; i < 30; ++i) {
        const std::string name = std::string("d").append(std::to_string(i));
        write_file(folder / (name + ".demo"), worked_demo());
        names.push_back(name + ".demo");
        if (i % 2 == 0) {
            fs::create_directory(folder / (name + ".htm")); // its report cannot be opened
            err += "demo2html: cannot open '" + name + ".htm' for writing: Is a directory\n";
        } else {
            err += i == 1 ? res_note : ""; // with the first report written
            out += done(name + ".htm");
        }
    }
    const std::vector<std::string> once = names;
    names.insert(names.end(), once.begin(), once.end()); // every demo named twice
    const run_result result = run(folder, names, "", "", "ulimit -n 16 && ");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, err);
}

// ---------------------------------------------------------------- prompts on pipes

// Runs demo2html with both standard streams on pipes, as a script that drives
// its prompts does: the answer is sent only once the prompt has arrived.
// True when it arrived within five seconds.
bool prompt_arrives_before_the_answer(const fs::path& folder, const std::vector<std::string>& args,
                                      const std::string& prompt, const std::string& answer)
{
    int to_program[2];
    int from_program[2];
    if (pipe(to_program) != 0 || pipe(from_program) != 0) {
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(to_program[0], STDIN_FILENO);
        dup2(from_program[1], STDOUT_FILENO);
        for (const int fd : {to_program[0], to_program[1], from_program[0], from_program[1]}) {
            close(fd);
        }
        std::vector<std::string> argv_strings = {DEMO2HTML_EXE};
        argv_strings.insert(argv_strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : argv_strings) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (chdir(folder.c_str()) == 0 && std::freopen("/dev/null", "w", stderr) != nullptr) {
            execv(DEMO2HTML_EXE, argv.data());
        }
        _exit(127);
    }
    close(to_program[0]);
    close(from_program[1]);
    std::string seen;
    pollfd ready{from_program[0], POLLIN, 0};
    std::array<char, 256> chunk{};
    while (seen.find(prompt) == std::string::npos && poll(&ready, 1, 5000) > 0) {
        const ssize_t n = read(from_program[0], chunk.data(), chunk.size());
        if (n <= 0) {
            break;
        }
        seen.append(chunk.data(), static_cast<std::size_t>(n));
    }
    const bool arrived = seen.find(prompt) != std::string::npos;
    EXPECT_EQ(write(to_program[1], answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
    close(to_program[1]);
    while (read(from_program[0], chunk.data(), chunk.size()) > 0) {
    }
    close(from_program[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return arrived;
}

TEST(CliPrompts, ReachAPipeBeforeTheAnswerIsRead)
{
    struct prompt_case {
        std::vector<std::string> args;
        std::string prompt;
        std::string answer;
    };
    const prompt_case cases[] = {
        {{}, demo_prompt, "demo.bin\n"},
    };
    for (const prompt_case& c : cases) {
        const fs::path folder = test_support::scratch_folder("cli_pipe");
        write_file(folder / "demo.bin", worked_demo());
        EXPECT_TRUE(prompt_arrives_before_the_answer(folder, c.args, c.prompt, c.answer)) << c.prompt;
    }
}

} // namespace
