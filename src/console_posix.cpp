// The console on POSIX systems: names are bytes, taken and shown as they are.
#include "console.h"

#include <unistd.h>

namespace console {

std::vector<std::string> arguments(int argc, char** argv) { return {argv + (argc > 0 ? 1 : 0), argv + argc}; }

// The shell has resolved the wildcards, and a name that still holds one is
// a file's own.
std::vector<std::string> with_wildcards_resolved(const std::vector<std::string>& names,
                                                 std::vector<std::string>& /*unmatched*/)
{
    return names;
}

bool write(std::FILE* out, std::string_view text)
{
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

bool input_is_terminal() { return isatty(STDIN_FILENO) != 0; }

bool read_answer(std::string& line) { return read_line(stdin, line); }

// The terminal outlives the program: nothing to hold open.
void wait_for_key() {}

} // namespace console
