#pragma once
// Image files built byte by byte for the loading tests, from the documented
// layouts of the formats: BMP (file header, 40-byte information header, colour
// table, bottom-up rows padded to 4 bytes), PNG (signature, IHDR, optional
// PLTE and pHYs, one IDAT of zlib-compressed filter-0 rows, IEND, each chunk
// with its CRC-32) and a tiny GIF.

#include <zlib.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace imagefiles {

inline void Le16(std::string& s, unsigned v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
}
inline void Le32(std::string& s, std::uint32_t v) {
    Le16(s, v & 0xFFFF);
    Le16(s, v >> 16);
}
inline void Be32(std::string& s, std::uint32_t v) {
    s += char((v >> 24) & 0xFF);
    s += char((v >> 16) & 0xFF);
    s += char((v >> 8) & 0xFF);
    s += char(v & 0xFF);
}

struct Rgb {
    std::uint8_t r, g, b;
};

// rows: top row first, each unpadded. A negative height writes a top-down
// file; `claimedWidth`/`claimedHeight` (when set) replace the header's
// values without changing the pixels written.
struct BmpLayout {
    int width = 0;
    int height = 0;
    int bits = 8;
    std::vector<Rgb> table;
    std::vector<std::string> rows;
    std::int32_t pixelsPerMetre = 0;
    bool topDown = false;
    std::optional<std::int32_t> claimedWidth;
    std::optional<std::int32_t> claimedHeight;
    std::uint32_t colorsUsed = 0;
};

inline std::string Bmp(const BmpLayout& layout) {
    const int stride = ((layout.width * layout.bits + 31) / 32) * 4;
    std::string pixels;
    for (int i = 0; i < int(layout.rows.size()); ++i) {
        const std::string& row =
            layout.topDown ? layout.rows[i] : layout.rows[layout.rows.size() - 1 - i];
        std::string padded = row;
        padded.resize(std::size_t(stride), '\0');
        pixels += padded;
    }
    const std::uint32_t offset = 14 + 40 + std::uint32_t(layout.table.size()) * 4;
    std::string s = "BM";
    Le32(s, offset + std::uint32_t(pixels.size()));
    Le32(s, 0);
    Le32(s, offset);
    Le32(s, 40);
    const std::int32_t h = layout.claimedHeight.value_or(layout.height);
    Le32(s, std::uint32_t(layout.claimedWidth.value_or(layout.width)));
    Le32(s, std::uint32_t(layout.topDown ? -h : h));
    Le16(s, 1);
    Le16(s, unsigned(layout.bits));
    Le32(s, 0);  // BI_RGB
    Le32(s, std::uint32_t(pixels.size()));
    Le32(s, std::uint32_t(layout.pixelsPerMetre));
    Le32(s, std::uint32_t(layout.pixelsPerMetre));
    Le32(s, layout.colorsUsed ? layout.colorsUsed : std::uint32_t(layout.table.size()));
    Le32(s, 0);
    for (const Rgb& c : layout.table) {
        s += char(c.b);
        s += char(c.g);
        s += char(c.r);
        s += '\0';
    }
    return s + pixels;
}

inline void Chunk(std::string& png, const char* type, const std::string& data) {
    Be32(png, std::uint32_t(data.size()));
    const std::string body = std::string(type, 4) + data;
    png += body;
    Be32(png,
         std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// colourType: 0 grey, 2 RGB, 3 palette, 6 RGBA. rows: top first, unfiltered.
inline std::string Png(int width, int height, int bitDepth, int colourType,
                       const std::vector<Rgb>& palette, const std::vector<std::string>& rows,
                       std::uint32_t pixelsPerMetre = 0) {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    Be32(ihdr, std::uint32_t(width));
    Be32(ihdr, std::uint32_t(height));
    ihdr += char(bitDepth);
    ihdr += char(colourType);
    ihdr += std::string(3, '\0');
    Chunk(png, "IHDR", ihdr);
    if (pixelsPerMetre) {
        std::string phys;
        Be32(phys, pixelsPerMetre);
        Be32(phys, pixelsPerMetre);
        phys += '\1';
        Chunk(png, "pHYs", phys);
    }
    if (!palette.empty()) {
        std::string plte;
        for (const Rgb& c : palette)
            plte += {char(c.r), char(c.g), char(c.b)};
        Chunk(png, "PLTE", plte);
    }
    std::string raw;
    for (const std::string& row : rows)
        raw += '\0' + row;
    std::vector<Bytef> packed(compressBound(uLong(raw.size())));
    uLongf length = packed.size();
    compress(packed.data(), &length, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
    Chunk(png, "IDAT", std::string(reinterpret_cast<const char*>(packed.data()), length));
    Chunk(png, "IEND", "");
    return png;
}

// A 2 x 1 GIF89a with a 4-entry global table and pixels 1, 3: LZW minimum
// code size 2, codes clear (4), 1, 3, end (5) packed 3 bits each from the
// least significant bit: 0xCC 0x0A.
inline std::string Gif() {
    std::string s = "GIF89a";
    Le16(s, 2);
    Le16(s, 1);
    s += {char(0xF1), 0, 0};
    const Rgb table[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {255, 0, 0}};
    for (const Rgb& c : table)
        s += {char(c.r), char(c.g), char(c.b)};
    s += char(0x2C);
    Le16(s, 0);
    Le16(s, 0);
    Le16(s, 2);
    Le16(s, 1);
    s += {0, 2, 2, char(0xCC), 0x0A, 0, 0x3B};
    return s;
}

// A GIF of width x height with a 256-entry global table and the given indices
// (row by row from the top), LZW-compressed by the textbook encoder (minimum
// code size 8, codes growing to 12 bits, a clear code when the table fills),
// stored in interlaced row order when asked.
inline std::string LzwGif(int width, int height, const std::vector<Rgb>& table,
                          const std::vector<std::uint8_t>& indices, bool interlaced) {
    std::vector<std::uint8_t> stream;
    std::vector<int> order;
    if (interlaced) {
        const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = starts[pass]; y < height; y += steps[pass])
                order.push_back(y);
    } else {
        for (int y = 0; y < height; ++y)
            order.push_back(y);
    }
    for (int y : order)
        stream.insert(stream.end(), indices.begin() + y * width, indices.begin() + (y + 1) * width);

    std::string bits;  // packed codes
    std::uint32_t acc = 0;
    int accBits = 0;
    auto out = [&](int code, int size) {
        acc |= std::uint32_t(code) << accBits;
        accBits += size;
        while (accBits >= 8) {
            bits += char(acc & 0xFF);
            acc >>= 8;
            accBits -= 8;
        }
    };
    const int clear = 256, end = 257;
    std::map<std::pair<int, int>, int> dict;
    int next = 258, size = 9;
    out(clear, size);
    int w = stream[0];
    for (std::size_t i = 1; i < stream.size(); ++i) {
        const int k = stream[i];
        auto it = dict.find({w, k});
        if (it != dict.end()) {
            w = it->second;
            continue;
        }
        out(w, size);
        if (next < 4096) {
            dict[{w, k}] = next++;
            if (next > (1 << size) && size < 12)
                ++size;
        } else {
            out(clear, size);
            dict.clear();
            next = 258;
            size = 9;
        }
        w = k;
    }
    out(w, size);
    out(end, size);
    if (accBits > 0)
        bits += char(acc & 0xFF);

    std::string s = "GIF89a";
    Le16(s, unsigned(width));
    Le16(s, unsigned(height));
    s += {char(0xF7), 0, 0};
    for (const Rgb& c : table)
        s += {char(c.r), char(c.g), char(c.b)};
    s += char(0x2C);
    Le16(s, 0);
    Le16(s, 0);
    Le16(s, unsigned(width));
    Le16(s, unsigned(height));
    s += char(interlaced ? 0x40 : 0);
    s += char(8);
    for (std::size_t at = 0; at < bits.size(); at += 255) {
        const std::string block = bits.substr(at, 255);
        s += char(block.size());
        s += block;
    }
    s += {0, 0x3B};
    return s;
}

// An uncompressed little-endian TIFF of 8-bit grey (black is zero) pixels
// in tiles of tileWidth x tileLength: header "II*\0" and the directory at
// byte 8 (tags 256, 257, 258, 259 = 1, 262 = 1, 277 = 1, 282/283 = 300/1,
// 296 = 2, 322, 323, 324, 325), then the offset and count arrays, the
// resolution rationals and the tiles, row by row of tiles, each tile's rows
// complete (pixels beyond the image 0). grey[y * width + x].
inline std::string TiledGreyTiff(int width, int height, int tileWidth, int tileLength,
                                 const std::vector<std::uint8_t>& grey) {
    const int across = (width + tileWidth - 1) / tileWidth;
    const int down = (height + tileLength - 1) / tileLength;
    const int tiles = across * down;
    const int entries = 14;
    const std::uint32_t dirSize = 2 + entries * 12 + 4;
    const std::uint32_t offsetsAt = 8 + dirSize;
    const std::uint32_t countsAt = offsetsAt + 4 * tiles;
    const std::uint32_t rationalAt = countsAt + 4 * tiles;
    const std::uint32_t tilesAt = rationalAt + 8;
    const std::uint32_t tileBytes = std::uint32_t(tileWidth * tileLength);
    std::string s = "II*";
    s += '\0';
    Le32(s, 8);
    Le16(s, entries);
    auto entry = [&](unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
        Le16(s, tag);
        Le16(s, type);
        Le32(s, count);
        Le32(s, value);
    };
    entry(256, 4, 1, std::uint32_t(width));
    entry(257, 4, 1, std::uint32_t(height));
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 1);
    entry(277, 3, 1, 1);
    entry(282, 5, 1, rationalAt);
    entry(283, 5, 1, rationalAt);
    entry(284, 3, 1, 1);
    entry(296, 3, 1, 2);
    entry(322, 4, 1, std::uint32_t(tileWidth));
    entry(323, 4, 1, std::uint32_t(tileLength));
    entry(324, 4, std::uint32_t(tiles), offsetsAt);
    entry(325, 4, std::uint32_t(tiles), countsAt);
    Le32(s, 0);
    for (int i = 0; i < tiles; ++i)
        Le32(s, tilesAt + std::uint32_t(i) * tileBytes);
    for (int i = 0; i < tiles; ++i)
        Le32(s, tileBytes);
    Le32(s, 300);
    Le32(s, 1);
    for (int ty = 0; ty < down; ++ty)
        for (int tx = 0; tx < across; ++tx)
            for (int y = 0; y < tileLength; ++y)
                for (int x = 0; x < tileWidth; ++x) {
                    const int gx = tx * tileWidth + x, gy = ty * tileLength + y;
                    s += char(gx < width && gy < height ? grey[std::size_t(gy) * width + gx] : 0);
                }
    return s;
}

}  // namespace imagefiles
