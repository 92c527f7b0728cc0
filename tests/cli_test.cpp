// The executable end to end, in a scratch folder, with standard input piped.
#include "cli_support.h"
#include "demo_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

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
};

void nothing(const fs::path&) {}

void demo_as(const fs::path& folder, const std::string& name) { write_file(folder / name, worked_demo()); }

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
        {cut, "warning: 'w.bin' ends early, at offset 244, before the zero word that closes its command blocks; "
              "the report shows what was read (1 block)"},
        {worked_demo().substr(0, 234),
         "warning: 'w.bin' ends early, at offset 232, before the zero word that closes its command "
         "blocks; the report shows what was read (0 blocks)"},
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

TEST(CliOptions, AnswerWithoutAsking)
{
    struct option_case {
        std::vector<std::string> args;
        std::string out_start;
    };
    const option_case cases[] = {
        {{"--help"}, "Usage: demo2html [DEMO [REPORT]]\n"},
        {{"-h", "demo.bin"}, "Usage: demo2html [DEMO [REPORT]]\n"},
        {{"--version"}, "demo2html " DEMO2HTML_VERSION "\n"},
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
    std::string res;       // where res/ must be complete ("" for nowhere)
    std::string err_piece; // a piece standard error must hold ("" for empty stderr)
    std::string kept = ""; // a file of res/ that must still hold "mine"
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
    {"all in place: nothing written, nothing said",
     [](const fs::path& f) { fs::copy(DEMO2HTML_RES_SOURCE, f / "res"); },
     {"demo.bin"},
     "res",
     ""},
    {"a report to a device: nothing written", nothing, {"demo.bin", "/dev/null"}, "", ""},
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
    const run_result result = run(folder, c.args, "");
    EXPECT_EQ(result.status, 0) << result.err;
    if (c.err_piece.empty()) {
        EXPECT_EQ(result.err, "");
    } else {
        EXPECT_NE(result.err.find(c.err_piece), std::string::npos) << result.err;
    }
    if (!c.res.empty()) {
        for (const std::string& name : resource_names()) {
            const std::string expected = name == c.kept ? "mine" : read_file(fs::path(DEMO2HTML_RES_SOURCE) / name);
            EXPECT_EQ(read_file(folder / c.res / name), expected) << name;
        }
        // Nothing else: no part file is left behind.
        EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(folder / c.res), {})),
                  resource_names().size());
    } else {
        EXPECT_FALSE(fs::is_directory(folder / "res"));
        EXPECT_FALSE(fs::exists("/dev/res"));
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
        {{"demo.bin", "no/such/r.htm"}, report_prompt, "out.htm\n"},
    };
    for (const prompt_case& c : cases) {
        const fs::path folder = test_support::scratch_folder("cli_pipe");
        write_file(folder / "demo.bin", worked_demo());
        EXPECT_TRUE(prompt_arrives_before_the_answer(folder, c.args, c.prompt, c.answer)) << c.prompt;
    }
}

} // namespace
