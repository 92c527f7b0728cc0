#include "demo_builder.h"

#include <algorithm>

namespace demo_builder {

namespace {

void put_byte(std::string& bytes, std::size_t offset, std::uint8_t value) { bytes[offset] = static_cast<char>(value); }

void put_word_at(std::string& bytes, std::size_t offset, std::uint32_t word)
{
    for (int i = 0; i < 4; ++i) {
        put_byte(bytes, offset + static_cast<std::size_t>(i), static_cast<std::uint8_t>(word >> (24 - 8 * i)));
    }
}

// A small generator of our own, so that a seed gives the same demo everywhere.
struct random_source {
    std::uint64_t state;
    std::uint32_t next()
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state >> 33);
    }
    std::uint32_t below(std::uint32_t limit) { return next() % limit; }
};

// Sticks drift towards a target that changes now and then; buttons are held
// for a while, seldom more than two at once.
struct controller_state {
    int x = 0;
    int y = 0;
    int target_x = 0;
    int target_y = 0;
    std::uint8_t c_buttons = 0;
    std::uint8_t main_buttons = 0;
};

int drift(int value, int target) { return value + (target - value) / 4 + (target > value) - (target < value); }

entry next_entry(controller_state& s, random_source& rng)
{
    if (rng.below(16) == 0) {
        s.target_x = static_cast<int>(rng.below(256)) - 128;
        s.target_y = static_cast<int>(rng.below(256)) - 128;
    }
    s.x = std::clamp(drift(s.x, s.target_x), -128, 127);
    s.y = std::clamp(drift(s.y, s.target_y), -128, 127);
    if (rng.below(8) == 0) {
        s.main_buttons = static_cast<std::uint8_t>(s.main_buttons ^ (1U << rng.below(8)));
    }
    if (rng.below(24) == 0) {
        s.c_buttons = static_cast<std::uint8_t>(s.c_buttons ^ (1U << rng.below(6)));
    }
    return {static_cast<std::uint8_t>(s.x), static_cast<std::uint8_t>(s.y), s.c_buttons, s.main_buttons};
}

std::string demo_of(const header_fields& fields, const std::string& blocks, bool closed = true)
{
    std::string bytes = header(fields) + blocks;
    if (closed) {
        put_word(bytes, 0);
    }
    return bytes;
}

std::vector<entry> entries_of(std::size_t count, entry e)
{
    std::vector<entry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        entries.push_back(e);
        e.x = static_cast<std::uint8_t>(e.x + 37);
        e.y = static_cast<std::uint8_t>(e.y + 91);
        e.c_buttons = static_cast<std::uint8_t>(e.c_buttons * 5 + 1);
        e.main_buttons = static_cast<std::uint8_t>(e.main_buttons * 3 + 7);
    }
    return entries;
}

} // namespace

std::string header(const header_fields& fields)
{
    std::string bytes(232, '\0');
    put_byte(bytes, 19, fields.stage);
    put_byte(bytes, 23, fields.difficulty);
    put_word_at(bytes, 24, fields.controllers);
    put_byte(bytes, 40, fields.setup);
    put_byte(bytes, 41, fields.options);
    put_word_at(bytes, 124, fields.time);
    put_word_at(bytes, 128, fields.size);
    put_byte(bytes, 143, fields.players);
    return bytes;
}

void put_word(std::string& bytes, std::uint32_t word)
{
    bytes.append(4, '\0');
    put_word_at(bytes, bytes.size() - 4, word);
}

void put_entry(std::string& bytes, const entry& e)
{
    bytes.push_back(static_cast<char>(e.x));
    bytes.push_back(static_cast<char>(e.y));
    bytes.push_back(static_cast<char>(e.c_buttons));
    bytes.push_back(static_cast<char>(e.main_buttons));
}

void put_block(std::string& bytes, std::uint8_t rows, const std::vector<entry>& entries)
{
    put_word(bytes, static_cast<std::uint32_t>(rows) << 16);
    for (const entry& e : entries) {
        put_entry(bytes, e);
    }
}

std::string random_demo(std::uint64_t entries, std::uint32_t controllers, std::uint8_t rows_per_block,
                        std::uint32_t seed)
{
    header_fields fields;
    fields.controllers = controllers;
    random_source rng{seed};
    constexpr std::uint8_t titled_stages[] = {0x09, 0x14, 0x16, 0x19, 0x1A, 0x1C, 0x21, 0x22, 0x25, 0x28, 0x2B, 0x36};
    fields.stage = titled_stages[rng.below(sizeof titled_stages)];
    fields.time = 0;
    std::vector<controller_state> states(controllers);
    std::string blocks;
    std::uint64_t rows_left = controllers == 0 || rows_per_block == 0 ? 0 : entries / controllers;
    while (rows_left > 0) {
        const auto rows = static_cast<std::uint8_t>(std::min<std::uint64_t>(rows_left, rows_per_block));
        std::vector<entry> block;
        for (unsigned row = 0; row < rows; ++row) {
            for (controller_state& s : states) {
                block.push_back(next_entry(s, rng));
            }
        }
        put_block(blocks, rows, block);
        rows_left -= rows;
        fields.time += rows / 30 + 1;
    }
    fields.size = static_cast<std::uint32_t>(232 + blocks.size());
    return demo_of(fields, blocks);
}

std::vector<std::pair<std::string, std::string>> shapes()
{
    std::vector<std::pair<std::string, std::string>> all;
    const header_fields two; // two controllers

    std::string worked;
    put_block(worked, 2,
              {{0x10, 0xF0, 0x00, 0x80}, {0x00, 0x00, 0x00, 0x00}, {0x80, 0x7F, 0x20, 0x10}, {0x00, 0x00, 0x40, 0x01}});
    all.emplace_back("worked_example", demo_of(two, worked));
    all.emplace_back("no_blocks", demo_of(two, ""));

    std::string empty_then_one;
    put_word(empty_then_one, 0x7F00AB00); // a block with no rows: byte 1 is zero, the word is not
    put_block(empty_then_one, 1, entries_of(2, {0x7F, 0x81, 0xFF, 0xFF}));
    all.emplace_back("empty_block", demo_of(two, empty_then_one));

    for (std::uint8_t rows : {3, 4}) {
        std::string block;
        put_block(block, rows, entries_of(2U * rows, {0x80, 0x00, 0x01, 0x80}));
        all.emplace_back(rows % 2 == 0 ? "even_rows" : "odd_rows", demo_of(two, block));
    }

    header_fields one = two;
    one.controllers = 1;
    std::string single;
    put_block(single, 3, entries_of(3, {0x01, 0xFF, 0x10, 0x02}));
    all.emplace_back("one_controller", demo_of(one, single));

    header_fields none = two;
    none.controllers = 0;
    std::string no_entries;
    put_block(no_entries, 5, {});
    put_block(no_entries, 0xFF, {});
    all.emplace_back("no_controllers", demo_of(none, no_entries));

    std::string sixteen;
    for (int i = 0; i < 16; ++i) {
        put_block(sixteen, 1, entries_of(2, {static_cast<std::uint8_t>(i), 0x40, 0x00, 0x00}));
    }
    all.emplace_back("sixteen_blocks", demo_of(two, sixteen));

    header_fields wide = two;
    wide.controllers = 254;
    std::string wide_block;
    put_block(wide_block, 1, entries_of(254, {0x00, 0x00, 0x00, 0x00}));
    all.emplace_back("max_controllers", demo_of(wide, wide_block));

    header_fields too_wide = two;
    too_wide.controllers = 255;
    all.emplace_back("too_many_controllers", demo_of(too_wide, wide_block));

    std::string cut;
    put_block(cut, 2, entries_of(3, {0x05, 0x06, 0x07, 0x08}));
    all.emplace_back("ends_inside_row", demo_of(two, cut, false));
    all.emplace_back("ends_inside_header", header(two).substr(0, 100));
    all.emplace_back("random_small", random_demo(600, 2, 255, 1));

    // Every icon the report can show, both reserved bits, the largest stick
    // magnitudes, then a block of odd length and one without rows: what the
    // browser test needs to see every resource and both stripe phases.
    std::string every_icon;
    put_block(every_icon, 4,
              {{0x80, 0x7F, 0x0F, 0x00},
               {0x40, 0xC0, 0x30, 0x00},
               {0xE0, 0x20, 0x00, 0x0F},
               {0x00, 0x00, 0x00, 0xF0},
               {0x7F, 0x81, 0xC0, 0x11},
               {0x05, 0xFB, 0x05, 0x24},
               {0x00, 0x00, 0xFF, 0xFF},
               {0xFF, 0x01, 0x0A, 0x88}});
    put_block(every_icon, 3, entries_of(6, {0x10, 0x20, 0x01, 0x80}));
    put_word(every_icon, 0x7F00AB00); // no rows: byte 1 is zero, the word is not
    all.emplace_back("every_icon", demo_of(two, every_icon));

    // Every value of every byte of an entry, each byte running through them
    // from its own start: 256 entries, two blocks of 64 rows of 2.
    std::string every_byte;
    for (unsigned half = 0; half < 2; ++half) {
        std::vector<entry> entries;
        for (unsigned i = half * 128; i < half * 128 + 128; ++i) {
            entries.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i + 64),
                               static_cast<std::uint8_t>(i + 128), static_cast<std::uint8_t>(255 - i)});
        }
        put_block(every_byte, 64, entries);
    }
    all.emplace_back("every_byte", demo_of(two, every_byte));
    return all;
}

} // namespace demo_builder
