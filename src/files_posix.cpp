// The program's files on POSIX systems. Names longer than one system call
// takes are reached folder by folder with the *at calls. Links are followed
// by the system alone: where the program must know where a link leads, it
// asks the system for the file it opened (/proc/self/fd).
#include "files.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// ---------------------------------------------------------------- the seam

int fails_with(int error)
{
    errno = error;
    return -1;
}

int link_at(int from_folder, const char* from, int to_folder, const char* to, int flags)
{
    const int error = calls_to_fail().link;
    return error != 0 ? fails_with(error) : linkat(from_folder, from, to_folder, to, flags);
}

int rename_at(int folder, const char* from, const char* to)
{
    const int error = calls_to_fail().rename;
    return error != 0 ? fails_with(error) : renameat(folder, from, folder, to);
}

// ---------------------------------------------------------------- names

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

void release(int fd)
{
    if (fd >= 0) {
        close(fd);
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

// Opens `name` with `flags`; -1 with errno set when it cannot.
int open_name(const std::string& name, int flags)
{
    const place at(name);
    return at.found() ? openat(at.folder, at.leaf.c_str(), flags | O_CLOEXEC, 0666) : -1;
}

// The folder `folder` itself ("" for the working folder), opened.
int open_folder(const std::string& folder)
{
    return open_name(folder.empty() ? "." : folder + "/.", O_RDONLY | O_DIRECTORY);
}

std::FILE* stream_on(int fd, const char* mode, int& error)
{
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, mode);
    if (file == nullptr) {
        error = errno;
        close(fd);
    }
    return file;
}

file_id id_from(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

kind kind_of(const struct stat& info)
{
    return S_ISREG(info.st_mode) ? kind::regular : S_ISDIR(info.st_mode) ? kind::folder : kind::other;
}

status status_from(const struct stat& info)
{
    status seen;
    seen.what = kind_of(info);
    seen.id = id_from(info);
    seen.size = static_cast<std::uint64_t>(info.st_size);
    seen.mode = static_cast<std::uint32_t>(info.st_mode & 07777);
    seen.owner = static_cast<std::uint32_t>(info.st_uid);
    seen.group = static_cast<std::uint32_t>(info.st_gid);
    return seen;
}

// A missing name, or a missing folder on the way to it, is no error.
int error_unless_missing(int error) { return error == ENOENT ? 0 : error; }

// ---------------------------------------------------------------- temporary files

// A temporary name of fixed length, so it fits wherever any name fits, and
// random, so that runs side by side (in other process namespaces too) never
// share one.
std::string temporary_name()
{
    static std::mt19937_64 numbers{std::random_device{}()};
    static constexpr std::string_view digits = "0123456789abcdef";
    std::string name = ".demo2html-";
    std::uint64_t bits = numbers();
    for (int i = 0; i < 16; ++i, bits >>= 4U) {
        name.push_back(digits[bits & 15U]);
    }
    return name + ".tmp";
}

// Where an open descriptor is reached by name, for linking a nameless file.
std::string descriptor_path(std::intptr_t fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool has_descriptor_paths() { return access("/proc/self/fd", X_OK) == 0; }

// ---------------------------------------------------------------- interrupts

// What the signal handler needs, in plain memory: the folder and the name of
// the temporary file to remove, and the line to tell.
struct interrupt_state {
    int folder = -1;
    std::array<char, NAME_MAX + 1> name{};
    std::array<char, 4096> message{};
    std::size_t message_size = 0;
};

interrupt_state interrupt;

void on_signal(int signal)
{
    if (interrupt.name[0] != '\0') {
        unlinkat(interrupt.folder, interrupt.name.data(), 0);
    }
    [[maybe_unused]] const ssize_t told = write(STDERR_FILENO, interrupt.message.data(), interrupt.message_size);
    _exit(128 + signal);
}

constexpr std::array<int, 3> interrupting_signals = {SIGINT, SIGTERM, SIGHUP};

// Runs `change` with the interrupting signals held back, so the handler
// never sees the state half changed.
template <typename Change> void with_signals_held(Change change)
{
    sigset_t held;
    sigset_t before;
    sigemptyset(&held);
    for (const int signal : interrupting_signals) {
        sigaddset(&held, signal);
    }
    pthread_sigmask(SIG_BLOCK, &held, &before);
    change();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void install_handler()
{
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        for (const int signal : interrupting_signals) {
            struct sigaction earlier {};
            // A signal the caller had ignored (nohup) stays ignored.
            if (sigaction(signal, nullptr, &earlier) == 0 && earlier.sa_handler != SIG_IGN) {
                sigaction(signal, &action, nullptr);
            }
        }
        return true;
    }();
    (void)installed;
}

// The temporary file an interrupt removes: `name` in the folder `folder`.
void remember_for_interrupt(int folder, const std::string& name)
{
    with_signals_held([&] {
        interrupt.folder = folder;
        const std::size_t size = std::min(name.size(), interrupt.name.size() - 1);
        std::memcpy(interrupt.name.data(), name.data(), size);
        interrupt.name.at(size) = '\0';
    });
}

} // namespace

failing_calls& calls_to_fail()
{
    static failing_calls calls;
    return calls;
}

status look(const std::string& name)
{
    status seen;
    if (calls_to_fail().look != 0) {
        seen.error = calls_to_fail().look;
        return seen;
    }
    const place at(name);
    if (!at.found()) {
        seen.error = error_unless_missing(errno);
        return seen;
    }
    struct stat own {};
    const bool link = fstatat(at.folder, at.leaf.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
    struct stat info {};
    if (fstatat(at.folder, at.leaf.c_str(), &info, 0) != 0) {
        seen.error = error_unless_missing(errno);
    } else {
        seen = status_from(info);
    }
    seen.link = link;
    return seen;
}

status look(std::FILE* file)
{
    struct stat info {};
    status seen;
    if (fstat(fileno(file), &info) != 0) {
        seen.error = errno;
        return seen;
    }
    return status_from(info);
}

int read_start(const std::string& name, std::size_t count, std::string& bytes)
{
    bytes.clear();
    if (calls_to_fail().read != 0) {
        return calls_to_fail().read;
    }
    const int fd = open_name(name, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return errno;
    }
    struct stat info {};
    int error = fstat(fd, &info) != 0 ? errno : S_ISREG(info.st_mode) ? 0 : EINVAL;
    if (error == 0) {
        bytes.resize(count);
        const ssize_t n = read(fd, bytes.data(), count);
        error = n < 0 ? errno : 0;
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    close(fd);
    return error;
}

std::FILE* open_demo(const std::string& name, int& error)
{
    const int fd = open_name(name, O_RDONLY);
    struct stat info {};
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        error = EISDIR;
        return nullptr;
    }
    return stream_on(fd, "rb", error);
}

std::FILE* standard_input(int& error) { return stream_on(dup(STDIN_FILENO), "rb", error); }

std::FILE* standard_output(int& error) { return stream_on(dup(STDOUT_FILENO), "w", error); }

std::FILE* through_own_descriptor(const file_id& id, int& error)
{
    error = 0;
    DIR* open_files = opendir("/proc/self/fd");
    if (open_files == nullptr) {
        return nullptr;
    }
    int found = -1;
    for (const dirent* entry = readdir(open_files); entry != nullptr && found < 0; entry = readdir(open_files)) {
        const int fd = std::atoi(entry->d_name);
        struct stat info {};
        const bool listed = entry->d_name[0] != '.' && fd != dirfd(open_files);
        if (listed && fstat(fd, &info) == 0 && id_from(info) == id && (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY) {
            found = fd;
        }
    }
    closedir(open_files);
    return found < 0 ? nullptr : stream_on(fcntl(found, F_DUPFD_CLOEXEC, 0), "w", error);
}

int locate(const std::string& name, std::string& folder, std::string& leaf)
{
    const status seen = look(name);
    if (seen.error != 0 || seen.what == kind::missing) {
        return seen.error != 0 ? seen.error : ENOENT;
    }
    std::string path = name;
    if (seen.link) {
        // The system says where the link leads: the name of the file it opened.
        const int fd = open_name(name, O_PATH);
        if (fd < 0) {
            return errno;
        }
        path.assign(PATH_MAX, '\0');
        const ssize_t n = readlink(descriptor_path(fd).c_str(), path.data(), path.size());
        close(fd);
        if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
            return n < 0 ? errno : ENAMETOOLONG;
        }
        path.resize(static_cast<std::size_t>(n));
    }
    const std::size_t slash = path.find_last_of('/');
    folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    leaf = path.substr(slash == std::string::npos ? 0 : slash + 1);
    // The file under that name must be the one the name reaches.
    const status there = look(path);
    return there.error != 0 ? there.error : there.id == seen.id && !there.link ? 0 : ENOENT;
}

int make_link_target(const std::string& name)
{
    const int fd = open_name(name, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return errno;
    }
    close(fd);
    return 0;
}

void remove_made(const std::string& folder, const std::string& leaf, const file_id& id)
{
    const int at = open_folder(folder);
    struct stat info {};
    if (at >= 0 && fstatat(at, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && id_from(info) == id) {
        unlinkat(at, leaf.c_str(), 0);
    }
    release(at);
}

std::FILE* open_in_place(const std::string& name, int& error)
{
    const int fd = open_name(name, O_WRONLY | O_NOCTTY);
    struct stat info {};
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0) {
        error = errno;
        close(fd);
        return nullptr;
    }
    return stream_on(fd, "w", error);
}

bool is_writable(const std::string& name)
{
    const place at(name);
    return at.found() && faccessat(at.folder, at.leaf.c_str(), W_OK, AT_EACCESS) == 0;
}

int make_temporary(const std::string& folder, const status* like, temporary& made)
{
    made = temporary{};
    made.folder = folder;
    if (calls_to_fail().temporary != 0) {
        return calls_to_fail().temporary;
    }
    const int at = open_folder(folder);
    if (at < 0) {
        return errno;
    }
    // A nameless file, where the filesystem makes one, leaves nothing even
    // when the run is killed; elsewhere a name of the run's own.
    const bool nameless = has_descriptor_paths() && calls_to_fail().nameless == 0;
    int fd = nameless ? openat(at, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666) : -1;
    for (int tries = 0; fd < 0 && tries < 16 && (tries == 0 || errno == EEXIST); ++tries) {
        made.name = temporary_name();
        remember_for_interrupt(at, made.name);
        fd = openat(at, made.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        const int error = errno;
        remember_for_interrupt(-1, "");
        close(at);
        made = temporary{};
        return error;
    }
    if (like != nullptr) {
        // Where the owner cannot be kept, the bits still are: a failed chown is no failure.
        [[maybe_unused]] const int owned = fchown(fd, like->owner, like->group);
        fchmod(fd, like->mode);
    }
    made.handle = fd;
    made.place = at;
    int error = 0;
    made.stream = stream_on(fcntl(fd, F_DUPFD_CLOEXEC, 0), "w", error);
    if (made.stream == nullptr) {
        discard(made);
    }
    return error;
}

// Text and binary writes are the same bytes here.
int write_as_binary(std::FILE* /*stream*/) { return 0; }

int give_name(temporary& made, const std::string& leaf, bool replace)
{
    const int at = static_cast<int>(made.place);
    if (made.name.empty() && !replace) {
        // A nameless file takes a free name in one step, and never replaces one.
        const std::string path = descriptor_path(made.handle);
        if (link_at(AT_FDCWD, path.c_str(), at, leaf.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            return errno;
        }
    } else {
        if (made.name.empty()) {
            // Over another file it needs a name first, to be renamed from.
            int error = EEXIST;
            for (int tries = 0; tries < 16 && error == EEXIST; ++tries) {
                made.name = temporary_name();
                remember_for_interrupt(at, made.name);
                error = link_at(AT_FDCWD, descriptor_path(made.handle).c_str(), at, made.name.c_str(),
                                AT_SYMLINK_FOLLOW) == 0
                            ? 0
                            : errno;
            }
            if (error != 0) {
                made.name.clear();
                remember_for_interrupt(-1, "");
                return error;
            }
        }
        if (!replace) {
            // A hard link never replaces a file; where the filesystem has none,
            // a rename does the same in all but the instant since the caller looked.
            if (link_at(at, made.name.c_str(), at, leaf.c_str(), 0) == 0) {
                unlinkat(at, made.name.c_str(), 0);
            } else if (errno == EEXIST || rename_at(at, made.name.c_str(), leaf.c_str()) != 0) {
                return errno;
            }
        } else if (rename_at(at, made.name.c_str(), leaf.c_str()) != 0) {
            return errno;
        }
    }
    made.name.clear();
    discard(made);
    return 0;
}

void discard(temporary& made)
{
    if (made.stream != nullptr) {
        std::fclose(made.stream);
    }
    if (!made.name.empty()) {
        unlinkat(static_cast<int>(made.place), made.name.c_str(), 0);
    }
    remember_for_interrupt(-1, "");
    release(static_cast<int>(made.handle));
    release(static_cast<int>(made.place));
    made = temporary{};
}

void on_interrupt(const temporary* current, const std::string& message)
{
    install_handler();
    with_signals_held([&] {
        const std::size_t size = std::min(message.size(), interrupt.message.size());
        std::memcpy(interrupt.message.data(), message.data(), size);
        interrupt.message_size = size;
        if (current == nullptr) {
            interrupt.name[0] = '\0';
        }
    });
    if (current != nullptr && !current->name.empty()) {
        remember_for_interrupt(static_cast<int>(current->place), current->name);
    }
}

std::string error_text(int error) { return std::strerror(error); }

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

} // namespace files
