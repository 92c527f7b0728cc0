#include "console.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(ReportName, IsDerivedFromTheDemoName)
{
    struct name_case {
        const char* demo;
        const char* report;
    };
    const name_case cases[] = {
        {"demo.bin", "demo.htm"},
        {"demo", "demo.htm"},
        {"a.b.c", "a.htm"},
        {".\\demo.bin", ".\\demo.htm"},
        {"..\\demo.bin", "..\\demo.htm"},
        {"./demo.bin", "./demo.htm"},
        {"../demo.bin", "../demo.htm"},
        {"old.runs\\demo.bin", "old.htm"},
        {"old.runs/demo.bin", "old.htm"},
        {"...", "....htm"},
        {".hidden", ".hidden.htm"},
        {"x.htm", "x.htm"},
        {"demo.", "demo.htm"},
        {"", ".htm"},
    };
    for (const name_case& c : cases) {
        EXPECT_EQ(console::report_name_for(c.demo), c.report) << c.demo;
    }
    const std::string long_name(5000, 'n');
    EXPECT_EQ(console::report_name_for(long_name + ".bin"), long_name + ".htm");
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
    std::FILE* demo = console::open_demo((folder / "x.htm").string(), error);
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
        EXPECT_EQ(console::is_same_file(demo, c.name.string()), c.same) << c.name;
    }
    std::fclose(demo);
}

TEST(OpenDemo, RefusesFoldersAndMissingFiles)
{
    const std::filesystem::path folder = test_support::scratch_folder("open_demo");
    int error = 0;
    EXPECT_EQ(console::open_demo(folder.string(), error), nullptr);
    EXPECT_EQ(error, EISDIR);
    EXPECT_EQ(console::open_demo((folder / "missing").string(), error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(console::open_report(folder.string(), error), nullptr);
    EXPECT_EQ(error, EISDIR);
}

// A path longer than one system call takes still opens, folder by folder.
TEST(OpenDemo, TakesNamesLongerThanThePathLimit)
{
    namespace fs = std::filesystem;
    const fs::path folder = test_support::scratch_folder("long_names");
    const fs::path start = fs::current_path();
    // Made one folder at a time: no single call may take the whole path.
    fs::current_path(folder);
    std::string name;
    while (name.size() < 5000) {
        const std::string part(200, static_cast<char>('a' + name.size() % 26));
        fs::create_directory(part);
        fs::current_path(part);
        name += part + "/";
    }
    fs::current_path(folder);
    name += "demo.bin";

    int error = 0;
    std::FILE* report = console::open_report(name, error);
    ASSERT_NE(report, nullptr) << std::strerror(error);
    std::fputs("bytes", report);
    std::fclose(report);
    std::FILE* demo = console::open_demo(name, error);
    ASSERT_NE(demo, nullptr) << std::strerror(error);
    EXPECT_TRUE(console::is_same_file(demo, name));
    EXPECT_FALSE(console::is_same_file(demo, name + ".other"));
    std::fclose(demo);
    // The file is in the deepest folder, not in the working folder.
    EXPECT_FALSE(fs::exists(folder / "demo.bin"));
    fs::current_path(start);
    EXPECT_EQ(std::system(("rm -rf '" + folder.string() + "'").c_str()), 0);
}

} // namespace
