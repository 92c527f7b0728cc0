// The console on Windows. Names are UTF-8 inside the program; the command
// line is taken as the system holds it, in wide characters, and the console
// is read and written in wide characters too, whatever its code page. Pipes
// and files carry UTF-8.
#include "console.h"
#include "utf16.h"

#include <algorithm>
#include <cstdlib>
#include <io.h>
#include <shellapi.h>

namespace console {

namespace {

// The console behind a C stream, or nothing when the stream goes to or comes
// from a pipe, a file or a device.
std::optional<HANDLE> console_of(std::FILE* stream)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime hands out the handle as an integer
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0 ? std::optional(handle) : std::nullopt;
}

// The text as the console shows it: each line end "\r\n", as the C runtime's
// text mode writes it.
std::wstring console_text(std::string_view text)
{
    std::wstring lines;
    for (const wchar_t c : utf16::from_utf8(text)) {
        if (c == L'\n') {
            lines.push_back(L'\r');
        }
        lines.push_back(c);
    }
    return lines;
}

bool write_console(HANDLE console, std::wstring_view text)
{
    // Pieces small enough for every console, cut between two characters.
    constexpr std::size_t piece = 8192;
    while (!text.empty()) {
        std::size_t size = std::min(text.size(), piece);
        if (size < text.size() && IS_HIGH_SURROGATE(text[size - 1])) {
            --size;
        }
        DWORD written = 0;
        if (WriteConsoleW(console, text.data(), static_cast<DWORD>(size), &written, nullptr) == 0 || written == 0) {
            return false;
        }
        text.remove_prefix(written);
    }
    return true;
}

// Reads one line typed at the console, through its line end. False when
// nothing at all could be read.
bool read_console(HANDLE console, std::wstring& line)
{
    line.clear();
    std::wstring piece(1024, L'\0');
    for (;;) {
        DWORD n = 0;
        if (ReadConsoleW(console, piece.data(), static_cast<DWORD>(piece.size()), &n, nullptr) == 0 || n == 0) {
            return !line.empty();
        }
        line.append(piece.data(), n);
        if (line.back() == L'\n') {
            return true;
        }
    }
}

} // namespace

std::vector<std::string> arguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {argv + (argc > 0 ? 1 : 0), argv + argc};
    }
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        args.push_back(utf16::to_utf8(wide[i]));
    }
    LocalFree(wide);
    return args;
}

bool write(std::FILE* out, std::string_view text)
{
    if (const std::optional<HANDLE> console = console_of(out); console) {
        return std::fflush(out) == 0 && write_console(*console, console_text(text));
    }
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

bool input_is_terminal() { return console_of(stdin).has_value(); }

bool read_answer(std::string& line)
{
    const std::optional<HANDLE> console = console_of(stdin);
    if (!console) {
        return read_line(stdin, line);
    }
    std::wstring typed;
    // Ctrl+Z at the start of a line ends the console's input.
    if (!read_console(*console, typed) || typed.front() == L'\x1a') {
        line.clear();
        return false;
    }
    while (!typed.empty() && (typed.back() == L'\n' || typed.back() == L'\r')) {
        typed.pop_back();
    }
    line = utf16::to_utf8(typed);
    return true;
}

// PAUSE reads its key from standard input, so it runs only when that is the
// console: from a file it would eat a byte of the input, and from a pipe that
// stays open it would wait for ever.
void wait_for_key()
{
    if (console_of(stdin)) {
        std::system("PAUSE");
    }
}

} // namespace console
