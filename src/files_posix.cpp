// The program's files on POSIX systems. Names longer than one system call
// takes are reached folder by folder with the *at calls.
#include "files.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// The calls of the seam: each fails as calls_to_fail() says, else is the
// system's own.
int fails_with(int error)
{
    errno = error;
    return -1;
}

int close_written(int fd)
{
    const int closed = close(fd);
    const int error = calls_to_fail().close;
    return error != 0 ? fails_with(error) : closed;
}

int link_at(int folder, const char* from, const char* to)
{
    const int error = calls_to_fail().link;
    return error != 0 ? fails_with(error) : linkat(folder, from, folder, to, 0);
}

int rename_at(int from_folder, const char* from, int to_folder, const char* to)
{
    const int error = calls_to_fail().rename;
    return error != 0 ? fails_with(error) : renameat(from_folder, from, to_folder, to);
}

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

// The folder a name lies in, opened, with the name's last part; released
// when it goes out of scope.
struct place {
    std::string leaf;
    int folder;
    explicit place(const std::string& name) : folder(folder_for(name, leaf)) {}
    place(const place&) = delete;
    place& operator=(const place&) = delete;
    ~place() { release(folder); }
    bool found() const { return is_folder(folder); }
};

std::FILE* stream_on(int fd, const char* mode, int& error)
{
    std::FILE* file = fdopen(fd, mode);
    if (file == nullptr) {
        error = errno;
        close(fd);
    }
    return file;
}

std::FILE* open_file(const std::string& name, int flags, const char* mode, int& error)
{
    const place at(name);
    if (!at.found()) {
        error = errno;
        return nullptr;
    }
    const int fd = openat(at.folder, at.leaf.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        error = EISDIR;
        return nullptr;
    }
    return stream_on(fd, mode, error);
}

// The status of `name`, following symbolic links or not; 0 or the errno value.
int status_of(const std::string& name, struct stat& info, int flags)
{
    const place at(name);
    if (!at.found()) {
        return errno;
    }
    return fstatat(at.folder, at.leaf.c_str(), &info, flags) == 0 ? 0 : errno;
}

// The name a symbolic link's text designates, read beside the link.
std::string link_target(const std::string& link, const std::string& text)
{
    if (text.front() == '/') {
        return text;
    }
    return link.substr(0, link.find_last_of('/') + 1) + text;
}

// The file `name` finally designates: symbolic links followed, by name, so
// that a file made beside the result lies beside the file itself. Stops at a
// name that is not a link (or does not exist), or after as many links as the
// system follows itself.
std::string followed(std::string name)
{
    for (int hops = 0; hops < 40; ++hops) {
        const place at(name);
        std::string text(PATH_MAX, '\0');
        const ssize_t n = at.found() ? readlinkat(at.folder, at.leaf.c_str(), text.data(), text.size()) : -1;
        if (n <= 0) {
            break;
        }
        text.resize(static_cast<std::size_t>(n));
        name = link_target(name, text);
    }
    return name;
}

int rename_file(const std::string& from, const std::string& to)
{
    const place source(from);
    const place target(to);
    if (!source.found() || !target.found()) {
        return ENOENT;
    }
    return rename_at(source.folder, source.leaf.c_str(), target.folder, target.leaf.c_str()) == 0 ? 0 : errno;
}

void remove_file(const std::string& name)
{
    const place at(name);
    if (at.found()) {
        unlinkat(at.folder, at.leaf.c_str(), 0);
    }
}

// Makes the temporary file `part` for writing, with the owner and permission
// bits of the file it is to replace, if there is one. Returns the descriptor,
// or -1 with errno set.
int make_part(const std::string& part, const struct stat* replaced)
{
    const place at(part);
    if (!at.found()) {
        return -1;
    }
    unlinkat(at.folder, at.leaf.c_str(), 0); // a killed run of this process's number left it
    const int fd = openat(at.folder, at.leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 && replaced != nullptr) {
        // Where the owner cannot be kept, the bits still are: a failed chown is no failure.
        [[maybe_unused]] const int owned = fchown(fd, replaced->st_uid, replaced->st_gid);
        fchmod(fd, replaced->st_mode & 07777);
    }
    return fd;
}

// The program sets no signal handler, so no write is interrupted.
int write_all(int fd, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            return errno;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return 0;
}

// Gives the complete file `part` the name `leaf` unless the name is taken.
// A hard link never replaces a file; where the filesystem has no hard links,
// a rename does the same in all but the instant since the caller looked.
int give_name(int folder, const std::string& part, const std::string& leaf)
{
    if (link_at(folder, part.c_str(), leaf.c_str()) == 0) {
        return 0;
    }
    if (errno == EEXIST) {
        return EEXIST;
    }
    return rename_at(folder, part.c_str(), folder, leaf.c_str()) == 0 ? 0 : errno;
}

int write_new_file_in(int folder, const std::string& leaf, std::span<const unsigned char> bytes)
{
    struct stat info {};
    if (fstatat(folder, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return EEXIST;
    }
    // A part file of this process's number is left over from a run that was
    // killed: no living process writes it. Something there that cannot be
    // removed keeps the file from being written.
    const std::string part = part_name(leaf, getpid());
    if (unlinkat(folder, part.c_str(), 0) != 0 && errno != ENOENT) {
        return errno;
    }
    const int fd = openat(folder, part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    int error = write_all(fd, bytes);
    if (close_written(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0) {
        error = give_name(folder, part, leaf);
    }
    unlinkat(folder, part.c_str(), 0);
    return error;
}

file_id id_from(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

} // namespace

failing_calls& calls_to_fail()
{
    static failing_calls calls;
    return calls;
}

std::FILE* open_demo(const std::string& name, int& error) { return open_file(name, O_RDONLY, "rb", error); }

std::optional<file_id> id_of(const std::string& name)
{
    struct stat info {};
    return status_of(name, info, 0) == 0 ? std::optional(id_from(info)) : std::nullopt;
}

std::optional<file_id> id_of(std::FILE* file)
{
    struct stat info {};
    return fstat(fileno(file), &info) == 0 ? std::optional(id_from(info)) : std::nullopt;
}

glance look_at(const std::string& name, std::size_t start_bytes)
{
    glance seen;
    const place at(name);
    struct stat info {};
    if (!at.found() || fstatat(at.folder, at.leaf.c_str(), &info, 0) != 0 || !S_ISREG(info.st_mode)) {
        return seen;
    }
    seen.regular = true;
    seen.size = static_cast<std::uint64_t>(info.st_size);
    const int fd = openat(at.folder, at.leaf.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        seen.start.resize(start_bytes);
        const ssize_t n = read(fd, seen.start.data(), start_bytes);
        seen.start.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        close(fd);
    }
    return seen;
}

bool is_regular_file(std::FILE* file)
{
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

report_file open_report(const std::string& name, int& error)
{
    report_file report;
    report.name = followed(name);
    struct stat replaced {};
    const bool exists = status_of(report.name, replaced, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists || S_ISREG(replaced.st_mode)) {
        const std::string part = part_name(report.name, getpid());
        const int fd = make_part(part, exists ? &replaced : nullptr);
        if (fd >= 0) {
            report.stream = stream_on(fd, "w", error);
            report.part = report.stream != nullptr ? part : "";
            if (report.stream == nullptr) {
                remove_file(part);
            }
            return report;
        }
    }
    // A device or a pipe, or a folder where no new file can be made: the
    // name itself is written, as it is.
    report.stream = open_file(report.name, O_WRONLY | O_CREAT | O_TRUNC, "w", error);
    return report;
}

int keep_report(const report_file& report)
{
    if (report.part.empty()) {
        return 0;
    }
    const int error = rename_file(report.part, report.name);
    if (error != 0) {
        remove_file(report.part);
    }
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
    const place at(name);
    if (!at.found()) {
        return errno;
    }
    int error = mkdirat(at.folder, at.leaf.c_str(), 0777) == 0 ? 0 : errno;
    struct stat info {};
    if (error == EEXIST) {
        error = fstatat(at.folder, at.leaf.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    }
    return error;
}

int write_new_file(const std::string& name, std::span<const unsigned char> bytes)
{
    const place at(name);
    if (!at.found()) {
        return errno;
    }
    return write_new_file_in(at.folder, at.leaf, bytes);
}

} // namespace files
