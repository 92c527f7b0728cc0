#include "view.h"

#include "console.h"
#include "demo_format.h"
#include "last_error.h"
#include "report_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <vector>

namespace view {

namespace {

// The page, around what the program puts into it: the icons' rules, the
// summary, the demo's name, the demo's bytes and the script. The policy
// forbids every request the page could make; it runs its own script alone,
// known by its digest (nothing a demo or its name holds can run), and
// styles.
constexpr std::string_view policy_start =
    "<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; "
    "style-src 'unsafe-inline'; script-src 'sha256-";
constexpr std::string_view page_head = "'; base-uri 'none'; form-action 'none'\">\n"
                                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                                       "<title>demo2html view</title>\n<style>\n";
constexpr std::string_view summary_start = "</style>\n</head>\n<body>\n<header id=\"summary\">\n";
constexpr std::string_view name_start = "</header>\n<p id=\"demo-file\">Demo: <span id=\"demo-name\">";
constexpr std::string_view demo_start =
    "</span></p>\n<noscript><p>The view needs its script to show the demo's blocks.</p></noscript>\n"
    "<script type=\"application/octet-stream\" id=\"demo\">";
constexpr std::string_view script_start = "</script>\n<script>";
constexpr std::string_view page_end = "</script>\n</body></html>\n";

constexpr std::string_view report_stylesheet_name =
    resources::stylesheet_path.substr(resources::folder_name.size() + 1);
constexpr std::string_view stylesheet_name = "view.css";
constexpr std::string_view script_name = "view.js";
constexpr std::string_view script_digest_name = "view.js.sha256";
// The name the page offers for the demo when it was read from standard
// input.
constexpr std::string_view standard_input_name = "demo";
constexpr std::string_view replacement_character = "\xEF\xBF\xBD";
constexpr std::string_view icon_suffix = ".png";

constexpr std::string_view base64_digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends the base64 text of `bytes` to `text`, "=" padding the last group.
void append_base64(std::string& text, const unsigned char* bytes, std::size_t size)
{
    const std::size_t start = text.size();
    text.resize(start + (size + 2) / 3 * 4);
    char* out = text.data() + start;
    std::size_t at = 0;
    for (; at + 3 <= size; at += 3) {
        const unsigned group = (unsigned{bytes[at]} << 16U) | (unsigned{bytes[at + 1]} << 8U) | bytes[at + 2];
        *out++ = base64_digits[(group >> 18U) & 63U];
        *out++ = base64_digits[(group >> 12U) & 63U];
        *out++ = base64_digits[(group >> 6U) & 63U];
        *out++ = base64_digits[group & 63U];
    }
    if (at < size) {
        const bool two = at + 1 < size;
        const unsigned group = (unsigned{bytes[at]} << 16U) | (two ? unsigned{bytes[at + 1]} << 8U : 0U);
        *out++ = base64_digits[(group >> 18U) & 63U];
        *out++ = base64_digits[(group >> 12U) & 63U];
        *out++ = two ? base64_digits[(group >> 6U) & 63U] : '=';
        *out = '=';
    }
}

std::string_view text_of(std::span<const unsigned char> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The file `name` of `files`, as text.
std::string_view file_named(std::span<const resources::file> files, std::string_view name)
{
    const auto found =
        std::find_if(files.begin(), files.end(), [name](const resources::file& f) { return f.name == name; });
    return found != files.end() ? text_of(found->bytes) : std::string_view{};
}

// One rule per icon, ".i-NAME", that draws it from a data: URI, so the page
// needs no res/ folder beside it.
void put_icon_rules(report::writer& out)
{
    for (const resources::file& f : resources::built_in()) {
        if (!f.name.ends_with(icon_suffix)) {
            continue;
        }
        std::string rule = ".i-";
        rule.append(f.name.substr(0, f.name.size() - icon_suffix.size()));
        rule += "{background-image:url(\"data:image/png;base64,";
        append_base64(rule, f.bytes.data(), f.bytes.size());
        rule += "\")}\n";
        report::put(out, rule);
    }
}

// The report's stylesheet as the page carries it: every url(...) becomes
// none, so that the page asks for no file beside it (its icons come from
// its own .i-NAME rules).
std::string without_urls(std::string_view stylesheet)
{
    std::string text;
    for (std::size_t at = 0;;) {
        const std::size_t url = stylesheet.find("url(", at);
        text.append(stylesheet.substr(at, url - at));
        if (url == std::string_view::npos) {
            return text;
        }
        text += "none";
        const std::size_t end = stylesheet.find(')', url);
        at = end == std::string_view::npos ? stylesheet.size() : end + 1;
    }
}

// The length of the UTF-8 sequence that starts `text`, or 0 when it is
// not one (a stray, overlong, surrogate or cut sequence, or beyond
// U+10FFFF).
std::size_t utf8_length(std::string_view text)
{
    const auto byte = [text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned lead = byte(0);
    const std::size_t length = lead < 0x80U   ? 1
                               : lead < 0xC2U ? 0
                               : lead < 0xE0U ? 2
                               : lead < 0xF0U ? 3
                               : lead < 0xF5U ? 4
                                              : 0;
    if (length == 0 || text.size() < length) {
        return 0;
    }
    for (std::size_t at = 1; at < length; ++at) {
        if ((byte(at) & 0xC0U) != 0x80U) {
            return 0;
        }
    }
    if (length < 3) {
        return length;
    }
    const unsigned second = byte(1);
    const bool overlong = (lead == 0xE0U && second < 0xA0U) || (lead == 0xF0U && second < 0x90U);
    const bool out_of_range = (lead == 0xEDU && second >= 0xA0U) || (lead == 0xF4U && second >= 0x90U);
    return overlong || out_of_range ? 0 : length;
}

// `name` as the page's text: what is not UTF-8 becomes U+FFFD, and the
// characters that mean markup become references, so that the name is shown
// as typed and never read as markup.
std::string html_text_of(std::string_view name)
{
    std::string text;
    while (!name.empty()) {
        const std::size_t length = utf8_length(name);
        const std::string_view piece = name.substr(0, std::max<std::size_t>(length, 1));
        name.remove_prefix(piece.size());
        switch (length == 0 ? '\0' : piece[0]) {
        case '\0':
            text += replacement_character;
            break;
        case '&':
            text += "&amp;";
            break;
        case '<':
            text += "&lt;";
            break;
        case '>':
            text += "&gt;";
            break;
        case '"':
            text += "&quot;";
            break;
        default:
            text += piece;
        }
    }
    return text;
}

// The demo's file name that the page shows and offers to save the demo as:
// the name as given without its folder, "demo" for standard input.
std::string page_name_for(std::string_view demo_name)
{
    const std::string_view file = demo_name.substr(console::folder_of(demo_name).size());
    return html_text_of(demo_name == "-" || file.empty() ? standard_input_name : file);
}

// Follows the command blocks through the demo's bytes as they stream past,
// as the report's walk reads them, to tell what the report would have
// shown: how many blocks, and where the demo ends when it ends early.
struct block_walk {
    std::uint32_t controllers = 0;
    bool walking = false;          // the zero word not yet met
    std::uint64_t word_offset = 0; // offset of the word being gathered
    std::array<unsigned char, demo::word_size> word{};
    std::size_t gathered = 0;       // bytes of it so far
    std::uint64_t entries_left = 0; // entries of the current block still to come
    std::uint64_t blocks = 0;
};

void take_word(block_walk& walk)
{
    if (walk.entries_left > 0) {
        --walk.entries_left;
    } else if (demo::ends_stream(walk.word.data())) {
        walk.walking = false;
    } else {
        ++walk.blocks;
        // The row count times the controller count, in 32 bits as the report's walk takes it.
        walk.entries_left = static_cast<std::uint32_t>(demo::row_count(walk.word.data()) * walk.controllers);
    }
}

// Takes the bytes one at a time while a word is being gathered; the entries
// of a block, which only count, are stepped over whole.
void walk_bytes(block_walk& walk, const unsigned char* bytes, std::size_t size)
{
    std::size_t at = 0;
    while (at < size && walk.walking) {
        if (walk.gathered == 0 && walk.entries_left > 0) {
            const std::uint64_t whole = std::min<std::uint64_t>(walk.entries_left, (size - at) / demo::word_size);
            walk.entries_left -= whole;
            walk.word_offset += whole * demo::word_size;
            at += static_cast<std::size_t>(whole) * demo::word_size;
            if (whole > 0) {
                continue;
            }
        }
        walk.word.at(walk.gathered++) = bytes[at++];
        if (walk.gathered == demo::word_size) {
            take_word(walk);
            walk.gathered = 0;
            walk.word_offset += demo::word_size;
        }
    }
}

// A multiple of 3, so that every chunk but the last is base64 without
// padding.
constexpr std::size_t chunk_size = std::size_t{48} * 1024;
static_assert(chunk_size % 3 == 0);

// Puts the bytes of `demo` from where it stands into the page as base64,
// after the first `carried` bytes of `chunk` (the header's), and follows
// them with `walk`. A full chunk is a multiple of 3 bytes, so only the last
// one ends in padding.
void put_rest_of_demo(report::writer& out, std::FILE* demo, block_walk& walk, std::vector<unsigned char>& chunk,
                      std::size_t carried, report::outcome& done)
{
    std::string text;
    for (bool more = true; more; carried = 0) {
        errno = 0;
        const std::size_t got = std::fread(chunk.data() + carried, 1, chunk.size() - carried, demo);
        if (std::ferror(demo) != 0) {
            done.read_error = errors::last_errno();
        }
        walk_bytes(walk, chunk.data() + carried, got);
        more = carried + got == chunk.size() && done.read_error == 0;
        text.clear();
        append_base64(text, chunk.data(), carried + got);
        report::put(out, text);
    }
}

// Puts the demo's bytes into the page, the header's first, and fills in what
// the report's walk would have found.
void put_demo_bytes(report::writer& out, std::FILE* demo, const demo::header& header, report::outcome& done)
{
    std::vector<unsigned char> chunk(chunk_size);
    std::copy(header.bytes.begin(), header.bytes.begin() + static_cast<std::ptrdiff_t>(done.header_bytes),
              chunk.begin());
    if (done.header_bytes < demo::first_block_offset) {
        std::string text;
        append_base64(text, chunk.data(), done.header_bytes);
        report::put(out, text);
        done.ended_early = true;
        done.end_offset = done.header_bytes;
        return;
    }
    block_walk walk;
    walk.controllers = done.controllers;
    walk.walking = true;
    walk.word_offset = demo::first_block_offset;
    put_rest_of_demo(out, demo, walk, chunk, demo::first_block_offset, done);
    // Where the tables are left out the report shows no block, but its walk still tells whether the demo is whole.
    done.blocks = done.tables_left_out ? 0 : walk.blocks;
    if (walk.walking) {
        done.ended_early = true;
        done.end_offset = walk.word_offset;
    }
}

} // namespace

bool begins_like_a_view(std::string_view first_bytes_of_file) { return first_bytes_of_file.starts_with(first_bytes); }

int write_view(std::FILE* demo, std::FILE* page, std::string_view demo_name, report::outcome* result)
{
    report::writer out;
    report::start_writer(out, page);

    const demo::header header = demo::read_header(demo);
    report::outcome done = report::outcome_of(header);
    done.tables_left_out = done.controllers > report::max_table_controllers;

    report::put(out, first_bytes);
    report::put(out, policy_start);
    report::put(out, file_named(page_files(), script_digest_name));
    report::put(out, page_head);
    // The report's stylesheet gives the page its colours and its summary.
    report::put(out, without_urls(file_named(resources::built_in(), report_stylesheet_name)));
    report::put(out, file_named(page_files(), stylesheet_name));
    put_icon_rules(out);
    report::put(out, summary_start);
    report::put_summary(out, header);
    report::put(out, name_start);
    report::put(out, page_name_for(demo_name));
    report::put(out, demo_start);
    put_demo_bytes(out, demo, header, done);
    report::put(out, script_start);
    report::put(out, file_named(page_files(), script_name));
    report::put(out, page_end);
    return report::close_both(demo, out, done, result);
}

} // namespace view
