// The program's files on Windows.
#include "files.h"

#include <cerrno>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

namespace files {

std::FILE* open_demo(const std::string& name, int& error)
{
    errno = 0;
    std::FILE* file = std::fopen(name.c_str(), "rb");
    struct _stat64 info {};
    if (file != nullptr && _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFDIR) != 0) {
        std::fclose(file);
        file = nullptr;
        errno = EISDIR;
    }
    error = file == nullptr ? errno : 0;
    return file;
}

std::FILE* open_report(const std::string& name, int& error)
{
    errno = 0;
    std::FILE* file = std::fopen(name.c_str(), "wt");
    error = file == nullptr ? errno : 0;
    return file;
}

bool is_same_file(std::FILE* file, const std::string& name)
{
    BY_HANDLE_FILE_INFORMATION open_info{};
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime hands out the handle as an integer
    const auto open_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (GetFileInformationByHandle(open_handle, &open_info) == 0) {
        return false;
    }
    const HANDLE named = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION named_info{};
    const bool known = GetFileInformationByHandle(named, &named_info) != 0;
    CloseHandle(named);
    return known && named_info.dwVolumeSerialNumber == open_info.dwVolumeSerialNumber &&
           named_info.nFileIndexHigh == open_info.nFileIndexHigh && named_info.nFileIndexLow == open_info.nFileIndexLow;
}

bool is_regular_file(std::FILE* file)
{
    struct _stat64 info {};
    return _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
}

int make_folder(const std::string& name)
{
    if (_mkdir(name.c_str()) == 0) {
        return 0;
    }
    const int error = errno;
    struct _stat64 info {};
    if (error != EEXIST) {
        return error;
    }
    return _stat64(name.c_str(), &info) == 0 && (info.st_mode & _S_IFDIR) != 0 ? 0 : ENOTDIR;
}

int write_new_file(const std::string& name, std::span<const unsigned char> bytes)
{
    if (GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return EEXIST;
    }
    const std::string part = part_name(name, _getpid());
    _unlink(part.c_str());
    const int fd = _open(part.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    while (error == 0 && !bytes.empty()) {
        const int n = _write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
        if (n < 0) {
            error = errno;
        } else {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        }
    }
    if (_close(fd) != 0 && error == 0) {
        error = errno;
    }
    // Without MOVEFILE_REPLACE_EXISTING the move never replaces a file.
    if (error == 0 && MoveFileExA(part.c_str(), name.c_str(), 0) == 0) {
        const DWORD why = GetLastError();
        error = why == ERROR_ALREADY_EXISTS || why == ERROR_FILE_EXISTS ? EEXIST : EACCES;
    }
    _unlink(part.c_str());
    return error;
}

} // namespace files
