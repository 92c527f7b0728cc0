// The executable end to end, in a scratch folder, with standard input piped.
#include "cli_support.h"
#include "demo_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
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
};

void nothing(const fs::path&) {}

void demo_as(const fs::path& folder, const std::string& name) { write_file(folder / name, worked_demo()); }

const cli_case cli_cases[] = {
    {"demo named on the command line", nothing, {"demo.bin"}, "", 0, done("demo.htm"), "", "demo.htm"},
    {"second argument names the report", nothing, {"demo.bin", "out.html"}, "", 0, done("out.html"), "", "out.html"},
    {"further arguments are ignored",
     nothing,
     {"demo.bin", "out.html", "more"},
     "",
     0,
     done("out.html"),
     "",
     "out.html"},
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
    {"second argument repeats the first",
     nothing,
     {"demo.bin", "demo.bin"},
     "y.htm\n",
     0,
     report_prompt + done("y.htm"),
     "will not write the report to 'demo.bin'",
     "y.htm"},
    {"second argument reaches the demo through ./",
     nothing,
     {"demo.bin", "./demo.bin"},
     "y.htm\n",
     0,
     report_prompt + done("y.htm"),
     "will not write the report to './demo.bin'",
     "y.htm"},
    {"second argument is a hard link to the demo",
     [](const fs::path& f) { fs::create_hard_link(f / "demo.bin", f / "hard.htm"); },
     {"demo.bin", "hard.htm"},
     "y.htm\n",
     0,
     report_prompt + done("y.htm"),
     "will not write the report to 'hard.htm'",
     "y.htm"},
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
     nothing,
     {"demo.bin", "demo.bin"},
     "",
     1,
     report_prompt,
     "no report name given: standard input ended",
     ""},
    {"input ends after a report name that will not open",
     nothing,
     {"demo.bin", "no/such/r.htm"},
     "no/such/s.htm\n",
     1,
     report_prompt + report_prompt,
     "no report name given: standard input ended",
     ""},
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
    {"/dev/full typed at the report prompt",
     nothing,
     {"demo.bin", "no/such/r.htm"},
     "/dev/full\n",
     1,
     report_prompt,
     "cannot write the report '/dev/full': No space left on device",
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

    const run_result result = run(folder, c.args, c.input);
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
}

INSTANTIATE_TEST_SUITE_P(Cases, Cli, testing::ValuesIn(cli_cases));

TEST(CliFailures, ReportThatCannotBeWrittenIsNoSuccess)
{
    const fs::path folder = test_support::scratch_folder("cli_full");
    write_file(folder / "demo.bin", worked_demo());
    const run_result result = run(folder, {"demo.bin", "/dev/full"}, "");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("demo2html: cannot write the report '/dev/full': No space left on device"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(read_file(folder / "demo.bin"), worked_demo());
}

TEST(CliFailures, CompletionMessageThatCannotBeWrittenIsNoSuccess)
{
    const fs::path folder = test_support::scratch_folder("cli_stdout_full");
    write_file(folder / "demo.bin", worked_demo());
    const run_result result = run(folder, {"demo.bin"}, "", "/dev/full");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("cannot write to standard output"), std::string::npos) << result.err;
}

TEST(CliWarnings, NameWhatTheReportLeavesOut)
{
    struct warning_case {
        std::string demo;
        std::string piece;
    };
    demo_builder::header_fields many;
    many.controllers = 300;
    const std::string cut = worked_demo().substr(0, worked_demo().size() - 9);
    const warning_case cases[] = {
        {demo_builder::header(many) + std::string(4, '\0'),
         "warning: 'w.bin' has 300 controllers, more than 254; the block tables are left out"},
        {cut, "warning: 'w.bin' ends early, at offset 244, before the zero word that closes its command blocks"},
        {worked_demo().substr(0, 100), "warning: 'w.bin' ends after 100 bytes, inside its header"},
    };
    for (const warning_case& c : cases) {
        const fs::path folder = test_support::scratch_folder("cli_warn");
        write_file(folder / "w.bin", c.demo);
        const run_result result = run(folder, {"w.bin"}, "");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, done("w.htm"));
        EXPECT_NE(result.err.find("demo2html: " + c.piece), std::string::npos) << result.err;
        EXPECT_EQ(read_file(folder / "w.htm"), test_support::render(c.demo));
    }
}

TEST(CliResources, MissingStylesheetIsPointedOut)
{
    const fs::path folder = test_support::scratch_folder("cli_res");
    write_file(folder / "demo.bin", worked_demo());
    EXPECT_NE(run(folder, {"demo.bin"}, "").err.find("note: no res/pretty.css beside 'demo.htm'"), std::string::npos);
    fs::create_directory(folder / "res");
    write_file(folder / "res" / "pretty.css", "");
    EXPECT_EQ(run(folder, {"demo.bin"}, "").err, "");
}

} // namespace
