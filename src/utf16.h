// Windows only: names and text between the program's UTF-8 and the system's
// wide characters (UTF-16), at the edge of every system call that takes them.
#pragma once

#include <string>
#include <string_view>
#include <windows.h>

namespace utf16 {

// The UTF-16 text of UTF-8 `text`; a byte that is not UTF-8 becomes U+FFFD.
inline std::wstring from_utf8(std::string_view text)
{
    const int size = static_cast<int>(text.size());
    std::wstring result(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)),
                        L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), static_cast<int>(result.size()));
    return result;
}

// The UTF-8 text of UTF-16 `text`; a lone surrogate becomes U+FFFD.
inline std::string to_utf8(std::wstring_view text)
{
    const int size = static_cast<int>(text.size());
    std::string result(
        static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr)),
        '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), static_cast<int>(result.size()), nullptr,
                        nullptr);
    return result;
}

} // namespace utf16
