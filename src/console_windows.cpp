// The console on Windows. Names are UTF-8 inside the program; the command
// line is taken as the system holds it, in wide characters, and the console
// is read and written in wide characters too, whatever its code page. Pipes
// and files carry UTF-8.
#include "console.h"
#include "utf16.h"
#include "wide_names.h"

#include <algorithm>
#include <array>
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

// True when `text` is UTF-8 throughout.
bool is_utf8(std::string_view text)
{
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) != 0;
}

// The UTF-8 text of `text` in the code page `page`.
std::string from_code_page(std::string_view text, UINT page)
{
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(page, 0, text.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(page, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return utf16::to_utf8(wide);
}

// The code page in which cmd and the console's programs write into a pipe:
// the console's input code page, or the system's ANSI code page for a
// program without a console.
UINT pipe_code_page()
{
    const UINT console = GetConsoleCP();
    return console != 0 ? console : GetACP();
}

bool has_wildcard(std::string_view name) { return name.find_first_of("*?") != std::string_view::npos; }

// The names of the files in a folder that the wide `pattern` matches, as the
// system matches it: folders, hidden and system files left out.
std::vector<std::wstring> files_matching(const std::wstring& pattern)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        return found;
    }
    constexpr DWORD left_out = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    do {
        if ((entry.dwFileAttributes & left_out) == 0) {
            found.emplace_back(entry.cFileName);
        }
    } while (FindNextFileW(search, &entry) != 0);
    FindClose(search);
    return found;
}

// Name order as a Windows folder shows it: letters compared without their
// case, then with it, so that the order is the same on every filesystem.
bool comes_before(const std::wstring& a, const std::wstring& b)
{
    const int size_a = static_cast<int>(a.size());
    const int size_b = static_cast<int>(b.size());
    const int without_case = CompareStringOrdinal(a.c_str(), size_a, b.c_str(), size_b, TRUE);
    return without_case != CSTR_EQUAL
               ? without_case == CSTR_LESS_THAN
               : CompareStringOrdinal(a.c_str(), size_a, b.c_str(), size_b, FALSE) == CSTR_LESS_THAN;
}

// Whether the console is the program's own: no other process, such as the
// cmd or PowerShell it was started from, is attached to it.
bool console_is_own()
{
    std::array<DWORD, 2> processes{};
    return GetConsoleProcessList(processes.data(), static_cast<DWORD>(processes.size())) == 1;
}

} // namespace

std::vector<std::string> arguments(int argc, char** argv)
{
    // Unbuffered, as on the systems where standard error always is.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
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

std::vector<std::string> with_wildcards_resolved(const std::vector<std::string>& names,
                                                 std::vector<std::string>& unmatched)
{
    std::vector<std::string> resolved;
    for (const std::string& name : names) {
        const std::string folder = folder_of(name);
        if (!has_wildcard(std::string_view(name).substr(folder.size()))) {
            resolved.push_back(name);
            continue;
        }
        std::vector<std::wstring> found = files_matching(wide_names::long_form(name));
        if (found.empty()) {
            unmatched.push_back(name);
        }
        std::sort(found.begin(), found.end(), comes_before);
        for (const std::wstring& leaf : found) {
            resolved.push_back(folder + utf16::to_utf8(leaf));
        }
    }
    return resolved;
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
        const bool read = read_line(stdin, line);
        if (!is_utf8(line)) {
            line = from_code_page(line, pipe_code_page());
        }
        return read;
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

// A console that the program shares with the cmd or PowerShell that started
// it stays open when the program ends: a wait there would only hold up the
// user or the script. PAUSE reads its key from standard input, so it runs
// only when that is the console: from a file it would eat a byte of the
// input, and from a pipe that stays open it would wait for ever.
void wait_for_key()
{
    if (console_is_own() && console_of(stdin) && console_of(stdout)) {
        std::system("PAUSE");
    }
}

} // namespace console
