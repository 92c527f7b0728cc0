// demo2html: turns a recorded demo into an HTML report.
//
//   demo2html [--] [DEMO [REPORT]]
//   demo2html --help | -h | --version
//
// Without a demo name, or when the demo cannot be opened, the name is asked
// for. The report is named after the demo unless REPORT is given, and the
// stylesheet and icons it shows are written beside it where they are missing.
#include "console.h"
#include "demo_format.h"
#include "files.h"
#include "report.h"
#include "resources.h"

#include <algorithm>
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

constexpr const char* demo_prompt = "\nfiddle with what file? ";
constexpr const char* report_prompt = "\noutput text name? ";
constexpr const char* done_message = "\n\nAll done.  Demo is broken down in %s.\n";

constexpr const char* usage = R"(Usage: demo2html [DEMO [REPORT]]
       demo2html -- DEMO [REPORT]
       demo2html --help | -h | --version

Turns the recorded game demo DEMO into an HTML report. Without DEMO, or when
it cannot be opened, asks for its name; a name typed in quotes is taken
without them when it does not open as typed. Use -- before a DEMO whose name
starts with a dash.

The report is REPORT, or else DEMO's file name cut at its first full stop
with ".htm" appended, in DEMO's folder: runs/dam.demo gives runs/dam.htm.
An existing report is replaced; the demo itself never is.

The report shows its stylesheet and icons from a folder res/ beside it:
those that are missing there are written, and existing files are kept.

Exit status: 0 when the report was written completely; 1 when it was not, or
when standard input ended while a name was asked for.
)";

enum class kind { error, warning, note };

// Every message goes to standard error as one line that starts with the
// program's name and, but for errors, says what kind of message it is.
void tell(kind what, const std::string& text)
{
    const char* prefix = what == kind::warning ? "warning: " : what == kind::note ? "note: " : "";
    std::fprintf(stderr, "demo2html: %s%s\n", prefix, text.c_str());
}

std::string quoted(const std::string& name) { return "'" + name + "'"; }

// Standard output must take everything the program printed, or the run
// failed. Returns the exit status.
int finish_output()
{
    if (std::fflush(stdout) != 0) {
        tell(kind::error, std::string("cannot write to standard output: ") + std::strerror(errno));
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

// Shows the prompt and reads the answer; false when standard input ended.
bool ask(const char* prompt, std::string& name)
{
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    return console::read_line(stdin, name);
}

// Opens `name` with `open`, which gives the reason when it fails. A name in
// quotes that does not open is tried once more without them, and becomes the
// name when that opens. The reason is told for the last name tried.
template <typename Opener> std::FILE* open_named(std::string& name, Opener open)
{
    std::string why;
    std::FILE* file = open(name, why);
    const auto inner = console::unquoted(name);
    if (file == nullptr && inner && !inner->empty()) {
        file = open(*inner, why);
        if (file != nullptr) {
            name = *inner;
        }
    }
    if (file == nullptr) {
        tell(kind::error, why);
    }
    return file;
}

// Opens `name`, asking with `prompt` for another until one opens. An empty
// name is asked for again without a word. Returns nullptr when standard input
// ends.
template <typename Opener> std::FILE* open_asking(std::string& name, const char* prompt, const char* what, Opener open)
{
    for (;;) {
        if (!name.empty()) {
            if (std::FILE* file = open_named(name, open); file != nullptr) {
                return file;
            }
        }
        if (!ask(prompt, name)) {
            tell(kind::error, std::string("no ") + what + " name given: standard input ended");
            return nullptr;
        }
    }
}

std::FILE* open_demo_asking(std::string& name)
{
    return open_asking(name, demo_prompt, "demo", [](const std::string& tried, std::string& why) {
        int error = 0;
        std::FILE* demo = files::open_demo(tried, error);
        if (demo == nullptr) {
            why = "cannot open " + quoted(tried) + " for reading: " + std::strerror(error);
        }
        return demo;
    });
}

// A name that designates the demo itself is refused before anything is
// opened for writing, so the demo is never emptied.
std::FILE* open_report_asking(std::string& name, std::FILE* demo, const std::string& demo_name)
{
    return open_asking(name, report_prompt, "report",
                       [demo, &demo_name](const std::string& tried, std::string& why) -> std::FILE* {
                           if (files::is_same_file(demo, tried)) {
                               why = "will not write the report to " + quoted(tried) + ": it is the demo " +
                                     quoted(demo_name) + " itself";
                               return nullptr;
                           }
                           int error = 0;
                           std::FILE* report = files::open_report(tried, error);
                           if (report == nullptr) {
                               why = "cannot open " + quoted(tried) + " for writing: " + std::strerror(error);
                           }
                           return report;
                       });
}

// Tells the user what the report could not show of the demo.
void warn_about(const report::outcome& outcome, const std::string& demo_name)
{
    if (outcome.tables_left_out) {
        tell(kind::warning, quoted(demo_name) + " has " + std::to_string(outcome.controllers) +
                                " controllers, more than " + std::to_string(report::max_table_controllers) +
                                "; the block tables are left out");
    }
    if (outcome.read_error != 0) {
        tell(kind::warning, "reading " + quoted(demo_name) + " failed at offset " + std::to_string(outcome.end_offset) +
                                ": " + std::strerror(outcome.read_error) +
                                "; the report ends with what was read before");
    } else if (outcome.header_bytes < demo::first_block_offset) {
        tell(kind::warning, quoted(demo_name) + " ends after " + std::to_string(outcome.header_bytes) +
                                " bytes, inside its header; the missing header bytes are shown as 0xFF");
    } else if (outcome.ended_early) {
        tell(kind::warning, quoted(demo_name) + " ends early, at offset " + std::to_string(outcome.end_offset) +
                                ", before the zero word that closes its command blocks; the report shows what "
                                "was read (" +
                                std::to_string(outcome.blocks) + (outcome.blocks == 1 ? " block)" : " blocks)"));
    }
}

// Puts the stylesheet and icons beside the report, where missing, and says
// what it wrote and what it could not.
void write_resources_beside(const std::string& report_name)
{
    const resources::outcome written = resources::write_beside(report_name);
    for (const resources::failure& failed : written.failures) {
        const bool folder = failed.path == written.folder;
        tell(kind::warning, std::string("cannot write ") + (folder ? "the folder " : "") + quoted(failed.path) + ": " +
                                std::strerror(failed.error) + "; the report shows without " +
                                (folder ? "its stylesheet and icons" : "it"));
    }
    if (written.written > 0) {
        tell(kind::note, "wrote the report's stylesheet and icons into " + quoted(written.folder) + " (" +
                             std::to_string(written.written) + (written.written == 1 ? " file)" : " files)"));
    }
}

int convert(const std::vector<std::string>& names)
{
    std::string demo_name = !names.empty() ? names[0] : "";
    std::FILE* demo = open_demo_asking(demo_name);
    if (demo == nullptr) {
        return 1;
    }

    std::string report_name = names.size() > 1 ? names[1] : console::report_name_for(demo_name);
    std::FILE* report = open_report_asking(report_name, demo, demo_name);
    if (report == nullptr) {
        std::fclose(demo);
        return 1;
    }

    // A report sent to a device or a pipe has no folder to show it from.
    const bool report_is_file = files::is_regular_file(report);
    report::outcome outcome;
    const int written = report::unmush(demo, report, &outcome);
    warn_about(outcome, demo_name);
    if (written != 0) {
        tell(kind::error, "cannot write the report " + quoted(report_name) + ": " + std::strerror(outcome.write_error) +
                              "; the report is incomplete");
        return 1;
    }
    if (report_is_file) {
        write_resources_beside(report_name);
    }

    std::printf(done_message, report_name.c_str());
    const int status = finish_output();
    console::wait_for_key();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (!args.empty() && is_help_option(args[0])) {
        std::fputs(usage, stdout);
        return finish_output();
    }
    if (!args.empty() && args[0] == "--version") {
        std::puts("demo2html " DEMO2HTML_VERSION);
        return finish_output();
    }
    if (!args.empty() && args[0] == "--") {
        args.erase(args.begin());
    }
    return convert(args);
}
