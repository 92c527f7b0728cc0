#include "png_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::uint32_t u32_at(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

std::size_t u16_little_at(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint8_t>(bytes[at]) |
           (static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8);
}

// Check values of both checksums; the long run of 0xFF bytes makes both
// Adler-32 sums wrap around their modulus many times.
TEST(Checksums, KnownValues)
{
    struct known {
        std::string input;
        std::uint32_t crc;
        std::uint32_t adler;
    };
    const known cases[] = {
        {"", 0x00000000U, 0x00000001U},          {"a", 0xE8B7BE43U, 0x00620062U},
        {"123456789", 0xCBF43926U, 0x091E01DEU}, {"Wikipedia", 0xADAAC02EU, 0x11E60398U},
        {"IEND", 0xAE426082U, 0x02D70121U},      {std::string(100000, '\xFF'), 0x68C6CEC4U, 0x149A302CU},
    };
    for (const known& c : cases) {
        EXPECT_EQ(png::crc32(c.input), c.crc) << c.input.size() << " bytes";
        EXPECT_EQ(png::adler32(c.input), c.adler) << c.input.size() << " bytes";
    }
}

// Walks the stored blocks of a zlib stream and returns the data they hold;
// fails the test on any malformed field.
std::string unstore(std::string_view stream)
{
    EXPECT_EQ((static_cast<std::uint8_t>(stream[0]) * 256 + static_cast<std::uint8_t>(stream[1])) % 31, 0);
    EXPECT_EQ(static_cast<std::uint8_t>(stream[0]) & 0x0F, 8) << "deflate";
    std::string data;
    std::size_t at = 2;
    for (bool last = false; !last;) {
        const auto header = static_cast<std::uint8_t>(stream.at(at));
        last = (header & 1) != 0;
        EXPECT_EQ(header >> 1, 0) << "stored block at " << at;
        const std::size_t length = u16_little_at(stream, at + 1);
        EXPECT_EQ(length ^ u16_little_at(stream, at + 3), 0xFFFFU) << "NLEN at " << at;
        data.append(stream.substr(at + 5, length));
        at += 5 + length;
    }
    EXPECT_EQ(at + 4, stream.size()) << "nothing after the checksum";
    EXPECT_EQ(u32_at(stream, at), png::adler32(data));
    return data;
}

// Data of every size around the 65535-byte limit of one stored block comes
// back whole, in as many blocks as it needs.
TEST(ZlibStored, SplitsIntoBlocksOfAtMost65535Bytes)
{
    struct sized {
        std::size_t size;
        std::size_t blocks;
    };
    const sized cases[] = {{0, 1}, {1, 1}, {65535, 1}, {65536, 2}, {131070, 2}, {131071, 3}};
    for (const sized& c : cases) {
        std::string data(c.size, '\0');
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<char>(i * 7 + i / 251);
        }
        const std::string stream = png::zlib_stored(data);
        EXPECT_EQ(stream.size(), 2 + 5 * c.blocks + c.size + 4) << c.size;
        EXPECT_EQ(unstore(stream), data) << c.size;
    }
}

struct chunk {
    std::string type;
    std::string data;
};

// Splits a PNG file into its chunks, checking the signature and every CRC.
std::vector<chunk> chunks_of(std::string_view file)
{
    EXPECT_EQ(file.substr(0, 8), std::string_view("\x89PNG\r\n\x1A\n", 8));
    std::vector<chunk> chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = u32_at(file, at);
        const std::string_view typed = file.substr(at + 4, 4 + length);
        EXPECT_EQ(u32_at(file, at + 8 + length), png::crc32(typed)) << typed.substr(0, 4);
        chunks.push_back({std::string(typed.substr(0, 4)), std::string(typed.substr(4))});
        at += 12 + length;
    }
    return chunks;
}

// An image larger than one stored block: header fields, unfiltered rows of
// the pixels in order, and nothing but IHDR, IDAT and IEND.
TEST(Encode, WholeFileOfAnImageLargerThanOneBlock)
{
    png::image picture{150, 120, {}};
    for (unsigned y = 0; y < picture.height; ++y) {
        for (unsigned x = 0; x < picture.width; ++x) {
            picture.pixels.push_back({static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                                      static_cast<std::uint8_t>(x ^ y), static_cast<std::uint8_t>(255 - x)});
        }
    }
    const std::vector<chunk> chunks = chunks_of(png::encode(picture));
    ASSERT_EQ(chunks.size(), 3U);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[0].data, std::string("\0\0\0\x96\0\0\0\x78\x08\x06\0\0\0", 13));
    EXPECT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[2].type, "IEND");
    EXPECT_EQ(chunks[2].data, "");

    const std::string rows = unstore(chunks[1].data);
    constexpr std::size_t row_bytes = 1 + 150 * 4;
    ASSERT_EQ(rows.size(), 120 * row_bytes);
    for (std::size_t y = 0; y < picture.height; ++y) {
        const std::size_t row = y * row_bytes;
        ASSERT_EQ(rows[row], '\0') << "filter of row " << y;
        for (std::size_t x = 0; x < picture.width; ++x) {
            const png::rgba& p = picture.pixels[y * picture.width + x];
            const std::string expected = {static_cast<char>(p.r), static_cast<char>(p.g), static_cast<char>(p.b),
                                          static_cast<char>(p.a)};
            ASSERT_EQ(rows.substr(row + 1 + 4 * x, 4), expected) << x << "," << y;
        }
    }
}

} // namespace
