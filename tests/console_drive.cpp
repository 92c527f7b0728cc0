// tests/windows_check's own helper, cross-built for Windows: starts a
// command in a console window of its own, as a double-click or a drop onto a
// program in Explorer does, and plays the user in front of that window. When
// demo2html waits for a key (its PAUSE runs), the helper reads the window's
// text and presses Enter there, through the console's input queue. Or it
// plays another program that holds a file open while the command runs.
//
//   console_drive.exe SECONDS COMMAND_LINE
//   console_drive.exe interrupt COMMAND_LINE
//   console_drive.exe hold none|read MILLISECONDS FILE COMMAND_LINE
//   console_drive.exe redirected FILE COMMAND_LINE
//
// The first prints "waited for a key" and the window's text, or "did not
// wait"; then "exit status N" of the command, or "still running after
// SECONDS s" (the command is then ended). The second opens FILE for reading
// and writing, shared with no one or for reading only, runs the command in
// its own console and standard streams, lets FILE go after MILLISECONDS (0:
// when the command ends) and prints the command's "exit status N". Exit
// status 0 unless the helper itself failed. The fourth gives the command a
// console of its own as its standard input while its standard output and
// error go to FILE, as a launcher that reads a program's output does, and
// prints "waited for a key" (the command is then ended) or "did not wait",
// then the command's "exit status N".
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

namespace {

// demo2html's process while its PAUSE runs: it has a cmd.exe of its own.
std::optional<DWORD> pausing_demo2html()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::optional<DWORD> demo2html;
    for (BOOL more = Process32FirstW(snapshot, &entry); more != 0; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"demo2html.exe") == 0) {
            demo2html = entry.th32ProcessID;
        }
    }
    std::optional<DWORD> pausing;
    for (BOOL more = Process32FirstW(snapshot, &entry); more != 0; more = Process32NextW(snapshot, &entry)) {
        if (demo2html && _wcsicmp(entry.szExeFile, L"cmd.exe") == 0 && entry.th32ParentProcessID == *demo2html) {
            pausing = demo2html;
        }
    }
    CloseHandle(snapshot);
    return pausing;
}

// The text of the console's window, its lines without trailing spaces.
std::wstring window_text()
{
    const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (screen == INVALID_HANDLE_VALUE || GetConsoleScreenBufferInfo(screen, &info) == 0) {
        return L"(the window's text cannot be read)\n";
    }
    std::wstring text;
    std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, line.data(), static_cast<DWORD>(line.size()), COORD{0, y}, &read);
        const std::wstring shown = line.substr(0, read);
        text += shown.substr(0, shown.find_last_not_of(L' ') + 1) + L"\n";
    }
    CloseHandle(screen);
    return text;
}

// Presses and releases Enter in the console's input queue.
bool press_enter()
{
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return false;
    }
    INPUT_RECORD keys[2]{};
    for (int i = 0; i < 2; ++i) {
        keys[i].EventType = KEY_EVENT;
        keys[i].Event.KeyEvent.bKeyDown = i == 0 ? TRUE : FALSE;
        keys[i].Event.KeyEvent.wRepeatCount = 1;
        keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
        keys[i].Event.KeyEvent.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC));
        keys[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
    }
    DWORD written = 0;
    const bool pressed = WriteConsoleInputW(input, keys, 2, &written) != 0 && written == 2;
    CloseHandle(input);
    return pressed;
}

void print(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

// True when the working folder holds a temporary file of demo2html's.
bool temporary_file_there()
{
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW(L".demo2html-*.tmp", &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    return true;
}

// Starts `command` with the creation flags `flags`; false, told on standard
// error, when it cannot be started.
bool start(std::wstring& command, DWORD flags, PROCESS_INFORMATION& started)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &started) ==
        0) {
        std::fprintf(stderr, "console_drive: cannot start the command: error %lu\n", GetLastError());
        return false;
    }
    return true;
}

// Starts `command` in a console window of its own and presses Ctrl+C there
// while it writes a report.
int interrupt(std::wstring command)
{
    PROCESS_INFORMATION started{};
    if (!start(command, CREATE_NEW_CONSOLE, started)) {
        return 1;
    }
    FreeConsole();
    while (!temporary_file_there() && WaitForSingleObject(started.hProcess, 10) == WAIT_TIMEOUT) {
    }
    // The helper itself lets Ctrl+C pass, and stays in the window to read it.
    if (AttachConsole(started.dwProcessId) != 0) {
        SetConsoleCtrlHandler(nullptr, TRUE);
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    }
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(started.hProcess, &status);
    const std::wstring text = window_text();
    FreeConsole();
    std::printf("exit status %lu\n", status);
    print(text);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
}

// Runs `command` while `file` is held open as another program holds it.
int hold(const wchar_t* sharing, DWORD release_ms, const wchar_t* file, std::wstring command)
{
    const DWORD share = std::wcscmp(sharing, L"read") == 0 ? FILE_SHARE_READ : 0;
    HANDLE held = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "console_drive: cannot open the file to hold: error %lu\n", GetLastError());
        return 1;
    }
    PROCESS_INFORMATION started{};
    if (!start(command, 0, started)) {
        return 1;
    }
    if (release_ms > 0 && WaitForSingleObject(started.hProcess, release_ms) == WAIT_TIMEOUT) {
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }
    WaitForSingleObject(started.hProcess, INFINITE);
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
    }
    DWORD status = 0;
    GetExitCodeProcess(started.hProcess, &status);
    std::fflush(stdout);
    std::printf("exit status %lu\n", status);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
}

// Runs `command` alone in a new console that is its standard input, its
// output and errors going to the file `output`.
int redirected(const wchar_t* output, std::wstring command)
{
    FreeConsole();
    if (AllocConsole() == 0) {
        std::fprintf(stderr, "console_drive: cannot make a console: error %lu\n", GetLastError());
        return 1;
    }
    SECURITY_ATTRIBUTES inherited{};
    inherited.nLength = sizeof inherited;
    inherited.bInheritHandle = TRUE;
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherited, OPEN_EXISTING, 0, nullptr);
    const HANDLE log = CreateFileW(output, GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = log;
    startup.hStdError = log;
    PROCESS_INFORMATION started{};
    const BOOL made =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started);
    CloseHandle(input);
    CloseHandle(log);
    // The command is then the only process of its console.
    FreeConsole();
    if (made == 0) {
        std::fprintf(stderr, "console_drive: cannot start the command: error %lu\n", GetLastError());
        return 1;
    }
    bool waited = false;
    const ULONGLONG deadline = GetTickCount64() + 20000;
    while (WaitForSingleObject(started.hProcess, 100) == WAIT_TIMEOUT && !waited && GetTickCount64() < deadline) {
        waited = pausing_demo2html().has_value();
    }
    if (WaitForSingleObject(started.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(started.hProcess, 1);
        WaitForSingleObject(started.hProcess, INFINITE);
    }
    DWORD status = 0;
    GetExitCodeProcess(started.hProcess, &status);
    std::printf("%s\nexit status %lu\n", waited ? "waited for a key" : "did not wait", status);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args != nullptr && count == 6 && std::wcscmp(args[1], L"hold") == 0) {
        return hold(args[2], static_cast<DWORD>(std::wcstoul(args[3], nullptr, 10)), args[4], args[5]);
    }
    if (args != nullptr && count == 4 && std::wcscmp(args[1], L"redirected") == 0) {
        return redirected(args[2], args[3]);
    }
    if (args != nullptr && count == 3 && std::wcscmp(args[1], L"interrupt") == 0) {
        return interrupt(args[2]);
    }
    if (args == nullptr || count != 3) {
        std::fputs("usage: console_drive.exe SECONDS COMMAND_LINE\n"
                   "       console_drive.exe interrupt COMMAND_LINE\n"
                   "       console_drive.exe hold none|read MILLISECONDS FILE COMMAND_LINE\n"
                   "       console_drive.exe redirected FILE COMMAND_LINE\n",
                   stderr);
        return 2;
    }
    const DWORD limit_ms = static_cast<DWORD>(std::wcstoul(args[1], nullptr, 10)) * 1000;
    std::wstring command = args[2];
    PROCESS_INFORMATION started{};
    if (!start(command, CREATE_NEW_CONSOLE, started)) {
        return 1;
    }
    FreeConsole();
    bool waited = false;
    const ULONGLONG deadline = GetTickCount64() + limit_ms;
    ULONGLONG pause_seen = 0;
    while (WaitForSingleObject(started.hProcess, 100) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
        const std::optional<DWORD> waiting = waited ? std::nullopt : pausing_demo2html();
        if (!waiting || AttachConsole(*waiting) == 0) {
            continue;
        }
        pause_seen = pause_seen != 0 ? pause_seen : GetTickCount64();
        // PAUSE reads its key once it has written its line, which shows in
        // the window unless its output goes elsewhere.
        const std::wstring text = window_text();
        const bool shown = text.find(L"Press any key") != std::wstring::npos;
        if ((shown || GetTickCount64() - pause_seen > 2000) && press_enter()) {
            waited = true;
            print(L"waited for a key\n" + text);
        }
        FreeConsole();
    }
    if (!waited) {
        std::fputs("did not wait\n", stdout);
    }
    DWORD status = 0;
    if (WaitForSingleObject(started.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(started.hProcess, 1);
        std::printf("still running after %lu s\n", limit_ms / 1000);
    } else if (GetExitCodeProcess(started.hProcess, &status) != 0) {
        std::printf("exit status %lu\n", status);
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    LocalFree(args);
    return 0;
}
