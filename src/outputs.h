// Where each report goes, and the rules that decide it, once for every
// system: which names a report may replace, the temporary file a report is
// written to before it takes its name, the refusals, and the run over
// several demos. The console itself (arguments, prompts on the terminal,
// message lines, the exit status) is the caller's: it hands in what the
// rules need of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace outputs {

// How many of a file's first bytes tell whether it may be replaced.
std::size_t first_bytes_told();

// The name that stands for standard input as the demo and standard output
// as the report.
inline constexpr std::string_view standard_stream_name = "-";

enum class message { error, warning, note };

// Where a text the run shows goes: standard output, or standard error when
// standard output carries the report.
enum class channel { output, error };

// What the run needs of the console.
struct console_side {
    std::function<void(message, const std::string&)> tell; // one message line, without its line end
    std::function<void(channel, const std::string&)> show; // the prompts and the completion message
    std::function<bool(std::string&)> ask;                 // reads the answer to a prompt just shown;
                                                           // false when standard input ended
};

// What the run writes for each demo.
enum class kind {
    report, // the HTML report, with res/ beside it
    view,   // the view page, one self-contained file
    text,   // the demo as text, NAME.txt
    csv,    // the demo's rows as a table, NAME.csv
    demo,   // the demo a text describes, NAME.demo; never over an existing file
};

// What to convert: the names given, and whether names may be asked for on
// standard input (when none were given, or it is a terminal).
struct request {
    std::vector<std::string> names;
    bool may_ask = true;
    kind writes = kind::report; // what is written for each demo
};

// The exit status when every file was written but a demo was cut short
// (it ends inside its header or before its closing zero word).
inline constexpr int cut_status = 3;

// Above this many rows a report is followed by a note that its view opens
// at once.
inline constexpr std::uint64_t rows_for_the_view_note = 20000;

// Converts the demos of `asked`: one demo, named alone or with its report's
// name, or several, each with its report beside it; or the same with view
// pages, named NAME.view.htm where the report would be NAME.htm. Returns the exit
// status: 0 when every report was written completely from a whole demo,
// `cut_status` when every report was written but a demo was cut short, 1
// when a report was not written.
int convert(const request& asked, const console_side& console);

// The status of two parts of a run together: 1 (a failure) over
// `cut_status` over 0.
int worse_status(int one, int other);

// True when two or more names are several demos: three names or more, or
// two whose second is a file that a report may not replace.
bool names_several_demos(const std::vector<std::string>& names);

// True when a file's first bytes are those of a file a report or a view may
// replace: none (an empty file), a report's or a view's.
bool may_be_replaced(std::string_view first_bytes);

} // namespace outputs
