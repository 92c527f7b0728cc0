#include "new_file.h"

#include "console.h"
#include "last_error.h"

#include <cerrno>
#include <cstdio>

namespace new_file {

namespace {

// Writes `bytes` through the temporary file's stream and closes it.
// Returns 0 or the errno value.
int write_and_close(std::FILE* stream, std::span<const unsigned char> bytes)
{
    std::setvbuf(stream, nullptr, _IONBF, 0);
    errno = 0;
    int error = files::write_as_binary(stream);
    if (error == 0 && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
        error = errors::last_errno();
    }
    errno = 0;
    if (std::fclose(stream) != 0 && error == 0) {
        error = errors::last_errno();
    }
    return error;
}

} // namespace

int write_in(const files::held_folder& folder, const std::string& leaf, std::span<const unsigned char> bytes,
             bool& in_folder)
{
    in_folder = false;
    const files::status seen = files::look_in(folder, leaf);
    if (seen.error != 0 || seen.what != files::kind::missing) {
        return seen.error != 0 ? seen.error : EEXIST;
    }
    files::temporary made;
    if (const int error = files::make_temporary(folder, nullptr, made); error != 0) {
        in_folder = true;
        return error;
    }
    files::interrupt_removes(&made);
    std::FILE* stream = made.stream;
    made.stream = nullptr;
    int error = write_and_close(stream, bytes);
    if (error == 0) {
        error = files::give_name(made, leaf, nullptr);
    }
    files::discard(made);
    files::interrupt_removes(nullptr);
    return error;
}

int write(const std::string& name, std::span<const unsigned char> bytes)
{
    const std::string folder_name = console::folder_of(name);
    files::held_folder folder;
    if (const int error = files::hold_folder(folder_name, folder); error != 0) {
        return error;
    }
    bool in_folder = false;
    return write_in(folder, name.substr(folder_name.size()), bytes, in_folder);
}

} // namespace new_file
