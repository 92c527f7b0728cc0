// The program's files on POSIX systems. Names longer than one system call
// takes are reached folder by folder with the *at calls. A report's folder is
// held as a descriptor (O_PATH) from the look at its name to the rename, and
// every open there is compared, device and inode, with what was looked at.
// Links are followed by the system alone: where the program must know where
// a link leads, it asks the system for the file it opened (/proc/self/fd).
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
    int folder = name.front() == '/' ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    std::size_t start = 0;
    for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', start)) {
        const std::string part = name.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || !is_folder(folder)) {
            continue;
        }
        const int next = openat(folder, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
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

int handle_of(const held_folder& folder) { return static_cast<int>(folder.handle); }

// Another descriptor on the same held folder.
held_folder copy_of(const held_folder& folder)
{
    held_folder copy;
    copy.handle = fcntl(handle_of(folder), F_DUPFD_CLOEXEC, 0);
    copy.name = folder.name;
    return copy;
}

// Splits `name` into its folder (with its slash, "" for a bare name) and
// its last part ("." for a name that ends with a slash).
std::string split_leaf(const std::string& name, std::string& leaf)
{
    const std::size_t slash = name.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    leaf = folder.size() < name.size() ? name.substr(folder.size()) : std::string(1, '.');
    return folder;
}

// Where the file an open descriptor is lies, as the system names it; ""
// when it has no such name (an anonymous pipe) or it is too long.
std::string path_of_descriptor(int fd);

// Holds, in `at`, the folder and the name there of the file that the link
// `at.leaf` in `at.beside` reaches, the system following it. Returns 0 or
// the error value.
int hold_link_target(spot& at)
{
    const int target = openat(handle_of(at.beside), at.leaf.c_str(), O_PATH | O_CLOEXEC);
    if (target < 0) {
        return errno == ENOENT ? link_to_nothing : errno;
    }
    at.file = held_folder{};
    at.file.handle = target;
    struct stat info {};
    const int error = fstat(target, &info) != 0 ? errno : 0;
    const std::string path = error == 0 ? path_of_descriptor(target) : "";
    if (error != 0) {
        return error;
    }
    at.seen = status_from(info);
    at.seen.link = true;
    if (S_ISDIR(info.st_mode) || path.empty()) {
        // A folder is refused, and a file without a name is one of the
        // process's own descriptors, written through: neither needs its folder.
        return 0;
    }
    std::string leaf;
    const std::string folder = split_leaf(path, leaf);
    if (const int held = hold_folder(folder, at.folder); held != 0) {
        return held;
    }
    struct stat there {};
    if (fstatat(handle_of(at.folder), leaf.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? changed_meanwhile : errno;
    }
    at.leaf = leaf;
    return id_from(there) == id_from(info) ? 0 : changed_meanwhile;
}

// Opens the file of `at` with `flags` in its held folder, never through a
// link: -1 with `error` set (changed_meanwhile when it is no longer the file
// looked at). `meanwhile`, when given, is called between the look at the
// name and the open: the tests' stage for a swap there, which the opened
// file's own identity must catch.
int open_checked(const spot& at, int flags, int& error, void (*meanwhile)() = nullptr)
{
    const int folder = handle_of(at.folder);
    const status now = look_in(at.folder, at.leaf);
    error = now.error;
    if (error == 0 && now.id != at.seen.id) {
        error = changed_meanwhile;
    }
    if (meanwhile != nullptr) {
        meanwhile();
    }
    const int fd = error == 0 ? openat(folder, at.leaf.c_str(), flags | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC) : -1;
    if (error == 0 && fd < 0) {
        error = errno == ELOOP || errno == ENOENT ? changed_meanwhile : errno;
    }
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || id_from(info) != at.seen.id)) {
        error = changed_meanwhile;
        close(fd);
        return -1;
    }
    return fd;
}

// The permission bits of a new file, as the process's umask leaves them.
mode_t new_file_bits()
{
    static const mode_t bits = [] {
        const mode_t mask = umask(0);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return bits;
}

// Gives the temporary file `fd`, made for its owner alone and now written,
// the bits of the file it replaces as far as they open it to no one new:
// the owner where the system lets, the group's bits only where its group is
// kept, no set-ID or sticky bit. A new file gets a new file's bits.
void give_bits(int fd, const status* like)
{
    mode_t bits = new_file_bits();
    if (like != nullptr) {
        // Where the owner cannot be kept, the bits still are: a failed chown is no failure.
        [[maybe_unused]] const int owned = fchown(fd, like->owner, like->group);
        struct stat info {};
        const bool group_kept = fstat(fd, &info) == 0 && info.st_gid == like->group;
        bits = static_cast<mode_t>(like->mode & (group_kept ? 0777U : 0707U));
    }
    fchmod(fd, bits);
}

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

std::string path_of_descriptor(int fd)
{
    std::string path(PATH_MAX, '\0');
    const ssize_t n = readlink(descriptor_path(fd).c_str(), path.data(), path.size());
    // Failed (a size past any path) or empty (no slash at the start).
    if (static_cast<std::size_t>(n) >= path.size() || path.front() != '/') {
        return "";
    }
    path.resize(static_cast<std::size_t>(n));
    return path;
}

// ---------------------------------------------------------------- interrupts

// What the signal handler needs, in plain memory: the folder and the name of
// the temporary file to remove, and the line to tell.
struct interrupt_state {
    int folder = -1;
    std::array<char, NAME_MAX + 1> name{};
    std::array<char, 4096> message{};
    std::size_t message_size = 0;
    std::array<char, 4096> once_named{}; // the line once the file has its name
    std::size_t once_named_size = 0;
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
// never sees the state half changed; one that comes meanwhile is handled
// once `change` is done.
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

// Copies `text`, as far as it fits, into `line`.
template <std::size_t size> std::size_t keep_line(const std::string& text, std::array<char, size>& line)
{
    const std::size_t kept = std::min(text.size(), line.size());
    std::memcpy(line.data(), text.data(), kept);
    return kept;
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

// Reads up to `count` bytes from the start of what `fd` stands at into
// `bytes`, which keeps what was read. Returns 0 or the errno value.
int read_up_to(int fd, std::size_t count, std::string& bytes)
{
    bytes.resize(count);
    const ssize_t n = read(fd, bytes.data(), count);
    const int error = n < 0 ? errno : 0;
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return error;
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
        error = read_up_to(fd, count, bytes);
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

held_folder::held_folder(held_folder&& other) noexcept : handle(other.handle), name(std::move(other.name))
{
    other.handle = -1;
}

held_folder& held_folder::operator=(held_folder&& other) noexcept
{
    if (this != &other) {
        release(static_cast<int>(handle));
        handle = other.handle;
        name = std::move(other.name);
        other.handle = -1;
    }
    return *this;
}

held_folder::~held_folder() { release(static_cast<int>(handle)); }

int hold_folder(const std::string& name, held_folder& held)
{
    held = held_folder{};
    const place at(name.empty() ? "." : name + "/.");
    const int fd = at.found() ? openat(at.folder, at.leaf.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
    if (fd < 0) {
        return errno;
    }
    held.handle = fd;
    held.name = name;
    return 0;
}

namespace {

// hold() but for the seam's stage after it.
int look_once(const std::string& name, spot& at)
{
    const std::string folder = split_leaf(name, at.leaf);
    if (const int error = hold_folder(folder, at.beside); error != 0) {
        return error;
    }
    const int fd = openat(handle_of(at.beside), at.leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        const int error = errno;
        release(fd);
        at.folder = copy_of(at.beside);
        return error_unless_missing(error);
    }
    at.file.handle = fd;
    at.seen = status_from(info);
    at.seen.link = S_ISLNK(info.st_mode);
    const int error = at.seen.link ? hold_link_target(at) : 0;
    if (!at.folder.held() && error == 0) {
        at.folder = copy_of(at.beside);
    }
    return error;
}

} // namespace

int hold(const std::string& name, spot& at)
{
    if (calls_to_fail().look != 0) {
        return calls_to_fail().look;
    }
    const int error = look_once(name, at);
    if (calls_to_fail().after_look != nullptr) {
        calls_to_fail().after_look();
    }
    return error;
}

status look_in(const held_folder& folder, const std::string& leaf)
{
    status seen;
    struct stat info {};
    if (calls_to_fail().look != 0) {
        seen.error = calls_to_fail().look;
    } else if (fstatat(handle_of(folder), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        seen.error = error_unless_missing(errno);
    } else {
        seen = status_from(info);
    }
    return seen;
}

int hold_subfolder(const held_folder& parent, const std::string& name, held_folder& held, bool& others)
{
    held = held_folder{};
    const int at = handle_of(parent);
    if (mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST) {
        return errno;
    }
    struct stat own {};
    struct stat folder {};
    if (fstatat(at, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0 || fstat(at, &folder) != 0) {
        return errno;
    }
    if (S_ISLNK(own.st_mode) && own.st_uid != geteuid() && own.st_uid != folder.st_uid) {
        return others_link;
    }
    const int fd = openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &own) != 0) {
        const int error = errno;
        release(fd);
        return error;
    }
    others = own.st_uid != geteuid();
    held.handle = fd;
    return 0;
}

int read_start(const spot& at, std::size_t count, std::string& bytes)
{
    bytes.clear();
    if (calls_to_fail().read != 0) {
        return calls_to_fail().read;
    }
    int error = 0;
    const int fd = open_checked(at, O_RDONLY | O_NONBLOCK, error);
    if (fd < 0) {
        return error;
    }
    // The file looked at is held, so it still is the regular file it was.
    error = read_up_to(fd, count, bytes);
    close(fd);
    return error;
}

bool belongs_to_another_user(const spot& at)
{
    struct stat folder {};
    if (fstat(handle_of(at.folder), &folder) != 0) {
        return true; // what cannot be told is not written through
    }
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return shared && at.seen.owner != geteuid() && at.seen.owner != folder.st_uid;
}

std::FILE* open_in_place(const spot& at, int& error)
{
    const int fd = open_checked(at, O_WRONLY, error, calls_to_fail().before_change);
    if (fd >= 0 && at.seen.what == kind::regular && ftruncate(fd, 0) != 0) {
        error = errno;
        close(fd);
        return nullptr;
    }
    return fd < 0 ? nullptr : stream_on(fd, "w", error);
}

bool is_writable(const spot& at)
{
    return faccessat(handle_of(at.folder), at.leaf.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
}

int make_temporary(const held_folder& folder, const status* /*like: its bits are given at the naming*/, temporary& made)
{
    made = temporary{};
    made.folder = folder.name;
    if (calls_to_fail().temporary != 0) {
        return calls_to_fail().temporary;
    }
    const int at = fcntl(handle_of(folder), F_DUPFD_CLOEXEC, 0);
    if (at < 0) {
        return errno;
    }
    // A nameless file, where the filesystem makes one, leaves nothing even
    // when the run is killed; elsewhere a name of the run's own. Either is
    // open to its owner alone until it has its bits.
    const bool nameless = has_descriptor_paths() && calls_to_fail().nameless == 0;
    int fd = nameless ? openat(at, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
    for (int tries = 0; fd < 0 && tries < 16 && (tries == 0 || errno == EEXIST); ++tries) {
        made.name = temporary_name();
        remember_for_interrupt(at, made.name);
        fd = openat(at, made.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        const int error = errno;
        remember_for_interrupt(-1, "");
        close(at);
        made = temporary{};
        return error;
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

namespace {

// Gives the temporary file of `made`, in its folder `at`, a name of its own
// to be renamed from, where it has none (a nameless file). Returns 0 or the
// errno value.
int name_nameless(temporary& made, int at)
{
    int error = EEXIST;
    for (int tries = 0; tries < 16 && error == EEXIST; ++tries) {
        made.name = temporary_name();
        remember_for_interrupt(at, made.name);
        error = link_at(AT_FDCWD, descriptor_path(made.handle).c_str(), at, made.name.c_str(), AT_SYMLINK_FOLLOW) == 0
                    ? 0
                    : errno;
    }
    if (error != 0) {
        made.name.clear();
        remember_for_interrupt(-1, "");
    }
    return error;
}

// Renames the temporary file over `leaf` when it still is `replaced`.
int rename_over(temporary& made, int at, const std::string& leaf, const status& replaced)
{
    if (made.name.empty()) {
        // Over another file it needs a name first, to be renamed from.
        if (const int error = name_nameless(made, at); error != 0) {
            return error;
        }
    }
    struct stat now {};
    if (fstatat(at, leaf.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || id_from(now) != replaced.id) {
        return errno == ENOENT || id_from(now) != replaced.id ? changed_meanwhile : errno;
    }
    return rename_at(at, made.name.c_str(), leaf.c_str()) == 0 ? 0 : errno;
}

// Gives the temporary file the free name `leaf`, never replacing a file.
int take_free_name(temporary& made, int at, const std::string& leaf)
{
    if (made.name.empty()) {
        // A nameless file takes a free name in one step, and never replaces one.
        const std::string path = descriptor_path(made.handle);
        return link_at(AT_FDCWD, path.c_str(), at, leaf.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }
    // A hard link never replaces a file; where the filesystem has none, a
    // rename does the same in all but the instant since the caller looked.
    if (link_at(at, made.name.c_str(), at, leaf.c_str(), 0) == 0) {
        unlinkat(at, made.name.c_str(), 0);
        return 0;
    }
    return errno == EEXIST || rename_at(at, made.name.c_str(), leaf.c_str()) != 0 ? errno : 0;
}

} // namespace

int give_name(temporary& made, const std::string& leaf, const status* replaced)
{
    const int at = static_cast<int>(made.place);
    int error = 0;
    with_signals_held([&] {
        if (calls_to_fail().before_change != nullptr) {
            calls_to_fail().before_change();
        }
        give_bits(static_cast<int>(made.handle), replaced);
        error = replaced != nullptr ? rename_over(made, at, leaf, *replaced) : take_free_name(made, at, leaf);
        if (error == 0) {
            // Named: an interrupt from here on removes nothing, and says so.
            interrupt.name[0] = '\0';
            interrupt.message_size =
                keep_line(std::string(interrupt.once_named.data(), interrupt.once_named_size), interrupt.message);
        }
    });
    if (error != 0) {
        return error;
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

void on_interrupt(const temporary* current, const std::string& message, const std::string& once_named)
{
    install_handler();
    with_signals_held([&] {
        interrupt.message_size = keep_line(message, interrupt.message);
        interrupt.once_named_size = keep_line(once_named.empty() ? message : once_named, interrupt.once_named);
    });
    interrupt_removes(current);
}

void interrupt_removes(const temporary* current)
{
    if (current != nullptr && !current->name.empty()) {
        remember_for_interrupt(static_cast<int>(current->place), current->name);
    } else {
        remember_for_interrupt(-1, "");
    }
}

std::string error_text(int error)
{
    switch (error) {
    case changed_meanwhile:
        return "it changed while it was written; left as it is";
    case link_to_nothing:
        return "it is a link to nothing; not followed";
    case others_link:
        return "it is another user's link; not followed";
    default:
        return std::strerror(error);
    }
}

} // namespace files
