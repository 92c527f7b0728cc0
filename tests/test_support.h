// Files and reports for the tests.
#pragma once

#include "demo_table.h"
#include "demo_text.h"
#include "report.h"
#include "view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace test_support {

// `text` as one word for sh, in single quotes.
inline std::string shell_quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted.append("'\\''");
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

// True when DEMO2HTML_KEEP_TEST_FILES=1 asks to keep the scratch folders for
// a look after the run.
inline bool keep_test_files()
{
    const char* keep = std::getenv("DEMO2HTML_KEEP_TEST_FILES");
    return keep != nullptr && std::string(keep) == "1";
}

// The folder that holds all of this test process's scratch folders; when they
// are kept, says once on standard error where it is.
inline const std::filesystem::path& scratch_root()
{
    static const std::filesystem::path root = [] {
        const std::string run = std::to_string(std::random_device{}());
        std::filesystem::path folder = std::filesystem::temp_directory_path() / ("demo2html_test_" + run);
        if (keep_test_files()) {
            std::fprintf(stderr, "DEMO2HTML_KEEP_TEST_FILES=1: the scratch files stay in %s\n", folder.c_str());
        }
        return folder;
    }();
    return root;
}

// Removes `folder` and all it holds, however deep: std::filesystem takes
// whole names, which some test trees outgrow, and rm walks those folder by
// folder.
inline void remove_tree(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    if (error && std::system(("rm -rf " + shell_quoted(folder.string())).c_str()) != 0) {
        std::fprintf(stderr, "could not remove the scratch folder %s\n", folder.c_str());
    }
}

// A folder of this test process's own, emptied: test runs side by side do
// not meet in it. It goes when the test ends.
inline std::filesystem::path scratch_folder(const std::string& name)
{
    const std::filesystem::path folder = scratch_root() / name;
    remove_tree(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// Removes the scratch root when each test ends, passed or failed, unless the
// files are to be kept.
class scratch_cleanup : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo& /*test*/) override
    {
        if (!keep_test_files()) {
            remove_tree(scratch_root());
        }
    }
};

// Registered before main runs, once for the whole test program: including
// this header is all a test program needs to leave nothing behind.
inline const bool scratch_cleanup_registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new scratch_cleanup);
    return true;
}();

inline void write_file(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `write` (unmush or write_view) over `demo` into a file opened with
// `mode`; returns what it returned, and the file's bytes in `bytes`.
inline int written_by(int (*write)(std::FILE*, std::FILE*, report::outcome*), const std::string& demo,
                      report::outcome* outcome, const char* mode, std::string& bytes)
{
    const std::filesystem::path folder = scratch_folder("written");
    write_file(folder / "in.demo", demo);
    std::FILE* in = std::fopen((folder / "in.demo").string().c_str(), "rb");
    std::FILE* out = std::fopen((folder / "out.htm").string().c_str(), mode);
    report::outcome ignored;
    const int status = write(in, out, outcome != nullptr ? outcome : &ignored);
    bytes = read_file(folder / "out.htm");
    return status;
}

// Runs unmush over `demo` and returns the report it wrote.
inline std::string render(const std::string& demo, report::outcome* outcome = nullptr)
{
    std::string report;
    written_by(report::unmush, demo, outcome, "w", report);
    return report;
}

// The name write_view_of_in_demo gives the demo.
inline std::string view_demo_name = "in.demo";

// write_view for a demo named view_demo_name, with unmush's signature.
inline int write_view_of_in_demo(std::FILE* demo, std::FILE* page, report::outcome* outcome)
{
    return view::write_view(demo, page, view_demo_name, outcome);
}

// Runs write_view over `demo`, which the user named `demo_name`, and
// returns the page it wrote.
inline std::string view_of(const std::string& demo, report::outcome* outcome = nullptr,
                           const std::string& demo_name = "in.demo")
{
    std::string page;
    view_demo_name = demo_name;
    EXPECT_EQ(written_by(write_view_of_in_demo, demo, outcome, "wb", page), 0);
    return page;
}

// Runs write_text over `demo` and returns the text it wrote.
inline std::string text_of(const std::string& demo, report::outcome* outcome = nullptr)
{
    std::string text;
    EXPECT_EQ(written_by(demo_text::write_text, demo, outcome, "wb", text), 0);
    return text;
}

// Runs write_table over `demo` and returns the table it wrote.
inline std::string table_of(const std::string& demo)
{
    std::string table;
    EXPECT_EQ(written_by(demo_table::write_table, demo, nullptr, "wb", table), 0);
    return table;
}

// Runs write_demo over `text`, named "t", and returns the demo it wrote.
inline std::string demo_of(const std::string& text, report::outcome* outcome = nullptr)
{
    std::string demo;
    const auto from_text = [](std::FILE* in, std::FILE* out, report::outcome* o) {
        return demo_text::write_demo(in, out, "t", o);
    };
    written_by(from_text, text, outcome, "wb", demo);
    return demo;
}

inline std::size_t count_of(const std::string& text, const std::string& piece)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) {
        ++n;
    }
    return n;
}

// How many descriptors this process has open.
inline std::size_t open_descriptors()
{
    namespace fs = std::filesystem;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

} // namespace test_support
