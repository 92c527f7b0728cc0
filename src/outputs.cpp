#include "outputs.h"

#include "console.h"
#include "demo_format.h"
#include "demo_table.h"
#include "demo_text.h"
#include "files.h"
#include "report.h"
#include "resources.h"
#include "view.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

namespace outputs {

namespace {

constexpr const char* demo_prompt = "\nfiddle with what file? ";
constexpr const char* report_prompt = "\noutput text name? ";
constexpr const char* done_message = "\n\nAll done.  Demo is broken down in %s.\n";

// How standard input and standard output are named in messages.
constexpr const char* standard_input_label = "standard input";
constexpr const char* standard_output_label = "standard output";

std::string quoted(const std::string& name) { return "'" + name + "'"; }

bool is_standard_stream(const std::string& name) { return name == standard_stream_name; }

// `format`, whose one conversion is %s, with `name` in its place.
std::string with_name(std::string_view format, const std::string& name)
{
    const std::size_t at = format.find("%s");
    return std::string(format.substr(0, at)).append(name).append(format.substr(at + 2));
}

std::string cannot_open(const std::string& name, const char* how, int error)
{
    return "cannot open " + quoted(name) + " for " + how + ": " + files::error_text(error);
}

// ---------------------------------------------------------------- what is written

// What the run writes for each demo, and how it is named in messages.
struct product {
    const char* noun;
    // Writes it for the demo read from `demo`, which the user named `demo_name`
    // ("-" for standard input).
    int (*write)(std::FILE* demo, std::FILE* out, std::string_view demo_name, report::outcome* result);
    std::string (*name_for)(std::string_view demo_name);
    bool (*replaces)(std::string_view first_bytes); // whether a file that begins so may be replaced by it
    bool with_resources;                            // res/ goes beside it
    bool binary;          // its bytes are written as they are, where text mode would change them
    const char* not_ours; // why a file of the user's is not replaced
    bool (*made_from)(std::string_view first_bytes); // whether a file that begins so may be what it is made of
};

std::string report_name_for(std::string_view demo_name) { return console::report_name_for(demo_name); }

int write_report_page(std::FILE* demo, std::FILE* out, std::string_view /*demo_name*/, report::outcome* result)
{
    return report::unmush(demo, out, result);
}

int write_view_page(std::FILE* demo, std::FILE* out, std::string_view demo_name, report::outcome* result)
{
    return view::write_view(demo, out, demo_name, result);
}

// NAME.view.htm where the report is NAME.htm.
std::string view_name_for(std::string_view demo_name)
{
    std::string name = console::report_name_for(demo_name);
    return name.insert(name.size() - std::string_view(".htm").size(), ".view");
}

// NAME.EXTENSION where the report is NAME.htm.
std::string named_like_the_report(std::string_view demo_name, std::string_view extension)
{
    std::string name = console::report_name_for(demo_name);
    return name.replace(name.size() - std::string_view("htm").size(), std::string_view::npos, extension);
}

std::string text_name_for(std::string_view demo_name) { return named_like_the_report(demo_name, "txt"); }
std::string demo_name_for(std::string_view text_name) { return named_like_the_report(text_name, "demo"); }

int write_demo_text(std::FILE* demo, std::FILE* out, std::string_view /*demo_name*/, report::outcome* result)
{
    return demo_text::write_text(demo, out, result);
}

int write_demo_from_text(std::FILE* text, std::FILE* out, std::string_view text_name, report::outcome* result)
{
    return demo_text::write_demo(text, out, text_name == standard_stream_name ? standard_input_label : text_name,
                                 result);
}

int write_demo_table(std::FILE* demo, std::FILE* out, std::string_view /*demo_name*/, report::outcome* result)
{
    return demo_table::write_table(demo, out, result);
}

std::string table_name_for(std::string_view demo_name) { return named_like_the_report(demo_name, "csv"); }

bool replaces_a_table(std::string_view first_bytes)
{
    return first_bytes.empty() || demo_table::begins_like_a_table(first_bytes);
}

bool replaces_a_text(std::string_view first_bytes)
{
    return first_bytes.empty() || demo_text::begins_like_a_text(first_bytes);
}

// Each kind replaces an empty file or one of its own kind only: a view may
// be the only copy of its demo.
bool replaces_report(std::string_view first_bytes)
{
    return first_bytes.empty() || report::begins_like_a_report(first_bytes);
}

bool replaces_view(std::string_view first_bytes)
{
    return first_bytes.empty() || view::begins_like_a_view(first_bytes);
}

// A file that begins as none of the program's own files do may be a demo:
// a report, a view, a text or a table never is.
bool may_be_a_demo(std::string_view first_bytes)
{
    return !first_bytes.empty() && !report::begins_like_a_report(first_bytes) &&
           !view::begins_like_a_view(first_bytes) && !demo_text::begins_like_a_text(first_bytes) &&
           !demo_table::begins_like_a_table(first_bytes);
}

// A demo may be the user's only original: no file is replaced by one.
bool replaces_nothing(std::string_view /*first_bytes*/) { return false; }

const product report_product = {"report", write_report_page,    report_name_for, replaces_report, true,
                                false,    "it is not a report", may_be_a_demo};
const product view_product = {"view", write_view_page,    view_name_for, replaces_view, false,
                              true,   "it is not a view", may_be_a_demo};
const product text_product = {
    "text", write_demo_text, text_name_for, replaces_a_text, false, false, "it is not a text of a demo", may_be_a_demo};
const product table_product = {
    "table",      write_demo_table, table_name_for, replaces_a_table, false, true, "it is not a table of a demo",
    may_be_a_demo};
const product demo_product = {"demo",
                              write_demo_from_text,
                              demo_name_for,
                              replaces_nothing,
                              false,
                              true,
                              "it exists, and no demo is replaced",
                              demo_text::begins_like_a_text};

// The product of each kind, in the order of outputs::kind.
const std::array<const product*, 5> products = {&report_product, &view_product, &text_product, &table_product,
                                                &demo_product};

// ---------------------------------------------------------------- the demo

// The demo being converted: its stream, and the name messages give it.
struct demo_file {
    std::FILE* stream = nullptr;
    std::string label; // its name, or what standard input is called
    std::string given; // its name as given, "-" for standard input
};

void open_demo(const std::string& name, demo_file& demo, std::string& why)
{
    int error = 0;
    demo.label = is_standard_stream(name) ? standard_input_label : name;
    demo.given = name;
    demo.stream = is_standard_stream(name) ? files::standard_input(error) : files::open_demo(name, error);
    if (demo.stream == nullptr) {
        why = cannot_open(demo.label, "reading", error);
    }
}

// ---------------------------------------------------------------- the report's place

// The files of one run: the demos named, and the reports written so far,
// each by the file it is, with the name of its demo.
struct run_files {
    std::map<files::file_id, std::string> demos;
    std::map<files::file_id, std::string> reports;
};

// Where one report goes, once opened.
struct target {
    std::string name;            // as given
    std::FILE* stream = nullptr; // open for writing in text mode
    files::temporary made;       // the temporary file it is written to, when it is
    bool temporary = false;      // written to `made`, to take its name when complete
    files::spot at;              // the name looked at: where it takes its name, and what it replaces
    bool replaces = false;       // an existing file is replaced, else the name is free
    bool own_file = false;       // a regular file of its own, beside which res/ goes
    bool to_standard_output = false;
    files::file_id written; // the file the report was written to
};

std::string label_of(const target& out) { return out.to_standard_output ? standard_output_label : out.name; }

// Why the report of `demo` may not go to `name`, which reaches the file
// `id`: it is the demo itself or another demo of the run, or a report
// written earlier in the run. "" when it may.
std::string refusal_by_identity(const std::string& name, const files::file_id& id, const demo_file& demo,
                                const run_files& run, const product& made)
{
    const std::string noun = made.noun;
    const files::status open = files::look(demo.stream);
    if (open.error == 0 && open.id == id) {
        return "will not write the " + noun + " to " + quoted(name) + ": it is the demo " + quoted(demo.label) +
               " itself";
    }
    if (const auto other = run.demos.find(id); other != run.demos.end()) {
        return "will not write the " + noun + " of " + quoted(demo.label) + " to " + quoted(name) +
               ": it is the demo " + quoted(other->second) + ", named too";
    }
    if (const auto other = run.reports.find(id); other != run.reports.end()) {
        return "will not write the " + noun + " of " + quoted(demo.label) + " to " + quoted(name) + ": it holds the " +
               noun + " of " + quoted(other->second) + ", written just before";
    }
    return "";
}

// Why a name is refused for a cause of the program's own (a link to
// nothing, a file changed meanwhile), or for the system's `error`.
std::string refusal_for(const std::string& name, int error)
{
    if (error == files::changed_meanwhile || error == files::link_to_nothing) {
        return quoted(name) + " " + files::error_text(error).substr(std::string_view("it ").size());
    }
    return cannot_open(name, "writing", error);
}

// Why the existing regular file `name`, looked at in `at`, may not be
// replaced: it is not of the kind written, or it cannot be read to tell.
// "" when it may.
std::string refusal_by_content(const std::string& name, const files::spot& at, const product& made)
{
    std::string start;
    if (const int error = files::read_start(at, first_bytes_told(), start); error == files::changed_meanwhile) {
        return refusal_for(name, error);
    } else if (error != 0) {
        return "will not replace " + quoted(name) + ": cannot tell whether it is a " + made.noun + ": " +
               files::error_text(error);
    }
    return made.replaces(start) ? "" : "will not replace " + quoted(name) + ": " + made.not_ours;
}

// The folder of a temporary file, as messages name it.
std::string folder_label(const std::string& folder) { return folder.empty() ? "." : folder; }

// What becomes of the name of a report that is not written: an earlier
// file stays as it was, a free name stays free.
std::string left_as(const target& out)
{
    return quoted(out.name) + (out.replaces ? " is left as it was" : " is not written");
}

// Removes what this run made for a report that was not completed.
void undo(target& out) { files::discard(out.made); }

// Opens the temporary file of the report, or, where its folder takes no new
// file but the existing report can be written, the report itself. "" when
// open, else why not.
std::string open_temporary(target& out, const console_side& console)
{
    const std::string& name = out.name;
    const int error = files::make_temporary(out.at.folder, out.replaces ? &out.at.seen : nullptr, out.made);
    if (error == 0) {
        out.stream = out.made.stream;
        out.temporary = true;
        out.own_file = true;
        return "";
    }
    const bool no_new_file = error == EACCES || error == EPERM;
    if (no_new_file && out.replaces && files::is_writable(out.at)) {
        int in_place_error = 0;
        out.stream = files::open_in_place(out.at, in_place_error);
        if (out.stream == nullptr) {
            undo(out);
            return refusal_for(name, in_place_error);
        }
        console.tell(message::note, "cannot make a temporary file in " + quoted(folder_label(out.at.folder.name)) +
                                        ": " + files::error_text(error) + "; " + quoted(name) + " is written in place");
        out.own_file = true;
        return "";
    }
    undo(out);
    if (error == ENOENT || error == ENOTDIR) {
        return cannot_open(name, "writing", error);
    }
    return "cannot make a temporary file in " + quoted(folder_label(out.at.folder.name)) + " for " + quoted(name) +
           ": " + files::error_text(error) + "; " + left_as(out);
}

// Opens standard output for the report, unless it is the demo itself.
std::string open_standard_output(const demo_file& demo, target& out, const product& made)
{
    int error = 0;
    out.to_standard_output = true;
    out.stream = files::standard_output(error);
    if (out.stream == nullptr) {
        return cannot_open(standard_output_label, "writing", error);
    }
    const files::status output = files::look(out.stream);
    const files::status input = files::look(demo.stream);
    if (output.error == 0 && input.error == 0 && input.what == files::kind::regular && output.id == input.id) {
        std::fclose(out.stream);
        out.stream = nullptr;
        return "will not write the " + std::string(made.noun) + " to " + standard_output_label + ": it is the demo " +
               quoted(demo.label) + " itself";
    }
    return "";
}

// Writes the report through a pipe, a device or one of the program's own
// descriptors that the name reaches, where it does. "" when it is open or
// the name is a file to replace, else why not.
std::string open_through(const std::string& name, target& out, const product& made)
{
    int error = 0;
    // One of the program's own descriptors is written through as it is; a
    // file of its own at the name gets its res/ as any report.
    out.stream = files::through_own_descriptor(out.at.seen.id, error);
    if (out.stream != nullptr || error != 0) {
        out.own_file = out.at.seen.what == files::kind::regular && !out.at.seen.link;
        return out.stream != nullptr ? "" : cannot_open(name, "writing", error);
    }
    if (out.at.seen.what != files::kind::other) {
        return "";
    }
    if (files::belongs_to_another_user(out.at)) {
        return "will not write the " + std::string(made.noun) + " to " + quoted(name) + ": it belongs to another user";
    }
    out.stream = files::open_in_place(out.at, error);
    return out.stream != nullptr ? "" : refusal_for(name, error);
}

// Opens the report `name` of `demo` unless it is refused. "" when open,
// else why not; nothing of the user's is changed by a refusal.
std::string open_report(const std::string& name, const demo_file& demo, const run_files& run, target& out,
                        const product& made, const console_side& console)
{
    out = target{};
    out.name = name;
    if (is_standard_stream(name)) {
        return open_standard_output(demo, out, made);
    }
    const int error = files::hold(name, out.at);
    const files::status& seen = out.at.seen;
    if (error != 0 || seen.what == files::kind::folder) {
        return refusal_for(name, error != 0 ? error : EISDIR);
    }
    if (seen.what != files::kind::missing) {
        if (std::string why = refusal_by_identity(name, seen.id, demo, run, made); !why.empty()) {
            return why;
        }
        if (std::string why = open_through(name, out, made); !why.empty() || out.stream != nullptr) {
            return why;
        }
        if (std::string why = refusal_by_content(name, out.at, made); !why.empty()) {
            return why;
        }
        out.replaces = true;
    }
    return open_temporary(out, console);
}

// Gives the complete temporary report its name. A name that another run
// took or replaced meanwhile is replaced only when it now holds a file of
// the kind written. Returns 0, or the error value.
int give_report_its_name(target& out, const product& made, std::string& why)
{
    files::spot& at = out.at;
    int error = files::give_name(out.made, at.leaf, out.replaces ? &at.seen : nullptr);
    for (int tries = 0; tries < 16 && (error == EEXIST || error == files::changed_meanwhile); ++tries) {
        at.seen = files::look_in(at.folder, at.leaf);
        if (at.seen.error != 0 || (at.seen.what != files::kind::regular && at.seen.what != files::kind::missing)) {
            return at.seen.error != 0 ? at.seen.error : files::changed_meanwhile;
        }
        const bool free = at.seen.what == files::kind::missing;
        why = free ? "" : refusal_by_content(out.name, at, made);
        if (!why.empty()) {
            return 0;
        }
        error = files::give_name(out.made, at.leaf, free ? nullptr : &at.seen);
    }
    return error;
}

// ---------------------------------------------------------------- writing

// Tells the user what the report, or the view (the `noun`), could not show
// of the demo.
void warn_about(const report::outcome& outcome, const std::string& demo_name, const std::string& noun,
                const console_side& console)
{
    const auto warn = [&](const std::string& text) { console.tell(message::warning, text); };
    const bool header_cut = outcome.header_bytes < demo::first_block_offset;
    // A header cut short comes first: the counts after it are read from missing bytes.
    if (header_cut && outcome.read_error == 0) {
        warn(quoted(demo_name) + " ends after " + std::to_string(outcome.header_bytes) +
             (outcome.header_bytes == 1 ? " byte" : " bytes") + ", inside its header; " +
             (outcome.fills_short_header ? "the missing header bytes are shown as 0xFF"
                                         : "the " + noun + " shows the bytes it has"));
    }
    if (outcome.tables_left_out) {
        warn(quoted(demo_name) + " has " + std::to_string(outcome.controllers) + " controllers, more than " +
             std::to_string(report::max_table_controllers) + "; the block tables are left out");
    }
    if (outcome.read_error != 0) {
        warn("reading " + quoted(demo_name) + " failed at offset " + std::to_string(outcome.end_offset) + ": " +
             files::error_text(outcome.read_error) + "; the " + noun + " ends with what was read before");
    } else if (outcome.ended_early && !header_cut) {
        const std::string shown = outcome.tables_left_out
                                      ? ""
                                      : "; the " + noun + " shows what was read (" + std::to_string(outcome.blocks) +
                                            (outcome.blocks == 1 ? " block)" : " blocks)");
        warn(quoted(demo_name) + " ends early, at offset " + std::to_string(outcome.end_offset) +
             ", before the zero word that closes its command blocks" + shown);
    }
}

// The exit status of a run whose written files gave `outcome`: 0 for a whole
// demo, or `cut_status` when the demo ended early or failed to be read.
int status_of(const report::outcome& outcome)
{
    return outcome.ended_early || outcome.read_error != 0 ? cut_status : 0;
}

// "216,000": a count with its thousands set apart.
std::string with_thousands(std::uint64_t count)
{
    const std::string digits = std::to_string(count);
    std::string grouped;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0) {
            grouped.push_back(',');
        }
        grouped.push_back(digits[at]);
    }
    return grouped;
}

// A report this long takes a browser a long while to open: the note names
// the view, which opens at once.
void suggest_the_view(const report::outcome& outcome, const demo_file& demo, const target& out, const product& made,
                      const console_side& console)
{
    if (&made != &report_product || outcome.rows <= rows_for_the_view_note || is_standard_stream(demo.given)) {
        return;
    }
    console.tell(message::note, quoted(label_of(out)) + " has " + with_thousands(outcome.rows) +
                                    " rows; 'demo2html --view " + console::shell_quoted(demo.given) +
                                    "' makes a view that opens at once");
}

// Puts the stylesheet and icons beside the report, where missing, and says
// what it wrote and what it could not.
void write_resources_beside(const target& out, const console_side& console)
{
    const resources::outcome written = resources::write_beside(out.name, out.at.beside);
    for (const resources::failure& failed : written.failures) {
        const bool folder = failed.path == written.folder;
        console.tell(message::warning, std::string("cannot write ") + (folder ? "the folder " : "") +
                                           quoted(failed.path) + ": " + files::error_text(failed.error) +
                                           "; the report shows without " +
                                           (folder ? "its stylesheet and icons" : "it"));
    }
    if (written.others) {
        console.tell(message::note,
                     quoted(written.folder) + " belongs to another user: the report shows its files as they are there");
    }
    if (written.written > 0) {
        console.tell(message::note, "wrote the report's stylesheet and icons into " + quoted(written.folder) + " (" +
                                        std::to_string(written.written) +
                                        (written.written == 1 ? " file)" : " files)"));
    }
}

// What an interrupt while the report is written says, before it has its
// name and once it has.
std::string interrupted_message(const target& out, const product& made)
{
    const std::string what =
        out.temporary ? left_as(out) : "the " + std::string(made.noun) + " " + quoted(label_of(out)) + " is incomplete";
    return "demo2html: interrupted; " + what + "\n";
}

std::string interrupted_once_named(const target& out, const product& made)
{
    const std::string resources = made.with_resources ? ", its res/ may be incomplete" : "";
    return "demo2html: interrupted; " + quoted(out.name) + " is written" + resources + "\n";
}

// A report on standard output that lands in a regular file gets no res/:
// one note says so, and how to have one.
void note_no_resources(const files::status& written_to, const product& made, const console_side& console)
{
    if (made.with_resources && written_to.error == 0 && written_to.what == files::kind::regular) {
        console.tell(message::note, "no res/ is written beside a report on standard output; name the report "
                                    "(demo2html DEMO REPORT) to have its stylesheet and icons beside it");
    }
}

// Writes the report of `demo` into `out`, puts it in place and the
// stylesheet and icons beside it, and says that it is done. Returns the exit
// status: 0, `cut_status` when the demo was cut short, 1 when the report
// could not be written completely.
int write_report(demo_file& demo, target& out, const product& made, const console_side& console)
{
    files::on_interrupt(out.temporary ? &out.made : nullptr, interrupted_message(out, made),
                        interrupted_once_named(out, made));
    // The completion message stays out of a report on standard output.
    const files::status written_to = files::look(out.stream);
    out.written = written_to.id;
    const files::status output = files::look(stdout);
    const bool shares_standard_output =
        out.to_standard_output || (written_to.error == 0 && output.error == 0 && written_to.id == output.id);
    report::outcome outcome;
    outcome.write_error = made.binary ? files::write_as_binary(out.stream) : 0;
    bool written = outcome.write_error == 0;
    if (written) {
        written = made.write(demo.stream, out.stream, demo.given, &outcome) == 0;
    } else {
        std::fclose(demo.stream);
        std::fclose(out.stream);
    }
    demo.stream = nullptr;
    out.made.stream = nullptr; // closed with the report
    warn_about(outcome, demo.label, made.noun, console);
    std::string why = outcome.problem;
    int error = written ? 0 : outcome.write_error;
    if (written && out.temporary) {
        error = give_report_its_name(out, made, why);
    }
    if (error != 0 || !why.empty()) {
        files::on_interrupt(nullptr, "demo2html: interrupted\n");
        undo(out);
        const std::string noun = made.noun;
        const std::string left = out.temporary ? left_as(out) : "the " + noun + " is incomplete";
        const std::string cause = error == files::changed_meanwhile
                                      ? refusal_for(out.name, error)
                                      : "cannot write the " + noun + " " + quoted(label_of(out)) + ": " +
                                            files::error_text(error) + "; " + left;
        console.tell(message::error, !why.empty() ? why : cause);
        return 1;
    }
    if (out.own_file && made.with_resources) {
        write_resources_beside(out, console);
    } else if (out.to_standard_output) {
        note_no_resources(written_to, made, console);
    }
    files::on_interrupt(nullptr, "demo2html: interrupted\n");
    console.show(shares_standard_output ? channel::error : channel::output, with_name(done_message, label_of(out)));
    suggest_the_view(outcome, demo, out, made, console);
    return status_of(outcome);
}

// ---------------------------------------------------------------- naming and asking

// Opens `name` with `open`, which gives the reason when it fails. A name in
// quotes that does not open is tried once more without them, and becomes the
// name when that opens. The reason is told for the last name tried.
template <typename Opener> bool open_named(std::string& name, const console_side& console, Opener open)
{
    std::string why;
    open(name, why);
    const auto inner = console::unquoted(name);
    if (!why.empty() && inner && !inner->empty()) {
        std::string again;
        open(*inner, again);
        if (again.empty()) {
            name = *inner;
        }
        why = again;
    }
    if (!why.empty()) {
        console.tell(message::error, why);
    }
    return why.empty();
}

// Opens `name`, asking with `prompt` for another until one opens, where
// names may be asked for. An empty name is asked for again without a word.
// False when none opened.
template <typename Opener>
bool open_asking(std::string& name, const char* prompt, const char* what, bool may_ask, channel prompts,
                 const console_side& console, Opener open)
{
    for (;;) {
        if (!name.empty() && open_named(name, console, open)) {
            return true;
        }
        if (!may_ask) {
            if (name.empty()) {
                console.tell(message::error, std::string("no ") + what + " name given");
            }
            return false;
        }
        console.show(prompts, prompt);
        if (!console.ask(name)) {
            console.tell(message::error, std::string("no ") + what + " name given: standard input ended");
            return false;
        }
    }
}

// One demo, named alone or with its report's name: whatever does not open
// is asked for again where names may be asked for. Standard input as the
// demo is written to standard output unless a report is named.
int convert_one(const request& asked, const product& made, const console_side& console)
{
    std::string demo_name = !asked.names.empty() ? asked.names[0] : "";
    const bool report_named = asked.names.size() > 1;
    // The prompts stay out of a report on standard output.
    const channel prompts = report_named && is_standard_stream(asked.names[1]) ? channel::error : channel::output;
    demo_file demo;
    const bool opened = open_asking(demo_name, demo_prompt, "demo", asked.may_ask, prompts, console,
                                    [&](const std::string& tried, std::string& why) { open_demo(tried, demo, why); });
    if (!opened) {
        return 1;
    }
    const bool demo_is_input = is_standard_stream(demo_name);
    std::string report_name = report_named    ? asked.names[1]
                              : demo_is_input ? std::string(standard_stream_name)
                                              : made.name_for(demo_name);
    const run_files alone;
    target out;
    // Standard input, as the demo, holds no answers.
    const bool may_ask = asked.may_ask && !demo_is_input;
    const bool report_opened = open_asking(
        report_name, report_prompt, made.noun, may_ask, prompts, console,
        [&](const std::string& tried, std::string& why) { why = open_report(tried, demo, alone, out, made, console); });
    if (!report_opened) {
        std::fclose(demo.stream);
        return 1;
    }
    return write_report(demo, out, made, console);
}

// The first bytes of `name`, which `seen` says is what the name reaches, as
// far as they tell whether it may be replaced: nothing when it is no
// regular file or cannot be read.
std::optional<std::string> first_bytes_of(const std::string& name, const files::status& seen)
{
    std::string start;
    if (seen.error != 0 || seen.what != files::kind::regular ||
        files::read_start(name, first_bytes_told(), start) != 0) {
        return std::nullopt;
    }
    return start;
}

// The inputs named, each by the file it is: a file `made` cannot be made
// from (a report, a view, a text or a table, for all but a demo) is not
// taken for an input, so that it may be the output.
run_files demos_of(const std::vector<std::string>& names, const product& made)
{
    run_files run;
    for (const std::string& name : names) {
        const files::status seen = files::look(name);
        const std::optional<std::string> start = first_bytes_of(name, seen);
        const bool input = !start || start->empty() || made.made_from(*start);
        if (seen.error == 0 && seen.what != files::kind::missing && input) {
            run.demos.emplace(seen.id, name);
        }
    }
    return run;
}

// Every demo named, one after the other, each as if named alone but without
// a prompt: one that fails is told about and the next goes on. A demo named
// twice is converted once, and no report replaces one written earlier in
// the run.
int convert_several(const request& asked, const product& made, const console_side& console)
{
    run_files run = demos_of(asked.names, made);
    std::set<files::file_id> converted;
    int status = 0;
    for (std::string demo_name : asked.names) {
        if (is_standard_stream(demo_name)) {
            console.tell(message::error, "standard input ('-') is converted alone: demo2html - [REPORT]");
            status = 1;
            continue;
        }
        demo_file demo;
        if (!open_named(demo_name, console,
                        [&](const std::string& tried, std::string& why) { open_demo(tried, demo, why); })) {
            status = 1;
            continue;
        }
        const files::status seen = files::look(demo.stream);
        if (seen.error == 0 && !converted.insert(seen.id).second) {
            std::fclose(demo.stream);
            continue;
        }
        if (const auto report = run.reports.find(seen.id); seen.error == 0 && report != run.reports.end()) {
            console.tell(message::error, "will not read " + quoted(demo.label) + " as a demo: it holds the " +
                                             made.noun + " of " + quoted(report->second) + ", written just before");
            std::fclose(demo.stream);
            status = 1;
            continue;
        }
        std::string report_name = made.name_for(demo_name);
        target out;
        if (!open_named(report_name, console, [&](const std::string& tried, std::string& why) {
                why = open_report(tried, demo, run, out, made, console);
            })) {
            std::fclose(demo.stream);
            status = 1;
            continue;
        }
        const int written = write_report(demo, out, made, console);
        status = worse_status(status, written);
        if (written == 1) {
            continue;
        }
        run.reports.emplace(out.written, demo.label);
    }
    return status;
}

// True when the file `id` is open in one of the program's own descriptors
// for writing (standard output, /dev/fd/N): a report to be written through.
bool reaches_own_descriptor(const files::file_id& id)
{
    int error = 0;
    std::FILE* through = files::through_own_descriptor(id, error);
    if (through != nullptr) {
        std::fclose(through);
    }
    return through != nullptr;
}

// True when two or more names are several inputs of `made`: three names or
// more, or two whose second is a file that it may not replace and may be
// made from.
bool names_several_inputs(const std::vector<std::string>& names, const product& made)
{
    if (names.size() != 2) {
        return names.size() > 2;
    }
    if (is_standard_stream(names[1])) {
        return false;
    }
    const files::status second = files::look(names[1]);
    const std::optional<std::string> start = first_bytes_of(names[1], second);
    return start && !reaches_own_descriptor(second.id) && !made.replaces(*start) && made.made_from(*start);
}

} // namespace

int worse_status(int one, int other) { return one == 1 || other == 1 ? 1 : std::max(one, other); }

std::size_t first_bytes_told()
{
    return std::max({report::start_bytes, view::start_bytes, demo_text::start_bytes, demo_table::start_bytes()});
}

bool may_be_replaced(std::string_view first_bytes)
{
    return first_bytes.empty() || report::begins_like_a_report(first_bytes) || view::begins_like_a_view(first_bytes);
}

bool names_several_demos(const std::vector<std::string>& names) { return names_several_inputs(names, report_product); }

int convert(const request& asked, const console_side& console)
{
    const product& made = *products.at(static_cast<std::size_t>(asked.writes));
    return names_several_inputs(asked.names, made) ? convert_several(asked, made, console)
                                                   : convert_one(asked, made, console);
}

} // namespace outputs
