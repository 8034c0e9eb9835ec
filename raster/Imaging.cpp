#include "raster/Imaging.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/Files.h"
#include "platform/SystemInfo.h"

namespace quillor::imaging {

namespace gdi = platform::gdi;
using gdi::BYTE;
using gdi::DWORD;

namespace {

bool SupportedDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

bool SupportedSize(int width, int height) {
    return width >= 1 && height >= 1 && width <= gdi::Bitmap::kMaxDimension &&
           height <= gdi::Bitmap::kMaxDimension;
}

int StrideOf(int width, int bits) {
    return int(((std::int64_t(width) * bits + 31) / 32) * 4);
}

// Puts a fresh pixel bitmap into the record, replacing the old one.
void Adopt(BitmapHandle* bitmap, gdi::HBITMAP pixels) {
    bitmap->pixels = std::move(pixels);
    bitmap->flags |= kBitmapAllocated;
    bitmap->width = bitmap->pixels->Width();
    bitmap->height = bitmap->pixels->Height();
    bitmap->bitsPerPixel = bitmap->pixels->BitsPerPixel();
    bitmap->bytesPerLine = bitmap->pixels->Stride();
    bitmap->colorCount = bitmap->pixels->ColorCount();
    bitmap->viewPerspective = kTopLeft;
    if (bitmap->hasRegion) {
        bitmap->region &= QRect(0, 0, bitmap->width, bitmap->height);
        bitmap->hasRegion = !bitmap->region.isEmpty();
    }
}

int Distance(const RGBQUAD& a, int r, int g, int b) {
    const int dr = a.rgbRed - r, dg = a.rgbGreen - g, db = a.rgbBlue - b;
    return dr * dr + dg * dg + db * db;
}

int Nearest(const RGBQUAD* table, int count, int r, int g, int b) {
    int best = 0, bestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < count; ++i) {
        const int d = Distance(table[i], r, g, b);
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
            if (d == 0)
                break;
        }
    }
    return best;
}

bool SameColour(const RGBQUAD& a, const RGBQUAD& b) {
    return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}

// Colour of pixel x of a row, as 0x00RRGGBB.
std::uint32_t PixelRgb(const gdi::Bitmap& bm, const BYTE* row, int x) {
    switch (bm.BitsPerPixel()) {
        case 24:
        case 32: {
            const BYTE* p = row + std::size_t(x) * (bm.BitsPerPixel() / 8);
            return (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        }
        default: {
            const COLORREF c =
                bm.ColorOfValue(bm.GetValue(x, int((row - bm.Bits()) / bm.Stride())));
            return (std::uint32_t(gdi::GetRValue(c)) << 16) |
                   (std::uint32_t(gdi::GetGValue(c)) << 8) | gdi::GetBValue(c);
        }
    }
}

int IndexAt(const BYTE* row, int x, int bits) {
    switch (bits) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
        default:
            return row[x];
    }
}

void SetIndexAt(BYTE* row, int x, int bits, int value) {
    switch (bits) {
        case 1: {
            const BYTE mask = BYTE(0x80 >> (x & 7));
            row[x >> 3] = value ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask);
            break;
        }
        case 4:
            if (x & 1)
                row[x >> 1] = BYTE((row[x >> 1] & 0xF0) | (value & 0xF));
            else
                row[x >> 1] = BYTE((row[x >> 1] & 0x0F) | ((value & 0xF) << 4));
            break;
        default:
            row[x] = BYTE(value);
    }
}

// A palette of at most 256 colours for a direct-colour bitmap: its own
// colours when there are few enough, otherwise a 6 x 7 x 6 cube.
std::vector<RGBQUAD> BuildPalette(const gdi::Bitmap& src) {
    std::unordered_map<std::uint32_t, int> seen;
    std::vector<RGBQUAD> table;
    for (int y = 0; y < src.Height(); ++y) {
        const BYTE* row = src.Row(y);
        for (int x = 0; x < src.Width(); ++x) {
            const std::uint32_t rgb = PixelRgb(src, row, x);
            if (seen.emplace(rgb, int(table.size())).second) {
                if (table.size() == 256) {
                    table.clear();
                    for (int r = 0; r < 6; ++r)
                        for (int g = 0; g < 7; ++g)
                            for (int b = 0; b < 6; ++b)
                                table.push_back(gdi::MakeQuad(r * 51, g * 255 / 6, b * 51));
                    return table;
                }
                table.push_back(
                    gdi::MakeQuad(int(rgb >> 16), int((rgb >> 8) & 0xFF), int(rgb & 0xFF)));
            }
        }
    }
    return table;
}

gdi::HBITMAP Convert(const gdi::Bitmap& src, int bits, const RGBQUAD* palette, int colors) {
    const int w = src.Width(), h = src.Height();
    const int srcBits = src.BitsPerPixel();
    if (bits == 8) {
        std::vector<RGBQUAD> table(256);
        int usable = 256;
        // Per source index, the target index, or -1 when it needs a search.
        std::array<int, 256> keep;
        keep.fill(-1);
        if (palette && colors > 0) {
            std::copy(palette, palette + 256, table.begin());
            usable = std::min(colors, 256);
            if (srcBits == 8)
                for (int i = 0; i < 256; ++i)
                    if (SameColour(src.ColorTable()[i], table[i]))
                        keep[i] = i;
        } else if (src.IsIndexed()) {
            std::copy(src.ColorTable(), src.ColorTable() + src.ColorCount(), table.begin());
            for (int i = 0; i < src.ColorCount(); ++i)
                keep[i] = i;
        } else {
            const std::vector<RGBQUAD> own = BuildPalette(src);
            std::copy(own.begin(), own.end(), table.begin());
            usable = std::max(1, int(own.size()));
        }
        for (auto& q : table)
            q.rgbReserved = 0;
        gdi::HBITMAP out = gdi::Bitmap::Create(w, h, 8, table.data(), 256);
        if (!out)
            return nullptr;
        if (src.IsIndexed()) {
            std::array<int, 256> map;
            for (int i = 0; i < 256; ++i) {
                if (keep[i] >= 0) {
                    map[i] = keep[i];
                } else {
                    const RGBQUAD q = i < src.ColorCount() ? src.ColorTable()[i] : RGBQUAD{};
                    map[i] = Nearest(table.data(), usable, q.rgbRed, q.rgbGreen, q.rgbBlue);
                }
            }
            for (int y = 0; y < h; ++y) {
                const BYTE* s = src.Row(y);
                BYTE* d = out->Row(y);
                for (int x = 0; x < w; ++x)
                    d[x] = BYTE(map[IndexAt(s, x, srcBits)]);
            }
        } else {
            std::unordered_map<std::uint32_t, int> cache;
            for (int y = 0; y < h; ++y) {
                const BYTE* s = src.Row(y);
                BYTE* d = out->Row(y);
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t rgb = PixelRgb(src, s, x);
                    auto it = cache.find(rgb);
                    if (it == cache.end())
                        it = cache
                                 .emplace(rgb, Nearest(table.data(), usable, int(rgb >> 16),
                                                       int((rgb >> 8) & 0xFF), int(rgb & 0xFF)))
                                 .first;
                    d[x] = BYTE(it->second);
                }
            }
        }
        return out;
    }
    if (bits == 1 || bits == 4) {
        const int n = 1 << bits;
        gdi::HBITMAP out = gdi::Bitmap::Create(w, h, bits, palette, palette ? n : 0);
        if (!out)
            return nullptr;
        const RGBQUAD* table = out->ColorTable();
        const bool sameTable =
            srcBits == bits &&
            std::equal(table, table + n, src.ColorTable(),
                       [](const RGBQUAD& a, const RGBQUAD& b) { return SameColour(a, b); });
        std::unordered_map<std::uint32_t, int> cache;
        for (int y = 0; y < h; ++y) {
            const BYTE* s = src.Row(y);
            BYTE* d = out->Row(y);
            if (sameTable) {
                std::memcpy(d, s, std::size_t(out->Stride()));
                continue;
            }
            for (int x = 0; x < w; ++x) {
                const std::uint32_t rgb = PixelRgb(src, s, x);
                auto it = cache.find(rgb);
                if (it == cache.end())
                    it = cache
                             .emplace(rgb, Nearest(table, n, int(rgb >> 16), int((rgb >> 8) & 0xFF),
                                                   int(rgb & 0xFF)))
                             .first;
                SetIndexAt(d, x, bits, it->second);
            }
        }
        return out;
    }
    gdi::HBITMAP out = gdi::Bitmap::Create(w, h, bits);
    if (!out)
        return nullptr;
    for (int y = 0; y < h; ++y) {
        const BYTE* s = src.Row(y);
        BYTE* d = out->Row(y);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t rgb = PixelRgb(src, s, x);
            if (bits == 24 || bits == 32) {
                BYTE* p = d + std::size_t(x) * (bits / 8);
                p[0] = BYTE(rgb);
                p[1] = BYTE(rgb >> 8);
                p[2] = BYTE(rgb >> 16);
            } else {
                out->SetValue(x, y,
                              gdi::ValueOf555(gdi::RGB(int(rgb >> 16), int((rgb >> 8) & 0xFF),
                                                       int(rgb & 0xFF))));
            }
        }
    }
    return out;
}

gdi::HBITMAP ResizeNearest(const gdi::Bitmap& src, int w, int h) {
    gdi::HBITMAP out = src.CreateCompatible(w, h);
    if (!out)
        return nullptr;
    const int bits = src.BitsPerPixel();
    std::vector<int> sx(static_cast<std::size_t>(w));
    for (int k = 0; k < w; ++k)
        sx[k] = int(std::int64_t(k) * src.Width() / w);
    for (int y = 0; y < h; ++y) {
        const BYTE* s = src.Row(int(std::int64_t(y) * src.Height() / h));
        BYTE* d = out->Row(y);
        if (bits >= 8) {
            const int bpp = bits / 8;
            for (int x = 0; x < w; ++x)
                std::memcpy(d + std::size_t(x) * bpp, s + std::size_t(sx[x]) * bpp, bpp);
        } else {
            for (int x = 0; x < w; ++x)
                SetIndexAt(d, x, bits, IndexAt(s, sx[x], bits));
        }
    }
    return out;
}

// Bilinear for 24 and 32 bits: destination pixel centres mapped onto the
// source, weights from the distances to the four nearest source centres.
gdi::HBITMAP ResizeBilinear(const gdi::Bitmap& src, int w, int h) {
    gdi::HBITMAP out = src.CreateCompatible(w, h);
    if (!out)
        return nullptr;
    const int bpp = src.BitsPerPixel() / 8;
    struct Tap {
        int i0, i1;
        float f;
    };
    auto taps = [](int n, int srcN) {
        std::vector<Tap> t(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) {
            float p = (float(k) + 0.5f) * float(srcN) / float(n) - 0.5f;
            p = std::clamp(p, 0.0f, float(srcN - 1));
            const int i0 = int(p);
            t[k] = {i0, std::min(i0 + 1, srcN - 1), p - float(i0)};
        }
        return t;
    };
    const std::vector<Tap> tx = taps(w, src.Width()), ty = taps(h, src.Height());
    for (int y = 0; y < h; ++y) {
        const BYTE* r0 = src.Row(ty[y].i0);
        const BYTE* r1 = src.Row(ty[y].i1);
        const float fy = ty[y].f;
        BYTE* d = out->Row(y);
        for (int x = 0; x < w; ++x) {
            const Tap& t = tx[x];
            for (int c = 0; c < bpp; ++c) {
                const float a = r0[t.i0 * bpp + c] * (1 - t.f) + r0[t.i1 * bpp + c] * t.f;
                const float b = r1[t.i0 * bpp + c] * (1 - t.f) + r1[t.i1 * bpp + c] * t.f;
                d[std::size_t(x) * bpp + c] = BYTE(std::lround(a * (1 - fy) + b * fy));
            }
        }
    }
    return out;
}

bool ToBitmapCoordinates(const RegionTransform* transform, const QRegion& in, QRegion* out) {
    if (!transform) {
        *out = in;
        return true;
    }
    if (transform->xNumerator == 0 || transform->yNumerator == 0)
        return false;
    QRegion moved = in.translated(-transform->xOffset, -transform->yOffset);
    RegionTransform inverse;
    inverse.xNumerator = transform->xDenominator;
    inverse.xDenominator = transform->xNumerator;
    inverse.yNumerator = transform->yDenominator;
    inverse.yDenominator = transform->yNumerator;
    return gdi::TransformRegion(moved, inverse, out);
}

int Combine(BitmapHandle* bitmap, const QRegion& incoming, int combine) {
    const QRegion current = bitmap->hasRegion ? bitmap->region : QRegion();
    QRegion result;
    switch (combine) {
        case kRegionSet:
            result = incoming;
            break;
        case kRegionAnd:
            result = current & incoming;
            break;
        case kRegionOr:
            result = current | incoming;
            break;
        case kRegionXor:
            result = current ^ incoming;
            break;
        case kRegionAndNot:
            result = current - incoming;
            break;
        default:
            return 0;
    }
    result &= QRect(0, 0, bitmap->width, bitmap->height);
    bitmap->region = result;
    bitmap->hasRegion = !result.isEmpty();
    return 1;
}

// ---------------------------------------------------------------- files

// A decoded image, or a rectangle of one, in the layer's format.
struct Decoded {
    gdi::HBITMAP pixels;
    int xResolution = 0;
    int yResolution = 0;
};

int DpiOf(std::int64_t dotsPerMetre) {
    if (dotsPerMetre <= 0)
        return 0;
    return int(std::lround(double(dotsPerMetre) * 0.0254));
}

std::uint32_t Le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t Le16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
std::uint32_t Be32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

// An uncompressed BMP (or one with bit fields) as read from its headers.
struct BmpLayout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bits = 0;
    int compression = 0;
    std::uint32_t masks[3] = {0, 0, 0};
    std::vector<RGBQUAD> table;
    std::int64_t pixelOffset = 0;
    std::int64_t stride = 0;
    int xDpi = 0;
    int yDpi = 0;
};

// Reads the headers of a BMP file. Returns 1 for a BMP this layer reads
// itself, 0 for a BMP left to Qt (run-length encoded, embedded JPEG or PNG),
// -1 for a damaged header, -2 for a file that is not a BMP.
int ReadBmpLayout(platform::File& file, BmpLayout* layout) {
    unsigned char head[14 + 124] = {};
    std::size_t got = 0;
    file.ReadAt(0, head, sizeof head, &got);
    if (got < 2 || head[0] != 'B' || head[1] != 'M')
        return -2;
    if (got < 14 + 12)
        return -1;
    const std::uint32_t infoSize = Le32(head + 14);
    const unsigned char* info = head + 14;
    if (infoSize == 12) {
        layout->width = Le16(info + 4);
        layout->height = Le16(info + 6);
        layout->bits = Le16(info + 10);
    } else if (infoSize >= 40 && infoSize <= 124 && got >= 14 + 40) {
        const std::int32_t w = std::int32_t(Le32(info + 4));
        const std::int32_t h = std::int32_t(Le32(info + 8));
        layout->width = w;
        if (h == std::numeric_limits<std::int32_t>::min())
            return -1;
        layout->topDown = h < 0;
        layout->height = h < 0 ? -h : h;
        layout->bits = Le16(info + 14);
        layout->compression = int(Le32(info + 16));
        layout->xDpi = DpiOf(std::int32_t(Le32(info + 24)));
        layout->yDpi = DpiOf(std::int32_t(Le32(info + 28)));
    } else {
        return -1;
    }
    if (layout->width < 1 || layout->height < 1)
        return -1;
    if (layout->compression == 1 || layout->compression == 2 || layout->compression == 4 ||
        layout->compression == 5)
        return 0;
    if (layout->compression != 0 && layout->compression != 3)
        return -1;
    if (!SupportedDepth(layout->bits))
        return -1;
    if (layout->compression == 3) {
        if (layout->bits != 16 && layout->bits != 32)
            return -1;
        // Masks follow a 40-byte header, or lie inside a larger one.
        const std::int64_t maskAt = 14 + 40;
        unsigned char m[12];
        if (!file.ReadAt(maskAt, m, 12))
            return -1;
        for (int i = 0; i < 3; ++i)
            layout->masks[i] = Le32(m + 4 * i);
    } else if (layout->bits == 16) {
        layout->masks[0] = 0x7C00;
        layout->masks[1] = 0x03E0;
        layout->masks[2] = 0x001F;
    } else if (layout->bits == 32) {
        layout->masks[0] = 0xFF0000;
        layout->masks[1] = 0x00FF00;
        layout->masks[2] = 0x0000FF;
    }
    layout->pixelOffset = Le32(head + 10);
    layout->stride = StrideOf(layout->width, layout->bits);
    if (layout->bits <= 8) {
        const int entryBytes = infoSize == 12 ? 3 : 4;
        std::int64_t count = infoSize >= 40 ? Le32(info + 32) : 0;
        const int full = 1 << layout->bits;
        if (count <= 0 || count > full)
            count = full;
        std::int64_t tableAt = 14 + std::int64_t(infoSize);
        if (layout->compression == 3)
            tableAt += 12;
        // Never read the table from the pixels: a short one is padded black.
        const std::int64_t room = (layout->pixelOffset - tableAt) / entryBytes;
        if (room < count)
            count = std::max<std::int64_t>(0, room);
        std::vector<unsigned char> raw(std::size_t(count) * entryBytes);
        if (count > 0 && !file.ReadAt(tableAt, raw.data(), raw.size()))
            return -1;
        layout->table.resize(std::size_t(count));
        for (std::int64_t i = 0; i < count; ++i) {
            const unsigned char* e = raw.data() + i * entryBytes;
            layout->table[i] = RGBQUAD{e[0], e[1], e[2], 0};
        }
    }
    return 1;
}

int BmpOutputBits(int bits) {
    return bits == 1 ? 1 : bits <= 8 ? 8 : 24;
}

int MaskShift(std::uint32_t mask) {
    int s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

BYTE MaskChannel(std::uint32_t value, std::uint32_t mask) {
    if (!mask)
        return 0;
    const int shift = MaskShift(mask);
    const std::uint32_t top = mask >> shift;
    return BYTE(((value & mask) >> shift) * 255u / top);
}

// Reads rectangle (x, y, w, h) of an uncompressed BMP, file rows by file
// rows, into a new bitmap of the output depth.
gdi::HBITMAP ReadBmpRect(platform::File& file, const BmpLayout& L, int x, int y, int w, int h) {
    const int outBits = BmpOutputBits(L.bits);
    std::vector<RGBQUAD> table = L.table;
    if (outBits == 8)
        table.resize(256);
    if (outBits == 1)
        table.resize(2);
    gdi::HBITMAP out = gdi::Bitmap::Create(w, h, outBits, outBits <= 8 ? table.data() : nullptr,
                                           outBits <= 8 ? int(table.size()) : 0);
    if (!out)
        return nullptr;
    const int x0 = std::max(x, 0), x1 = std::min<std::int64_t>(std::int64_t(x) + w, L.width);
    const int y0 = std::max(y, 0), y1 = std::min<std::int64_t>(std::int64_t(y) + h, L.height);
    if (x0 >= x1 || y0 >= y1)
        return out;
    // Only the bytes of the rectangle's columns are read from each row.
    const std::int64_t firstByte = std::int64_t(x0) * L.bits / 8;
    const std::int64_t lastByte = (std::int64_t(x1) * L.bits + 7) / 8;
    std::vector<unsigned char> row(std::size_t(lastByte - firstByte));
    for (int fy = y0; fy < y1; ++fy) {
        const std::int64_t fileRow = L.topDown ? fy : L.height - 1 - fy;
        if (!file.ReadAt(L.pixelOffset + fileRow * L.stride + firstByte, row.data(), row.size()))
            return nullptr;
        BYTE* d = out->Row(fy - y);
        // 8- and 24-bit rows are already in the layer's format.
        if (L.bits == 8 || L.bits == 24) {
            const std::size_t bytes = std::size_t(L.bits / 8);
            std::memcpy(d + std::size_t(x0 - x) * bytes, row.data(), std::size_t(x1 - x0) * bytes);
            continue;
        }
        for (int fx = x0; fx < x1; ++fx) {
            const int dx = fx - x;
            const std::int64_t bit = std::int64_t(fx) * L.bits - firstByte * 8;
            switch (L.bits) {
                case 1:
                case 4:
                case 8: {
                    const int v =
                        (row[bit / 8] >> (8 - L.bits - int(bit % 8))) & ((1 << L.bits) - 1);
                    SetIndexAt(d, dx, outBits, v);
                    break;
                }
                case 24: {
                    const unsigned char* p = row.data() + bit / 8;
                    std::memcpy(d + std::size_t(dx) * 3, p, 3);
                    break;
                }
                default: {
                    const unsigned char* p = row.data() + bit / 8;
                    const std::uint32_t v = L.bits == 16 ? Le16(p) : Le32(p);
                    BYTE* q = d + std::size_t(dx) * 3;
                    q[0] = MaskChannel(v, L.masks[2]);
                    q[1] = MaskChannel(v, L.masks[1]);
                    q[2] = MaskChannel(v, L.masks[0]);
                }
            }
        }
    }
    return out;
}

// GIF, read by this layer because Qt's reader gives true colour: the logical
// screen with the first image placed on it (the rest of the screen takes the
// background index), its colour table (the image's own, else the global one)
// and its indices.
struct GifImage {
    int width = 0;
    int height = 0;
    std::vector<RGBQUAD> table;
    std::vector<std::uint8_t> indices;
};

bool Affordable(std::uint64_t bytes) {
    if (bytes > gdi::Bitmap::kMaxBytes)
        return false;
    const std::uint64_t memory = platform::TotalPhysicalMemory();
    return memory == 0 || bytes <= memory / 2;
}

// Returns 1 for a GIF read (only its header when headerOnly), 0 for a file
// that is not a GIF, -1 for a damaged one.
int ReadGif(const std::string& path, bool headerOnly, GifImage* out) {
    platform::File f = platform::File::Open(path, O_RDONLY);
    if (!f.IsOpen())
        return 0;
    unsigned char head[13];
    if (!f.ReadAt(0, head, 13) || std::memcmp(head, "GIF8", 4) != 0)
        return 0;
    out->width = Le16(head + 6);
    out->height = Le16(head + 8);
    if (out->width < 1 || out->height < 1)
        return -1;
    if (headerOnly)
        return 1;
    std::string data;
    if (!platform::ReadWholeFile(path, &data))
        return -1;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t n = data.size();
    std::size_t at = 13;
    auto readTable = [&](int packed, std::vector<RGBQUAD>* table) {
        const std::size_t count = std::size_t(2) << (packed & 7);
        if (at + count * 3 > n)
            return false;
        table->clear();
        for (std::size_t i = 0; i < count; ++i, at += 3)
            table->push_back(gdi::MakeQuad(p[at], p[at + 1], p[at + 2]));
        return true;
    };
    std::vector<RGBQUAD> global;
    if ((head[10] & 0x80) && !readTable(head[10], &global))
        return -1;
    if (!Affordable(std::uint64_t(out->width) * std::uint64_t(out->height)))
        return -1;
    out->indices.assign(std::size_t(out->width) * std::size_t(out->height),
                        global.empty() ? 0 : head[11]);
    out->table = global;
    while (at < n) {
        const unsigned char kind = p[at++];
        if (kind == 0x3B)
            break;
        if (kind == 0x21) {  // extension: label, then sub-blocks
            if (at >= n)
                return -1;
            ++at;
            while (at < n && p[at] != 0)
                at += std::size_t(p[at]) + 1;
            ++at;
            continue;
        }
        if (kind != 0x2C || at + 9 > n)
            return -1;
        const int left = Le16(p + at), top = Le16(p + at + 2);
        const int w = Le16(p + at + 4), h = Le16(p + at + 6);
        const int packed = p[at + 8];
        at += 9;
        if (packed & 0x80) {
            if (!readTable(packed, &out->table))
                return -1;
        }
        const bool interlaced = (packed & 0x40) != 0;
        if (at >= n)
            return -1;
        const int minSize = p[at++];
        if (minSize < 2 || minSize > 8)
            return -1;
        std::vector<unsigned char> lzw;
        while (at < n && p[at] != 0) {
            const std::size_t len = p[at];
            if (at + 1 + len > n)
                return -1;
            lzw.insert(lzw.end(), p + at + 1, p + at + 1 + len);
            at += len + 1;
        }
        // LZW decoding, codes packed from the least significant bit.
        const int clear = 1 << minSize, end = clear + 1;
        int codeSize = minSize + 1, next = clear + 2, prev = -1, first = 0;
        std::vector<std::uint16_t> prefix(4096);
        std::vector<std::uint8_t> suffix(4096), stack;
        for (int i = 0; i < clear; ++i)
            suffix[i] = std::uint8_t(i);
        const std::size_t total = std::size_t(w) * std::size_t(h);
        std::size_t produced = 0;
        // Row order: interlaced images come in four passes.
        std::vector<int> rowOf(static_cast<std::size_t>(h));
        {
            int k = 0;
            if (interlaced) {
                const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
                for (int pass = 0; pass < 4; ++pass)
                    for (int y = starts[pass]; y < h; y += steps[pass])
                        rowOf[k++] = y;
            } else {
                for (int y = 0; y < h; ++y)
                    rowOf[k++] = y;
            }
        }
        auto put = [&](std::uint8_t v) {
            if (produced >= total)
                return;
            const int x = int(produced % std::size_t(w)) + left;
            const int y = rowOf[produced / std::size_t(w)] + top;
            ++produced;
            if (x < out->width && y < out->height)
                out->indices[std::size_t(y) * std::size_t(out->width) + std::size_t(x)] = v;
        };
        std::uint64_t bitPos = 0;
        const std::uint64_t bitEnd = std::uint64_t(lzw.size()) * 8;
        while (produced < total && bitPos + std::uint64_t(codeSize) <= bitEnd) {
            int code = 0;
            for (int b = 0; b < codeSize; ++b, ++bitPos)
                code |= ((lzw[bitPos >> 3] >> (bitPos & 7)) & 1) << b;
            if (code == clear) {
                codeSize = minSize + 1;
                next = clear + 2;
                prev = -1;
                continue;
            }
            if (code == end)
                break;
            if (prev < 0) {
                if (code >= clear)
                    return -1;
                put(std::uint8_t(code));
                prev = first = code;
                continue;
            }
            if (code > next)
                return -1;
            const int incoming = code;
            stack.clear();
            if (code == next) {
                stack.push_back(std::uint8_t(first));
                code = prev;
            }
            while (code >= clear) {
                stack.push_back(suffix[code]);
                code = prefix[code];
            }
            first = code;
            stack.push_back(std::uint8_t(first));
            for (auto it = stack.rbegin(); it != stack.rend(); ++it)
                put(*it);
            if (next < 4096) {
                prefix[next] = std::uint16_t(prev);
                suffix[next] = std::uint8_t(first);
                ++next;
                if (next == (1 << codeSize) && codeSize < 12)
                    ++codeSize;
            }
            prev = incoming;
        }
        if (produced < total)
            return -1;
        return 1;
    }
    return -1;
}

gdi::HBITMAP GifRect(const GifImage& gif, int x, int y, int w, int h) {
    std::vector<RGBQUAD> table = gif.table;
    table.resize(256);
    gdi::HBITMAP out = gdi::Bitmap::Create(w, h, 8, gif.table.empty() ? nullptr : table.data(),
                                           gif.table.empty() ? 0 : 256);
    if (!out)
        return nullptr;
    const int x0 = std::max(x, 0), x1 = int(std::min<std::int64_t>(std::int64_t(x) + w, gif.width));
    const int y0 = std::max(y, 0),
              y1 = int(std::min<std::int64_t>(std::int64_t(y) + h, gif.height));
    for (int sy = y0; sy < y1; ++sy)
        std::memcpy(out->Row(sy - y) + (x0 - x),
                    gif.indices.data() + std::size_t(sy) * std::size_t(gif.width) + x0,
                    std::size_t(x1 - x0));
    return out;
}

// TIFF without compression, read by this layer strip by strip or tile by
// tile, so that a rectangle reads only the rows (and tiles) it covers.
struct TiffLayout {
    bool little = true;
    int width = 0;
    int height = 0;
    int bits = 0;
    int samples = 1;
    int photometric = -1;
    bool tiled = false;
    std::int64_t rowsPerStrip = 0;
    int tileWidth = 0;
    int tileLength = 0;
    std::vector<std::uint64_t> offsets;
    std::vector<std::uint64_t> counts;
    std::vector<RGBQUAD> table;
    int outBits = 0;
    int xDpi = 0;
    int yDpi = 0;
};

// Returns 1 for a TIFF this layer reads itself, 0 for a TIFF left to Qt
// (compressed, planar, unusual samples), -1 for a damaged one, -2 for a file
// that is not a TIFF.
int ReadTiffLayout(platform::File& file, TiffLayout* t) {
    unsigned char head[8];
    if (!file.ReadAt(0, head, 8))
        return -2;
    if (std::memcmp(head, "II*\0", 4) == 0)
        t->little = true;
    else if (std::memcmp(head, "MM\0*", 4) == 0)
        t->little = false;
    else
        return -2;
    const std::int64_t fileSize = file.Size();
    auto u16 = [&](const unsigned char* p) {
        return t->little ? std::uint32_t(Le16(p)) : std::uint32_t(p[0] << 8 | p[1]);
    };
    auto u32 = [&](const unsigned char* p) { return t->little ? Le32(p) : Be32(p); };
    const std::uint32_t ifd = u32(head + 4);
    unsigned char countBytes[2];
    if (!file.ReadAt(ifd, countBytes, 2))
        return -1;
    const std::uint32_t entries = u16(countBytes);
    std::vector<unsigned char> dir(std::size_t(entries) * 12);
    if (!file.ReadAt(std::int64_t(ifd) + 2, dir.data(), dir.size()))
        return -1;
    // The values of one entry (SHORT, LONG or RATIONAL numerators/denominators).
    auto values = [&](const unsigned char* e, std::vector<std::uint64_t>* out) {
        const std::uint32_t type = u16(e + 2), count = u32(e + 4);
        const int size = type == 3 ? 2 : type == 4 ? 4 : type == 5 ? 8 : 0;
        if (size == 0 || std::int64_t(count) * size > fileSize)
            return false;
        std::vector<unsigned char> raw(std::size_t(count) * size);
        if (raw.size() <= 4)
            std::memcpy(raw.data(), e + 8, raw.size());
        else if (!file.ReadAt(u32(e + 8), raw.data(), raw.size()))
            return false;
        out->clear();
        for (std::uint32_t i = 0; i < count; ++i) {
            const unsigned char* v = raw.data() + std::size_t(i) * size;
            if (size == 2)
                out->push_back(u16(v));
            else if (size == 4)
                out->push_back(u32(v));
            else
                out->push_back(u32(v) / std::max<std::uint32_t>(1, u32(v + 4)));
        }
        return true;
    };
    int compression = 1, planar = 1, predictor = 1, fillOrder = 1, unit = 2;
    std::uint64_t xRes = 0, yRes = 0;
    std::vector<std::uint64_t> colormap, bitsList;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const unsigned char* e = dir.data() + std::size_t(i) * 12;
        std::vector<std::uint64_t> v;
        const std::uint32_t tag = u16(e);
        if (!values(e, &v) || v.empty())
            continue;
        switch (tag) {
            case 256:
                t->width = int(std::min<std::uint64_t>(v[0], 1u << 30));
                break;
            case 257:
                t->height = int(std::min<std::uint64_t>(v[0], 1u << 30));
                break;
            case 258:
                bitsList = v;
                break;
            case 259:
                compression = int(v[0]);
                break;
            case 262:
                t->photometric = int(v[0]);
                break;
            case 266:
                fillOrder = int(v[0]);
                break;
            case 273:
            case 324:
                t->offsets = v;
                t->tiled = tag == 324;
                break;
            case 277:
                t->samples = int(v[0]);
                break;
            case 278:
                t->rowsPerStrip = std::int64_t(v[0]);
                break;
            case 279:
            case 325:
                t->counts = v;
                break;
            case 282:
                xRes = v[0];
                break;
            case 283:
                yRes = v[0];
                break;
            case 284:
                planar = int(v[0]);
                break;
            case 296:
                unit = int(v[0]);
                break;
            case 317:
                predictor = int(v[0]);
                break;
            case 320:
                colormap = v;
                break;
            case 322:
                t->tileWidth = int(std::min<std::uint64_t>(v[0], 1u << 30));
                break;
            case 323:
                t->tileLength = int(std::min<std::uint64_t>(v[0], 1u << 30));
                break;
            default:
                break;
        }
    }
    if (t->width < 1 || t->height < 1)
        return -1;
    t->bits = bitsList.empty() ? 1 : int(bitsList[0]);
    for (std::uint64_t b : bitsList)
        if (int(b) != t->bits)
            return 0;
    const double perInch = unit == 3 ? 2.54 : unit == 2 ? 1.0 : 0.0;
    t->xDpi = int(std::lround(double(xRes) * perInch));
    t->yDpi = int(std::lround(double(yRes) * perInch));
    if (compression != 1 || (planar != 1 && t->samples > 1) || predictor != 1 || fillOrder != 1)
        return 0;
    const bool indexed = (t->photometric == 0 || t->photometric == 1 || t->photometric == 3) &&
                         t->samples == 1 &&
                         (t->bits == 1 || t->bits == 2 || t->bits == 4 || t->bits == 8);
    const bool rgb = t->photometric == 2 && t->bits == 8 && (t->samples == 3 || t->samples == 4);
    if (!indexed && !rgb)
        return 0;
    if (indexed) {
        const int levels = 1 << t->bits;
        t->outBits = t->bits == 1 ? 1 : 8;
        if (t->photometric == 3) {
            if (colormap.size() != std::size_t(3 * levels))
                return -1;
            for (int i = 0; i < levels; ++i)
                t->table.push_back(gdi::MakeQuad(int(colormap[i] >> 8),
                                                 int(colormap[levels + i] >> 8),
                                                 int(colormap[2 * levels + i] >> 8)));
        } else {
            for (int i = 0; i < levels; ++i) {
                const int v = i * 255 / (levels - 1);
                const int g = t->photometric == 0 ? 255 - v : v;
                t->table.push_back(gdi::MakeQuad(g, g, g));
            }
        }
    } else {
        t->outBits = 24;
    }
    if (t->tiled) {
        if (t->tileWidth < 1 || t->tileLength < 1)
            return -1;
        const std::uint64_t across = (std::uint64_t(t->width) + t->tileWidth - 1) / t->tileWidth;
        const std::uint64_t down = (std::uint64_t(t->height) + t->tileLength - 1) / t->tileLength;
        if (t->offsets.size() < across * down)
            return -1;
    } else {
        if (t->rowsPerStrip < 1 || t->rowsPerStrip > t->height)
            t->rowsPerStrip = t->height;
        const std::uint64_t strips =
            (std::uint64_t(t->height) + t->rowsPerStrip - 1) / std::uint64_t(t->rowsPerStrip);
        if (t->offsets.size() < strips)
            return -1;
    }
    return 1;
}

gdi::HBITMAP ReadTiffRect(platform::File& file, const TiffLayout& t, int x, int y, int w, int h) {
    std::vector<RGBQUAD> table = t.table;
    if (t.outBits <= 8)
        table.resize(t.outBits == 1 ? 2 : 256);
    gdi::HBITMAP out = gdi::Bitmap::Create(w, h, t.outBits, t.outBits <= 8 ? table.data() : nullptr,
                                           t.outBits <= 8 ? int(table.size()) : 0);
    if (!out)
        return nullptr;
    const int x0 = std::max(x, 0), x1 = int(std::min<std::int64_t>(std::int64_t(x) + w, t.width));
    const int y0 = std::max(y, 0), y1 = int(std::min<std::int64_t>(std::int64_t(y) + h, t.height));
    const int pixelBits = t.bits * t.samples;
    const int chunkWidth = t.tiled ? t.tileWidth : t.width;
    const std::int64_t chunkRowBytes = (std::int64_t(chunkWidth) * pixelBits + 7) / 8;
    const std::int64_t across = t.tiled ? (t.width + t.tileWidth - 1) / t.tileWidth : 1;
    std::vector<unsigned char> bytes;
    for (int fy = y0; fy < y1; ++fy) {
        BYTE* d = out->Row(fy - y);
        // The row's segments: one per strip row, one per tile column.
        for (int sx = x0; sx < x1;) {
            const int column = t.tiled ? sx / t.tileWidth : 0;
            const int chunkX = column * chunkWidth;
            const int end = std::min(x1, chunkX + chunkWidth);
            std::size_t chunk;
            std::int64_t rowInChunk;
            if (t.tiled) {
                chunk = std::size_t((fy / t.tileLength) * across + column);
                rowInChunk = fy % t.tileLength;
            } else {
                chunk = std::size_t(fy / t.rowsPerStrip);
                rowInChunk = fy % t.rowsPerStrip;
            }
            const std::int64_t firstByte = std::int64_t(sx - chunkX) * pixelBits / 8;
            const std::int64_t lastByte = (std::int64_t(end - chunkX) * pixelBits + 7) / 8;
            const std::int64_t within = rowInChunk * chunkRowBytes + firstByte;
            if (chunk < t.counts.size() &&
                std::uint64_t(rowInChunk * chunkRowBytes + lastByte) > t.counts[chunk])
                return nullptr;  // the chunk is shorter than its rows
            bytes.resize(std::size_t(lastByte - firstByte));
            if (!file.ReadAt(std::int64_t(t.offsets[chunk]) + within, bytes.data(), bytes.size()))
                return nullptr;
            for (int px = sx; px < end; ++px) {
                const std::int64_t bit = std::int64_t(px - chunkX) * pixelBits - firstByte * 8;
                const int dx = px - x;
                if (t.outBits == 24) {
                    const unsigned char* p = bytes.data() + bit / 8;
                    BYTE* q = d + std::size_t(dx) * 3;
                    q[0] = p[2];
                    q[1] = p[1];
                    q[2] = p[0];
                } else {
                    const int v = (bytes[std::size_t(bit / 8)] >> (8 - t.bits - int(bit % 8))) &
                                  ((1 << t.bits) - 1);
                    SetIndexAt(d, dx, t.outBits, v);
                }
            }
            sx = end;
        }
    }
    return out;
}

int FormatOfReader(const QByteArray& name) {
    if (name == "bmp")
        return kFormatBmpRle;
    if (name == "png")
        return kFormatPng;
    if (name == "jpeg" || name == "jpg")
        return kFormatJpeg;
    if (name == "tif" || name == "tiff")
        return kFormatTiff;
    if (name == "gif")
        return kFormatGif;
    if (name == "pbm" || name == "pgm" || name == "ppm")
        return kFormatPnm;
    return kFormatUnknown;
}

int BitsOfImageFormat(QImage::Format f) {
    switch (f) {
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            return 1;
        case QImage::Format_Indexed8:
        case QImage::Format_Grayscale8:
            return 8;
        case QImage::Format_Invalid:
            return 0;
        default:
            return 24;
    }
}

void RaiseAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        const std::uint64_t mib = platform::TotalPhysicalMemory() >> 20;
        QImageReader::setAllocationLimit(
            int(std::clamp<std::uint64_t>(mib, 256, std::numeric_limits<int>::max())));
    });
}

// PNG: the physical pixel size chunk, which Qt does not report apart from
// its default resolution.
void PngResolution(const std::string& path, int* xDpi, int* yDpi) {
    *xDpi = *yDpi = 0;
    platform::File f = platform::File::Open(path, O_RDONLY);
    if (!f.IsOpen())
        return;
    std::int64_t at = 8;
    const std::int64_t size = f.Size();
    while (at + 12 <= size) {
        unsigned char h[8];
        if (!f.ReadAt(at, h, 8))
            return;
        const std::uint32_t length = Be32(h);
        if (std::memcmp(h + 4, "IDAT", 4) == 0 || std::memcmp(h + 4, "IEND", 4) == 0)
            return;
        if (std::memcmp(h + 4, "pHYs", 4) == 0 && length == 9) {
            unsigned char p[9];
            if (!f.ReadAt(at + 8, p, 9))
                return;
            if (p[8] == 1) {
                *xDpi = DpiOf(Be32(p));
                *yDpi = DpiOf(Be32(p + 4));
            }
            return;
        }
        at += 12 + std::int64_t(length);
    }
}

// The resolution Qt gives an image whose file records none.
bool IsDefaultResolution(const QImage& image) {
    static const int defaultX = QImage(1, 1, QImage::Format_RGB32).dotsPerMeterX();
    return image.dotsPerMeterX() == defaultX || image.dotsPerMeterX() <= 0;
}

// Copies rectangle (x, y) of a decoded image into a new bitmap of w x h at
// the layer's depth for it.
gdi::HBITMAP FromImage(const QImage& image, int x, int y, int w, int h) {
    const int bits = BitsOfImageFormat(image.format());
    if (bits == 0)
        return nullptr;
    QImage src = image;
    std::vector<RGBQUAD> table;
    if (bits <= 8) {
        if (src.format() == QImage::Format_MonoLSB)
            src = src.convertToFormat(QImage::Format_Mono);
        if (src.format() == QImage::Format_Grayscale8) {
            for (int i = 0; i < 256; ++i)
                table.push_back(gdi::MakeQuad(i, i, i));
        } else {
            for (QRgb c : src.colorTable())
                table.push_back(gdi::MakeQuad(qRed(c), qGreen(c), qBlue(c)));
        }
        table.resize(bits == 1 ? 2 : 256);
    } else if (src.format() != QImage::Format_RGB888) {
        src = src.convertToFormat(QImage::Format_RGB32);  // alpha dropped
    }
    gdi::HBITMAP out = gdi::Bitmap::Create(w, h, bits, bits <= 8 ? table.data() : nullptr,
                                           bits <= 8 ? int(table.size()) : 0);
    if (!out || src.isNull())
        return nullptr;
    const int x0 = std::max(x, 0),
              x1 = int(std::min<std::int64_t>(std::int64_t(x) + w, src.width()));
    const int y0 = std::max(y, 0),
              y1 = int(std::min<std::int64_t>(std::int64_t(y) + h, src.height()));
    for (int sy = y0; sy < y1; ++sy) {
        const uchar* s = src.constScanLine(sy);
        BYTE* d = out->Row(sy - y);
        if (bits == 8) {
            std::memcpy(d + (x0 - x), s + x0, std::size_t(x1 - x0));
            continue;
        }
        for (int sx = x0; sx < x1; ++sx) {
            const int dx = sx - x;
            if (bits == 1) {
                SetIndexAt(d, dx, 1, (s[sx >> 3] >> (7 - (sx & 7))) & 1);
            } else if (bits == 8) {
                d[dx] = s[sx];
            } else if (src.format() == QImage::Format_RGB888) {
                BYTE* q = d + std::size_t(dx) * 3;
                q[0] = s[sx * 3 + 2];
                q[1] = s[sx * 3 + 1];
                q[2] = s[sx * 3];
            } else {
                const QRgb c = reinterpret_cast<const QRgb*>(s)[sx];
                BYTE* q = d + std::size_t(dx) * 3;
                q[0] = BYTE(qBlue(c));
                q[1] = BYTE(qGreen(c));
                q[2] = BYTE(qRed(c));
            }
        }
    }
    return out;
}

// Bytes a whole load needs: the pixels, and for Qt's readers their own image.
std::uint64_t LoadCost(const FileInfo& info) {
    const std::uint64_t pixels = std::uint64_t(info.width) * std::uint64_t(info.height);
    std::uint64_t cost = std::uint64_t(StrideOf(info.width, info.bitsPerPixel)) * info.height;
    if (info.format == kFormatGif)
        cost += pixels + std::uint64_t(64) * 1024;
    else if (info.format != kFormatByRectangles)
        cost += pixels * 8;  // up to 64-bit decoding
    return cost;
}

bool Affordable(const FileInfo& info) {
    const std::uint64_t need = std::uint64_t(StrideOf(info.width, info.bitsPerPixel)) * info.height;
    return need <= gdi::Bitmap::kMaxBytes && Affordable(LoadCost(info));
}

// Decodes rectangle (x, y, w, h) of a file (the whole file when w is 0).
bool Decode(const std::string& path, int x, int y, int w, int h, Decoded* out) {
    FileInfo info;
    if (GetFileInfo(path, &info) < 0)
        return false;
    const bool whole = w == 0;
    if (whole) {
        x = y = 0;
        w = info.width;
        h = info.height;
    }
    if (info.format == kFormatByRectangles) {
        platform::File f = platform::File::Open(path, O_RDONLY);
        if (!f.IsOpen())
            return false;
        BmpLayout layout;
        TiffLayout tiff;
        if (ReadBmpLayout(f, &layout) == 1) {
            out->pixels = ReadBmpRect(f, layout, x, y, w, h);
            out->xResolution = layout.xDpi;
            out->yResolution = layout.yDpi;
        } else if (ReadTiffLayout(f, &tiff) == 1) {
            out->pixels = ReadTiffRect(f, tiff, x, y, w, h);
            out->xResolution = tiff.xDpi;
            out->yResolution = tiff.yDpi;
        }
        return out->pixels != nullptr;
    }
    if (info.format == kFormatGif) {
        GifImage gif;
        if (ReadGif(path, false, &gif) != 1)
            return false;
        out->pixels = GifRect(gif, x, y, w, h);
        return out->pixels != nullptr;
    }
    RaiseAllocationLimit();
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(false);
    const QRect wanted = QRect(x, y, w, h) & QRect(0, 0, info.width, info.height);
    if (!whole && reader.supportsOption(QImageIOHandler::ClipRect)) {
        reader.setClipRect(wanted);
        QImage image = reader.read();
        if (image.isNull())
            return false;
        out->pixels = FromImage(image, x - wanted.x(), y - wanted.y(), w, h);
        if (!IsDefaultResolution(image)) {
            out->xResolution = DpiOf(image.dotsPerMeterX());
            out->yResolution = DpiOf(image.dotsPerMeterY());
        }
    } else {
        // A whole indexed image is decoded straight into the layer's pixels
        // when the reader keeps the buffer it is given.
        gdi::HBITMAP direct;
        QImage image;
        if (whole && reader.imageFormat() == QImage::Format_Indexed8)
            direct = gdi::Bitmap::Create(info.width, info.height, 8);
        if (direct) {
            // Its pages are all written at once: large ones fault in far fewer steps.
            const auto start = reinterpret_cast<std::uintptr_t>(direct->Bits());
            const std::uintptr_t page = 4096, first = (start + page - 1) & ~(page - 1);
            const std::uintptr_t end = (start + direct->SizeBytes()) & ~(page - 1);
            if (end > first)
                ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
            image = QImage(direct->Bits(), info.width, info.height, direct->Stride(),
                           QImage::Format_Indexed8);
            if (!reader.read(&image))
                return false;
        } else {
            image = reader.read();
        }
        if (image.isNull() || image.width() != info.width || image.height() != info.height)
            return false;
        if (direct && image.constBits() == direct->Bits() &&
            image.format() == QImage::Format_Indexed8) {
            std::vector<RGBQUAD> table;
            for (QRgb c : image.colorTable())
                table.push_back(gdi::MakeQuad(qRed(c), qGreen(c), qBlue(c)));
            table.resize(256);
            direct->SetColorTable(0, 256, table.data());
            out->pixels = std::move(direct);
        } else {
            out->pixels = FromImage(image, x, y, w, h);
        }
        if (!IsDefaultResolution(image)) {
            out->xResolution = DpiOf(image.dotsPerMeterX());
            out->yResolution = DpiOf(image.dotsPerMeterY());
        }
    }
    if (info.format == kFormatPng) {
        out->xResolution = info.xResolution;
        out->yResolution = info.yResolution;
    }
    return out->pixels != nullptr;
}

}  // namespace

// ---------------------------------------------------------------- records

int AllocateBitmap(BitmapHandle* bitmap, int /*memoryOption*/, int width, int height, int bits) {
    if (!bitmap)
        return 0;
    FreeBitmap(bitmap);
    if (!SupportedDepth(bits) || !SupportedSize(width, height))
        return 0;
    gdi::HBITMAP pixels = gdi::Bitmap::Create(width, height, bits);
    if (!pixels)
        return 0;
    Adopt(bitmap, std::move(pixels));
    return 1;
}

void FreeBitmap(BitmapHandle* bitmap) {
    if (bitmap)
        *bitmap = BitmapHandle{};
}

int InitBitmap(BitmapHandle* bitmap, int width, int height, int bits) {
    if (!bitmap)
        return 0;
    *bitmap = BitmapHandle{};
    if (!SupportedDepth(bits) || !SupportedSize(width, height))
        return 0;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bitsPerPixel = bits;
    bitmap->bytesPerLine = StrideOf(width, bits);
    bitmap->colorCount = bits <= 8 ? 1 << bits : 0;
    bitmap->viewPerspective = kTopLeft;
    return 1;
}

int GetBitmapPalette(const BitmapHandle* bitmap, int first, int count, RGBQUAD* out) {
    if (!bitmap || !bitmap->IsAllocated() || !bitmap->pixels->IsIndexed() || first < 0 ||
        count < 0 || (count > 0 && !out))
        return 0;
    bitmap->pixels->GetColorTable(first, count, out);
    return 1;
}

int SetBitmapPalette(BitmapHandle* bitmap, int first, int count, const RGBQUAD* in) {
    if (!bitmap || !bitmap->IsAllocated() || !bitmap->pixels->IsIndexed() || first < 0 ||
        count < 0 || (count > 0 && !in))
        return 0;
    bitmap->pixels->SetColorTable(first, count, in);
    return 1;
}

int ChangeBitsPerPixel(BitmapHandle* dst, const BitmapHandle* src, int bits, int /*order*/,
                       const RGBQUAD* palette, int colors) {
    if (!dst || !src || !src->IsAllocated() || !SupportedDepth(bits))
        return 0;
    const gdi::Bitmap& from = *src->pixels;
    // An 8-bit re-map in place onto a palette that has every index's own
    // colour at that index keeps every pixel: only the table changes.
    if (dst == src && bits == 8 && from.BitsPerPixel() == 8 && palette && colors > 0 &&
        from.ColorCount() == 256 &&
        std::equal(palette, palette + 256, from.ColorTable(), SameColour)) {
        std::array<RGBQUAD, 256> table;
        std::copy(palette, palette + 256, table.begin());
        for (auto& q : table)
            q.rgbReserved = 0;
        dst->pixels->SetColorTable(0, 256, table.data());
        dst->viewPerspective = kTopLeft;
        return 1;
    }
    gdi::HBITMAP converted;
    if (bits == from.BitsPerPixel() && (!palette || colors <= 0 || bits > 8)) {
        if (dst == src)
            return 1;
        converted = from.CreateCompatible(from.Width(), from.Height());
        if (!converted)
            return 0;
        std::memcpy(converted->Bits(), from.Bits(), from.SizeBytes());
    } else {
        converted = Convert(from, bits, palette, colors);
        if (!converted)
            return 0;
    }
    if (dst != src) {
        *dst = BitmapHandle{};
        dst->hasRegion = src->hasRegion;
        dst->region = src->region;
        dst->xResolution = src->xResolution;
        dst->yResolution = src->yResolution;
    }
    Adopt(dst, std::move(converted));
    return 1;
}

int ResizeBitmap(BitmapHandle* bitmap, int width, int height, int flags) {
    if (!bitmap || !bitmap->IsAllocated() || !SupportedSize(width, height))
        return 0;
    const gdi::Bitmap& src = *bitmap->pixels;
    const bool smooth =
        (flags & kResizeSmooth) && (src.BitsPerPixel() == 24 || src.BitsPerPixel() == 32);
    gdi::HBITMAP out =
        smooth ? ResizeBilinear(src, width, height) : ResizeNearest(src, width, height);
    if (!out)
        return 0;
    Adopt(bitmap, std::move(out));
    return 1;
}

HDC CreateBitmapDC(BitmapHandle* bitmap) {
    if (!bitmap || !bitmap->IsAllocated())
        return nullptr;
    return gdi::CreateDCForBitmap(bitmap->pixels).release();
}

void DeleteBitmapDC(HDC dc) {
    delete dc;
}

int LockBitmap(BitmapHandle* bitmap) {
    if (!bitmap || !bitmap->IsAllocated())
        return 0;
    ++bitmap->lockCount;
    return 1;
}

int UnlockBitmap(BitmapHandle* bitmap) {
    if (!bitmap || bitmap->lockCount <= 0)
        return 0;
    --bitmap->lockCount;
    return 1;
}

long GetBitmapRow(const BitmapHandle* bitmap, void* buffer, int row, long bytes) {
    if (!bitmap || !bitmap->IsAllocated() || bitmap->lockCount <= 0 || !buffer || row < 0 ||
        row >= bitmap->height || bytes < 0)
        return -1;
    const long n = std::min<long>(bytes, bitmap->bytesPerLine);
    std::memcpy(buffer, bitmap->pixels->Row(row), std::size_t(n));
    return n;
}

long PutBitmapRow(BitmapHandle* bitmap, const void* buffer, int row, long bytes) {
    if (!bitmap || !bitmap->IsAllocated() || bitmap->lockCount <= 0 || !buffer || row < 0 ||
        row >= bitmap->height || bytes < 0)
        return -1;
    const long n = std::min<long>(bytes, bitmap->bytesPerLine);
    std::memcpy(bitmap->pixels->Row(row), buffer, std::size_t(n));
    return n;
}

int FillBitmap(BitmapHandle* bitmap, COLORREF color) {
    if (!bitmap || !bitmap->IsAllocated())
        return 0;
    gdi::Bitmap& bm = *bitmap->pixels;
    DWORD value;
    if ((color >> 24) == 1 && bm.IsIndexed()) {
        value = std::min<DWORD>(color & 0xFF, DWORD(bm.ColorCount() - 1));
    } else {
        value = bm.ValueOfColor(color & 0x00FFFFFF);
    }
    const QRegion area =
        bitmap->hasRegion ? bitmap->region : QRegion(0, 0, bitmap->width, bitmap->height);
    const int bits = bm.BitsPerPixel();
    for (const QRect& r : area) {
        const int top = r.top();
        if (bits == 8) {
            for (int y = top; y <= r.bottom(); ++y)
                std::memset(bm.Row(y) + r.left(), int(value), std::size_t(r.width()));
        } else if (bits == 24) {
            // The first row pixel by pixel, the others copied from it.
            BYTE* first = bm.Row(top) + std::size_t(r.left()) * 3;
            for (int x = 0; x < r.width(); ++x) {
                first[x * 3] = BYTE(value);
                first[x * 3 + 1] = BYTE(value >> 8);
                first[x * 3 + 2] = BYTE(value >> 16);
            }
            for (int y = top + 1; y <= r.bottom(); ++y)
                std::memcpy(bm.Row(y) + std::size_t(r.left()) * 3, first,
                            std::size_t(r.width()) * 3);
        } else if (bits == 1) {
            // Whole bytes at once, the partial bytes at either end bit by bit.
            const int left = r.left();
            const int right = r.right() + 1;  // exclusive
            const int firstByte = (left + 7) / 8;
            const int endByte = right / 8;
            for (int y = top; y <= r.bottom(); ++y) {
                if (firstByte >= endByte) {
                    for (int x = left; x < right; ++x)
                        bm.SetValue(x, y, value);
                    continue;
                }
                for (int x = left; x < firstByte * 8; ++x)
                    bm.SetValue(x, y, value);
                std::memset(bm.Row(y) + firstByte, value ? 0xFF : 0x00,
                            std::size_t(endByte - firstByte));
                for (int x = endByte * 8; x < right; ++x)
                    bm.SetValue(x, y, value);
            }
        } else {
            for (int y = top; y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    bm.SetValue(x, y, value);
        }
    }
    return 1;
}

int FlipBitmap(BitmapHandle* bitmap) {
    if (!bitmap || !bitmap->IsAllocated())
        return 0;
    gdi::Bitmap& bm = *bitmap->pixels;
    std::vector<BYTE> tmp(static_cast<std::size_t>(bm.Stride()));
    for (int top = 0, bottom = bm.Height() - 1; top < bottom; ++top, --bottom) {
        std::memcpy(tmp.data(), bm.Row(top), tmp.size());
        std::memcpy(bm.Row(top), bm.Row(bottom), tmp.size());
        std::memcpy(bm.Row(bottom), tmp.data(), tmp.size());
    }
    return 1;
}

int ChangeViewPerspective(BitmapHandle* /*dst*/, BitmapHandle* src, int perspective) {
    if (!src || !src->IsAllocated() || (perspective != kTopLeft && perspective != kBottomLeft))
        return 0;
    if (src->viewPerspective != perspective) {
        FlipBitmap(src);
        src->viewPerspective = perspective;
    }
    return 1;
}

bool BitmapHasRegion(const BitmapHandle* bitmap) {
    return bitmap && bitmap->hasRegion;
}

void FreeBitmapRegion(BitmapHandle* bitmap) {
    if (!bitmap)
        return;
    bitmap->hasRegion = false;
    bitmap->region = QRegion();
}

int GetBitmapRegion(const BitmapHandle* bitmap, const RegionTransform* transform, QRegion* out) {
    if (!bitmap || !bitmap->hasRegion || !out)
        return 0;
    if (!transform) {
        *out = bitmap->region;
        return 1;
    }
    return gdi::TransformRegion(bitmap->region, *transform, out) ? 1 : 0;
}

int SetBitmapRegion(BitmapHandle* bitmap, const RegionTransform* transform, const QRegion& region,
                    int combine) {
    if (!bitmap || !bitmap->IsAllocated())
        return 0;
    QRegion mapped;
    if (!ToBitmapCoordinates(transform, region, &mapped))
        return 0;
    return Combine(bitmap, mapped, combine);
}

int SetBitmapRectRegion(BitmapHandle* bitmap, const RegionTransform* transform, const RECT& rect,
                        int combine) {
    return SetBitmapRegion(bitmap, transform, gdi::CreateRectRgnIndirect(rect), combine);
}

HPALETTE SelectBitmapPalette(HDC dc, const BitmapHandle* bitmap) {
    if (!dc || !bitmap || !bitmap->IsAllocated() || !bitmap->pixels->IsIndexed())
        return nullptr;
    HPALETTE palette = gdi::CreatePaletteFromBitmap(*bitmap->pixels);
    if (!palette)
        return nullptr;
    gdi::SelectPalette(dc, palette);
    return palette;
}

int DrawRegionOutline(HDC dc, const BitmapHandle* bitmap, const RegionTransform* transform,
                      int frame) {
    if (!dc || !dc->Target() || !bitmap || !bitmap->hasRegion)
        return 0;
    QRegion shown;
    if (GetBitmapRegion(bitmap, transform, &shown) != 1)
        return 0;
    gdi::Bitmap& target = *dc->Target();
    const int phase = ((frame % 8) + 8) % 8;
    // The pixels that leave the region when moved one step in any direction.
    const QRegion inner = shown & shown.translated(1, 0) & shown.translated(-1, 0) &
                          shown.translated(0, 1) & shown.translated(0, -1);
    const QRegion border = (shown - inner) & QRect(0, 0, target.Width(), target.Height());
    const DWORD white = target.ValueOfColor(gdi::RGB(255, 255, 255));
    const DWORD black = target.ValueOfColor(gdi::RGB(0, 0, 0));
    for (const QRect& r : border)
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                target.SetValue(x, y, (x + y + phase) % 8 >= 4 ? white : black);
    return 1;
}

// ---------------------------------------------------------------- files

namespace {

bool QtFileInfo(const std::string& path, FileInfo* info) {
    RaiseAllocationLimit();
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return false;
    info->format = FormatOfReader(reader.format());
    const QSize size = reader.size();
    info->width = size.width();
    info->height = size.height();
    info->bitsPerPixel = BitsOfImageFormat(reader.imageFormat());
    if (info->format == kFormatUnknown || info->bitsPerPixel == 0)
        return false;
    if (info->format == kFormatPng)
        PngResolution(path, &info->xResolution, &info->yResolution);
    return true;
}

}  // namespace

int GetFileInfo(const std::string& path, FileInfo* info) {
    if (!info)
        return -1;
    *info = FileInfo{};
    platform::File f = platform::File::Open(path, O_RDONLY);
    if (!f.IsOpen())
        return -1;
    BmpLayout layout;
    const int bmp = ReadBmpLayout(f, &layout);
    if (bmp == -1)
        return -1;
    int tiffKind = -2;
    if (bmp == 1) {
        info->format = kFormatByRectangles;
        info->width = layout.width;
        info->height = layout.height;
        info->bitsPerPixel = BmpOutputBits(layout.bits);
        info->xResolution = layout.xDpi;
        info->yResolution = layout.yDpi;
    } else if (TiffLayout tiff; bmp == -2 && (tiffKind = ReadTiffLayout(f, &tiff)) != -2) {
        if (tiffKind == -1)
            return -1;
        if (tiffKind == 1) {
            info->format = kFormatByRectangles;
            info->width = tiff.width;
            info->height = tiff.height;
            info->bitsPerPixel = tiff.outBits;
            info->xResolution = tiff.xDpi;
            info->yResolution = tiff.yDpi;
        } else if (!QtFileInfo(path, info)) {
            return -1;
        }
    } else if (GifImage gif; ReadGif(path, true, &gif) != 0) {
        info->format = kFormatGif;
        info->width = gif.width;
        info->height = gif.height;
        info->bitsPerPixel = 8;
    } else if (!QtFileInfo(path, info)) {
        return -1;
    }
    if (!SupportedSize(info->width, info->height))
        return -1;
    return 1;
}

void GetDefaultLoadOptions(LoadOptions* options) {
    if (options)
        *options = LoadOptions{};
}

int LoadBitmapFile(const std::string& path, BitmapHandle* bitmap, int bits, int /*order*/,
                   int /*flags*/, const LoadOptions* /*options*/, const FileInfo* /*info*/) {
    if (!bitmap)
        return 0;
    FileInfo info;
    if (GetFileInfo(path, &info) < 0)
        return 0;
    if (!Affordable(info))
        return 0;
    Decoded decoded;
    if (!Decode(path, 0, 0, 0, 0, &decoded))
        return 0;
    BitmapHandle loaded;
    loaded.hasRegion = bitmap->hasRegion;
    loaded.region = bitmap->region;
    loaded.xResolution = decoded.xResolution > 0 ? decoded.xResolution : bitmap->xResolution;
    loaded.yResolution = decoded.yResolution > 0 ? decoded.yResolution : bitmap->yResolution;
    Adopt(&loaded, std::move(decoded.pixels));
    // A reader that decodes to another depth than its header promised still
    // gives the depth the file's information reported.
    if (loaded.bitsPerPixel != info.bitsPerPixel &&
        ChangeBitsPerPixel(&loaded, &loaded, info.bitsPerPixel, 0, nullptr, 0) != 1)
        return 0;
    if (bits != 0 && bits != loaded.bitsPerPixel &&
        ChangeBitsPerPixel(&loaded, &loaded, bits, 0, nullptr, 0) != 1)
        return 0;
    *bitmap = std::move(loaded);
    return 1;
}

int LoadBitmapFileRect(const std::string& path, BitmapHandle* bitmap, int x, int y, int width,
                       int height) {
    constexpr int kFar = 1 << 22;  // keeps the rectangle's far edges in range
    if (!bitmap || !SupportedSize(width, height) || x < -kFar || y < -kFar || x > kFar || y > kFar)
        return 0;
    FileInfo info;
    if (GetFileInfo(path, &info) < 0)
        return 0;
    if (!QRect(x, y, width, height).intersects(QRect(0, 0, info.width, info.height)))
        return 0;
    Decoded decoded;
    if (!Decode(path, x, y, width, height, &decoded))
        return 0;
    BitmapHandle loaded;
    loaded.xResolution = decoded.xResolution;
    loaded.yResolution = decoded.yResolution;
    Adopt(&loaded, std::move(decoded.pixels));
    // A reader that decodes to another depth than its header promised still
    // gives the depth the file's information reported.
    if (loaded.bitsPerPixel != info.bitsPerPixel &&
        ChangeBitsPerPixel(&loaded, &loaded, info.bitsPerPixel, 0, nullptr, 0) != 1)
        return 0;
    *bitmap = std::move(loaded);
    return 1;
}

}  // namespace quillor::imaging
