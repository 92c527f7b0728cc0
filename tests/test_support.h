// Files and reports for the tests.
#pragma once

#include "report.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace test_support {

// A folder of this test process's own, emptied: test runs side by side do
// not meet in it.
inline std::filesystem::path scratch_folder(const std::string& name)
{
    static const std::string run = std::to_string(std::random_device{}());
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("demo2html_test_" + run) / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs unmush over `demo` and returns the report it wrote.
inline std::string render(const std::string& demo, report::outcome* outcome = nullptr)
{
    static const std::filesystem::path folder = scratch_folder("render");
    write_file(folder / "in.demo", demo);
    std::FILE* in = std::fopen((folder / "in.demo").string().c_str(), "rb");
    std::FILE* out = std::fopen((folder / "out.htm").string().c_str(), "w");
    report::outcome ignored;
    report::unmush(in, out, outcome != nullptr ? outcome : &ignored);
    return read_file(folder / "out.htm");
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
