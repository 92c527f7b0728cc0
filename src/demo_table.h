// The demo's rows as a table: comma-separated values (RFC 4180, "\r\n" line
// ends), one line per row and controller under a line of column names:
// block, row in the block, row across the demo, controller (each counted
// from 1), stick X and Y (signed), then a 0/1 column per button and
// reserved bit, named and ordered as the lanes are (lanes::all).
#pragma once

#include "report.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace demo_table {

// The table's first line, with its line end.
std::string heading_line();

// Enough of a file's first bytes to tell whether it is a table.
std::size_t start_bytes();

// True when a file's first bytes begin with the table's heading line.
bool begins_like_a_table(std::string_view first_bytes);

// Writes the table of `demo` to `table` and closes both, the demo first: the
// contract of report::unmush, and `result` receives what unmush's would, but
// for tables_left_out (every controller's rows are written). Entries cut
// short by the demo's end are not in the table. Memory does not grow with
// the demo.
int write_table(std::FILE* demo, std::FILE* table, report::outcome* result = nullptr);

} // namespace demo_table
