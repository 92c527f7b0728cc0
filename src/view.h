// The view: one self-contained page per demo that shows what its report
// shows, in lanes, and that stays quick at any length. The page carries its
// script, its stylesheet, the icons and the demo's own bytes; its script
// reads the demo in the browser and shows only the rows in the window.
#pragma once

#include "report.h"

#include "resources.h"

#include <cstddef>
#include <cstdio>
#include <span>
#include <string_view>

namespace view {

// The page's first bytes, by which an earlier view is recognised.
inline constexpr std::string_view first_bytes = "<!DOCTYPE html>\n<!-- demo2html view -->\n";
inline constexpr std::size_t start_bytes = first_bytes.size();

// True when `first_bytes_of_file`, a file's first bytes, begin as every
// view does.
bool begins_like_a_view(std::string_view first_bytes_of_file);

// Writes the view page of `demo` to `page` and closes both, the demo first:
// the contract of report::unmush. Returns 0 when the page is complete, 1
// when a write or the close failed; `result`, when given, gets what
// unmush's would hold for the same demo (header_bytes, ended_early,
// end_offset, read_error, tables_left_out, controllers, blocks,
// write_error). Nothing may have been written to `page` before. Memory does
// not grow with the demo: its bytes go into the page as they are read.
// `demo_name` is the demo's name as the user gave it ("-" for standard
// input): the page shows its file name, without the folder, as text, and
// offers it as the name to save the demo under.
int write_view(std::FILE* demo, std::FILE* page, std::string_view demo_name, report::outcome* result = nullptr);

// The page's stylesheet and script (view.css, view.js, joined from the
// parts in src/view/) and the base64 of the script's SHA-256 digest
// (view.js.sha256), built into the program as res/ is.
std::span<const resources::file> page_files();

} // namespace view
