// Turns one demo into one HTML report: the document head, the summary of the
// recorded game, one table per command block and the closing block count.
#pragma once

#include "demo_format.h"
#include "report_writer.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace report {

// Above this many controllers the block tables are left out: the heading row
// alone would run to megabytes per block.
inline constexpr std::uint32_t max_table_controllers = 254;

// The first line of every report, before its line end.
inline constexpr std::string_view first_line = "<HTML>";

// Enough of a file's first bytes to tell whether it is a report.
inline constexpr std::size_t start_bytes = 8;

// True when `bytes`, a file's first bytes, begin as a report does: its first
// line, ended by "\n" or "\r\n".
bool begins_like_a_report(std::string_view bytes);

// What became of one report, for the console to tell the user about.
struct outcome {
    std::size_t header_bytes = 0;   // header bytes the demo held (232 when whole)
    bool ended_early = false;       // the demo ended before its closing zero word
    std::uint64_t end_offset = 0;   // then: offset of the word that could not be read whole, or the
                                    // header's length when the demo ends inside it
    int read_error = 0;             // errno of a failed read of the demo, 0 when none failed
    bool tables_left_out = false;   // the controller count is above max_table_controllers
    std::uint32_t controllers = 0;  // the controller count of the header
    std::uint64_t blocks = 0;       // command blocks shown
    std::uint64_t rows = 0;         // the rows their headers announce, also where the tables are left out
    int write_error = 0;            // errno of a failed write or close of the report
    bool fills_short_header = true; // a header cut short is shown with its missing bytes as 0xFF
    std::string problem;            // why the input could not be read as what it must be, "" when it could
};

// The report's words for the header fields, for the text of a demo: the
// stage title, the difficulty label ("" for codes without one), the control
// style ("1.3 Kissy"), and the screen and options as the summary lists them
// ("Wide; Normal, Ammo On-Screen Off, ...").
std::string_view stage_title(std::uint8_t code);
std::string_view difficulty_label(std::int8_t code);
std::string_view control_style(std::uint8_t setup);
std::string screen_and_options(std::uint8_t setup, std::uint8_t options);

// The outcome's fields that the header of a demo gives.
outcome outcome_of(const demo::header& h);

// Closes `demo`, then the writer's stream, and hands `done`, with the
// writer's error, to `result` when given. Returns 0 when everything was
// written, else 1.
int close_both(std::FILE* demo, writer& out, outcome& done, outcome* result);

// How the walk over the command blocks ended.
enum class walk_end {
    zero_word,   // at the closing zero word
    inside_word, // the demo ended inside a block header word, or before it
    inside_block // the demo ended inside a block
};

// Walks the command blocks from where `in` stands up to the zero word,
// counting them in `walk.blocks` and calling `block(word, in)` for each:
// it takes the block's entries and returns false when the demo ended among
// them. The walk stops early when `out` has failed. Where the demo ends
// early, sets walk.ended_early, end_offset and read_error.
walk_end walk_blocks(demo::word_reader& in, const writer& out, outcome& walk,
                     const std::function<bool(const unsigned char* word, demo::word_reader& in)>& block);

// Writes the stage title and the summary paragraph of `h`, from "<H1>" to the
// "</P>\n" that closes the summary: the report's, and the view's, same bytes.
void put_summary(writer& out, const demo::header& h);

// Writes the report of `demo` to `report` and closes both streams, the demo
// first. Returns 0 when the report was written completely, 1 when a write or
// the closing of the report failed. `result`, when given, receives the
// details; nothing is written to the console. Nothing may have been written to
// `report` before: the writer turns the stream's own buffering off (glibc's
// open_memstream streams do not take that; a file or a cookie stream does).
int unmush(std::FILE* demo, std::FILE* report, outcome* result = nullptr);

} // namespace report
