// The program's files on Windows. A name is UTF-8 inside the program; every
// system call gets it as the system's wide (UTF-16) name in its long form,
// \\?\C:\... or \\?\UNC\server\share\..., which takes names of any length the
// filesystem does without the system's long-name opt-in. (A manifest's UTF-8
// code page would let the narrow calls take UTF-8 too, but its longPathAware
// entry works only where the system's LongPathsEnabled setting is on.)
#include "files.h"
#include "utf16.h"
#include "wide_names.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <utility>
#include <windows.h>

namespace files {

namespace {

// The errno value each system error is told as; any other is EIO.
constexpr std::array<std::pair<DWORD, int>, 23> errno_values{{
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_SHARING_VIOLATION, EACCES},
    {ERROR_LOCK_VIOLATION, EACCES},
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

int last_error() { return errno_of(GetLastError()); }

using wide_names::is_device;
using wide_names::long_form;

// The handle behind a stream of the C runtime.
HANDLE handle_of(std::FILE* file)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime hands out the handle as an integer
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// Opens an existing file or folder, following symbolic links, to learn about
// it; `access` 0 reads nothing.
HANDLE open_existing(const std::wstring& name, DWORD access)
{
    return CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::optional<BY_HANDLE_FILE_INFORMATION> information_of(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(file, &info) != 0 ? std::optional(info) : std::nullopt;
}

// What the file `name` reaches is, without opening a device (nothing for one,
// nor when no file has the name).
std::optional<BY_HANDLE_FILE_INFORMATION> information_of(const std::wstring& name)
{
    if (is_device(name)) {
        return std::nullopt;
    }
    const HANDLE file = open_existing(name, 0);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::optional<BY_HANDLE_FILE_INFORMATION> info = information_of(file);
    CloseHandle(file);
    return info;
}

bool is_folder(const BY_HANDLE_FILE_INFORMATION& info)
{
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

file_id id_from(const BY_HANDLE_FILE_INFORMATION& info)
{
    return {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// A C stream on `file`, which it then owns; nullptr with `error` set (and
// the handle closed) when the C runtime cannot take it.
std::FILE* stream_on(HANDLE file, int flags, const char* mode, int& error)
{
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

std::FILE* report_stream_on(HANDLE file, int& error) { return stream_on(file, _O_WRONLY | _O_TEXT, "wt", error); }

// The file `name` finally designates when it is a symbolic link, by its full
// name, so that a file made beside the result lies beside the file itself;
// else `name`.
std::string followed(const std::string& name)
{
    const std::wstring link = long_form(name);
    const DWORD attributes = is_device(link) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return name;
    }
    const HANDLE file = open_existing(link, 0);
    if (file == INVALID_HANDLE_VALUE) {
        return name;
    }
    std::wstring target(GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED), L'\0');
    const DWORD length =
        target.empty()
            ? 0
            : GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()), FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (length == 0 || length >= target.size()) {
        return name;
    }
    target.resize(length);
    return utf16::to_utf8(target);
}

// The attributes a new file takes from the one it replaces: what shows and
// indexes it. Read-only is not among them: such a file is not replaced.
constexpr DWORD kept_attributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Makes the new file `name` for writing, removing first one a killed run of
// this process's number left.
HANDLE make_part(const std::wstring& name, DWORD attributes)
{
    DeleteFileW(name.c_str());
    return CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opens `name` for writing as it is: a device, or an existing file written
// in place (made when missing).
HANDLE open_in_place(const std::wstring& name)
{
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK) {
        SetEndOfFile(file);
    }
    return file;
}

int write_all(HANDLE file, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1U << 30));
        if (WriteFile(file, bytes.data(), chunk, &written, nullptr) == 0) {
            return last_error();
        }
        bytes = bytes.subspan(written);
    }
    return 0;
}

void remove_file(const std::string& name) { DeleteFileW(long_form(name).c_str()); }

} // namespace

std::FILE* open_demo(const std::string& name, int& error)
{
    error = 0;
    const HANDLE file = open_existing(long_form(name), GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        error = last_error();
        return nullptr;
    }
    if (const auto info = information_of(file); info && is_folder(*info)) {
        CloseHandle(file);
        error = EISDIR;
        return nullptr;
    }
    return stream_on(file, _O_RDONLY | _O_BINARY, "rb", error);
}

std::optional<file_id> id_of(const std::string& name)
{
    const auto info = information_of(long_form(name));
    return info ? std::optional(id_from(*info)) : std::nullopt;
}

std::optional<file_id> id_of(std::FILE* file)
{
    const auto info = information_of(handle_of(file));
    return info ? std::optional(id_from(*info)) : std::nullopt;
}

glance look_at(const std::string& name, std::size_t start_bytes)
{
    glance seen;
    const std::wstring full = long_form(name);
    if (is_device(full)) {
        return seen;
    }
    const auto info = information_of(full);
    if (!info) {
        return seen;
    }
    seen.regular = !is_folder(*info);
    if (!seen.regular) {
        return seen;
    }
    seen.size = (std::uint64_t{info->nFileSizeHigh} << 32) | info->nFileSizeLow;
    const HANDLE file = open_existing(full, GENERIC_READ);
    if (file != INVALID_HANDLE_VALUE) {
        seen.start.resize(start_bytes);
        DWORD n = 0;
        const bool read = ReadFile(file, seen.start.data(), static_cast<DWORD>(start_bytes), &n, nullptr) != 0;
        seen.start.resize(read ? n : 0);
        CloseHandle(file);
    }
    return seen;
}

bool is_regular_file(std::FILE* file) { return GetFileType(handle_of(file)) == FILE_TYPE_DISK; }

report_file open_report(const std::string& name, int& error)
{
    error = 0;
    report_file report;
    report.name = followed(name);
    const std::wstring target = long_form(report.name);
    const auto replaced = information_of(target);
    if (replaced && is_folder(*replaced)) {
        error = EISDIR;
        return report;
    }
    const bool read_only = replaced && (replaced->dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (!is_device(target) && !read_only) {
        const std::string part = part_name(report.name, _getpid());
        const HANDLE file = make_part(long_form(part), replaced ? replaced->dwFileAttributes & kept_attributes : 0);
        if (file != INVALID_HANDLE_VALUE) {
            report.stream = report_stream_on(file, error);
            report.part = report.stream != nullptr ? part : "";
            if (report.stream == nullptr) {
                remove_file(part);
            }
            return report;
        }
    }
    // A device, a read-only file, or a folder where no new file can be made:
    // the name itself is written, as it is, or the reason it cannot be told.
    const HANDLE file = open_in_place(target);
    if (file == INVALID_HANDLE_VALUE) {
        error = last_error();
        return report;
    }
    report.stream = report_stream_on(file, error);
    return report;
}

int keep_report(const report_file& report)
{
    if (report.part.empty()) {
        return 0;
    }
    const std::wstring part = long_form(report.part);
    if (MoveFileExW(part.c_str(), long_form(report.name).c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
        return 0;
    }
    const int error = last_error();
    DeleteFileW(part.c_str());
    return error;
}

void drop_report(const report_file& report)
{
    if (!report.part.empty()) {
        remove_file(report.part);
    }
}

int make_folder(const std::string& name)
{
    const std::wstring folder = long_form(name);
    if (CreateDirectoryW(folder.c_str(), nullptr) != 0) {
        return 0;
    }
    const DWORD why = GetLastError();
    if (why != ERROR_ALREADY_EXISTS) {
        return errno_of(why);
    }
    const auto info = information_of(folder);
    return info && is_folder(*info) ? 0 : ENOTDIR;
}

int write_new_file(const std::string& name, std::span<const unsigned char> bytes)
{
    const std::wstring target = long_form(name);
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return EEXIST;
    }
    const std::wstring part = long_form(part_name(name, _getpid()));
    const HANDLE file = make_part(part, 0);
    if (file == INVALID_HANDLE_VALUE) {
        return last_error();
    }
    int error = write_all(file, bytes);
    if (CloseHandle(file) == 0 && error == 0) {
        error = last_error();
    }
    // Without MOVEFILE_REPLACE_EXISTING the move never replaces a file.
    if (error == 0 && MoveFileExW(part.c_str(), target.c_str(), 0) == 0) {
        error = last_error();
    }
    DeleteFileW(part.c_str());
    return error;
}

} // namespace files
