// The console on Windows.
#include "console.h"

#include <cstdlib>
#include <windows.h>

namespace console {

std::vector<std::string> arguments(int argc, char** argv) { return {argv + (argc > 0 ? 1 : 0), argv + argc}; }

bool write(std::FILE* out, std::string_view text)
{
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

bool read_answer(std::string& line) { return read_line(stdin, line); }

// PAUSE reads its key from standard input, so it runs only when that is the
// console: from a file it would eat a byte of the input, and from a pipe that
// stays open it would wait for ever.
void wait_for_key()
{
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0) {
        std::system("PAUSE");
    }
}

} // namespace console
