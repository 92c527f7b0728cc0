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

// Where the file that `name` reaches lies: the folder that holds it and its
// name there, as the system resolves the name's links. Returns 0 or the
// errno value (ENOENT when it reaches nothing).
int locate(const std::string& name, std::string& folder, std::string& leaf);

// Makes the file that the symbolic link `name` points to, empty, following
// the link through the system. Returns 0 or the errno value.
int make_link_target(const std::string& name);

// Removes the file `leaf` in `folder` if it still is the file `id`: one that
// this run made (make_link_target) and could not complete.
void remove_made(const std::string& folder, const std::string& leaf, const file_id& id);

// Opens the existing file `name` for writing in place, emptied, or a device
// or a pipe as it is. On failure returns nullptr and sets `error`.
std::FILE* open_in_place(const std::string& name, int& error);

// True when the existing file `name` may be written by this process.
bool is_writable(const std::string& name);

// A file being written in a folder under no name, where the system offers
// that, or else under a temporary name unique to the run. It takes its name
// only when complete; a run that is interrupted, or killed where the system
// offers nameless files, leaves nothing of it.
struct temporary {
    std::FILE* stream = nullptr; // open for writing in text mode
    std::string folder;          // the folder it lies in ("" for the working folder)
    std::string name;            // its temporary name there, "" while it has none
    std::intptr_t handle = -1;   // the system's own handle of it, open until it is named or removed
    std::intptr_t place = -1;    // the system's own handle of its folder, where it has one
};

// Makes a temporary file in `folder`; `like`, when given, is the file it
// will replace, whose permission bits (and owner, where the system lets) it
// takes. Returns 0 or the errno value.
int make_temporary(const std::string& folder, const status* like, temporary& made);

// Makes the stream of a temporary file write its bytes as they are, where
// text mode would change them (on Windows it writes each "\n" as "\r\n").
// Returns 0 or the errno value.
int write_as_binary(std::FILE* stream);

// Gives the complete temporary file, whose stream is closed, the name `leaf`
// in its folder: in one step over the file of that name when `replace`,
// else only when the name is free (EEXIST when it is not). Returns 0 or the
// errno value; the temporary file stays to be named again or removed.
int give_name(temporary& made, const std::string& leaf, bool replace);

// Removes the temporary file, named or not, and closes what is left of it:
// nothing that this run did not make is removed.
void discard(temporary& made);

// While a file is written: `current`, when not nullptr, is the temporary
// file that an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl+C or a closed
// console window) removes; `message` is the line then written to standard
// error before the program exits with 128 + the signal's number. Call with
// nullptr and "" when nothing is being written.
void on_interrupt(const temporary* current, const std::string& message);

// The text of an error value, as the messages give it: the system's own
// words, and "it is open in another program" for a file another program
// holds (Windows).
std::string error_text(int error);

// Makes the folder `name`. Returns 0 when it is made or already is a folder,
// else the errno value (ENOTDIR when something else has the name).
int make_folder(const std::string& name);

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
};
failing_calls& calls_to_fail();

} // namespace files
