// The system calls behind the program's files: names of any length, the demo
// and the report opened safely, and new files that appear only when whole.
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace files {

// Opens the demo for binary reading. A directory counts as a failed open.
// On failure returns nullptr and sets `error` to the errno value.
std::FILE* open_demo(const std::string& name, int& error);

// Opens (creating or replacing) the report for writing in text mode. On
// failure returns nullptr and sets `error` to the errno value.
std::FILE* open_report(const std::string& name, int& error);

// True when `name` designates the file open as `file`: the same name, another
// path to it, or a hard or symbolic link. False when `name` does not exist.
bool is_same_file(std::FILE* file, const std::string& name);

// True when `file` is a regular file: not a device, a pipe or a terminal.
bool is_regular_file(std::FILE* file);

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

} // namespace files
