// The program's files on Windows. A name is UTF-8 inside the program; every
// system call gets it as the system's wide (UTF-16) name in its long form,
// \\?\C:\... or \\?\UNC\server\share\... (src/wide_names.h), which takes names
// of any length without the system's long-name opt-in and reaches a file
// named like a device instead of the device. A report's folder is held open
// without delete sharing from the look at its name to the rename, so it
// cannot be renamed or replaced meanwhile, and each later open is compared
// (GetFileInformationByHandle) with what was looked at. A temporary file is
// marked to be deleted when its last handle closes until it takes its name,
// so an interrupt, a closed console window or a killed run leaves nothing
// of it.
#include "console.h"
#include "files.h"
#include "utf16.h"
#include "wide_names.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <utility>
#include <windows.h>
// After windows.h, which it needs.
#include <ntsecapi.h>

namespace files {

namespace {

// The errno values that stand for what only Windows says: a file that
// another program holds open without sharing it, and a name that the system
// keeps for a device where no file has it.
constexpr int held_by_another_program = EBUSY;
constexpr int reserved_for_a_device = ENODEV;

// The errno value each system error is told as; any other is EIO.
constexpr std::array<std::pair<DWORD, int>, 26> errno_values{{
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, held_by_another_program},
    {ERROR_LOCK_VIOLATION, held_by_another_program},
    {ERROR_USER_MAPPED_FILE, held_by_another_program},
    {ERROR_UNABLE_TO_REMOVE_REPLACED, EACCES},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_INVALID_NAME, EINVAL},
    {ERROR_BAD_PATHNAME, EINVAL},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_NEGATIVE_SEEK, EINVAL},
}};

int errno_of(DWORD error)
{
    for (const auto& [system, value] : errno_values) {
        if (system == error) {
            return value;
        }
    }
    return EIO;
}

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The errno value of the last error of a call on `name`: a missing file
// whose name is a device's is told as such.
int error_on(const std::string& name)
{
    const DWORD error = GetLastError();
    return is_missing(error) && wide_names::has_reserved_leaf(name) ? reserved_for_a_device : errno_of(error);
}

using wide_names::long_form;

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what `name` reaches, following its links through the system, with
// `access` (0 to learn about it only); a folder too.
HANDLE open_existing(const std::string& name, DWORD access)
{
    return CreateFileW(long_form(name).c_str(), access, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

// The handle behind a stream of the C runtime.
HANDLE handle_of(std::FILE* file)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime hands out the handle as an integer
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

HANDLE as_handle(std::intptr_t handle)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the interface keeps the handle as an integer
    return reinterpret_cast<HANDLE>(handle);
}

// What an open handle is.
status status_of(HANDLE file)
{
    status seen;
    SetLastError(NO_ERROR);
    const DWORD type = GetFileType(file);
    if (type != FILE_TYPE_DISK) {
        seen.error = type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR ? errno_of(GetLastError()) : 0;
        seen.what = kind::other;
        return seen;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file, &info) == 0) {
        seen.error = errno_of(GetLastError());
        return seen;
    }
    seen.what = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kind::folder : kind::regular;
    seen.id = {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    seen.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    seen.mode = info.dwFileAttributes;
    return seen;
}

// A C stream on `file`, which it then owns; nullptr with `error` set (and
// the handle closed) when the C runtime cannot take it.
std::FILE* stream_on(HANDLE file, int flags, const char* mode, int& error)
{
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        error = EBADF;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), flags);
    if (fd < 0) {
        error = EMFILE;
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, mode);
    if (stream == nullptr) {
        error = errno != 0 ? errno : EMFILE;
        _close(fd);
    }
    return stream;
}

std::FILE* text_stream_on(HANDLE file, int& error) { return stream_on(file, _O_WRONLY | _O_TEXT, "wt", error); }

// A handle of this process's own on what `file` is, or INVALID_HANDLE_VALUE.
HANDLE duplicate(HANDLE file)
{
    HANDLE copy = INVALID_HANDLE_VALUE;
    const HANDLE process = GetCurrentProcess();
    return DuplicateHandle(process, file, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) != 0 ? copy
                                                                                                : INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------- temporary files

// A temporary name of fixed length, so it fits wherever any name fits, and
// random from the system's own generator, so that runs side by side never
// share one.
std::string temporary_name()
{
    static constexpr std::string_view digits = "0123456789abcdef";
    std::uint64_t bits = 0;
    RtlGenRandom(&bits, sizeof bits);
    std::string name = ".demo2html-";
    for (int i = 0; i < 16; ++i, bits >>= 4U) {
        name.push_back(digits[bits & 15U]);
    }
    return name + ".tmp";
}

// Marks the open file to be deleted when its last handle closes, or clears
// the mark.
bool mark_for_deletion(HANDLE file, bool deleted)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleted ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Opens the temporary file `name` again, marked to be deleted.
HANDLE reopen_marked(const std::wstring& name)
{
    const HANDLE file = CreateFileW(name.c_str(), DELETE, share_all, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE && !mark_for_deletion(file, true)) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// The attributes a new file takes from the one it replaces: what shows and
// indexes it (the replace itself keeps its ACL and streams).
constexpr DWORD kept_attributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// How long a name is tried again while another program holds the file (a
// virus scanner's look at a new file takes a moment).
constexpr int name_tries = 10;
constexpr DWORD name_retry_ms = 100;

bool is_held(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_USER_MAPPED_FILE || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Puts the file `from` under the name `to`: over the file there, keeping its
// ACL and streams, when `replace`; else only when the name is free. The
// system's error, or NO_ERROR.
DWORD rename_once(const std::wstring& from, const std::wstring& to, bool replace)
{
    if (!replace) {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0 ? NO_ERROR : GetLastError();
    }
    // The file to replace must let go of itself first: while another program
    // holds it, a replace fails (and some systems' replace leaves a file of
    // its own behind in the folder each time).
    const HANDLE replaced =
        CreateFileW(to.c_str(), GENERIC_READ | DELETE, share_all, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD error = replaced == INVALID_HANDLE_VALUE ? GetLastError() : NO_ERROR;
    if (replaced != INVALID_HANDLE_VALUE) {
        CloseHandle(replaced);
        error = ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                    ? NO_ERROR
                    : GetLastError();
    }
    if (error == NO_ERROR) {
        return NO_ERROR;
    }
    // The file to replace went meanwhile (or, without a backup name, was
    // removed by the failed replace): the name is free.
    if (is_missing(error) || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0 ? NO_ERROR : GetLastError();
    }
    return error;
}

// ---------------------------------------------------------------- interrupts

// What the console's control handler needs: the temporary file to remove by
// name (when its deletion mark was cleared to name it), and the line to
// tell, as it is written to a console and elsewhere.
struct interrupt_state {
    std::mutex lock;
    std::wstring temporary;
    std::string message;
    std::string once_named; // the line once the file has its name
};

interrupt_state& interrupt()
{
    static interrupt_state state;
    return state;
}

// The exit status for each console event: 128 + the number of the signal
// it stands for (SIGINT for Ctrl+C, SIGBREAK for Ctrl+Break, SIGHUP for a
// closed window, SIGTERM for a logoff or a shutdown).
int status_for(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        return 128 + 2;
    case CTRL_BREAK_EVENT:
        return 128 + 21;
    case CTRL_CLOSE_EVENT:
        return 128 + 1;
    default:
        return 128 + 15;
    }
}

void tell_interrupted(const std::string& message)
{
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(error, &mode) != 0) {
        std::wstring text;
        for (const wchar_t c : utf16::from_utf8(message)) {
            if (c == L'\n') {
                text.push_back(L'\r');
            }
            text.push_back(c);
        }
        WriteConsoleW(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        WriteFile(error, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
    }
}

BOOL WINAPI on_console_event(DWORD event)
{
    const std::lock_guard<std::mutex> held(interrupt().lock);
    if (!interrupt().temporary.empty()) {
        DeleteFileW(interrupt().temporary.c_str());
    }
    tell_interrupted(interrupt().message);
    _exit(status_for(event));
}

// The full name of the file that the link `name` leads to, as the system
// opened it. Returns 0 or the errno value.
int final_name(const std::string& name, std::string& path)
{
    const HANDLE file = open_existing(name, 0);
    if (file == INVALID_HANDLE_VALUE) {
        return error_on(name);
    }
    std::wstring target(GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED), L'\0');
    const DWORD length =
        target.empty()
            ? 0
            : GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()), FILE_NAME_NORMALIZED);
    const int error = length == 0 || length >= target.size() ? errno_of(GetLastError()) : 0;
    CloseHandle(file);
    target.resize(error == 0 ? length : 0);
    path = utf16::to_utf8(target);
    return error;
}

} // namespace

status look(const std::string& name)
{
    status seen;
    const std::wstring wide = long_form(name);
    if (wide_names::is_device(wide)) {
        // Opened, a pipe or a port could wait.
        seen.what = kind::other;
        return seen;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    seen.link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const HANDLE file = open_existing(name, 0);
    if (file == INVALID_HANDLE_VALUE) {
        seen.error = is_missing(GetLastError()) && !wide_names::has_reserved_leaf(name) ? 0 : error_on(name);
        return seen;
    }
    const bool link = seen.link;
    seen = status_of(file);
    seen.link = link;
    CloseHandle(file);
    return seen;
}

status look(std::FILE* file) { return status_of(handle_of(file)); }

int read_start(const std::string& name, std::size_t count, std::string& bytes)
{
    bytes.clear();
    const HANDLE file = open_existing(name, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        return error_on(name);
    }
    bytes.resize(count);
    DWORD n = 0;
    const int error =
        ReadFile(file, bytes.data(), static_cast<DWORD>(count), &n, nullptr) != 0 ? 0 : errno_of(GetLastError());
    bytes.resize(error == 0 ? n : 0);
    CloseHandle(file);
    return error;
}

std::FILE* open_demo(const std::string& name, int& error)
{
    error = 0;
    const HANDLE file = open_existing(name, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        error = error_on(name);
        return nullptr;
    }
    if (status_of(file).what == kind::folder) {
        CloseHandle(file);
        error = EISDIR;
        return nullptr;
    }
    return stream_on(file, _O_RDONLY | _O_BINARY, "rb", error);
}

std::FILE* standard_input(int& error)
{
    return stream_on(duplicate(GetStdHandle(STD_INPUT_HANDLE)), _O_RDONLY | _O_BINARY, "rb", error);
}

std::FILE* standard_output(int& error) { return text_stream_on(duplicate(GetStdHandle(STD_OUTPUT_HANDLE)), error); }

std::FILE* through_own_descriptor(const file_id& id, int& error)
{
    error = 0;
    for (const DWORD standard : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE own = GetStdHandle(standard);
        const status seen = own != nullptr && own != INVALID_HANDLE_VALUE ? status_of(own) : status{};
        if (seen.error == 0 && seen.what == kind::regular && seen.id == id) {
            return text_stream_on(duplicate(own), error);
        }
    }
    return nullptr;
}

held_folder::held_folder(held_folder&& other) noexcept : handle(other.handle), name(std::move(other.name))
{
    other.handle = -1;
}

held_folder& held_folder::operator=(held_folder&& other) noexcept
{
    if (this != &other) {
        if (handle != -1) {
            CloseHandle(as_handle(handle));
        }
        handle = other.handle;
        name = std::move(other.name);
        other.handle = -1;
    }
    return *this;
}

held_folder::~held_folder()
{
    if (handle != -1) {
        CloseHandle(as_handle(handle));
    }
}

int hold_folder(const std::string& name, held_folder& held)
{
    held = held_folder{};
    // Without delete sharing: the folder cannot be renamed, moved or
    // replaced while it is held.
    const HANDLE folder =
        CreateFileW(long_form(name.empty() ? "." : name).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return error_on(name);
    }
    if (status_of(folder).what != kind::folder) {
        CloseHandle(folder);
        return ENOTDIR;
    }
    held.handle = reinterpret_cast<std::intptr_t>(folder);
    held.name = name;
    return 0;
}

int hold(const std::string& name, spot& at)
{
    at = spot{};
    const std::string folder = console::folder_of(name);
    at.leaf = folder.size() < name.size() ? name.substr(folder.size()) : std::string(1, '.');
    if (const int error = hold_folder(folder, at.beside); error != 0) {
        return error;
    }
    at.seen = look(name);
    if (at.seen.error != 0) {
        return at.seen.error;
    }
    if (at.seen.what == kind::missing && at.seen.link) {
        return link_to_nothing;
    }
    std::string path = folder + at.leaf;
    if (at.seen.link && at.seen.what == kind::regular) {
        if (const int error = final_name(name, path); error != 0) {
            return error;
        }
    }
    const std::string place = console::folder_of(path);
    if (const int error = hold_folder(place, at.folder); error != 0) {
        return error;
    }
    at.leaf = path.substr(place.size());
    // The file under that name must be the one the name reaches.
    const status there = at.seen.what == kind::regular ? look(path) : at.seen;
    return there.error != 0 ? there.error : there.id == at.seen.id && !there.link ? 0 : changed_meanwhile;
}

status look_in(const held_folder& folder, const std::string& leaf)
{
    const std::string name = folder.name + leaf;
    const DWORD attributes = GetFileAttributesW(long_form(name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        status seen;
        seen.what = kind::other;
        seen.link = true;
        return seen;
    }
    return look(name);
}

int hold_subfolder(const held_folder& parent, const std::string& name, held_folder& held, bool& others)
{
    others = false;
    const std::string path = parent.name + name;
    if (CreateDirectoryW(long_form(path).c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
        return errno_of(GetLastError());
    }
    return hold_folder(path + console::path_separator, held);
}

namespace {

// Opens the file of `at` with `access`, refused (changed_meanwhile) when it
// is no longer the file looked at.
HANDLE open_checked(const spot& at, DWORD access, DWORD share, int& error)
{
    const std::string name = at.folder.name + at.leaf;
    const HANDLE file =
        CreateFileW(long_form(name).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = error_on(name);
        return file;
    }
    const status now = status_of(file);
    if (now.what != at.seen.what || now.id != at.seen.id) {
        CloseHandle(file);
        error = changed_meanwhile;
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

} // namespace

int read_start(const spot& at, std::size_t count, std::string& bytes)
{
    bytes.clear();
    int error = 0;
    const HANDLE file = open_checked(at, GENERIC_READ, share_all, error);
    if (file == INVALID_HANDLE_VALUE) {
        return error;
    }
    bytes.resize(count);
    DWORD n = 0;
    error = ReadFile(file, bytes.data(), static_cast<DWORD>(count), &n, nullptr) != 0 ? 0 : errno_of(GetLastError());
    bytes.resize(error == 0 ? n : 0);
    CloseHandle(file);
    return error;
}

// The system keeps files apart by their access lists, not by a shared
// folder's owner: nothing to tell here.
bool belongs_to_another_user(const spot& /*at*/) { return false; }

std::FILE* open_in_place(const spot& at, int& error)
{
    error = 0;
    const HANDLE file =
        at.seen.what == kind::regular
            ? open_checked(at, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, error)
            : CreateFileW(long_form(at.folder.name + at.leaf).c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = error != 0 ? error : error_on(at.folder.name + at.leaf);
        return nullptr;
    }
    if (GetFileType(file) == FILE_TYPE_DISK && SetEndOfFile(file) == 0) {
        error = errno_of(GetLastError());
        CloseHandle(file);
        return nullptr;
    }
    return text_stream_on(file, error);
}

bool is_writable(const spot& at)
{
    const HANDLE file = CreateFileW(long_form(at.folder.name + at.leaf).c_str(), GENERIC_WRITE, share_all, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

int make_temporary(const held_folder& place, const status* like, temporary& made)
{
    const std::string& folder = place.name;
    made = temporary{};
    made.folder = folder;
    const DWORD attributes =
        like != nullptr && (like->mode & kept_attributes) != 0 ? like->mode & kept_attributes : FILE_ATTRIBUTE_NORMAL;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_EXISTS;
    for (int tries = 0; file == INVALID_HANDLE_VALUE && tries < 16 && error == ERROR_FILE_EXISTS; ++tries) {
        made.name = temporary_name();
        file = CreateFileW(long_form(folder + made.name).c_str(), GENERIC_WRITE | DELETE, share_all, nullptr,
                           CREATE_NEW, attributes, nullptr);
        error = GetLastError();
    }
    if (file == INVALID_HANDLE_VALUE) {
        made = temporary{};
        return errno_of(error);
    }
    // Deleted when its last handle closes, however the run ends, until named.
    if (!mark_for_deletion(file, true)) {
        error = GetLastError();
        CloseHandle(file);
        DeleteFileW(long_form(folder + made.name).c_str());
        made = temporary{};
        return errno_of(error);
    }
    made.handle = reinterpret_cast<std::intptr_t>(file);
    int stream_error = 0;
    made.stream = text_stream_on(duplicate(file), stream_error);
    if (made.stream == nullptr) {
        discard(made);
    }
    return stream_error;
}

int write_as_binary(std::FILE* stream) { return _setmode(_fileno(stream), _O_BINARY) != -1 ? 0 : errno; }

int give_name(temporary& made, const std::string& leaf, const status* replaced)
{
    const bool replace = replaced != nullptr;
    const std::wstring from = long_form(made.folder + made.name);
    const std::wstring to = long_form(made.folder + leaf);
    if (!replace && wide_names::has_reserved_leaf(leaf)) {
        return reserved_for_a_device;
    }
    // The console's handler, on a thread of its own, waits for the naming
    // to end, so its line tells what became of the name.
    const std::lock_guard<std::mutex> held(interrupt().lock);
    if (replace) {
        const status now = look(made.folder + leaf);
        if (now.error != 0 || now.link || now.id != replaced->id) {
            return now.error != 0 ? now.error : changed_meanwhile;
        }
    }
    // From here to the rename only the interrupt handler removes it.
    interrupt().temporary = from;
    DWORD error = mark_for_deletion(as_handle(made.handle), false) ? NO_ERROR : GetLastError();
    if (error == NO_ERROR) {
        CloseHandle(as_handle(made.handle));
        made.handle = -1;
        error = rename_once(from, to, replace);
        for (int tries = 1; tries < name_tries && is_held(error); ++tries) {
            Sleep(name_retry_ms);
            error = rename_once(from, to, replace);
        }
    }
    if (error == NO_ERROR) {
        interrupt().temporary.clear();
        interrupt().message = interrupt().once_named;
        made.name.clear();
        discard(made);
        return 0;
    }
    if (made.handle == -1) {
        const HANDLE again = reopen_marked(from);
        made.handle = again == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(again);
    }
    return errno_of(error);
}

void discard(temporary& made)
{
    if (made.stream != nullptr) {
        std::fclose(made.stream);
    }
    if (made.handle != -1) {
        mark_for_deletion(as_handle(made.handle), true);
        CloseHandle(as_handle(made.handle));
    } else if (!made.name.empty()) {
        DeleteFileW(long_form(made.folder + made.name).c_str());
    }
    made = temporary{};
}

void on_interrupt(const temporary* current, const std::string& message, const std::string& once_named)
{
    static const bool installed = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
    (void)installed;
    {
        const std::lock_guard<std::mutex> held(interrupt().lock);
        interrupt().message = message;
        interrupt().once_named = once_named.empty() ? message : once_named;
    }
    interrupt_removes(current);
}

void interrupt_removes(const temporary* current)
{
    const std::lock_guard<std::mutex> held(interrupt().lock);
    // A temporary file still marked for deletion goes with the process.
    interrupt().temporary = current != nullptr && current->handle == -1 && !current->name.empty()
                                ? long_form(current->folder + current->name)
                                : std::wstring();
}

std::string error_text(int error)
{
    if (error == held_by_another_program) {
        return "it is open in another program";
    }
    if (error == reserved_for_a_device) {
        return "the name is reserved for a device";
    }
    if (error == changed_meanwhile) {
        return "it changed while it was written; left as it is";
    }
    if (error == link_to_nothing) {
        return "it is a link to nothing; not followed";
    }
    return std::strerror(error);
}

} // namespace files
