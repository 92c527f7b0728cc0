// The system calls behind the program's files: names of any length, the demo
// and the report opened safely, and files that appear only when whole.
// Names are UTF-8 strings on every system; src/files_posix.cpp and
// src/files_windows.cpp make them the system's own.
#pragma once

#include <compare>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

namespace files {

// Opens the demo for binary reading. A directory counts as a failed open.
// On failure returns nullptr and sets `error` to the errno value.
std::FILE* open_demo(const std::string& name, int& error);

// Which file a name or an open stream is: two names give the same identity
// when they reach the same file (another path, a hard or symbolic link).
struct file_id {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    auto operator<=>(const file_id&) const = default;
};

// The identity of the file `name` reaches, following symbolic links;
// nothing when no file has that name.
std::optional<file_id> id_of(const std::string& name);
std::optional<file_id> id_of(std::FILE* file);

// True when `name` designates the file open as `file`. False when `name`
// does not exist.
inline bool is_same_file(std::FILE* file, const std::string& name)
{
    const std::optional<file_id> open = id_of(file);
    return open.has_value() && open == id_of(name);
}

// What a name holds now, following symbolic links.
struct glance {
    bool regular = false;   // it is a regular file
    std::uint64_t size = 0; // a regular file's length in bytes
    std::string start;      // up to the requested number of its first bytes, for a regular file
                            // that can be read
};

// Looks at `name` without opening anything that is not a regular file, so a
// pipe or a device is never waited on.
glance look_at(const std::string& name, std::size_t start_bytes);

// True when `file` is a regular file: not a device, a pipe or a terminal.
bool is_regular_file(std::FILE* file);

// A report being written. A report to a regular file, or to a name that is
// free, is written under a temporary name in the folder of the file it
// replaces and takes the report's name only when complete.
struct report_file {
    std::FILE* stream = nullptr; // open for writing in text mode
    std::string name;            // the file the report becomes (the target of a symbolic link)
    std::string part;            // the temporary name; "" when the report is written in place
};

// Opens the report `name` for writing in text mode. Through a symbolic link
// the report replaces the file the link points to, with that file's
// permission bits. Where no new file can be made in that folder, an existing
// file is written in place; a name that is not a regular file (a device, a
// pipe) is written directly. On failure `stream` is nullptr and `error` is
// the errno value.
report_file open_report(const std::string& name, int& error);

// Gives a complete report, whose stream is closed, its name: the earlier
// file is replaced in one step. Returns 0, or the errno value after removing
// the temporary file.
int keep_report(const report_file& report);

// Removes the temporary file of a report that could not be completed; the
// earlier file stays as it was. Nothing for a report written in place.
void drop_report(const report_file& report);

// Makes the folder `name`. Returns 0 when it is made or already is a folder,
// else the errno value (ENOTDIR when something else has the name).
int make_folder(const std::string& name);

// Writes `bytes` as the new file `name` unless something of that name
// exists. The bytes go to a temporary file beside it, which takes the name
// only when complete, so the name never holds part of a file, and two
// processes writing the same file at once both succeed. Returns 0 when
// written, EEXIST when the name was taken (the existing file is kept), else
// the errno value.
int write_new_file(const std::string& name, std::span<const unsigned char> bytes);

// A seam for the tests, on POSIX systems: calls that fail only on a failing
// system (the close of a written file, a hard link the filesystem refuses,
// a rename) made to fail with the errno value given, 0 for none. The
// program never sets it.
struct failing_calls {
    int close = 0;
    int link = 0;
    int rename = 0;
};
failing_calls& calls_to_fail();

// The temporary name a file is written under before it takes `name`: the
// process's own, so runs side by side never share one, and a run of the same
// number removes what a killed one left.
inline std::string part_name(const std::string& name, int process)
{
    return name + "." + std::to_string(process) + ".part";
}

} // namespace files
