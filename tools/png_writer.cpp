#include "png_writer.h"

#include <algorithm>
#include <array>

namespace png {

namespace {

constexpr std::size_t max_stored_block = 65535;

std::array<std::uint32_t, 256> crc_table()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < table.size(); ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

void put_u32(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFFU));
    }
}

void put_u16_little(std::string& out, std::size_t value)
{
    out.push_back(static_cast<char>(value & 0xFFU));
    out.push_back(static_cast<char>((value >> 8) & 0xFFU));
}

// Length, type, data and the CRC over type and data.
void put_chunk(std::string& out, std::string_view type, std::string_view data)
{
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    std::string typed(type);
    typed.append(data);
    out.append(typed);
    put_u32(out, crc32(typed));
}

std::string header_chunk_data(const image& picture)
{
    std::string data;
    put_u32(data, picture.width);
    put_u32(data, picture.height);
    data.push_back(8); // bits per sample
    data.push_back(6); // colour type: RGBA
    data.push_back(0); // compression: deflate
    data.push_back(0); // filter method 0
    data.push_back(0); // no interlace
    return data;
}

// Every row starts with filter type 0 (none), then its pixels' samples.
std::string scanlines(const image& picture)
{
    std::string data;
    data.reserve(static_cast<std::size_t>(picture.height) * (1 + 4 * static_cast<std::size_t>(picture.width)));
    for (unsigned y = 0; y < picture.height; ++y) {
        data.push_back(0);
        for (unsigned x = 0; x < picture.width; ++x) {
            const rgba& p = picture.pixels[static_cast<std::size_t>(y) * picture.width + x];
            data.push_back(static_cast<char>(p.r));
            data.push_back(static_cast<char>(p.g));
            data.push_back(static_cast<char>(p.b));
            data.push_back(static_cast<char>(p.a));
        }
    }
    return data;
}

} // namespace

std::uint32_t crc32(std::string_view bytes)
{
    static const std::array<std::uint32_t, 256> table = crc_table();
    std::uint32_t c = 0xFFFFFFFFU;
    for (const char byte : bytes) {
        c = table[(c ^ static_cast<std::uint8_t>(byte)) & 0xFFU] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFU;
}

std::uint32_t adler32(std::string_view bytes)
{
    constexpr std::uint32_t modulus = 65521;
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const char byte : bytes) {
        a = (a + static_cast<std::uint8_t>(byte)) % modulus;
        b = (b + a) % modulus;
    }
    return (b << 16) | a;
}

std::string zlib_stored(std::string_view data)
{
    std::string out;
    out.push_back(0x78); // deflate, 32K window
    out.push_back(0x01); // no dictionary; check bits make 0x7801 a multiple of 31
    std::size_t at = 0;
    do {
        const std::size_t length = std::min(max_stored_block, data.size() - at);
        const bool last = at + length == data.size();
        out.push_back(last ? 1 : 0); // BFINAL, BTYPE 00: stored
        put_u16_little(out, length);
        put_u16_little(out, ~length & 0xFFFFU);
        out.append(data.substr(at, length));
        at += length;
    } while (at < data.size());
    put_u32(out, adler32(data));
    return out;
}

std::string encode(const image& picture)
{
    std::string out = "\x89PNG\r\n\x1A\n";
    put_chunk(out, "IHDR", header_chunk_data(picture));
    put_chunk(out, "IDAT", zlib_stored(scanlines(picture)));
    put_chunk(out, "IEND", "");
    return out;
}

} // namespace png
