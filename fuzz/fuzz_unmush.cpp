// Feeds arbitrary bytes to unmush as a demo and checks that whatever comes
// in, the report is finite, well formed and complete.
#include "fuzz_streams.h"
#include "report.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// A report may not grow beyond this many bytes per input byte (plus the
// summary): the widest table heading, 254 controllers, repeated for every
// empty block, costs some 5,800 bytes per 4-byte block header word, about
// 1,450 per input byte.
constexpr std::size_t max_growth = 2000;
constexpr std::size_t fixed_allowance = std::size_t{64} * 1024;

constexpr std::string_view closing_tags = "</BODY></HTML>";

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_unmush: %s\n", what);
        std::abort();
    }
}

// Nesting of the report's tables: no table inside a table, rows only in a
// table, cells only in a row, and everything opened is closed again.
enum class level { body, table, row, cell };

struct tag_step {
    std::string_view tag;
    level inside; // where the tag may stand
    level after;  // where it leads
};

constexpr tag_step tag_steps[] = {
    {"<TABLE", level::body, level::table}, {"</TABLE>", level::table, level::body}, {"<TR", level::table, level::row},
    {"</TR>", level::row, level::table},   {"<TD>", level::row, level::cell},       {"</TD>", level::cell, level::row},
    {"<TH>", level::row, level::cell},     {"</TH>", level::cell, level::row},
};

// A tag name ends where the next character is not a letter.
bool is_tag_at(std::string_view text, std::size_t at, std::string_view tag)
{
    if (text.compare(at, tag.size(), tag) != 0) {
        return false;
    }
    const std::size_t next = at + tag.size();
    return tag.back() == '>' || next >= text.size() || text[next] < 'A' || text[next] > 'Z';
}

bool tables_well_formed(std::string_view report)
{
    level where = level::body;
    for (std::size_t at = report.find('<'); at != std::string_view::npos; at = report.find('<', at + 1)) {
        for (const tag_step& step : tag_steps) {
            if (is_tag_at(report, at, step.tag)) {
                if (where != step.inside) {
                    return false;
                }
                where = step.after;
                break;
            }
        }
    }
    return where == level::body;
}

bool ends_with_closing_tags(std::string_view report)
{
    return report.size() >= closing_tags.size() && report.substr(report.size() - closing_tags.size()) == closing_tags;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* demo = fuzz_streams::open_input(data, size);
    require(demo != nullptr, "cannot open the input as a stream");
    std::string text;
    std::FILE* report = fuzz_streams::open_collector(text);
    require(report != nullptr, "cannot open the report stream");

    // unmush closes both streams; the collected bytes stay.
    const int status = report::unmush(demo, report);
    const std::size_t report_size = text.size();

    require(status == 0, "unmush did not return 0");
    require(text.starts_with("<HTML>\n"), "the report does not start with its document head");
    require(report_size <= max_growth * size + fixed_allowance, "the report outgrew its bound");
    require(tables_well_formed(text), "the report's tables are not well formed");
    require(ends_with_closing_tags(text), "the report does not end with its closing tags");
    return 0;
}
