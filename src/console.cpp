#include "console.h"

#include <algorithm>
#include <string>

namespace console {

bool read_line(std::FILE* in, std::string& line)
{
    line.clear();
    int c = std::getc(in);
    if (c == EOF) {
        return false;
    }
    while (c != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
        c = std::getc(in);
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

std::string folder_of(std::string_view name, std::string_view separators)
{
    const std::size_t last = name.find_last_of(separators);
    return last == std::string_view::npos ? std::string() : std::string(name.substr(0, last + 1));
}

std::string report_name_for(std::string_view demo_name, std::string_view separators)
{
    const std::string folder = folder_of(demo_name, separators);
    const std::string_view file = demo_name.substr(folder.size());
    const std::size_t leading = std::min(file.find_first_not_of('.'), file.size());
    return folder + std::string(file.substr(0, file.find('.', leading))) + ".htm";
}

std::optional<std::string> unquoted(std::string_view name)
{
    name = name.substr(0, name.find_last_not_of(' ') + 1);
    if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front()) {
        return std::string(name.substr(1, name.size() - 2));
    }
    return std::nullopt;
}

namespace {

#ifdef _WIN32
// The characters a name may hold and still be given bare to the shell.
constexpr std::string_view bare_characters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.,/+:@\\";

// cmd and PowerShell both take a name in double quotes as it stands, and no
// Windows name holds one.
std::string quoted_for_shell(std::string_view name) { return std::string(1, '"').append(name).append(1, '"'); }
#else
constexpr std::string_view bare_characters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.,/+:@%=";

// In double quotes where the shell reads none of the name's characters
// there, else in single quotes, each ' written as '\''.
std::string quoted_for_shell(std::string_view name)
{
    if (name.find_first_of("$`\\\"!") == std::string_view::npos) {
        return std::string(1, '"').append(name).append(1, '"');
    }
    std::string quoted(1, '\'');
    for (const char c : name) {
        quoted.append(c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1));
    }
    return quoted.append(1, '\'');
}
#endif

} // namespace

std::string shell_quoted(std::string_view name)
{
    std::string dashless;
    if (name.starts_with('-')) {
        dashless = {'.', path_separator};
    }
    dashless.append(name);
    const bool bare = !dashless.empty() && dashless.find_first_not_of(bare_characters) == std::string::npos;
    return bare ? dashless : quoted_for_shell(dashless);
}

} // namespace console
