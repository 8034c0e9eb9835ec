#pragma once
// Helpers of the drawing-layer tests: raw pixel reads written apart from the
// library's own, random fills and small fixtures.

#include <cstdint>
#include <random>

#include "platform/Gdi.h"

namespace gditest {

using namespace platform::gdi;

// The raw value of pixel (x, y), read straight from the documented layout.
inline DWORD Raw(const Bitmap& bm, int x, int y) {
    const BYTE* row = bm.Bits() + std::size_t(y) * std::size_t(bm.Stride());
    switch (bm.BitsPerPixel()) {
        case 1:
            return (row[x / 8] & (0x80 >> (x % 8))) ? 1 : 0;
        case 4:
            return x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4;
        case 8:
            return row[x];
        case 16:
            return (row[2 * x] | (row[2 * x + 1] << 8)) & 0x7FFF;
        case 24:
            return row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
        default:
            return row[4 * x] | (row[4 * x + 1] << 8) | (row[4 * x + 2] << 16);
    }
}

// Significant bits of a raw value of a depth.
inline DWORD ValueMask(int bpp) {
    switch (bpp) {
        case 16:
            return 0x7FFF;
        case 24:
        case 32:
            return 0xFFFFFF;
        default:
            return (1u << bpp) - 1;
    }
}

inline void FillRandom(Bitmap& bm, unsigned seed) {
    std::mt19937 rng(seed);
    for (int y = 0; y < bm.Height(); ++y)
        for (int x = 0; x < bm.Width(); ++x)
            bm.SetValue(x, y, rng() & ValueMask(bm.BitsPerPixel()));
}

inline HBITMAP Copy(const Bitmap& bm) {
    HBITMAP c = bm.CreateCompatible(bm.Width(), bm.Height());
    std::copy_n(bm.Bits(), bm.SizeBytes(), c->Bits());
    return c;
}

// True when every pixel of the two bitmaps has the same raw value.
inline bool SamePixels(const Bitmap& a, const Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (Raw(a, x, y) != Raw(b, x, y))
                return false;
    return true;
}

}  // namespace gditest
