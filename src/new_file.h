// Writing a file that must not replace anything: the files of res/, which
// the reports of several runs share.
#pragma once

#include "files.h"

#include <span>
#include <string>

namespace new_file {

// Writes `bytes` as the new file `leaf` in the held `folder` unless
// something of that name exists (a link to nothing too). The file appears
// under its name only when complete, so the name never holds part of a
// file, and two processes writing the same file at once both succeed.
// Returns 0 when written, EEXIST when the name was taken (the existing file
// is kept), else the error value; `in_folder` is set when the folder itself
// takes no new file.
int write_in(const files::held_folder& folder, const std::string& leaf, std::span<const unsigned char> bytes,
             bool& in_folder);

// The same for the file `name`, its folder held first.
int write(const std::string& name, std::span<const unsigned char> bytes);

} // namespace new_file
