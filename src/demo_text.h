// The demo as text, and the text back to the demo, byte for byte.
//
// The text starts with the line "demo2html text 1". The header follows, one
// line per field, each header byte on exactly one line: a field the report
// shows as its name, its value and, after "#", the report's meaning of it
// ("Stage 0x21  # 21 Dam"); the bytes between the fields as "bytes" lines of
// hexadecimal bytes. Each command block is a line "block WORD" (the word in
// eight hexadecimal digits), then one line per row: for each controller its
// stick X and Y as signed numbers and its 16 buttons in the order of the
// lanes, each its letter (lanes::all) when held and '.' when not. "end" is
// the closing zero word, and "bytes" lines after it hold whatever follows.
// A demo cut short says so: "header-ends N" (the demo ends after N header
// bytes), "cut HH..." (the demo ends inside the block above; the bytes of
// its last, incomplete row), "cut-word HH..." (it ends inside a block
// word). Above 254 controllers everything after the header is "bytes" lines
// of at most 64 bytes.
//
// Read back, fields are separated by any run of spaces or tabs, "#" starts a
// comment, blank lines are skipped, and lines may end in "\r\n" or, the last,
// in nothing. A block's row count is the number of its rows, except in a
// block that is cut or when there are no controllers: there the word is kept
// as it is written.
#pragma once

#include "report.h"

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace demo_text {

// The first line of every text, naming its format and version.
inline constexpr std::string_view first_line = "demo2html text 1";

// Enough of a file's first bytes to tell whether it is a text.
inline constexpr std::size_t start_bytes = first_line.size();

// True when a file's first bytes begin as a text of any version does.
bool begins_like_a_text(std::string_view first_bytes);

// Writes the text of `demo` to `text` and closes both, the demo first: the
// contract of report::unmush, and `result` receives what unmush's would, but
// for tables_left_out (a text leaves nothing out) and fills_short_header
// (false: a short header is kept as it is). Memory does not grow with the
// demo.
int write_text(std::FILE* demo, std::FILE* text, report::outcome* result = nullptr);

// Writes the demo the text `text` describes to `demo` and closes both, the
// text first. Returns 0 when the demo is complete; 1 when the text cannot be
// read as a demo's text, its reading failed, or a write or the close of the
// demo failed. Then `result->problem` says where and why, the place as
// "LABEL:LINE:COLUMN: " (`label` names the text), or `result->write_error`
// holds the errno of the write. At most one block is held in memory.
int write_demo(std::FILE* text, std::FILE* demo, std::string_view label, report::outcome* result = nullptr);

} // namespace demo_text
