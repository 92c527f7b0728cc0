// Builds demo files byte by byte, for the tests, the example, the fuzzer's
// seed corpus and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace demo_builder {

// The header fields the report shows; the defaults give the summary's
// worked example.
struct header_fields {
    std::uint8_t stage = 0x21;
    std::uint32_t size = 0xE00;
    std::uint32_t time = 125;
    std::uint8_t difficulty = 1;
    std::uint8_t players = 1;
    std::uint8_t setup = 0x02;
    std::uint8_t options = 0x4B;
    std::uint32_t controllers = 2;
};

// The 232 header bytes; the bytes the report does not use are zero.
std::string header(const header_fields& fields);

void put_word(std::string& bytes, std::uint32_t word); // most significant byte first

// One input entry: stick X, stick Y, button byte 2, button byte 3.
struct entry {
    std::uint8_t x = 0;
    std::uint8_t y = 0;
    std::uint8_t c_buttons = 0;
    std::uint8_t main_buttons = 0;
};

void put_entry(std::string& bytes, const entry& e);

// A block header word announcing `rows` rows, then the entries as given.
void put_block(std::string& bytes, std::uint8_t rows, const std::vector<entry>& entries);

// A whole demo: header, blocks of random but plausible input (sticks that
// drift, a few buttons held at a time) and the closing zero word. Blocks hold
// `rows_per_block` rows (the last may hold fewer); `entries` is rounded down
// to whole rows. The same seed gives the same bytes on every platform.
std::string random_demo(std::uint64_t entries, std::uint32_t controllers, std::uint8_t rows_per_block,
                        std::uint32_t seed);

// Small demos of every shape the report distinguishes, by name.
std::vector<std::pair<std::string, std::string>> shapes();

} // namespace demo_builder
