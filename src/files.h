// The system calls behind the program's files, one source per system
// (src/files_posix.cpp, src/files_windows.cpp): looking at a name, opening
// the demo, the standard streams, and files that are written under no name
// of their own until they are complete. The rules that decide what may be
// written where are not here but in src/outputs.cpp, once for every system.
// Names are UTF-8 strings on every system; an error is an errno value.
#pragma once

#include <compare>
#include <cstdint>
#include <cstdio>
#include <string>

namespace files {

// Which file a name or an open stream is: two names give the same identity
// when they reach the same file (another path, a hard or symbolic link).
struct file_id {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    auto operator<=>(const file_id&) const = default;
};

enum class kind {
    missing, // no file has the name
    regular, // a file of bytes
    folder,
    other, // a device, a pipe, a socket
};

// What a name reaches, as the system itself resolves it: its links are
// followed by the system, so the system's link protection and permissions
// apply, and nothing is opened that could wait (a pipe, a device).
struct status {
    int error = 0; // why the system could not tell what the name holds, else 0 (a missing name is no error)
    kind what = kind::missing;
    bool link = false; // the name itself is a symbolic link, also one to nothing
    file_id id;        // of what it reaches, when it reaches something
    std::uint64_t size = 0;
    std::uint32_t mode = 0;  // what a file that replaces it keeps: the permission bits (POSIX), the
                             // attributes (Windows)
    std::uint32_t owner = 0; // its owner and group (POSIX)
    std::uint32_t group = 0;
};

status look(const std::string& name);
status look(std::FILE* file);

// Reads up to `count` of the first bytes of the regular file `name` into
// `bytes`, opening it through the system as look() does. Returns 0, or the
// errno value why it cannot be read.
int read_start(const std::string& name, std::size_t count, std::string& bytes);

// Opens the demo for binary reading. A folder counts as a failed open
// (EISDIR). On failure returns nullptr and sets `error`.
std::FILE* open_demo(const std::string& name, int& error);

// A stream of its own on standard input, for binary reading ("rb"), or on
// standard output, for writing in text mode ("wt"), as it stands. On
// failure returns nullptr and sets `error`.
std::FILE* standard_input(int& error);
std::FILE* standard_output(int& error);

// When one of this process's open descriptors (standard output, /dev/fd/N,
// a shell's >(command)) is the file `id`: a new stream that writes through
// it, for writing in text mode, from where it stands and as it was opened
// (appending stays appending). nullptr when none is, with `error` 0, or on
// failure with `error` set.
std::FILE* through_own_descriptor(const file_id& id, int& error);

// Error values of the program's own, beside the errno values: what the
// system has no word for.
inline constexpr int changed_meanwhile = 0x10000; // the name reaches another file than the one looked at
inline constexpr int link_to_nothing = 0x10001;   // the name is a symbolic link that reaches no file
inline constexpr int others_link = 0x10002;       // another user's symbolic link, not followed

// A folder held open from the first look at a name in it to the last
// change made there: every later call is made relative to it, so a folder
// renamed, swapped or relinked meanwhile changes nothing (on Windows it is
// held without delete sharing, so it cannot be renamed at all). Closed when
// it goes; moved, never copied.
struct held_folder {
    std::intptr_t handle = -1;
    std::string name; // the folder's name as given ("" for the working folder), for messages and (Windows) its paths
    held_folder() = default;
    held_folder(held_folder&& other) noexcept;
    held_folder& operator=(held_folder&& other) noexcept;
    held_folder(const held_folder&) = delete;
    held_folder& operator=(const held_folder&) = delete;
    ~held_folder();
    bool held() const { return handle != -1; }
};

// A name looked at once: the folder that holds the file it reaches (its
// links resolved by the system, so the system's link protection holds),
// held; the file's name there; what it was then. `beside` is the folder of
// the name as given, held the same way, where res/ goes.
struct spot {
    held_folder folder;
    std::string leaf;
    status seen; // seen.link: the name given is a link; seen.id: the file it reaches
    held_folder beside;
    held_folder file; // the file looked at, held (O_PATH) so its identity cannot pass to another file meanwhile
};

// Looks at `name` once and holds its folders in `at`, a spot not used
// before. A name that reaches
// nothing is no error (seen.what is kind::missing), but a link to nothing is
// (link_to_nothing): no file is ever made through a link. Returns 0 or the
// error value; nothing is opened that could wait, truncate or block.
int hold(const std::string& name, spot& at);

// What the name `leaf` in the held `folder` is, without following a link:
// a link is kind::other. A missing name is no error.
status look_in(const held_folder& folder, const std::string& leaf);

// Holds the folder `name` within `parent` (res/), making it where missing:
// a link there is followed when it is the user's own or the folder owner's,
// else refused (others_link). `others` says whether the folder belongs to
// another user. Returns 0 or the error value (the system's own reason).
int hold_subfolder(const held_folder& parent, const std::string& name, held_folder& held, bool& others);

// Reads up to `count` of the first bytes of the regular file of `at`,
// opened in its held folder. Returns 0, changed_meanwhile when the name no
// longer reaches the file looked at, or the errno value.
int read_start(const spot& at, std::size_t count, std::string& bytes);

// True when the pipe or device of `at` belongs to another user in a shared
// folder (sticky and writable by all) as the system's own link protection
// reckons it: neither the user running the program nor the folder's owner.
bool belongs_to_another_user(const spot& at);

// Opens the file of `at` for writing in place, emptied, or a device or a
// pipe as it is, in its held folder; nullptr with `error` set on failure,
// and changed_meanwhile when the name no longer reaches the file looked at.
std::FILE* open_in_place(const spot& at, int& error);

// True when the file of `at` may be written by this process.
bool is_writable(const spot& at);

// A file being written in a folder under no name, where the system offers
// that, or else under a temporary name unique to the run, open to its owner
// alone. It takes its name only when complete. A run that is interrupted
// leaves nothing of it. One that is killed leaves nothing where the file has
// no name; where it has one (no nameless files, or for the instant between
// naming a nameless file and renaming it over an earlier file, as Linux
// needs), the killed run's complete temporary file can stay, under its
// `.demo2html-` name.
struct temporary {
    std::FILE* stream = nullptr; // open for writing in text mode
    std::string folder;          // the folder it lies in ("" for the working folder)
    std::string name;            // its temporary name there, "" while it has none
    std::intptr_t handle = -1;   // the system's own handle of it, open until it is named or removed
    std::intptr_t place = -1;    // the system's own handle of its folder, where it has one
};

// Makes a temporary file in the held `folder`, open to its owner alone
// while it is written; `like`, when given, is the file it will replace,
// whose attributes it takes where the system has them (Windows). Returns 0
// or the errno value.
int make_temporary(const held_folder& folder, const status* like, temporary& made);

// Makes the stream of a temporary file write its bytes as they are, where
// text mode would change them (on Windows it writes each "\n" as "\r\n").
// Returns 0 or the errno value.
int write_as_binary(std::FILE* stream);

// Gives the complete temporary file, whose stream is closed, the name `leaf`
// in its folder: in one step over the file `replaced` of that name, when
// given, else only when the name is free (EEXIST when it is not). First it
// takes the owner of `replaced` where the system lets, and its permission
// bits as far as they open it to no one new (the group's only where the
// group is kept; never the set-ID or sticky bits); a new file gets a new
// file's bits (POSIX; on Windows the replace keeps the earlier file's). The
// interrupting signals are held while it takes its name. Returns 0 or the
// error value (changed_meanwhile when the name no longer holds `replaced`);
// the temporary file stays to be named again or removed.
// The window that remains: the name is compared with `replaced` just before
// the rename, and no call renames on a condition, so a file swapped in at
// the name in that instant is replaced (the swapped-in file itself, never
// what a link there reaches).
int give_name(temporary& made, const std::string& leaf, const status* replaced);

// Removes the temporary file, named or not, and closes what is left of it:
// nothing that this run did not make is removed.
void discard(temporary& made);

// While a file is written: `current`, when not nullptr, is the temporary
// file that an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl+C or a closed
// console window) removes; `message` is the line then written to standard
// error before the program exits with 128 + the signal's number, and
// `once_named` the line from the moment give_name() has named it. An
// interrupt that comes while the file takes its name waits for the naming
// to end, so the line tells what happened. Call with nullptr and "" when
// nothing is being written.
void on_interrupt(const temporary* current, const std::string& message, const std::string& once_named = "");

// The temporary file an interrupt removes, the lines it tells unchanged.
void interrupt_removes(const temporary* current);

// The text of an error value, as the messages give it: the system's own
// words, the program's own for its own values, and "it is open in another
// program" for a file another program holds (Windows).
std::string error_text(int error);

// Holds the folder `name` ("" for the working folder). Returns 0 or the
// errno value.
int hold_folder(const std::string& name, held_folder& held);

// A seam for the tests, on POSIX systems: calls that fail only on a failing
// system made to fail with the errno value given, 0 for none. The program
// never sets it.
struct failing_calls {
    int link = 0;      // giving a temporary file a name that is free
    int rename = 0;    // giving a temporary file a name over another file
    int temporary = 0; // making a temporary file
    int nameless = 0;  // making a nameless one, so that a named one is made instead
    int look = 0;      // look() at a name
    int read = 0;      // read_start()
    // Called to stage what another user, or a signal, could do meanwhile:
    // right after the look at a report's name; just before the file at the
    // name is changed (opened in place, or renamed over while the signals
    // are held).
    void (*after_look)() = nullptr;
    void (*before_change)() = nullptr;
};
failing_calls& calls_to_fail();

} // namespace files
