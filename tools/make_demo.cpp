// Writes demo files made by the project's own builder.
//
//   make_demo OUT [ENTRIES [CONTROLLERS [ROWS_PER_BLOCK [SEED]]]]
//       one demo of random but plausible input (defaults: 600 2 255 1)
//   make_demo --shapes DIR
//       one small demo per shape the report distinguishes, named after it
//   make_demo --help | -h
//       this usage, on standard output
#include "demo_builder.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* usage = "usage: make_demo OUT [ENTRIES [CONTROLLERS [ROWS_PER_BLOCK [SEED]]]]\n"
                              "       make_demo --shapes DIR\n"
                              "       make_demo --help | -h\n";

bool write_file(const std::string& name, const std::string& bytes)
{
    std::FILE* out = std::fopen(name.c_str(), "wb");
    if (out == nullptr) {
        std::perror(name.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(name.c_str());
        return false;
    }
    return true;
}

unsigned long long number(int argc, char** argv, int index, unsigned long long fallback)
{
    return index < argc ? std::strtoull(argv[index], nullptr, 10) : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        return std::fputs(usage, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (first == "--shapes" && argc > 2) {
        for (const auto& [name, bytes] : demo_builder::shapes()) {
            if (!write_file(std::string(argv[2]) + "/" + name + ".demo", bytes)) {
                return 1;
            }
        }
        return 0;
    }
    const unsigned long long rows = number(argc, argv, 4, 255);
    if (rows > 255) {
        std::fputs("make_demo: a block holds at most 255 rows\n", stderr);
        return 2;
    }
    const std::string demo = demo_builder::random_demo(
        number(argc, argv, 2, 600), static_cast<std::uint32_t>(number(argc, argv, 3, 2)),
        static_cast<std::uint8_t>(rows), static_cast<std::uint32_t>(number(argc, argv, 5, 1)));
    return write_file(first, demo) ? 0 : 1;
}
