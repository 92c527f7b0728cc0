// Running the executable in a scratch folder, with standard input fed from a
// file, and what it prints at its prompts.
#pragma once

#include "demo_builder.h"
#include "test_support.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
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

inline const std::string demo_prompt = "\nfiddle with what file? ";
inline const std::string report_prompt = "\noutput text name? ";

inline std::string done(const std::string& report) { return "\n\nAll done.  Demo is broken down in " + report + ".\n"; }

inline const std::string& worked_demo()
{
    static const std::string bytes = demo_builder::shapes().front().second;
    return bytes;
}

} // namespace test_support
