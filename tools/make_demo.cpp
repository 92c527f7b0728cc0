// Writes demo files made by the project's own builder.
//
//   make_demo OUT [ENTRIES [CONTROLLERS [ROWS_PER_BLOCK [SEED]]]]
//       one demo of random but plausible input (defaults: 600 2 255 1);
//       an entry is one controller's input in one row
//   make_demo --shapes DIR
//       one small demo per shape the report distinguishes, named after it
//   make_demo --help | -h
//       this usage, on standard output
#include "demo_builder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* usage = "usage: make_demo OUT [ENTRIES [CONTROLLERS [ROWS_PER_BLOCK [SEED]]]]\n"
                              "       make_demo --shapes DIR\n"
                              "       make_demo --help | -h\n"
                              "\n"
                              "Writes OUT, a demo of random but plausible input: sticks that drift, a few\n"
                              "buttons held at a time. An entry is one controller's input in one row, and\n"
                              "a row is a sixtieth of a second, so ENTRIES is the seconds times 60 times\n"
                              "CONTROLLERS. Defaults: 600 entries, 2 controllers, 255 rows per block,\n"
                              "seed 1; the same arguments give the same bytes. Each is a whole number.\n"
                              "\n"
                              "  make_demo minute.demo 14400 4     a minute of four controllers\n"
                              "  make_demo ten.demo 144000 4       ten minutes\n"
                              "  make_demo hour.demo 864000 4      an hour (216,000 rows)\n"
                              "\n"
                              "--shapes writes one small demo per shape the report tells apart into DIR.\n";

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

// The argument at `index` as a whole number of at most `most`, or
// `fallback` when it is not given. False, with a message, when it is not
// such a number.
bool number(int argc, char** argv, int index, unsigned long long most, unsigned long long& value)
{
    if (index >= argc) {
        return true;
    }
    const std::string text = argv[index];
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || errno != 0 || value > most) {
        std::fprintf(stderr,
                     "make_demo: '%s' is not a whole number from 0 to %llu; make_demo --help says what each is\n",
                     text.c_str(), most);
        return false;
    }
    return true;
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
    unsigned long long entries = 600;
    unsigned long long controllers = 2;
    unsigned long long rows = 255;
    unsigned long long seed = 1;
    constexpr unsigned long long most_words = 0xFFFFFFFFULL;
    if (argc > 6 || first.starts_with('-')) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (!number(argc, argv, 2, most_words * 64, entries) || !number(argc, argv, 3, most_words, controllers) ||
        !number(argc, argv, 4, 255, rows) || !number(argc, argv, 5, most_words, seed)) {
        return 2;
    }
    const std::string demo =
        demo_builder::random_demo(entries, static_cast<std::uint32_t>(controllers), static_cast<std::uint8_t>(rows),
                                  static_cast<std::uint32_t>(seed));
    return write_file(first, demo) ? 0 : 1;
}
