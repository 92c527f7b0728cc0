// What the console driver needs besides files: lines from standard input,
// names as users type them, the report's name, and the final key press.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace console {

// The characters that end a folder's name within a path, and the one the
// program puts there.
#ifdef _WIN32
inline constexpr std::string_view folder_separators = "/\\:";
inline constexpr char path_separator = '\\';
#else
inline constexpr std::string_view folder_separators = "/";
inline constexpr char path_separator = '/';
#endif

// Reads one line of any length into `line`, without its line end ("\n" or
// "\r\n"). Returns false when the input ended before the line had a single
// character.
bool read_line(std::FILE* in, std::string& line);

// The folder part of a name, with its separator, or "" for a bare name.
std::string folder_of(std::string_view name, std::string_view separators = folder_separators);

// The report's name for a demo, in the demo's folder: in the file name the
// full stops at its very start are kept, the file name is cut at the first
// full stop after them, and ".htm" is appended.
std::string report_name_for(std::string_view demo_name, std::string_view separators = folder_separators);

// A name wrapped in one pair of double or single quotes, possibly followed
// by spaces, as copying a path or dropping a file into a terminal gives it:
// the name inside the quotes. Nothing for any other name.
std::optional<std::string> unquoted(std::string_view name);

// `name` as a command line of this system's shell takes it back as one
// argument: bare when it holds nothing the shell reads, else quoted; a
// relative name that begins with a dash is given as ./-name, so that it is
// not taken for an option.
std::string shell_quoted(std::string_view name);

// The program's arguments, without its own name, as UTF-8 strings. Called
// first: on Windows it also leaves standard error unbuffered, so that every
// message reaches a file or a pipe before the prompt that follows it.
std::vector<std::string> arguments(int argc, char** argv);

// The names given on the command line with their wildcards resolved, which
// on Windows is the program's work, not the shell's: each name whose last
// part holds `*` or `?` stands for the files it matches in its folder, in
// name order, folders and hidden and system files left out, each as if
// given by itself. A pattern that matches no file is left out and added to
// `unmatched`.
// Elsewhere the shell has resolved them, and the names stay as they are.
std::vector<std::string> with_wildcards_resolved(const std::vector<std::string>& names,
                                                 std::vector<std::string>& unmatched);

// Writes the UTF-8 `text` to `out`, standard output or standard error, so
// that every name shows as it was given. Returns false when it could not be
// written whole.
bool write(std::FILE* out, std::string_view text);

// True when standard input is a terminal (the console, on Windows): a
// user who can answer a prompt.
bool input_is_terminal();

// Reads one line of the user's answer from standard input, as read_line
// does, as UTF-8. False when standard input ended. On Windows a line from a
// pipe or a file that is not UTF-8 is read in the console's input code page
// (the system's ANSI code page without a console), as cmd writes it.
bool read_answer(std::string& line);

// Holds a console window that was opened for the program until a key is
// pressed: on Windows, when the program is the only one in its console (it
// was started by a double-click or by dropping files onto it) and standard
// input is that console; never from cmd, PowerShell, a script, a pipe or a
// redirect, whose console stays open. Elsewhere the terminal outlives the
// program, and this does nothing.
void wait_for_key();

} // namespace console
