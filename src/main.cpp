// demo2html: turns a recorded demo into an HTML report.
//
//   demo2html [--] [DEMO [REPORT]]
//   demo2html [--] DEMO DEMO...
//   demo2html --help | -h | --version
//
// Without a demo name, or when the demo cannot be opened, the name is asked
// for. The report is named after the demo unless REPORT is given, and the
// stylesheet and icons it shows are written beside it where they are missing.
// Several demos are converted one after the other, each as if named alone.
#include "console.h"
#include "demo_format.h"
#include "files.h"
#include "report.h"
#include "resources.h"
#include "view.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
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
       demo2html DEMO DEMO...
       demo2html -- DEMO [REPORT]
       demo2html --help | -h | --version

Turns the recorded game demo DEMO into an HTML report. Without DEMO, or when
it cannot be opened, asks for its name; a name typed in quotes is taken
without them when it does not open as typed. Use -- before a DEMO whose name
starts with a dash.

The report is REPORT, or else DEMO's file name cut at its first full stop
with ".htm" appended, in DEMO's folder: runs/dam.demo gives runs/dam.htm.
An earlier report is replaced once the new one is complete; a file that is
not a report, and the demo itself, never are.

Several demos can be named (or dropped onto the program) at once: three or
more names, or two whose second is a file that is not a report. Each gets
its report beside it, named after it; one that fails is told about and the
next goes on, without asking.

The report shows its stylesheet and icons from a folder res/ beside it:
those that are missing there are written, and existing files are kept.

Exit status: 0 when every report was written completely; 1 when one was
not, or when standard input ended while a name was asked for.
)";

enum class kind { error, warning, note };

// Every message goes to standard error as one line that starts with the
// program's name and, but for errors, says what kind of message it is.
void tell(kind what, const std::string& text)
{
    const char* prefix = what == kind::warning ? "warning: " : what == kind::note ? "note: " : "";
    console::write(stderr, std::string("demo2html: ") + prefix + text + "\n");
}

std::string quoted(const std::string& name) { return "'" + name + "'"; }

// `format`, whose one conversion is %s, with `name` in its place.
std::string with_name(std::string_view format, const std::string& name)
{
    const std::size_t at = format.find("%s");
    return std::string(format.substr(0, at)).append(name).append(format.substr(at + 2));
}

// Set once standard output did not take a text: the run has then failed.
bool output_failed = false;

// Shows `text` on standard output.
void show(const std::string& text)
{
    if (!console::write(stdout, text)) {
        output_failed = true;
    }
}

// Standard output must take everything the program printed, or the run
// failed. Returns the exit status.
int finish_output()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || output_failed) {
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
    show(prompt);
    std::fflush(stdout);
    return console::read_answer(name);
}

bool opened(std::FILE* demo) { return demo != nullptr; }
bool opened(const files::report_file& report) { return report.stream != nullptr; }

// Opens `name` with `open`, which gives the reason when it fails. A name in
// quotes that does not open is tried once more without them, and becomes the
// name when that opens. The reason is told for the last name tried.
template <typename Opener> auto open_named(std::string& name, Opener open)
{
    std::string why;
    auto file = open(name, why);
    const auto inner = console::unquoted(name);
    if (!opened(file) && inner && !inner->empty()) {
        file = open(*inner, why);
        if (opened(file)) {
            name = *inner;
        }
    }
    if (!opened(file)) {
        tell(kind::error, why);
    }
    return file;
}

// Opens `name`, asking with `prompt` for another until one opens. An empty
// name is asked for again without a word. Returns what failed to open when
// standard input ends.
template <typename Opener> auto open_asking(std::string& name, const char* prompt, const char* what, Opener open)
{
    for (;;) {
        if (!name.empty()) {
            if (auto file = open_named(name, open); opened(file)) {
                return file;
            }
        }
        if (!ask(prompt, name)) {
            tell(kind::error, std::string("no ") + what + " name given: standard input ended");
            return decltype(open(name, std::declval<std::string&>())){};
        }
    }
}

std::FILE* open_demo(const std::string& name, std::string& why)
{
    int error = 0;
    std::FILE* demo = files::open_demo(name, error);
    if (demo == nullptr) {
        why = "cannot open " + quoted(name) + " for reading: " + std::strerror(error);
    }
    return demo;
}

std::FILE* open_demo_asking(std::string& name) { return open_asking(name, demo_prompt, "demo", open_demo); }

// The files of one run: the demos named, and the reports written so far,
// each by the file it is, with the name of its demo.
struct run_files {
    std::map<files::file_id, std::string> demos;
    std::map<files::file_id, std::string> reports;
};

// Why the report of the demo open as `demo`, named `demo_name`, may not be
// written to `name`: it is the demo itself or another demo of the run, a
// report written earlier in the run, or a file of the user's that is not a
// report. "" when it may.
std::string refusal(const std::string& name, std::FILE* demo, const std::string& demo_name, const run_files& run)
{
    if (files::is_same_file(demo, name)) {
        return "will not write the report to " + quoted(name) + ": it is the demo " + quoted(demo_name) + " itself";
    }
    if (const std::optional<files::file_id> id = files::id_of(name); id) {
        if (const auto other = run.demos.find(*id); other != run.demos.end()) {
            return "will not write the report of " + quoted(demo_name) + " to " + quoted(name) + ": it is the demo " +
                   quoted(other->second) + ", named too";
        }
        if (const auto other = run.reports.find(*id); other != run.reports.end()) {
            return "will not write the report of " + quoted(demo_name) + " to " + quoted(name) +
                   ": it holds the report of " + quoted(other->second) + ", written just before";
        }
    }
    const files::glance there = files::look_at(name, report::start_bytes);
    if (there.regular && there.size > 0 && !report::begins_like_a_report(there.start)) {
        return "will not replace " + quoted(name) + ": it is not a report";
    }
    return "";
}

// Opens the report `name` unless it is refused: the demo is never emptied,
// nor a file that is not a report.
files::report_file open_report(const std::string& name, std::string& why, std::FILE* demo, const std::string& demo_name,
                               const run_files& run)
{
    why = refusal(name, demo, demo_name, run);
    if (!why.empty()) {
        return {};
    }
    int error = 0;
    files::report_file report = files::open_report(name, error);
    if (report.stream == nullptr) {
        why = "cannot open " + quoted(name) + " for writing: " + std::strerror(error);
    }
    return report;
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
                                (outcome.header_bytes == 1 ? " byte" : " bytes") +
                                ", inside its header; the missing header bytes are shown as 0xFF");
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

// Writes the report of `demo` into `report`, named `report_name`, puts it in
// place and the stylesheet and icons beside it, and says that it is done.
// False when the report could not be written completely.
bool write_report(std::FILE* demo, const std::string& demo_name, const files::report_file& report,
                  const std::string& report_name)
{
    // A report sent to a device or a pipe has no folder to show it from.
    const bool report_is_file = files::is_regular_file(report.stream);
    report::outcome outcome;
    const bool written = report::unmush(demo, report.stream, &outcome) == 0;
    warn_about(outcome, demo_name);
    const int error = written ? files::keep_report(report) : outcome.write_error;
    if (!written) {
        files::drop_report(report);
    }
    if (error != 0) {
        const std::string left =
            report.part.empty() ? "the report is incomplete" : quoted(report_name) + " is left as it was";
        tell(kind::error, "cannot write the report " + quoted(report_name) + ": " + std::strerror(error) + "; " + left);
        return false;
    }
    if (report_is_file) {
        write_resources_beside(report_name);
    }
    show(with_name(done_message, report_name));
    return true;
}

// One demo, named alone or with its report's name: whatever does not open is
// asked for again.
int convert_one(const std::vector<std::string>& names)
{
    std::string demo_name = !names.empty() ? names[0] : "";
    std::FILE* demo = open_demo_asking(demo_name);
    if (demo == nullptr) {
        return 1;
    }
    std::string report_name = names.size() > 1 ? names[1] : console::report_name_for(demo_name);
    const run_files alone;
    const files::report_file report =
        open_asking(report_name, report_prompt, "report", [&](const std::string& tried, std::string& why) {
            return open_report(tried, why, demo, demo_name, alone);
        });
    if (report.stream == nullptr) {
        std::fclose(demo);
        return 1;
    }
    return write_report(demo, demo_name, report, report_name) ? 0 : 1;
}

// Every demo named, one after the other, each as if named alone but without
// a prompt: one that fails is told about and the next goes on. A demo named
// twice is converted once, and no report replaces one written earlier in
// the run.
int convert_several(const std::vector<std::string>& names)
{
    run_files run;
    for (const std::string& name : names) {
        const files::glance there = files::look_at(name, report::start_bytes);
        if (const std::optional<files::file_id> id = files::id_of(name);
            id && !(there.regular && report::begins_like_a_report(there.start))) {
            run.demos.emplace(*id, name);
        }
    }
    std::set<files::file_id> converted;
    int status = 0;
    for (std::string demo_name : names) {
        std::FILE* demo = open_named(demo_name, open_demo);
        if (demo == nullptr) {
            status = 1;
            continue;
        }
        if (const std::optional<files::file_id> id = files::id_of(demo); id && !converted.insert(*id).second) {
            std::fclose(demo);
            continue;
        }
        std::string report_name = console::report_name_for(demo_name);
        const files::report_file report = open_named(report_name, [&](const std::string& tried, std::string& why) {
            return open_report(tried, why, demo, demo_name, run);
        });
        if (report.stream == nullptr) {
            std::fclose(demo);
            status = 1;
            continue;
        }
        if (!write_report(demo, demo_name, report, report_name)) {
            status = 1;
            continue;
        }
        if (const std::optional<files::file_id> id = files::id_of(report_name); id) {
            run.reports.emplace(*id, demo_name);
        }
    }
    return status;
}

// --view DEMO [PAGE]: writes the view page of DEMO to PAGE, by default named
// as DEMO's report with ".view.htm" for ".htm".
int write_view_page(const std::vector<std::string>& names)
{
    if (names.empty()) {
        tell(kind::error, "--view needs a demo");
        return 1;
    }
    const std::string& demo_name = names[0];
    std::string page_name = names.size() > 1 ? names[1] : console::report_name_for(demo_name);
    if (names.size() < 2) {
        page_name.replace(page_name.size() - 4, 4, ".view.htm");
    }
    std::string why;
    std::FILE* demo = open_demo(demo_name, why);
    if (demo == nullptr) {
        tell(kind::error, why);
        return 1;
    }
    // Opening the page empties it: never the demo itself.
    const bool is_demo = files::is_same_file(demo, page_name);
    std::FILE* page = is_demo ? nullptr : std::fopen(page_name.c_str(), "wb");
    if (page == nullptr) {
        const std::string cause = is_demo ? "it is the demo itself" : std::strerror(errno);
        tell(kind::error, "cannot open " + quoted(page_name) + " for writing: " + cause);
        std::fclose(demo);
        return 1;
    }
    report::outcome outcome;
    const bool written = view::write_view(demo, page, &outcome) == 0;
    warn_about(outcome, demo_name);
    if (!written) {
        tell(kind::error, "cannot write the view " + quoted(page_name) + ": " + std::strerror(outcome.write_error));
        return 1;
    }
    show(with_name(done_message, page_name));
    return 0;
}

// Several demos are named when there are three names or more, or two whose
// second is a file that a report may not replace.
bool names_several_demos(const std::vector<std::string>& names)
{
    if (names.size() > 2) {
        return true;
    }
    if (names.size() < 2) {
        return false;
    }
    const files::glance second = files::look_at(names[1], report::start_bytes);
    return second.regular && second.size > 0 && !report::begins_like_a_report(second.start);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args = console::arguments(argc, argv);
    if (!args.empty() && is_help_option(args[0])) {
        show(usage);
        return finish_output();
    }
    if (!args.empty() && args[0] == "--version") {
        show("demo2html " DEMO2HTML_VERSION "\n");
        return finish_output();
    }
    if (!args.empty() && args[0] == "--view") {
        const int viewed = write_view_page({args.begin() + 1, args.end()});
        return std::max(viewed, finish_output());
    }
    if (!args.empty() && args[0] == "--") {
        args.erase(args.begin());
    }
    const int converted = names_several_demos(args) ? convert_several(args) : convert_one(args);
    const int status = std::max(converted, finish_output());
    console::wait_for_key();
    return status;
}
