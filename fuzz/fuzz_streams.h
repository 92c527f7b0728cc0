// The streams the fuzz targets read their input from and write into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz_streams {

// The demo stream over the input. fmemopen may refuse a buffer of no bytes,
// so an empty input goes through a temporary file instead.
inline std::FILE* open_input(const std::uint8_t* data, std::size_t size)
{
    static unsigned char no_byte = 0;
    // The stream only reads: the cast merely fits fmemopen's signature.
    void* bytes = size > 0 ? const_cast<std::uint8_t*>(data) : &no_byte;
    std::FILE* in = fmemopen(bytes, size, "rb");
    if (in == nullptr && size == 0) {
        in = std::tmpfile();
    }
    return in;
}

// The report stream: every write lands in `collected`. unmush turns the
// stream's own buffering off, which glibc's open_memstream streams do not
// survive; a cookie stream takes it as a file would.
inline ssize_t collect(void* cookie, const char* bytes, std::size_t size)
{
    static_cast<std::string*>(cookie)->append(bytes, size);
    return static_cast<ssize_t>(size);
}

inline std::FILE* open_collector(std::string& collected)
{
    cookie_io_functions_t io{};
    io.write = collect;
    return fopencookie(&collected, "w", io);
}

} // namespace fuzz_streams
