// demo2html: turns a recorded demo into an HTML report.
//
//   demo2html [DEMO [REPORT]]
//
// Without a demo name, or when the demo cannot be opened, the name is asked
// for. The report is named after the demo unless REPORT is given.
#include "console.h"
#include "demo_format.h"
#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifndef DEMO2HTML_RES_DIR
#define DEMO2HTML_RES_DIR "res"
#endif

namespace {

constexpr const char* demo_prompt = "\nfiddle with what file? ";
constexpr const char* report_prompt = "\noutput text name? ";
constexpr const char* done_message = "\n\nAll done.  Demo is broken down in %s.\n";

void complain(const std::string& text) { std::fprintf(stderr, "demo2html: %s\n", text.c_str()); }

std::string quoted(const std::string& name) { return "'" + name + "'"; }

// Shows the prompt and reads the answer; false when standard input ended.
bool ask(const char* prompt, std::string& name)
{
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    return console::read_line(stdin, name);
}

// Opens `name` with `open`, which says on stderr why a name would not open,
// and asks with `prompt` for another until one opens. An empty name is asked
// for again without a word. Returns nullptr when standard input ends.
template <typename Opener> std::FILE* open_asking(std::string& name, const char* prompt, const char* what, Opener open)
{
    for (;;) {
        if (!name.empty()) {
            if (std::FILE* file = open(name); file != nullptr) {
                return file;
            }
        }
        if (!ask(prompt, name)) {
            complain(std::string("no ") + what + " name given: standard input ended");
            return nullptr;
        }
    }
}

std::FILE* open_demo_asking(std::string& name)
{
    return open_asking(name, demo_prompt, "demo", [](const std::string& tried) {
        int error = 0;
        std::FILE* demo = console::open_demo(tried, error);
        if (demo == nullptr) {
            complain("cannot open " + quoted(tried) + " for reading: " + std::strerror(error));
        }
        return demo;
    });
}

// A name that designates the demo itself is refused before anything is
// opened for writing, so the demo is never emptied.
std::FILE* open_report_asking(std::string& name, std::FILE* demo, const std::string& demo_name)
{
    return open_asking(name, report_prompt, "report", [demo, &demo_name](const std::string& tried) -> std::FILE* {
        if (console::is_same_file(demo, tried)) {
            complain("will not write the report to " + quoted(tried) + ": it is the demo " + quoted(demo_name) +
                     " itself");
            return nullptr;
        }
        int error = 0;
        std::FILE* report = console::open_report(tried, error);
        if (report == nullptr) {
            complain("cannot open " + quoted(tried) + " for writing: " + std::strerror(error));
        }
        return report;
    });
}

// Tells the user what the report could not show of the demo.
void warn_about(const report_outcome& outcome, const std::string& demo_name)
{
    if (outcome.tables_left_out) {
        complain("warning: " + quoted(demo_name) + " has " + std::to_string(outcome.controllers) +
                 " controllers, more than " + std::to_string(max_table_controllers) +
                 "; the block tables are left out");
    }
    if (outcome.read_error != 0) {
        complain("warning: reading " + quoted(demo_name) + " failed at offset " + std::to_string(outcome.end_offset) +
                 ": " + std::strerror(outcome.read_error) + "; the report ends with what was read before");
    } else if (outcome.header_bytes < demo::first_block_offset) {
        complain("warning: " + quoted(demo_name) + " ends after " + std::to_string(outcome.header_bytes) +
                 " bytes, inside its header; the missing header bytes are shown as 0xFF");
    } else if (outcome.ended_early) {
        complain("warning: " + quoted(demo_name) + " ends early, at offset " + std::to_string(outcome.end_offset) +
                 ", before the zero word that closes its command blocks; the report shows what was read (" +
                 std::to_string(outcome.blocks) + (outcome.blocks == 1 ? " block)" : " blocks)"));
    }
}

void hint_about_resources(const std::string& report_name)
{
    if (!console::stylesheet_beside(report_name)) {
        complain("note: no res/pretty.css beside " + quoted(report_name) +
                 "; copy the res folder from " DEMO2HTML_RES_DIR " beside the report to see it styled");
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string demo_name = argc > 1 ? argv[1] : "";
    std::FILE* demo = open_demo_asking(demo_name);
    if (demo == nullptr) {
        return 1;
    }

    std::string report_name = argc > 2 ? argv[2] : console::report_name_for(demo_name);
    std::FILE* report = open_report_asking(report_name, demo, demo_name);
    if (report == nullptr) {
        std::fclose(demo);
        return 1;
    }

    report_outcome outcome;
    const int written = unmush(demo, report, &outcome);
    warn_about(outcome, demo_name);
    if (written != 0) {
        complain("cannot write the report " + quoted(report_name) + ": " + std::strerror(outcome.write_error) +
                 "; the report is incomplete");
        return 1;
    }

    std::printf(done_message, report_name.c_str());
    if (std::fflush(stdout) != 0) {
        complain(std::string("cannot write to standard output: ") + std::strerror(errno));
        return 1;
    }
    hint_about_resources(report_name);
    console::wait_for_key();
    return 0;
}
