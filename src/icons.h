// The report's input icons, by name: each is the file res/NAME.png. The
// report shows them and the icon drawer draws them from these lists.
#pragma once

#include <array>
#include <string_view>

namespace icons {

// The stick's direction, indexed by whether the value is negative.
inline constexpr std::array<std::string_view, 2> stick_x = {"SRT", "SLT"};
inline constexpr std::array<std::string_view, 2> stick_y = {"SUP", "SDN"};

// The buttons of an input entry's byte 2, bit 0 first; its bits 6 and 7 are
// reserved and shown as text.
inline constexpr std::array<std::string_view, 6> c_buttons = {"CLT", "CRT", "CDN", "CUP", "R", "L"};

// The buttons of an input entry's byte 3, bit 0 first.
inline constexpr std::array<std::string_view, 8> main_buttons = {"LT", "RT", "DN", "UP", "S", "Z", "B", "A"};

} // namespace icons
