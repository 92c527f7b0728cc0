#include "console.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace console {

bool read_line(std::FILE* in, std::string& line)
{
    line.clear();
    int c = std::getc(in);
    if (c == EOF) {
        return false;
    }
    while (c != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
        c = std::getc(in);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

std::string report_name_for(std::string_view demo_name)
{
    const std::size_t leading = std::min(demo_name.find_first_not_of('.'), demo_name.size());
    const std::size_t stop = demo_name.find('.', leading);
    std::string name(demo_name.substr(0, stop));
    return name + ".htm";
}

namespace {

// The folder part of a name, with its separator, or "" for a bare name.
std::string folder_of(const std::string& name)
{
#ifdef _WIN32
    const std::size_t slash = name.find_last_of("/\\:");
#else
    const std::size_t slash = name.rfind('/');
#endif
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

} // namespace

bool stylesheet_beside(const std::string& report_name)
{
    int error = 0;
    std::FILE* css = open_demo(folder_of(report_name) + "res/pretty.css", error);
    if (css == nullptr) {
        return false;
    }
    std::fclose(css);
    return true;
}

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

#else

namespace {

// A folder to open names in: an open descriptor, or AT_FDCWD (which is
// negative) for the working folder. -1 is a folder that failed to open.
bool is_folder(int folder) { return folder >= 0 || folder == AT_FDCWD; }

// A name too long for one system call is opened folder by folder. Returns
// the folder to open `leaf` in (the working folder for ordinary names), or -1
// with errno set; a folder other than AT_FDCWD is the caller's to close.
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

void wait_for_key()
{
    termios saved{};
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &saved) != 0) {
        return;
    }
    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);
    // One key, unechoed and without Enter; Ctrl-C counts as a key too, so
    // the terminal is always given back as it was.
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    char key = 0;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fputs("\n", stdout);
}

#endif

} // namespace console
