// The places of an input entry's buttons, in the order the view's lanes
// show them (the C buttons' group, then the main buttons), and then the two
// reserved bits: each with its name, the one character the demo's text shows
// when it is held, and the bit of the entry that holds it.
#pragma once

#include "icons.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace lanes {

struct lane {
    std::string_view name; // as the report and the view name it
    char letter;           // in the text, where '.' stands when not held
    unsigned byte;         // 2 or 3, the entry's button bytes
    unsigned mask;
};

inline constexpr std::size_t count = 16;
inline constexpr char not_held = '.';

// clang-format off
inline constexpr std::array<lane, count> all = {{
    {icons::c_buttons[0], 'l', 2, 0x01}, {icons::c_buttons[1], 'r', 2, 0x02},
    {icons::c_buttons[2], 'd', 2, 0x04}, {icons::c_buttons[3], 'u', 2, 0x08},
    {icons::c_buttons[4], 'R', 2, 0x10}, {icons::c_buttons[5], 'L', 2, 0x20},
    {icons::main_buttons[0], '<', 3, 0x01}, {icons::main_buttons[1], '>', 3, 0x02},
    {icons::main_buttons[2], 'v', 3, 0x04}, {icons::main_buttons[3], '^', 3, 0x08},
    {icons::main_buttons[4], 'S', 3, 0x10}, {icons::main_buttons[5], 'Z', 3, 0x20},
    {icons::main_buttons[6], 'B', 3, 0x40}, {icons::main_buttons[7], 'A', 3, 0x80},
    {"reserved1", '1', 2, 0x40}, {"reserved2", '2', 2, 0x80},
}};
// clang-format on

} // namespace lanes
