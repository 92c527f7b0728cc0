#include "console.h"
#include "files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
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
        EXPECT_EQ(files::is_same_file(demo, c.name.string()), c.same) << c.name;
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
    EXPECT_EQ(files::open_report(folder.string(), error).stream, nullptr);
    EXPECT_EQ(error, EISDIR);
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
        {"no hard links: renamed", {0, EPERM, 0}, 0, "new"},
        {"no hard links, no rename", {0, EPERM, EACCES}, EACCES, nullptr},
        {"taken by another run in the meantime", {0, EEXIST, 0}, EEXIST, nullptr},
        {"the close fails", {EIO, 0, 0}, EIO, nullptr},
    };
    const std::vector<unsigned char> bytes = {'n', 'e', 'w'};
    for (const new_file_case& c : cases) {
        files::calls_to_fail() = c.fail;
        EXPECT_EQ(files::write_new_file((folder / c.name).string(), bytes), c.error) << c.name;
        files::calls_to_fail() = {};
        EXPECT_EQ(test_support::read_file(folder / c.name), c.bytes_after != nullptr ? c.bytes_after : "") << c.name;
    }
    EXPECT_FALSE(fs::exists(folder / "nowhere")) << "a link was followed";
    // The folder holds the names given that were written, and no part file.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 4);
}

// A complete report that cannot take its name leaves the earlier one and no
// temporary file.
TEST(KeepReport, LeavesTheEarlierReportWhenTheRenameFails)
{
    namespace fs = std::filesystem;
    const fs::path folder = test_support::scratch_folder("keep_report");
    const std::string name = (folder / "r.htm").string();
    test_support::write_file(name, "<HTML>\nearlier");
    int error = 0;
    const files::report_file report = files::open_report(name, error);
    ASSERT_NE(report.stream, nullptr) << std::strerror(error);
    EXPECT_NE(report.part, "");
    std::fputs("<HTML>\nnew", report.stream);
    std::fclose(report.stream);
    files::calls_to_fail().rename = EPERM;
    EXPECT_EQ(files::keep_report(report), EPERM);
    files::calls_to_fail() = {};
    EXPECT_EQ(test_support::read_file(name), "<HTML>\nearlier");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 1) << "a part file is left";
}

// What a name holds, without waiting on a pipe and without leaving a
// descriptor open.
TEST(LookAt, TellsRegularFilesAndTheirFirstBytes)
{
    namespace fs = std::filesystem;
    const fs::path folder = test_support::scratch_folder("look_at");
    test_support::write_file(folder / "report.htm", "<HTML>\n<HEAD>");
    test_support::write_file(folder / "empty", "");
    test_support::write_file(folder / "a", "x");
    fs::create_symlink("report.htm", folder / "link");
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    struct look_case {
        const char* name;
        bool regular;
        std::uint64_t size;
        std::string start;
    };
    const look_case cases[] = {
        {"report.htm", true, 13, "<HTML>\n<"},
        {"link", true, 13, "<HTML>\n<"},
        {"empty", true, 0, ""},
        {"a", true, 1, "x"},
        {"missing", false, 0, ""},
        {"pipe", false, 0, ""},
        {".", false, 0, ""},
    };
    const std::size_t descriptors = test_support::open_descriptors();
    for (const look_case& c : cases) {
        const files::glance seen = files::look_at((folder / c.name).string(), 8);
        EXPECT_EQ(seen.regular, c.regular) << c.name;
        EXPECT_EQ(seen.size, c.size) << c.name;
        EXPECT_EQ(seen.start, c.start) << c.name;
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
        const files::report_file report = files::open_report(name, error);
        ASSERT_NE(report.stream, nullptr) << std::strerror(error) << " " << name.substr(0, 30);
        std::fputs("bytes", report.stream);
        std::fclose(report.stream);
        ASSERT_EQ(files::keep_report(report), 0);
        std::FILE* demo = files::open_demo(name, error);
        ASSERT_NE(demo, nullptr) << std::strerror(error);
        EXPECT_TRUE(files::is_same_file(demo, name));
        EXPECT_FALSE(files::is_same_file(demo, name + ".other"));
        std::fclose(demo);
        EXPECT_EQ(files::make_folder(path + "res"), 0);
        // Every form of the name reaches the same file: only the first writes it.
        EXPECT_EQ(files::write_new_file(path + "res/new", bytes), &path == &names[0] ? 0 : EEXIST);
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
    const files::report_file report = files::open_report(exact, error);
    ASSERT_NE(report.stream, nullptr) << std::strerror(error);
    std::fclose(report.stream);
    EXPECT_EQ(files::keep_report(report), 0);
    std::FILE* written = files::open_demo(exact, error);
    EXPECT_NE(written, nullptr) << std::strerror(error);
    if (written != nullptr) {
        std::fclose(written);
    }
    fs::current_path(start);
}

} // namespace
