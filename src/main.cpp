// demo2html: turns a recorded demo into an HTML report.
//
//   demo2html [--] [DEMO [REPORT]]
//   demo2html [--] DEMO DEMO...
//   demo2html --view [--] DEMO [PAGE] | --view [--] DEMO DEMO...
//   demo2html --text | --csv [--] DEMO [OUT] | ... DEMO DEMO...
//   demo2html --demo [--] TEXT [DEMO] | --demo [--] TEXT TEXT...
//   demo2html --help | -h | --version
//
// The console side of the program: the options, the prompts' answers from
// standard input, the message lines and the exit status. Where each report
// goes, and what may be replaced, is decided in src/outputs.cpp.
#include "console.h"
#include "outputs.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#ifndef DEMO2HTML_VERSION
#error "DEMO2HTML_VERSION must give the program's version"
#endif

namespace {

// '@' stands for the system's folder separator.
constexpr const char* usage = R"(Usage: demo2html [DEMO [REPORT]]
       demo2html DEMO DEMO...
       demo2html --view DEMO [PAGE] | --view DEMO DEMO...
       demo2html --text DEMO [TEXT] | --text DEMO DEMO...
       demo2html --csv DEMO [TABLE] | --csv DEMO DEMO...
       demo2html --demo TEXT [DEMO] | --demo TEXT TEXT...
       demo2html -- DEMO [REPORT]
       demo2html --help | -h | --version

Turns the recorded game demo DEMO into an HTML report. Use -- before a DEMO
whose name starts with a dash.

The report is REPORT, or else DEMO's file name cut at its first full stop
with ".htm" appended, in DEMO's folder: runs@dam.demo gives runs@dam.htm.
An earlier report is replaced once the new one is complete; a file that is
not a report, and the demo itself, never are.

"-" as DEMO reads the demo from standard input, and alone writes its report
to standard output (demo2html - < run.demo > run.htm); "-" as REPORT writes
the report to standard output. A file named "-" is "./-". A report to a pipe
or a device, or to one of the program's own descriptors (/dev/stdout), is
written through as it is.

Without DEMO, asks for its name. When DEMO cannot be opened, or REPORT
cannot be written, asks for another only when standard input is a terminal
(otherwise it is an error). A name typed in quotes is taken without them
when it does not open as typed.

Several demos can be named (or dropped onto the program) at once: three or
more names, or two whose second is a file that is not a report. Each gets
its report beside it, named after it; one that fails is told about and the
next goes on, without asking.

The report shows its stylesheet and icons from a folder res@ beside it:
those that are missing there are written, and existing files are kept.

--view writes, instead of the report, a view page: one file that holds
its script, its stylesheet, the icons and the demo itself, and opens at
once in a browser at any length, a lane per button. It is PAGE, or
NAME.view.htm where the report would be NAME.htm; the rules of the
report's name hold for it, and an earlier view is replaced as a report is.

--text writes, instead of the report, the demo as text: TEXT, or NAME.txt
where the report would be NAME.htm. Its header fields come first, named as
the report names them; then each block's word and a line per row: for
each controller its stick X and Y and a fixed place per button, its letter
when held and "." when not. Every byte of the demo is in it, so diff shows
where two plays differ:
    demo2html --text one.demo && demo2html --text two.demo
    diff -u one.txt two.txt
An earlier text is replaced; any other file never is.

--csv writes the rows as a table for a spreadsheet or a script: TABLE, or
NAME.csv, a line per row and controller (block, row, row in the demo,
controller, stick X and Y, a 0/1 column per button).

--demo writes the demo a text describes, edited or not: DEMO, or NAME.demo
beside the text (run.txt gives run.demo). A file that exists is never
replaced. A text that cannot be read is an error that says where and why
(run.txt:12:17: ...), and then nothing is written.

Exit status: 0 when every report was written completely; 1 when one was
not, or when standard input ended while a name was asked for; 130, 143 or
129 when interrupted (Ctrl+C, a termination, a closed terminal), which
leaves the earlier report as it was.
)";

// Every message goes to standard error as one line that starts with the
// program's name and, but for errors, says what kind of message it is.
void tell(outputs::message what, const std::string& text)
{
    const char* prefix = what == outputs::message::warning ? "warning: "
                         : what == outputs::message::note  ? "note: "
                                                           : "";
    console::write(stderr, std::string("demo2html: ") + prefix + text + "\n");
}

// Set once standard output did not take a text: the run has then failed.
bool output_failed = false;

// Shows `text` on standard output, at once, so that a prompt is there
// before its answer is read.
void show(const std::string& text)
{
    if (!console::write(stdout, text) || std::fflush(stdout) != 0) {
        output_failed = true;
    }
}

void show_on(outputs::channel where, const std::string& text)
{
    if (where == outputs::channel::error) {
        console::write(stderr, text);
    } else {
        show(text);
    }
}

// Standard output must take everything the program printed, or the run
// failed. Returns the exit status.
int finish_output()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || output_failed) {
        tell(outputs::message::error, std::string("cannot write to standard output: ") + std::strerror(errno));
        return 1;
    }
    return 0;
}

bool is_help_option(std::string_view arg)
{
#ifdef _WIN32
    if (arg == "/?") {
        return true;
    }
#endif
    return arg == "--help" || arg == "-h";
}

#ifdef _WIN32
constexpr const char* system_usage = R"(
On Windows, a DEMO whose last part holds * or ? stands for the files it
matches in its folder (runs\*.demo), in name order, hidden files left out;
a pattern that matches no file is an error, and then nothing is converted.
Started by a double-click or by dropping demos onto it, the program waits
for a key before its window closes; from cmd, PowerShell, a script or a
redirect it does not.
)";
#else
constexpr const char* system_usage = "";
#endif

// The usage text with this system's folder separator in its names.
std::string usage_text()
{
    std::string text = std::string(usage) + system_usage;
    std::replace(text.begin(), text.end(), '@', console::path_separator);
    return text;
}

// The options that choose what is written for each demo, in place of the
// report.
struct output_choice {
    std::string_view option;
    outputs::kind writes;
};

constexpr std::array<output_choice, 4> output_options = {{
    {"--view", outputs::kind::view},
    {"--text", outputs::kind::text},
    {"--csv", outputs::kind::csv},
    {"--demo", outputs::kind::demo},
}};

// The output option `args` starts with, or nullptr.
const output_choice* output_option(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return nullptr;
    }
    const auto* found = std::find_if(output_options.begin(), output_options.end(),
                                     [&](const output_choice& choice) { return choice.option == args[0]; });
    return found != output_options.end() ? found : nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args = console::arguments(argc, argv);
    if (!args.empty() && is_help_option(args[0])) {
        show(usage_text());
        return finish_output();
    }
    if (!args.empty() && args[0] == "--version") {
        show("demo2html " DEMO2HTML_VERSION "\n");
        return finish_output();
    }
    outputs::request asked;
    if (const auto* option = output_option(args); option != nullptr) {
        asked.writes = option->writes;
        args.erase(args.begin());
    }
    if (!args.empty() && args[0] == "--") {
        args.erase(args.begin());
    }
    std::vector<std::string> unmatched;
    args = console::with_wildcards_resolved(args, unmatched);
    for (const std::string& pattern : unmatched) {
        tell(outputs::message::error, "no file matches '" + pattern + "'");
    }
    // Names given on the command line are asked for again only by a user at
    // a terminal: a script's input is not a user's answer.
    asked.may_ask = args.empty() || console::input_is_terminal();
    asked.names = std::move(args);
    const outputs::console_side side{tell, show_on, console::read_answer};
    // Without the files a pattern stood for, the names would not say which is
    // a demo and which a report: nothing is converted.
    const int converted = unmatched.empty() ? outputs::convert(asked, side) : 1;
    const int status = std::max(converted, finish_output());
    console::wait_for_key();
    return status;
}
