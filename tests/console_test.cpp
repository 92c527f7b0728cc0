#include "console.h"
#include "demo_builder.h"
#include "files.h"
#include "new_file.h"
#include "outputs.h"
#include "resources.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

TEST(ReportName, IsDerivedFromTheDemosFileName)
{
    struct name_case {
        const char* demo;
        const char* report;
        std::string_view separators = "/";
    };
    const name_case cases[] = {
        {"demo.bin", "demo.htm"},
        {"demo", "demo.htm"},
        {"a.b.c", "a.htm"},
        {".\\demo.bin", ".\\demo.htm"},
        {"..\\demo.bin", "..\\demo.htm"},
        {"./demo.bin", "./demo.htm"},
        {"../demo.bin", "../demo.htm"},
        {"old.runs/demo.bin", "old.runs/demo.htm"},
        {"../../mydemos/run1.demo", "../../mydemos/run1.htm"},
        {".hidden/run.demo", ".hidden/run.htm"},
        {"/abs/john.doe/..x.y", "/abs/john.doe/..x.htm"},
        {"Z:\\Users\\john.doe\\Downloads\\run.demo", "Z:\\Users\\john.doe\\Downloads\\run.htm", "/\\:"},
        {"C:run.demo", "C:run.htm", "/\\:"},
        {"old.runs\\demo.bin", "old.runs\\demo.htm", "/\\:"},
        {"...", "....htm"},
        {".hidden", ".hidden.htm"},
        {"x.htm", "x.htm"},
        {"demo.", "demo.htm"},
        {"", ".htm"},
    };
    for (const name_case& c : cases) {
        EXPECT_EQ(console::report_name_for(c.demo, c.separators), c.report) << c.demo;
    }
    const std::string long_name(5000, 'n');
    EXPECT_EQ(console::report_name_for(long_name + ".bin"), long_name + ".htm");
}

TEST(Unquoted, TakesOffOnePairOfQuotes)
{
    struct quote_case {
        const char* typed;
        std::optional<std::string> inner;
    };
    const quote_case cases[] = {
        {"\"C:\\demos\\run.demo\"", "C:\\demos\\run.demo"},
        {"'/home/me/run.demo' ", "/home/me/run.demo"},
        {"'a b'   ", "a b"},
        {"\"'x'\"", "'x'"},
        {"''", ""},
        {"plain", std::nullopt},
        {"'half", std::nullopt},
        {"\"mixed'", std::nullopt},
        {"'", std::nullopt},
        {" 'lead'", std::nullopt},
    };
    for (const quote_case& c : cases) {
        EXPECT_EQ(console::unquoted(c.typed), c.inner) << c.typed;
    }
}

// Each name as the note shows it, and what the shell makes of that.
TEST(ShellQuoted, GivesTheNameBackThroughTheShell)
{
    struct shell_case {
        const char* name;
        const char* quoted;
    };
    // clang-format off
    const shell_case cases[] = {
        {"runs/dam.demo", "runs/dam.demo"},
        {"my run.demo", "\"my run.demo\""},
        {"-x.demo", "./-x.demo"},
        {"it's.demo", "\"it's.demo\""},
        {"$HOME`x`.demo", "'$HOME`x`.demo'"},
        {"a'b\\c\"!.demo", "'a'\\''b\\c\"!.demo'"},
        {"", "\"\""},
        {"*.demo", "\"*.demo\""},
    };
    // clang-format on
    for (const shell_case& c : cases) {
        const std::string quoted = console::shell_quoted(c.name);
        EXPECT_EQ(quoted, c.quoted) << c.name;
        std::FILE* shell = popen(("printf %s " + quoted).c_str(), "r");
        ASSERT_NE(shell, nullptr);
        std::string back;
        console::read_line(shell, back);
        pclose(shell);
        EXPECT_EQ(back, std::string(c.name).starts_with('-') ? std::string("./") + c.name : std::string(c.name));
    }
}

TEST(ReadLine, TakesOneLineWithoutItsEnd)
{
    struct line_case {
        std::string input;
        std::vector<std::string> lines; // what successive reads give before the input ends
    };
    const line_case cases[] = {
        {"", {}},
        {"\n", {""}},
        {"abc\n", {"abc"}},
        {"abc\r\ndef\n", {"abc", "def"}},
        {"no end", {"no end"}},
        {"a b\t c\n\nd", {"a b\t c", "", "d"}},
        {std::string(10000, 'x') + "\nshort\n", {std::string(10000, 'x'), "short"}},
    };
    const std::filesystem::path folder = test_support::scratch_folder("read_line");
    for (const line_case& c : cases) {
        test_support::write_file(folder / "input", c.input);
        std::FILE* in = std::fopen((folder / "input").string().c_str(), "rb");
        ASSERT_NE(in, nullptr);
        std::vector<std::string> lines;
        std::string line;
        while (console::read_line(in, line)) {
            lines.push_back(line);
        }
        std::fclose(in);
        EXPECT_EQ(lines, c.lines) << c.input.substr(0, 40);
    }
}

// True when `name` reaches the file open as `file`.
bool same_file(std::FILE* file, const std::string& name)
{
    const files::status open = files::look(file);
    const files::status named = files::look(name);
    return open.error == 0 && named.what != files::kind::missing && open.id == named.id;
}

TEST(SameFile, SeesThroughPathsAndLinks)
{
    namespace fs = std::filesystem;
    const fs::path folder = test_support::scratch_folder("same_file");
    test_support::write_file(folder / "x.htm", "demo");
    test_support::write_file(folder / "other.htm", "other");
    fs::create_hard_link(folder / "x.htm", folder / "hard.htm");
    fs::create_symlink(folder / "x.htm", folder / "soft.htm");
    fs::create_directories(folder / "sub");

    int error = 0;
    std::FILE* demo = files::open_demo((folder / "x.htm").string(), error);
    ASSERT_NE(demo, nullptr);
    struct same_case {
        fs::path name;
        bool same;
    };
    const same_case cases[] = {
        {folder / "x.htm", true},        {folder / "." / "x.htm", true}, {folder / "sub" / ".." / "x.htm", true},
        {folder / "hard.htm", true},     {folder / "soft.htm", true},    {folder / "other.htm", false},
        {folder / "missing.htm", false}, {folder / "sub", false},
    };
    for (const same_case& c : cases) {
        EXPECT_EQ(same_file(demo, c.name.string()), c.same) << c.name;
    }
    std::fclose(demo);
}

TEST(OpenDemo, RefusesFoldersAndMissingFiles)
{
    const std::filesystem::path folder = test_support::scratch_folder("open_demo");
    const std::size_t descriptors = test_support::open_descriptors();
    int error = 0;
    EXPECT_EQ(files::open_demo(folder.string(), error), nullptr);
    EXPECT_EQ(error, EISDIR);
    EXPECT_EQ(files::open_demo((folder / "missing").string(), error), nullptr);
    EXPECT_EQ(error, ENOENT);
    // Through missing folders too long a way for one call.
    std::string deep_missing = folder.string();
    while (deep_missing.size() < 5000) {
        deep_missing += "/" + std::string(200, 'm');
    }
    EXPECT_EQ(files::open_demo(deep_missing, error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(test_support::open_descriptors(), descriptors) << "a refused open left a descriptor";
}

TEST(WriteNewFile, NeverReplacesAndLeavesNoPart)
{
    namespace fs = std::filesystem;
    const fs::path folder = test_support::scratch_folder("write_new");
    test_support::write_file(folder / "taken", "mine");
    fs::create_symlink(folder / "nowhere", folder / "dangling");
    struct new_file_case {
        const char* name;
        files::failing_calls fail;
        int error;
        const char* bytes_after; // nullptr where nothing may exist
    };
    const new_file_case cases[] = {
        {"free", {}, 0, "new"},
        {"taken", {}, EEXIST, "mine"},
        {"dangling", {}, EEXIST, nullptr},
        {"missing/free", {}, ENOENT, nullptr},
        {"no link made", {.link = EPERM}, EPERM, nullptr},
        {"taken by another run in the meantime", {.link = EEXIST}, EEXIST, nullptr},
        {"what the name holds cannot be told", {.look = EACCES}, EACCES, nullptr},
        {"no temporary file in the folder", {.temporary = EROFS}, EROFS, nullptr},
    };
    const std::vector<unsigned char> bytes = {'n', 'e', 'w'};
    for (const new_file_case& c : cases) {
        files::calls_to_fail() = c.fail;
        EXPECT_EQ(new_file::write((folder / c.name).string(), bytes), c.error) << c.name;
        files::calls_to_fail() = {};
        EXPECT_EQ(test_support::read_file(folder / c.name), c.bytes_after != nullptr ? c.bytes_after : "") << c.name;
    }
    EXPECT_FALSE(fs::exists(folder / "nowhere")) << "a link was followed";
    // The folder holds the names given that were written, and no part file.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 3);
}

// ---------------------------------------------------------------- the rules, in the library

// A console that keeps what the run told and showed, each line prefixed
// with what it was: "error: ", "warning: ", "note: ", "out: " or "err: ".
struct recorded_console {
    std::vector<std::string> lines;
    outputs::console_side side()
    {
        return {[this](outputs::message kind, const std::string& text) {
                    static constexpr const char* kinds[] = {"error: ", "warning: ", "note: "};
                    lines.push_back(kinds[static_cast<int>(kind)] + text);
                },
                [this](outputs::channel where, const std::string& text) {
                    lines.push_back((where == outputs::channel::output ? "out: " : "err: ") + text);
                },
                [](std::string&) { return false; }};
    }
};

const std::string& worked_demo()
{
    static const std::string bytes = demo_builder::shapes().front().second;
    return bytes;
}

const std::string done_r = "out: \n\nAll done.  Demo is broken down in r.htm.\n";

struct rule_case {
    const char* what;
    files::failing_calls fail;
    const char* before; // what r.htm holds before the run; nullptr for nothing
    int status;
    std::vector<std::string> lines; // what the console was told, in order
    bool new_report;                // r.htm holds the new report, else what it held before
    std::string name = "r.htm";     // the report's name given: r.htm, or a link to it
    const char* link_to = "r.htm";  // what that link points to
    void (*prepare)() = nullptr;    // files of another user's, made beforehand
    // Files beside, each with what it holds afterwards (nullptr: the new
    // report), and every name in the folder afterwards where it differs.
    std::vector<std::pair<std::string, const char*>> others = {};
    std::vector<std::string> files = {};
};

// What another user, or a signal, does in the folder meanwhile.
void notes() { test_support::write_file("notes.txt", "mine"); }

void link_report_to_notes()
{
    notes();
    std::filesystem::remove("r.htm");
    std::filesystem::create_symlink("notes.txt", "r.htm");
}

// The same file as the notes, by a second name: no link for the open to refuse.
void hard_link_report_to_notes()
{
    notes();
    std::filesystem::remove("r.htm");
    std::filesystem::create_hard_link("notes.txt", "r.htm");
}

void flip_link_to_notes()
{
    notes();
    std::filesystem::remove("l.htm");
    std::filesystem::create_symlink("notes.txt", "l.htm");
}

void another_runs_report()
{
    if (test_support::read_file("r.htm") == "<HTML>\nanother run's") {
        return; // once
    }
    test_support::write_file("other.tmp", "<HTML>\nanother run's");
    std::filesystem::rename("other.tmp", "r.htm");
}

void a_null_device()
{
    if (mknod("null", S_IFCHR | 0666, makedev(1U, 3U)) != 0) {
        std::filesystem::create_symlink("/dev/null", "null");
    }
}

void team_and_site()
{
    std::filesystem::create_directories("team");
    std::filesystem::create_directories("site");
    test_support::write_file("team/r.htm", "<HTML>\nearlier");
    test_support::write_file("site/r.htm", "mine");
}

void team_swapped_for_site()
{
    std::filesystem::rename("team", "team.old");
    std::filesystem::create_directory_symlink("site", "team");
}

// The mode of the named temporary file, as it is written.
void temporary_mode()
{
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(".")) {
        if (entry.path().extension() == ".tmp") {
            struct stat info {};
            stat(entry.path().c_str(), &info);
            test_support::write_file("mode", std::to_string(info.st_mode & 07777U));
        }
    }
}

void a_subfolder() { std::filesystem::create_directory("sub"); }

void no_res() { std::filesystem::remove_all("res"); }

const std::string long_earlier = "<HTML>\n" + std::string(300000, 'x');
const std::string changed = "error: 'r.htm' changed while it was written; left as it is";

// clang-format off
const rule_case rule_cases[] = {
    {"a free name", {}, nullptr, 0, {done_r}, true},
    {"an earlier report", {}, "<HTML>\nearlier", 0, {done_r}, true},
    {"the rename over the earlier report fails", {.rename = EPERM}, "<HTML>\nearlier", 1, {"error: cannot write the report 'r.htm': Operation not permitted; 'r.htm' is left as it was"}, false},
    {"what the name holds cannot be told: refused", {.look = EACCES}, "<HTML>\nearlier", 1, {"error: cannot open 'r.htm' for writing: Permission denied"}, false},
    {"through a link: the file it reaches replaced, the link kept", {}, "<HTML>\nearlier", 0, {"out: \n\nAll done.  Demo is broken down in l.htm.\n"}, true, "l.htm"},
    {"no nameless files: a named temporary file, named", {.nameless = EOPNOTSUPP}, nullptr, 0, {done_r}, true},
    {"no nameless files: a named temporary file, renamed over the earlier report", {.nameless = EOPNOTSUPP}, "<HTML>\nearlier", 0, {done_r}, true},
    {"no nameless files, no hard links: renamed onto the free name", {.link = EPERM, .nameless = EOPNOTSUPP}, nullptr, 0, {done_r}, true},
    {"no nameless files, the rename fails: the named temporary file removed", {.rename = EIO, .nameless = EOPNOTSUPP}, "<HTML>\nearlier", 1, {"error: cannot write the report 'r.htm': Input/output error; 'r.htm' is left as it was"}, false},
    {"the file cannot be read to tell: refused", {.read = EACCES}, "<HTML>\nearlier", 1, {"error: will not replace 'r.htm': cannot tell whether it is a report: Permission denied"}, false},
    {"no new file in the folder: written in place, with a note", {.temporary = EACCES}, "<HTML>\nearlier", 0, {"note: cannot make a temporary file in '.': Permission denied; 'r.htm' is written in place", done_r}, true},
    {"no new file in the folder and no file to write in place", {.temporary = EACCES}, nullptr, 1, {"error: cannot make a temporary file in '.' for 'r.htm': Permission denied; 'r.htm' is not written"}, false},
    {"a read-only folder: no silent fallback", {.temporary = EROFS}, "<HTML>\nearlier", 1, {"error: cannot make a temporary file in '.' for 'r.htm': Read-only file system; 'r.htm' is left as it was"}, false},
    {"no new file in the folder by EPERM: written in place, with a note", {.temporary = EPERM}, "<HTML>\nearlier", 0, {"note: cannot make a temporary file in '.': Operation not permitted; 'r.htm' is written in place", done_r}, true},
    {"written in place over a longer file: nothing of its tail left", {.temporary = EACCES}, long_earlier.c_str(), 0, {"note: cannot make a temporary file in '.': Permission denied; 'r.htm' is written in place", done_r}, true},
    {"the report swapped for a link to the user's notes after the look: refused, the notes kept", {.after_look = link_report_to_notes}, "<HTML>\nearlier", 1, {changed}, false, "r.htm", "r.htm", nullptr, {{"r.htm", "mine"}, {"notes.txt", "mine"}}, {"d.demo", "notes.txt", "r.htm", "res"}},
    {"swapped for the notes' second name before it is written in place: refused, the notes kept", {.temporary = EACCES, .before_change = hard_link_report_to_notes}, "<HTML>\nearlier", 1, {changed}, false, "r.htm", "r.htm", nullptr, {{"r.htm", "mine"}, {"notes.txt", "mine"}}, {"d.demo", "notes.txt", "r.htm", "res"}},
    {"swapped so before it is written in place: refused, the notes kept", {.temporary = EACCES, .before_change = link_report_to_notes}, "<HTML>\nearlier", 1, {changed}, false, "r.htm", "r.htm", nullptr, {{"r.htm", "mine"}, {"notes.txt", "mine"}}, {"d.demo", "notes.txt", "r.htm", "res"}},
    {"swapped so before the rename: refused, the notes kept, nothing left", {.before_change = link_report_to_notes}, "<HTML>\nearlier", 1, {changed}, false, "r.htm", "r.htm", nullptr, {{"r.htm", "mine"}, {"notes.txt", "mine"}}, {"d.demo", "notes.txt", "r.htm", "res"}},
    {"a link to the notes at the free name before it is taken: refused, the notes kept", {.before_change = link_report_to_notes}, nullptr, 1, {changed}, false, "r.htm", "r.htm", nullptr, {{"r.htm", "mine"}, {"notes.txt", "mine"}}, {"d.demo", "notes.txt", "r.htm", "res"}},
    {"another run's report at the name before the rename: replaced", {.before_change = another_runs_report}, "<HTML>\nearlier", 0, {done_r}, true},
    {"a link flipped from a device to the notes after the look: the device written, the notes kept", {.after_look = flip_link_to_notes}, nullptr, 0, {"out: \n\nAll done.  Demo is broken down in l.htm.\n"}, false, "l.htm", "null", a_null_device, {{"notes.txt", "mine"}}, {"d.demo", "l.htm", "notes.txt", "null", "res"}},
    {"a link flipped from the report to the notes after the look: the report looked at replaced", {.after_look = flip_link_to_notes}, "<HTML>\nearlier", 0, {"out: \n\nAll done.  Demo is broken down in l.htm.\n"}, true, "l.htm", "r.htm", nullptr, {{"notes.txt", "mine"}}, {"d.demo", "l.htm", "notes.txt", "r.htm", "res"}},
    {"the report's folder swapped for a link to another after the look: written in the folder looked at", {.after_look = team_swapped_for_site}, nullptr, 0, {"note: wrote the report's stylesheet and icons into 'team/res' (19 files)", "out: \n\nAll done.  Demo is broken down in team/r.htm.\n"}, false, "team/r.htm", nullptr, team_and_site, {{"site/r.htm", "mine"}, {"team.old/r.htm", nullptr}}, {"d.demo", "res", "site", "team", "team.old"}},
    {"no temporary file in the name's folder: that folder named", {.temporary = EROFS}, nullptr, 1, {"error: cannot make a temporary file in 'sub/' for 'sub/r.htm': Read-only file system; 'sub/r.htm' is not written"}, false, "sub/r.htm", nullptr, a_subfolder, {}, {"d.demo", "res", "sub"}},
    {"written in place: its res/ beside it, as far as the folder takes new files", {.temporary = EACCES}, "<HTML>\nearlier", 0, {"note: cannot make a temporary file in '.': Permission denied; 'r.htm' is written in place", "warning: cannot write the folder 'res': Permission denied; the report shows without its stylesheet and icons", done_r}, true, "r.htm", "r.htm", no_res},
    {"no nameless files: the named temporary file is open to its owner alone", {.nameless = EOPNOTSUPP, .before_change = temporary_mode}, nullptr, 0, {done_r}, true, "r.htm", "r.htm", nullptr, {{"mode", "384"}}, {"d.demo", "mode", "r.htm", "res"}},
};
// clang-format on

void PrintTo(const rule_case& c, std::ostream* os) { *os << c.what; }

class Rules : public testing::TestWithParam<rule_case> {};

// The rules over one demo and its report, run in the library: what the
// console is told, what the report's name holds afterwards, and that the
// folder holds nothing else.
TEST_P(Rules, DecideWhatTheReportReplaces)
{
    namespace fs = std::filesystem;
    const rule_case& c = GetParam();
    const fs::path folder = test_support::scratch_folder("rules");
    const fs::path start = fs::current_path();
    fs::current_path(folder);
    test_support::write_file("d.demo", worked_demo());
    // res/ in place already, so that the rows are about the report alone.
    fs::create_directory("res");
    for (const resources::file& f : resources::built_in()) {
        test_support::write_file(fs::path("res") / f.name, std::string(f.bytes.begin(), f.bytes.end()));
    }
    if (c.before != nullptr) {
        test_support::write_file("r.htm", c.before);
    }
    if (c.prepare != nullptr) {
        c.prepare();
    }
    if (c.link_to != nullptr && c.name != "r.htm") {
        fs::create_symlink(c.link_to, c.name);
    }
    recorded_console console;
    const std::size_t descriptors = test_support::open_descriptors();
    files::calls_to_fail() = c.fail;
    const int status = outputs::convert({{"d.demo", c.name}, false}, console.side());
    files::calls_to_fail() = {};
    EXPECT_EQ(test_support::open_descriptors(), descriptors) << "a descriptor was left open";
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(console.lines, c.lines);
    const std::string expected = c.new_report          ? test_support::render(worked_demo())
                                 : c.before != nullptr ? c.before
                                                       : "";
    if (std::none_of(c.others.begin(), c.others.end(), [](const auto& other) { return other.first == "r.htm"; })) {
        EXPECT_EQ(test_support::read_file("r.htm"), expected);
    }
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> after = {"d.demo"};
    if (c.name != "r.htm") {
        after.push_back(c.name);
    }
    if (c.before != nullptr || c.new_report) {
        after.push_back("r.htm");
    }
    after.push_back("res");
    EXPECT_EQ(names, c.files.empty() ? after : c.files) << "a temporary file is left, or a file is missing";
    for (const auto& [name, holds] : c.others) {
        EXPECT_EQ(test_support::read_file(name), holds != nullptr ? holds : test_support::render(worked_demo()))
            << name;
    }
    fs::current_path(start);
}

INSTANTIATE_TEST_SUITE_P(Cases, Rules, testing::ValuesIn(rule_cases));

void interrupt_now() { std::raise(SIGINT); }

// A signal that comes while the report takes its name waits for the naming
// to end, so the line it tells says what became of the name.
TEST(Interrupts, AtTheNamingTellWhatBecameOfTheName)
{
    namespace fs = std::filesystem;
    struct interrupt_case {
        files::failing_calls fail;
        const char* before; // what r.htm holds before the run; nullptr for nothing
        std::string err;
        bool new_report;
    };
    const std::string written = "demo2html: interrupted; 'r.htm' is written, its res/ may be incomplete\n";
    // clang-format off
    const interrupt_case cases[] = {
        {{.before_change = interrupt_now}, "<HTML>\nearlier", written, true},
        {{.before_change = interrupt_now}, nullptr, written, true},
        {{.rename = EIO, .before_change = interrupt_now}, "<HTML>\nearlier", "demo2html: interrupted; 'r.htm' is left as it was\n", false},
        {{.link = EIO, .before_change = interrupt_now}, nullptr, "demo2html: interrupted; 'r.htm' is not written\n", false},
    };
    // clang-format on
    for (const interrupt_case& c : cases) {
        const fs::path folder = test_support::scratch_folder("interrupts");
        test_support::write_file(folder / "d.demo", worked_demo());
        if (c.before != nullptr) {
            test_support::write_file(folder / "r.htm", c.before);
        }
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(folder.c_str()) == 0 && std::freopen("err", "w", stderr) != nullptr) {
                recorded_console console;
                files::calls_to_fail() = c.fail;
                outputs::convert({{"d.demo", "r.htm"}, false}, console.side());
            }
            _exit(1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130) << c.err;
        EXPECT_EQ(test_support::read_file(folder / "err"), c.err);
        const std::string kept = c.before != nullptr ? c.before : "";
        EXPECT_EQ(test_support::read_file(folder / "r.htm"), c.new_report ? test_support::render(worked_demo()) : kept);
        const bool named = c.new_report || c.before != nullptr;
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), named ? 3 : 2) << c.err;
    }
}

// What a name holds, without waiting on a pipe and without leaving a
// descriptor open.
TEST(Look, TellsWhatANameHoldsAndItsFirstBytes)
{
    namespace fs = std::filesystem;
    const fs::path folder = test_support::scratch_folder("look_at");
    test_support::write_file(folder / "report.htm", "<HTML>\n<HEAD>");
    test_support::write_file(folder / "empty", "");
    fs::create_symlink("report.htm", folder / "link");
    fs::create_symlink("nowhere", folder / "dangling");
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    struct look_case {
        const char* name;
        files::kind what;
        bool link;
        std::uint64_t size;
        int read_error;
        std::string start;
    };
    // clang-format off
    const look_case cases[] = {
        {"report.htm", files::kind::regular, false, 13, 0, "<HTML>\n<"},
        {"link", files::kind::regular, true, 13, 0, "<HTML>\n<"},
        {"empty", files::kind::regular, false, 0, 0, ""},
        {"missing", files::kind::missing, false, 0, ENOENT, ""},
        {"dangling", files::kind::missing, true, 0, ENOENT, ""},
        {"pipe", files::kind::other, false, 0, EINVAL, ""},
        {".", files::kind::folder, false, 4096, EINVAL, ""},
    };
    // clang-format on
    const std::size_t descriptors = test_support::open_descriptors();
    for (const look_case& c : cases) {
        const files::status seen = files::look((folder / c.name).string());
        EXPECT_EQ(seen.error, 0) << c.name;
        EXPECT_EQ(seen.what, c.what) << c.name;
        EXPECT_EQ(seen.link, c.link) << c.name;
        if (c.what == files::kind::regular) {
            EXPECT_EQ(seen.size, c.size) << c.name;
        }
        std::string start;
        EXPECT_EQ(files::read_start((folder / c.name).string(), 8, start), c.read_error) << c.name;
        EXPECT_EQ(start, c.start) << c.name;
    }
    EXPECT_EQ(test_support::open_descriptors(), descriptors);
}

std::string doubled_slashes(const std::string& name)
{
    std::string doubled;
    for (const char c : name) {
        doubled += c == '/' ? "//" : std::string(1, c);
    }
    return doubled;
}

// A path longer than one system call takes still opens, folder by folder,
// relative or absolute, with doubled slashes, and leaves no folder open.
TEST(OpenDemo, TakesNamesLongerThanThePathLimit)
{
    namespace fs = std::filesystem;
    const fs::path folder = test_support::scratch_folder("long_names");
    const fs::path start = fs::current_path();
    // Made one folder at a time: no single call may take the whole path.
    fs::current_path(folder);
    std::string deep;
    while (deep.size() < 5000) {
        const std::string part(200, static_cast<char>('a' + deep.size() % 26));
        fs::create_directory(part);
        fs::current_path(part);
        deep += part + "/";
    }
    fs::current_path(folder);
    const std::string absolute = folder.string() + "/" + deep;
    const std::string names[] = {deep, absolute, doubled_slashes(deep),
                                 std::string("/").append(doubled_slashes(absolute))};

    const std::vector<unsigned char> bytes = {'n', 'e', 'w'};
    for (const std::string& path : names) {
        const std::string name = path + "demo.bin";
        const std::size_t descriptors = test_support::open_descriptors();
        int error = 0;
        // Every form of the name reaches the same file: only the first writes it.
        EXPECT_EQ(new_file::write(name, bytes), &path == &names[0] ? 0 : EEXIST);
        std::FILE* demo = files::open_demo(name, error);
        ASSERT_NE(demo, nullptr) << std::strerror(error);
        EXPECT_TRUE(same_file(demo, name));
        EXPECT_FALSE(same_file(demo, name + ".other"));
        std::fclose(demo);
        {
            files::held_folder deepest;
            files::held_folder res;
            bool others = true;
            EXPECT_EQ(files::hold_folder(path, deepest), 0);
            EXPECT_EQ(files::hold_subfolder(deepest, "res", res, others), 0);
            EXPECT_FALSE(others);
        }
        EXPECT_EQ(test_support::open_descriptors(), descriptors) << "a folder was left open";
    }
    // The files are in the deepest folder, not in the working folder.
    EXPECT_FALSE(fs::exists(folder / "demo.bin"));
    EXPECT_FALSE(fs::exists(folder / "res"));

    // A name of exactly the path limit is one byte too long for one call:
    // the first 20 folders, with slashes doubled up to the limit.
    std::string exact = deep.substr(0, 20 * 201);
    exact.insert(200, std::string(PATH_MAX - exact.size() - std::strlen("x.htm"), '/'));
    exact += "x.htm";
    ASSERT_EQ(exact.size(), std::size_t{PATH_MAX});
    int error = 0;
    EXPECT_EQ(new_file::write(exact, bytes), 0);
    std::FILE* written = files::open_demo(exact, error);
    EXPECT_NE(written, nullptr) << std::strerror(error);
    if (written != nullptr) {
        std::fclose(written);
    }
    fs::current_path(start);
}

} // namespace
