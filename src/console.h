// What the console driver needs from the system: lines from standard input,
// the report's name, opening both files safely, and the final key press.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace console {

// Reads one line of any length into `line`, without its line end ("\n" or
// "\r\n"). Returns false when the input ended before the line had a single
// character.
bool read_line(std::FILE* in, std::string& line);

// The report's name for a demo: the full stops at the very start are kept,
// the name is cut at the first full stop after them, and ".htm" is appended.
std::string report_name_for(std::string_view demo_name);

// Opens the demo for binary reading. A directory counts as a failed open.
// On failure returns nullptr and sets `error` to the errno value.
std::FILE* open_demo(const std::string& name, int& error);

// Opens (creating or replacing) the report for writing in text mode. On
// failure returns nullptr and sets `error` to the errno value.
std::FILE* open_report(const std::string& name, int& error);

// True when `name` designates the file open as `file`: the same name, another
// path to it, or a hard or symbolic link. False when `name` does not exist.
bool is_same_file(std::FILE* file, const std::string& name);

// True when the folder of `report_name` holds the report's stylesheet.
bool stylesheet_beside(const std::string& report_name);

// Holds the console open until a key is pressed. Where standard input is not
// a terminal (a script, a pipe), returns at once without a word.
void wait_for_key();

} // namespace console
