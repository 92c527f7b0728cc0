// Windows only: a UTF-8 name as every system call on a file gets it, the
// system's wide name in its long form, \\?\C:\... or \\?\UNC\server\share\...,
// which takes names of any length the filesystem does without the system's
// long-name opt-in, and which reaches a file named like a device (con.demo,
// NUL, com1.htm) instead of the device.
#pragma once

#include "utf16.h"

#include <array>
#include <cwctype>
#include <string>
#include <string_view>
#include <windows.h>

namespace wide_names {

// The names the system keeps for its devices in every folder, with or
// without an extension; COM and LPT take a digit from 1 to 9 after them.
inline constexpr std::array<std::wstring_view, 6> device_names{L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
inline constexpr std::array<std::wstring_view, 2> numbered_device_names{L"COM", L"LPT"};

inline bool starts_with(std::wstring_view name, std::wstring_view start)
{
    return name.substr(0, start.size()) == start;
}

// A name in the device namespace, \\.\NUL or \\.\pipe\...
inline bool is_device(std::wstring_view name) { return starts_with(name, LR"(\\.\)"); }

inline bool same_letters(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towupper(a[i]) != std::towupper(b[i])) {
            return false;
        }
    }
    return true;
}

// Where the last part of a name starts: after its last \, / or drive colon.
inline std::size_t leaf_start(std::wstring_view name)
{
    const std::size_t last = name.find_last_of(L"\\/:");
    return last == std::wstring_view::npos ? 0 : last + 1;
}

// True when `leaf`, the last part of a name, is a device's name in every
// folder: CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9 (and the console's
// CONIN$ and CONOUT$), in any case, alone or before a full stop, spaces
// before the full stop aside.
inline bool is_reserved(std::wstring_view leaf)
{
    std::wstring_view base = leaf.substr(0, leaf.find(L'.'));
    base = base.substr(0, base.find_last_not_of(L' ') + 1);
    for (const std::wstring_view device : device_names) {
        if (same_letters(base, device)) {
            return true;
        }
    }
    for (const std::wstring_view device : numbered_device_names) {
        if (base.size() == device.size() + 1 && same_letters(base.substr(0, device.size()), device) &&
            base.back() >= L'1' && base.back() <= L'9') {
            return true;
        }
    }
    return false;
}

// The system's full name of `name` against the working folder (which also
// turns / into \ and resolves . and ..); "" when it has none.
inline std::wstring full_name(const std::wstring& name)
{
    std::wstring full(GetFullPathNameW(name.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD length =
        full.empty() ? 0 : GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        return {};
    }
    full.resize(length);
    return full;
}

// The full name of a name whose last part is a device's name: the system
// makes the full name of its folder alone, which stays a folder, and the last
// part is put after it as it is, where the system would name the device.
inline std::wstring full_name_of_reserved(const std::wstring& name)
{
    const std::size_t leaf = leaf_start(name);
    std::wstring folder = full_name(leaf == 0 ? std::wstring(L".") : name.substr(0, leaf));
    if (folder.empty()) {
        return {};
    }
    if (folder.back() != L'\\') {
        folder.push_back(L'\\');
    }
    return folder + name.substr(leaf);
}

// True when the last part of the UTF-8 `name` is a device's name.
inline bool has_reserved_leaf(std::string_view name)
{
    const std::wstring wide = utf16::from_utf8(name);
    return is_reserved(std::wstring_view(wide).substr(leaf_start(wide)));
}

// The long form of the UTF-8 `name`: its full name, marked as taken
// literally, for which the system lifts the length limit of ordinary names
// and names no device. Names in the long form or in the device namespace
// already stay as they are, and so does a name that has no full name.
inline std::wstring long_form(std::string_view name)
{
    std::wstring given = utf16::from_utf8(name);
    if (given.empty() || starts_with(given, LR"(\\?\)") || is_device(given)) {
        return given;
    }
    std::wstring full = has_reserved_leaf(name) ? full_name_of_reserved(given) : full_name(given);
    if (is_device(full)) {
        // Another name the system takes for a device.
        full = full_name_of_reserved(given);
    }
    if (full.empty()) {
        return given;
    }
    if (starts_with(full, LR"(\\?\)")) {
        return full;
    }
    if (starts_with(full, LR"(\\)")) {
        return LR"(\\?\UNC\)" + full.substr(2);
    }
    return LR"(\\?\)" + full;
}

} // namespace wide_names
