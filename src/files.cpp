#include "files.h"

#include <cerrno>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace files {

namespace {

// A file is written under this name first: the process's own, so runs side
// by side never share one.
std::string part_name(const std::string& name)
{
#ifdef _WIN32
    const int pid = _getpid();
#else
    const int pid = getpid();
#endif
    return name + "." + std::to_string(pid) + ".part";
}

} // namespace

#ifdef _WIN32

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
    const std::string part = part_name(name);
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

#else

namespace {

// A folder to open names in: an open descriptor, or AT_FDCWD (which is
// negative) for the working folder. -1 is a folder that failed to open.
bool is_folder(int folder) { return folder >= 0 || folder == AT_FDCWD; }

// A name too long for one system call is opened folder by folder. Returns
// the folder to open `leaf` in (the working folder for ordinary names), or -1
// with errno set; a folder other than AT_FDCWD is the caller's to release.
int folder_for(const std::string& name, std::string& leaf)
{
    if (name.size() < PATH_MAX) {
        leaf = name;
        return AT_FDCWD;
    }
    int folder = name.front() == '/' ? open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    std::size_t start = 0;
    for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', start)) {
        const std::string part = name.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || !is_folder(folder)) {
            continue;
        }
        const int next = openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder != AT_FDCWD) {
            const int saved = errno;
            close(folder);
            errno = saved;
        }
        folder = next;
    }
    leaf = name.substr(start);
    return folder;
}

void release(int folder)
{
    if (folder >= 0) {
        close(folder);
    }
}

std::FILE* open_file(const std::string& name, int flags, const char* mode, int& error)
{
    std::string leaf;
    const int folder = folder_for(name, leaf);
    if (!is_folder(folder)) {
        error = errno;
        return nullptr;
    }
    const int fd = openat(folder, leaf.c_str(), flags | O_CLOEXEC, 0666);
    error = fd < 0 ? errno : 0;
    release(folder);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        error = EISDIR;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, mode);
    if (file == nullptr) {
        error = errno;
        close(fd);
    }
    return file;
}

int write_all(int fd, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno != EINTR) {
            return errno;
        }
        bytes = bytes.subspan(n < 0 ? 0 : static_cast<std::size_t>(n));
    }
    return 0;
}

// Gives the complete file `part` the name `leaf` unless the name is taken.
// A hard link never replaces a file; where the filesystem has no hard links,
// a rename does the same in all but the instant since the caller looked.
int give_name(int folder, const std::string& part, const std::string& leaf)
{
    if (linkat(folder, part.c_str(), folder, leaf.c_str(), 0) == 0) {
        return 0;
    }
    if (errno == EEXIST) {
        return EEXIST;
    }
    return renameat(folder, part.c_str(), folder, leaf.c_str()) == 0 ? 0 : errno;
}

int write_new_file_in(int folder, const std::string& leaf, std::span<const unsigned char> bytes)
{
    struct stat info {};
    if (fstatat(folder, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return EEXIST;
    }
    // A part file of this process's number is left over from a run that was
    // killed: no living process writes it.
    const std::string part = part_name(leaf);
    unlinkat(folder, part.c_str(), 0);
    const int fd = openat(folder, part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    int error = write_all(fd, bytes);
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0) {
        error = give_name(folder, part, leaf);
    }
    unlinkat(folder, part.c_str(), 0);
    return error;
}

} // namespace

std::FILE* open_demo(const std::string& name, int& error) { return open_file(name, O_RDONLY, "rb", error); }

std::FILE* open_report(const std::string& name, int& error)
{
    return open_file(name, O_WRONLY | O_CREAT | O_TRUNC, "w", error);
}

bool is_same_file(std::FILE* file, const std::string& name)
{
    struct stat open_info {};
    if (fstat(fileno(file), &open_info) != 0) {
        return false;
    }
    std::string leaf;
    const int folder = folder_for(name, leaf);
    struct stat named_info {};
    const bool known = is_folder(folder) && fstatat(folder, leaf.c_str(), &named_info, 0) == 0;
    release(folder);
    return known && named_info.st_dev == open_info.st_dev && named_info.st_ino == open_info.st_ino;
}

bool is_regular_file(std::FILE* file)
{
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

int make_folder(const std::string& name)
{
    std::string leaf;
    const int folder = folder_for(name, leaf);
    if (!is_folder(folder)) {
        return errno;
    }
    int error = mkdirat(folder, leaf.c_str(), 0777) == 0 ? 0 : errno;
    struct stat info {};
    if (error == EEXIST) {
        error = fstatat(folder, leaf.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    }
    release(folder);
    return error;
}

int write_new_file(const std::string& name, std::span<const unsigned char> bytes)
{
    std::string leaf;
    const int folder = folder_for(name, leaf);
    if (!is_folder(folder)) {
        return errno;
    }
    const int error = write_new_file_in(folder, leaf, bytes);
    release(folder);
    return error;
}

#endif

} // namespace files
