// demo2html: turns a recorded demo into an HTML report.
//
//   demo2html [OPTION]... [--] [DEMO [REPORT]]
//   demo2html [OPTION]... [--] DEMO DEMO...
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
constexpr const char* usage = R"(Usage: demo2html [OPTION] [DEMO [REPORT]]
       demo2html [OPTION] DEMO DEMO...

Turns the recorded game demo DEMO into an HTML report.

Options, wherever they stand before "--":
  --view      write a view page instead of the report: one file that holds
              its script, its stylesheet, the icons and the demo itself,
              and opens at once in a browser at any length, a lane per
              button; NAME.view.htm where the report would be NAME.htm
  --text      write the demo as text instead: NAME.txt, its header's fields
              named as the report names them, then each block's word and a
              line per row, for each controller its stick X and Y and a
              fixed place per button (its letter when held, "." when not);
              every byte of the demo is in it
  --csv       write its rows as a table: NAME.csv, a line per row and
              controller (block, row, row in the demo, controller, stick X
              and Y, a 0/1 column per button)
  --demo      write the demo a text describes, edited or not: DEMO, or
              NAME.demo beside the text (run.txt gives run.demo), never over
              an existing file; a text that cannot be read is an error
              that says where and why (run.txt:12:17: ...)
  --help, -h  show this text and do nothing else
  --version   show the program's version
  --          end the options: a name after it may begin with a dash
              (or give such a name as ./-name)

The report is REPORT, or else DEMO's file name cut at its first full stop
with ".htm" appended, in DEMO's folder: runs@dam.demo gives runs@dam.htm.
An earlier report is replaced once the new one is complete; a file that is
not a report, and the demo itself, never are. Each kind replaces only an
earlier file of its own kind (or an empty file): a view a view, a text a
text, a table a table, and a demo nothing.

"-" as DEMO reads the demo from standard input, and alone writes its report
to standard output (demo2html - < run.demo > run.htm); "-" as REPORT writes
the report to standard output. A report to a pipe or a device, or to one
of the program's own descriptors (/dev/stdout), is written through as it is.

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

Exit status:
  0    every report was written, each from a whole demo
  1    a report was not written, or standard input ended at a prompt
  2    the command line is wrong (an unknown option, two kinds of output)
  3    every report was written, but a demo was cut short: it ends inside
       its header or before the zero word that closes its blocks (the
       report shows all there is)
  130, 143, 129  interrupted (Ctrl+C, a termination, a closed terminal),
       which leaves the earlier report as it was, or the new one whole
       when it was taking its name; a line on standard error says which

Examples:
  demo2html run.demo                 run.htm, with res@ beside it
  demo2html --view run.demo          run.view.htm, one file
  demo2html runs@*.demo              a report beside each demo
  demo2html - < run.demo | gzip > run.htm.gz
  demo2html --text one.demo two.demo && diff -u one.txt two.txt
                                     the rows where two plays differ
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

// ---------------------------------------------------------------- options

// The exit status of a wrong command line.
constexpr int usage_status = 2;

enum class action { convert, help, version };

// What an option asks for: to show a text, or what is written for each demo.
struct option {
    std::string_view name;
    action does;
    outputs::kind writes;
};

constexpr option options[] = {
    {"--help", action::help, outputs::kind::report},       {"-h", action::help, outputs::kind::report},
#ifdef _WIN32
    {"/?", action::help, outputs::kind::report},
#endif
    {"--version", action::version, outputs::kind::report}, {"--view", action::convert, outputs::kind::view},
    {"--text", action::convert, outputs::kind::text},      {"--csv", action::convert, outputs::kind::csv},
    {"--demo", action::convert, outputs::kind::demo},
};

// The option's name as the messages give it.
std::string option_name(outputs::kind writes)
{
    for (const option& o : options) {
        if (o.does == action::convert && o.writes == writes) {
            return std::string(o.name);
        }
    }
    return "";
}

const option* option_named(std::string_view arg)
{
    const auto found =
        std::find_if(std::begin(options), std::end(options), [&](const option& o) { return o.name == arg; });
    return found != std::end(options) ? found : nullptr;
}

// True when `arg`, standing before "--", is an option: it begins with a
// dash ("-" alone names standard input), or it is one of the options'
// names ("/?").
bool is_option(std::string_view arg) { return (arg.size() > 1 && arg.front() == '-') || option_named(arg) != nullptr; }

// The command line, read: what it asks for, and the names.
struct command_line {
    action does = action::convert;
    outputs::kind writes = outputs::kind::report;
    std::vector<std::string> names;
    std::string error; // why the command line is wrong, "" when it is not
};

// Reads the options wherever they stand before "--", and the names. An
// option given twice counts once; a help or version option wins over the
// rest, an unknown option or two kinds of output are an error.
command_line read_command_line(const std::vector<std::string>& args)
{
    command_line given;
    bool kind_chosen = false;
    bool ended = false;
    for (const std::string& arg : args) {
        if (ended || !is_option(arg)) {
            given.names.push_back(arg);
            continue;
        }
        if (arg == "--") {
            ended = true;
            continue;
        }
        const option* known = option_named(arg);
        if (known == nullptr) {
            if (given.error.empty()) {
                given.error = "unknown option '" + arg + "'; demo2html --help lists them";
            }
            continue;
        }
        if (known->does != action::convert) {
            given.does = given.does == action::help ? action::help : known->does;
            continue;
        }
        if (kind_chosen && given.writes != known->writes && given.error.empty()) {
            given.error = option_name(given.writes) + " and " + std::string(known->name) +
                          " cannot be given together: a run writes one kind of file";
        }
        given.writes = known->writes;
        kind_chosen = true;
    }
    return given;
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

} // namespace

int main(int argc, char** argv)
{
    const command_line given = read_command_line(console::arguments(argc, argv));
    if (given.does == action::help) {
        show(usage_text());
        return finish_output();
    }
    if (given.does == action::version) {
        show("demo2html " DEMO2HTML_VERSION "\n");
        return finish_output();
    }
    if (!given.error.empty()) {
        tell(outputs::message::error, given.error);
        return usage_status;
    }
    outputs::request asked;
    asked.writes = given.writes;
    std::vector<std::string> unmatched;
    std::vector<std::string> args = console::with_wildcards_resolved(given.names, unmatched);
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
    const int status = outputs::worse_status(converted, finish_output());
    console::wait_for_key();
    return status;
}
