// A minimal PNG writer: 8-bit RGBA images, every row unfiltered, the pixel
// data kept in zlib's stored (uncompressed) blocks. It needs no library and
// gives the same bytes for the same pixels on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace png {

struct rgba {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 0;
};

struct image {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<rgba> pixels; // row by row, top row first
};

// The checksum of PNG chunks (ISO 3309 / ITU-T V.42, reflected, 0xEDB88320).
std::uint32_t crc32(std::string_view bytes);

// The checksum that closes a zlib stream.
std::uint32_t adler32(std::string_view bytes);

// A zlib stream that holds `data` in stored blocks of at most 65535 bytes.
std::string zlib_stored(std::string_view data);

// The whole PNG file of `picture`.
std::string encode(const image& picture);

} // namespace png
