// Running the executable in a scratch folder, with standard input fed from a
// file, and what it prints at its prompts.
#pragma once

#include "demo_builder.h"
#include "outputs.h"
#include "test_support.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#ifndef DEMO2HTML_EXE
#error "DEMO2HTML_EXE must name the demo2html executable"
#endif

namespace test_support {

struct run_result {
    int status = -1; // the exit status, or -1 when the program did not exit (a signal)
    std::string out;
    std::string err;
};

// Runs demo2html in `folder` with `args`, feeding it `input`, after the
// shell commands `before` (limits, signals).
inline run_result run(const std::filesystem::path& folder, const std::vector<std::string>& args,
                      const std::string& input, const std::string& stdout_to = "", const std::string& before = "")
{
    write_file(folder / ".stdin", input);
    std::string command = "cd ";
    command.append(shell_quoted(folder.string())).append(" && ").append(before).append(shell_quoted(DEMO2HTML_EXE));
    for (const std::string& arg : args) {
        command.append(" ").append(shell_quoted(arg));
    }
    command.append(" < .stdin > ").append(stdout_to.empty() ? ".stdout" : stdout_to).append(" 2> .stderr");
    const int raw = std::system(command.c_str());
    run_result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = read_file(folder / ".stdout");
    result.err = read_file(folder / ".stderr");
    return result;
}

// What a user at a terminal sees who names files on the command line and
// answers the prompts with the lines of `input`. A run of the executable
// asks only a terminal, so these runs go through the program's rules in
// the library, with the messages as the executable writes them.
inline run_result run_at_terminal(const std::filesystem::path& folder, const std::vector<std::string>& args,
                                  const std::string& input)
{
    static constexpr const char* prefixes[] = {"demo2html: ", "demo2html: warning: ", "demo2html: note: "};
    run_result result;
    std::istringstream answers(input);
    const outputs::console_side console{[&](outputs::message kind, const std::string& text) {
                                            result.err += prefixes[static_cast<int>(kind)] + text + "\n";
                                        },
                                        [&](outputs::channel where, const std::string& text) {
                                            (where == outputs::channel::output ? result.out : result.err) += text;
                                        },
                                        [&](std::string& line) {
                                            if (!std::getline(answers, line)) {
                                                return false;
                                            }
                                            if (!line.empty() && line.back() == '\r') {
                                                line.pop_back();
                                            }
                                            return true;
                                        }};
    const std::filesystem::path start = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    result.status = outputs::convert({args, true}, console);
    std::filesystem::current_path(start);
    return result;
}

inline const std::string demo_prompt = "\nfiddle with what file? ";
inline const std::string report_prompt = "\noutput text name? ";

// A user's run that gives standard output `out`: at a terminal where a
// prompt follows names given on the command line, else the executable with
// `input` piped in.
inline run_result run_as_user(const std::filesystem::path& folder, const std::vector<std::string>& args,
                              const std::string& input, const std::string& out)
{
    const bool prompted = out.find(demo_prompt) != std::string::npos || out.find(report_prompt) != std::string::npos;
    return !args.empty() && prompted ? run_at_terminal(folder, args, input) : run(folder, args, input);
}

// Devices for reports that go nowhere or to a full disk, "null" and "full",
// made in `folder`: a faulty program can replace these, never the system's
// own. Where no device can be made (not root), links to the system's.
inline void make_devices(const std::filesystem::path& folder)
{
    for (const auto& [name, minor] : {std::pair{"null", 3U}, std::pair{"full", 7U}}) {
        const std::filesystem::path path = folder / name;
        if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1U, minor)) != 0) {
            std::filesystem::create_symlink(std::string("/dev/") + name, path);
        }
    }
}

inline std::string done(const std::string& report) { return "\n\nAll done.  Demo is broken down in " + report + ".\n"; }

inline const std::string& worked_demo()
{
    static const std::string bytes = demo_builder::shapes().front().second;
    return bytes;
}

} // namespace test_support
