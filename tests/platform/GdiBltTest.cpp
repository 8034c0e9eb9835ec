// Raster operations: truth tables of every ternary code, depth conversions,
// stretching rules and clipping.

#include <gtest/gtest.h>

#include <vector>

#include "tests/platform/GdiTestSupport.h"

namespace {

using namespace gditest;

// The result of a ternary code on one pixel, bit by bit.
DWORD Reference(BYTE rop, DWORD p, DWORD s, DWORD d, int bits) {
    DWORD r = 0;
    for (int b = 0; b < bits; ++b) {
        const int i = int(((p >> b) & 1) << 2 | ((s >> b) & 1) << 1 | ((d >> b) & 1));
        r |= DWORD((rop >> i) & 1) << b;
    }
    return r;
}

class TruthTable : public ::testing::TestWithParam<int> {};

// Every code against the reference, with a pattern brush, a source and a
// destination of the same depth; the blit starts mid-byte for 1-bit rows.
TEST_P(TruthTable, EveryCodeMatchesReferencePixelForPixel) {
    const int bpp = GetParam();
    // Bits of a raw value that are stored: 5-5-5 words and 32-bit pixels
    // carry one unused bit and one unused byte.
    const int bits = bpp == 16 ? 15 : bpp == 32 ? 24 : bpp;
    HBITMAP dst = Bitmap::Create(21, 6, bpp);
    HBITMAP src = Bitmap::Create(19, 7, bpp);
    HBITMAP pat = Bitmap::Create(8, 8, bpp);
    FillRandom(*dst, 1);
    FillRandom(*src, 2);
    FillRandom(*pat, 3);
    DCPtr ddc = CreateDCForBitmap(dst), sdc = CreateDCForBitmap(src);
    SelectObject(ddc.get(), CreatePatternBrush(pat));
    SetBrushOrgEx(ddc.get(), 3, 5);
    const HBITMAP original = Copy(*dst);
    const int x = 3, y = 1, w = 15, h = 4, sx = 2, sy = 2;
    for (int rop = 0; rop < 256; ++rop) {
        std::copy_n(original->Bits(), original->SizeBytes(), dst->Bits());
        ASSERT_TRUE(BitBlt(ddc.get(), x, y, w, h, sdc.get(), sx, sy, RopFromIndex(BYTE(rop))));
        for (int py = 0; py < dst->Height(); ++py) {
            for (int px = 0; px < dst->Width(); ++px) {
                const DWORD d = Raw(*original, px, py);
                DWORD expected = d;
                if (px >= x && px < x + w && py >= y && py < y + h) {
                    // A 1-bit pattern draws 0 in the text colour (black, 0)
                    // and 1 in the background colour (white, 1): itself.
                    const DWORD p = Raw(*pat, ((px - 3) % 8 + 8) % 8, ((py - 5) % 8 + 8) % 8);
                    const DWORD s = Raw(*src, px - x + sx, py - y + sy);
                    expected = Reference(BYTE(rop), p, s, d, bits);
                }
                ASSERT_EQ(Raw(*dst, px, py), expected)
                    << "rop " << rop << " at " << px << "," << py << " depth " << bpp;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, TruthTable, ::testing::Values(1, 4, 8, 16, 24, 32));

// The stretching path combines its samples through the same truth tables.
TEST(Stretch, EveryCodeAppliesToTheSampledSource) {
    for (const int bpp : {1, 24}) {
        HBITMAP dst = Bitmap::Create(13, 5, bpp);
        HBITMAP src = Bitmap::Create(26, 15, bpp);
        FillRandom(*dst, 11);
        FillRandom(*src, 12);
        DCPtr d = CreateDCForBitmap(dst), s = CreateDCForBitmap(src);
        SetStretchBltMode(d.get(), COLORONCOLOR);
        SelectObject(d.get(), CreateSolidBrush(RGB(0x12, 0x34, 0x56)));
        const DWORD p = dst->ValueOfColor(RGB(0x12, 0x34, 0x56));
        const HBITMAP original = Copy(*dst);
        for (int rop = 0; rop < 256; ++rop) {
            std::copy_n(original->Bits(), original->SizeBytes(), dst->Bits());
            ASSERT_TRUE(
                StretchBlt(d.get(), 1, 1, 11, 3, s.get(), 2, 3, 22, 9, RopFromIndex(BYTE(rop))));
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 13; ++x) {
                    const DWORD dv = Raw(*original, x, y);
                    DWORD expected = dv;
                    if (x >= 1 && x < 12 && y >= 1 && y < 4)
                        expected = Reference(BYTE(rop), p,
                                             Raw(*src, 2 + 2 * (x - 1), 3 + 3 * (y - 1)), dv, bpp);
                    ASSERT_EQ(Raw(*dst, x, y), expected) << "rop " << rop << " depth " << bpp;
                }
        }
    }
}

TEST(Blt, PatBltUsesBrushAndRefusesSourceCodes) {
    HBITMAP bm = Bitmap::Create(10, 4, 8);
    FillRandom(*bm, 4);
    const HBITMAP before = Copy(*bm);
    DCPtr dc = CreateDCForBitmap(bm);
    SelectObject(dc.get(), CreateSolidBrush(PALETTEINDEX(0x5A)));
    EXPECT_FALSE(PatBlt(dc.get(), 0, 0, 10, 4, SRCCOPY));
    EXPECT_TRUE(SamePixels(*bm, *before));
    // Negative extents count back from the origin.
    ASSERT_TRUE(PatBlt(dc.get(), 6, 3, -4, -2, PATINVERT));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool in = x >= 2 && x < 6 && y >= 1 && y < 3;
            EXPECT_EQ(Raw(*bm, x, y), in ? (Raw(*before, x, y) ^ 0x5A) : Raw(*before, x, y));
        }
    // A hollow brush paints nothing.
    SelectObject(dc.get(), GetStockBrush(NULL_BRUSH));
    const HBITMAP mid = Copy(*bm);
    EXPECT_TRUE(PatBlt(dc.get(), 0, 0, 10, 4, PATCOPY));
    EXPECT_TRUE(SamePixels(*bm, *mid));
    // Codes that ignore the pattern work with a hollow brush.
    EXPECT_TRUE(PatBlt(dc.get(), 0, 0, 10, 4, WHITENESS));
    EXPECT_EQ(Raw(*bm, 9, 3), 0xFFu);
}

TEST(Blt, IndicesSurviveBetweenEightBitBitmapsWithDifferentTables) {
    RGBQUAD a[256], b[256];
    for (int i = 0; i < 256; ++i) {
        a[i] = MakeQuad(i, 0, 0);
        b[i] = MakeQuad(0, 255 - i, i / 2);
    }
    HBITMAP src = Bitmap::Create(16, 16, 8, a, 256);
    HBITMAP dst = Bitmap::Create(16, 16, 8, b, 256);
    FillRandom(*src, 5);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 16, 16, s.get(), 0, 0, SRCCOPY));
    EXPECT_TRUE(SamePixels(*src, *dst));
    SetStretchBltMode(d.get(), COLORONCOLOR);
    ASSERT_TRUE(StretchBlt(d.get(), 0, 0, 16, 16, s.get(), 0, 0, 8, 8, SRCCOPY));
    EXPECT_EQ(Raw(*dst, 15, 15), Raw(*src, 7, 7));
}

struct Conversion {
    const char* name;
    int srcBpp, dstBpp;
};

class DepthConversion : public ::testing::TestWithParam<Conversion> {};

// Every source pixel lands as the documented conversion of its colour.
TEST_P(DepthConversion, FollowsTheRules) {
    const Conversion c = GetParam();
    RGBQUAD table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = MakeQuad((i * 37) & 255, (i * 91) & 255, (i * 13) & 255);
    table[1] = MakeQuad(255, 255, 255);
    HBITMAP src = Bitmap::Create(23, 5, c.srcBpp, table, 256);
    HBITMAP dst = Bitmap::Create(23, 5, c.dstBpp, table, 256);
    FillRandom(*src, 6);
    src->SetValue(0, 0, src->ValueOfColor(RGB(10, 20, 30)));  // the background colour, below
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    SetBkColor(s.get(), src->ColorOfValue(src->ValueOfColor(RGB(10, 20, 30))));
    const COLORREF bk = GetBkColor(s.get());
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 23, 5, s.get(), 0, 0, SRCCOPY));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 23; ++x) {
            const DWORD sv = Raw(*src, x, y);
            const COLORREF colour = src->ColorOfValue(sv);
            DWORD expected;
            if (c.srcBpp == c.dstBpp)
                expected = sv;
            else if (c.dstBpp == 1)
                expected = colour == bk ? 1 : 0;
            else if (c.srcBpp >= 24 && c.dstBpp >= 24)
                expected = sv;
            else
                expected = dst->ValueOfColor(colour);
            ASSERT_EQ(Raw(*dst, x, y), expected) << c.name << " at " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Pairs, DepthConversion,
                         ::testing::Values(Conversion{"8to24", 8, 24}, Conversion{"8to32", 8, 32},
                                           Conversion{"4to24", 4, 24}, Conversion{"1to24", 1, 24},
                                           Conversion{"1to8", 1, 8}, Conversion{"24to8", 24, 8},
                                           Conversion{"32to4", 32, 4}, Conversion{"24to1", 24, 1},
                                           Conversion{"8to1", 8, 1}, Conversion{"16to24", 16, 24},
                                           Conversion{"24to16", 24, 16},
                                           Conversion{"32to24", 32, 24},
                                           Conversion{"8to16", 8, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Blt, ColourToIndexedTakesNearestEntryLowestIndexOnATie) {
    RGBQUAD table[4] = {MakeQuad(0, 0, 0), MakeQuad(100, 0, 0), MakeQuad(0, 0, 100),
                        MakeQuad(100, 0, 0)};
    HBITMAP src = Bitmap::Create(3, 1, 24);
    HBITMAP dst = Bitmap::Create(3, 1, 8, table, 4);
    src->SetValue(0, 0, 0x000000 | 90);    // blue 90: entry 2 (0,0,100)
    src->SetValue(1, 0, (100 << 16));      // red 100: entries 1 and 3 equal, 1 wins
    src->SetValue(2, 0, (50 << 16) | 50);  // red 50, blue 50: 0, 1, 2 tie at 5000
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 3, 1, s.get(), 0, 0, SRCCOPY));
    EXPECT_EQ(Raw(*dst, 0, 0), 2u);
    EXPECT_EQ(Raw(*dst, 1, 0), 1u);
    EXPECT_EQ(Raw(*dst, 2, 0), 0u);
}

TEST(Blt, OneBitSourceGoesThroughItsTable) {
    RGBQUAD table[2] = {MakeQuad(255, 0, 0), MakeQuad(0, 0, 255)};
    HBITMAP src = Bitmap::Create(2, 1, 1, table, 2);
    src->SetValue(1, 0, 1);
    HBITMAP dst = Bitmap::Create(2, 1, 24);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 2, 1, s.get(), 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(d.get(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(d.get(), 1, 0), RGB(0, 0, 255));
}

TEST(Blt, PaletteSelectedIntoColourDestinationColoursIndexedSource) {
    HBITMAP src = Bitmap::Create(4, 1, 8);  // grey ramp table
    for (int x = 0; x < 4; ++x)
        src->SetValue(x, 0, DWORD(x));
    HBITMAP dst = Bitmap::Create(4, 1, 32);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    PALETTEENTRY e[3] = {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}};
    HPALETTE pal = CreatePalette(e, 3);
    EXPECT_EQ(SelectPalette(d.get(), pal), nullptr);
    EXPECT_EQ(RealizePalette(d.get()), 3u);
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 4, 1, s.get(), 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(d.get(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(d.get(), 2, 0), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(d.get(), 3, 0), RGB(3, 3, 3));  // beyond the palette: the table
    // A palette index colour on a colour bitmap names the selected palette's entry.
    EXPECT_EQ(SetPixel(d.get(), 0, 0, PALETTEINDEX(1)), RGB(0, 255, 0));
    // Without a palette the bitmap's own table counts.
    EXPECT_EQ(SelectPalette(d.get(), nullptr), pal);
    ASSERT_TRUE(BitBlt(d.get(), 0, 0, 4, 1, s.get(), 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(d.get(), 2, 0), RGB(2, 2, 2));
}

TEST(Blt, IndexedToTrueColourCopiesEverySpanExactly) {
    // Spans of every start and length up to a few 16-byte groups, so that the
    // whole-group path, its aligned start and its tail all meet.
    std::vector<RGBQUAD> table(256);
    for (int i = 0; i < 256; ++i)
        table[std::size_t(i)] = MakeQuad(BYTE(i), BYTE(255 - i), BYTE(i * 3));
    HBITMAP src = Bitmap::Create(41, 2, 8, table.data(), 256);
    for (int x = 0; x < 41; ++x)
        src->SetValue(x, 1, DWORD((x * 37 + 11) & 0xFF));
    DCPtr s = CreateDCForBitmap(src);
    for (int x0 = 0; x0 < 5; ++x0) {
        for (int n = 1; n <= 36; ++n) {
            HBITMAP dst = Bitmap::Create(41, 1, 32);
            DCPtr d = CreateDCForBitmap(dst);
            ASSERT_TRUE(PatBlt(d.get(), 0, 0, 41, 1, WHITENESS));
            ASSERT_TRUE(BitBlt(d.get(), x0, 0, n, 1, s.get(), 3, 1, SRCCOPY));
            for (int x = 0; x < 41; ++x) {
                const COLORREF want = x >= x0 && x < x0 + n
                                          ? src->ColorOfValue(src->GetValue(x - x0 + 3, 1))
                                          : RGB(255, 255, 255);
                ASSERT_EQ(GetPixel(d.get(), x, 0), want) << x0 << " " << n << " " << x;
            }
        }
    }
}

TEST(Blt, ColourReferencesResolvePerDepth) {
    RGBQUAD table[256] = {};
    table[7] = MakeQuad(200, 10, 10);
    table[9] = MakeQuad(10, 200, 10);
    HBITMAP b8 = Bitmap::Create(4, 1, 8, table, 256);
    HBITMAP b24 = Bitmap::Create(4, 1, 24);
    HBITMAP b1 = Bitmap::Create(4, 1, 1);
    DCPtr d8 = CreateDCForBitmap(b8), d24 = CreateDCForBitmap(b24), d1 = CreateDCForBitmap(b1);
    EXPECT_EQ(SetPixel(d8.get(), 0, 0, PALETTEINDEX(9)), RGB(10, 200, 10));
    EXPECT_EQ(Raw(*b8, 0, 0), 9u);
    EXPECT_EQ(SetPixel(d8.get(), 1, 0, PALETTERGB(190, 20, 0)), RGB(200, 10, 10));
    EXPECT_EQ(Raw(*b8, 1, 0), 7u);
    EXPECT_EQ(SetPixel(d8.get(), 2, 0, RGB(12, 190, 0)), RGB(10, 200, 10));
    EXPECT_EQ(SetPixel(d24.get(), 0, 0, PALETTERGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(SetPixel(d1.get(), 0, 0, RGB(200, 200, 200)), RGB(255, 255, 255));
    EXPECT_EQ(SetPixel(d1.get(), 1, 0, RGB(100, 100, 100)), RGB(0, 0, 0));
    EXPECT_EQ(SetPixel(d1.get(), 2, 0, PALETTEINDEX(0xFF)), RGB(255, 255, 255));
}

// Source columns (and rows) sampled by COLORONCOLOR, for a source of sw
// pixels whose value is its coordinate.
std::vector<int> Sampled(int sw, int dw, bool mirrored) {
    HBITMAP src = Bitmap::Create(sw, sw, 8);
    for (int y = 0; y < sw; ++y)
        for (int x = 0; x < sw; ++x)
            src->SetValue(x, y, DWORD(x));
    HBITMAP dst = Bitmap::Create(dw, 1, 8);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    SetStretchBltMode(d.get(), COLORONCOLOR);
    EXPECT_TRUE(mirrored ? StretchBlt(d.get(), dw, 0, -dw, 1, s.get(), 0, 0, sw, 1, SRCCOPY)
                         : StretchBlt(d.get(), 0, 0, dw, 1, s.get(), 0, 0, sw, 1, SRCCOPY));
    std::vector<int> out;
    for (int x = 0; x < dw; ++x)
        out.push_back(int(Raw(*dst, x, 0)));
    return out;
}

TEST(Stretch, ColorOnColorTakesFloorOfKTimesRatio) {
    struct Case {
        int sw, dw;
    };
    for (const Case c :
         {Case{1, 3}, Case{3, 7}, Case{7, 3}, Case{8, 1}, Case{3, 9}, Case{64, 8}, Case{5, 5}}) {
        const std::vector<int> got = Sampled(c.sw, c.dw, false);
        const std::vector<int> mirrored = Sampled(c.sw, c.dw, true);
        for (int k = 0; k < c.dw; ++k) {
            EXPECT_EQ(got[std::size_t(k)], k * c.sw / c.dw) << c.sw << "->" << c.dw << " k " << k;
            // Mirrored: destination pixel k counts back from the origin.
            EXPECT_EQ(mirrored[std::size_t(c.dw - 1 - k)], k * c.sw / c.dw);
        }
    }
    EXPECT_EQ(Sampled(3, 7, false), (std::vector<int>{0, 0, 0, 1, 1, 2, 2}));
}

TEST(Stretch, RowsFollowTheSameRuleAndMirror) {
    HBITMAP src = Bitmap::Create(2, 7, 8);
    for (int y = 0; y < 7; ++y)
        src->SetValue(0, y, DWORD(y));
    HBITMAP dst = Bitmap::Create(1, 3, 8);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    SetStretchBltMode(d.get(), COLORONCOLOR);
    ASSERT_TRUE(StretchBlt(d.get(), 0, 0, 1, 3, s.get(), 0, 0, 1, 7, SRCCOPY));
    EXPECT_EQ(Raw(*dst, 0, 0), 0u);
    EXPECT_EQ(Raw(*dst, 0, 1), 2u);
    EXPECT_EQ(Raw(*dst, 0, 2), 4u);
    // A negative source extent reads upwards from its origin.
    ASSERT_TRUE(StretchBlt(d.get(), 0, 0, 1, 3, s.get(), 0, 7, 1, -7, SRCCOPY));
    EXPECT_EQ(Raw(*dst, 0, 0), 6u);
    EXPECT_EQ(Raw(*dst, 0, 1), 4u);
    EXPECT_EQ(Raw(*dst, 0, 2), 2u);
}

TEST(Stretch, HalftoneAveragesTheArea) {
    HBITMAP src = Bitmap::Create(4, 2, 24);
    // Columns 0-1 black and white, 2-3 red and red.
    for (int y = 0; y < 2; ++y) {
        src->SetValue(0, y, 0);
        src->SetValue(1, y, 0xFFFFFF);
        src->SetValue(2, y, 0xFF0000);
        src->SetValue(3, y, 0xFF0000);
    }
    HBITMAP dst = Bitmap::Create(2, 1, 32);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    SetStretchBltMode(d.get(), HALFTONE);
    ASSERT_TRUE(StretchBlt(d.get(), 0, 0, 2, 1, s.get(), 0, 0, 4, 2, SRCCOPY));
    EXPECT_EQ(GetPixel(d.get(), 0, 0), RGB(128, 128, 128));
    EXPECT_EQ(GetPixel(d.get(), 1, 0), RGB(255, 0, 0));
    // Enlarging by 3/2 blends at the shared edge only.
    HBITMAP wide = Bitmap::Create(3, 1, 24);
    DCPtr w = CreateDCForBitmap(wide);
    SetStretchBltMode(w.get(), HALFTONE);
    HBITMAP two = Bitmap::Create(2, 1, 24);
    two->SetValue(1, 0, 0xFFFFFF);
    DCPtr t = CreateDCForBitmap(two);
    ASSERT_TRUE(StretchBlt(w.get(), 0, 0, 3, 1, t.get(), 0, 0, 2, 1, SRCCOPY));
    EXPECT_EQ(GetPixel(w.get(), 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(w.get(), 1, 0), RGB(128, 128, 128));
    EXPECT_EQ(GetPixel(w.get(), 2, 0), RGB(255, 255, 255));
}

TEST(Stretch, BlackOnWhiteKeepsBlackAndWhiteOnBlackKeepsWhite) {
    HBITMAP src = Bitmap::Create(8, 1, 1);
    src->SetValue(0, 0, 1);  // 1 0 1 1 1 1 1 1 ... white mostly, one black at 1
    for (int x = 2; x < 8; ++x)
        src->SetValue(x, 0, 1);
    HBITMAP dst = Bitmap::Create(2, 1, 1);
    DCPtr s = CreateDCForBitmap(src), d = CreateDCForBitmap(dst);
    SetStretchBltMode(d.get(), BLACKONWHITE);
    ASSERT_TRUE(StretchBlt(d.get(), 0, 0, 2, 1, s.get(), 0, 0, 8, 1, SRCCOPY));
    EXPECT_EQ(Raw(*dst, 0, 0), 0u);
    EXPECT_EQ(Raw(*dst, 1, 0), 1u);
    SetStretchBltMode(d.get(), WHITEONBLACK);
    HBITMAP blackish = Bitmap::Create(8, 1, 1);
    blackish->SetValue(6, 0, 1);
    DCPtr b = CreateDCForBitmap(blackish);
    ASSERT_TRUE(StretchBlt(d.get(), 0, 0, 2, 1, b.get(), 0, 0, 8, 1, SRCCOPY));
    EXPECT_EQ(Raw(*dst, 0, 0), 0u);
    EXPECT_EQ(Raw(*dst, 1, 0), 1u);
}

// Clipping: the result equals a per-pixel reference in which a destination
// pixel changes only when it is inside the rectangle, the destination, the
// clip region and its source pixel inside the source.
struct ClipCase {
    int x, y, w, h, sx, sy;
};

class Clipping : public ::testing::TestWithParam<ClipCase> {};

TEST_P(Clipping, BitBltAndStretchBltTouchOnlyWhatIsInside) {
    const ClipCase c = GetParam();
    for (const bool stretch : {false, true}) {
        for (const bool clipped : {false, true}) {
            HBITMAP dst = Bitmap::Create(11, 9, 8);
            HBITMAP src = Bitmap::Create(7, 6, 8);
            FillRandom(*dst, 7);
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 7; ++x)
                    src->SetValue(x, y, DWORD(200 - x - 7 * y));
            const HBITMAP before = Copy(*dst);
            DCPtr d = CreateDCForBitmap(dst), s = CreateDCForBitmap(src);
            const QRegion clip = CreateRectRgn(2, 0, 6, 9).united(CreateRectRgn(0, 7, 11, 9));
            if (clipped)
                SelectClipRgn(d.get(), &clip);
            SetStretchBltMode(d.get(), COLORONCOLOR);
            // The stretch form with a 2:1 vertical ratio exercises its own path.
            const int sh = stretch ? c.h * 2 : c.h;
            ASSERT_TRUE(
                stretch
                    ? StretchBlt(d.get(), c.x, c.y, c.w, c.h, s.get(), c.sx, c.sy, c.w, sh, SRCCOPY)
                    : BitBlt(d.get(), c.x, c.y, c.w, c.h, s.get(), c.sx, c.sy, SRCCOPY));
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 11; ++x) {
                    const int srcX = x - c.x + c.sx;
                    const int srcY = c.sy + (y - c.y) * sh / std::max(c.h, 1);
                    const bool in = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h &&
                                    srcX >= 0 && srcX < 7 && srcY >= 0 && srcY < 6 &&
                                    (!clipped || clip.contains(QPoint(x, y)));
                    ASSERT_EQ(Raw(*dst, x, y), in ? Raw(*src, srcX, srcY) : Raw(*before, x, y))
                        << x << "," << y << (stretch ? " stretch" : " blit")
                        << (clipped ? " clipped" : "");
                }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Clipping,
    ::testing::Values(ClipCase{-3, -2, 8, 6, 0, 0},   // destination origin above and left
                      ClipCase{6, 5, 9, 9, 0, 0},     // past the right and bottom edges
                      ClipCase{1, 1, 6, 4, -2, -1},   // source origin outside its bitmap
                      ClipCase{2, 2, 9, 7, 3, 2},     // source runs past its bitmap
                      ClipCase{-5, 3, 20, 3, -1, 4},  // wider than both
                      ClipCase{12, 0, 3, 3, 0, 0},    // entirely outside
                      ClipCase{0, 0, 0, 5, 0, 0}));   // empty

TEST(Blt, OverlappingCopyWithinOneBitmapReadsTheOriginalPixels) {
    for (const int bpp : {1, 8, 24}) {
        HBITMAP bm = Bitmap::Create(20, 12, bpp);
        FillRandom(*bm, 8);
        const HBITMAP before = Copy(*bm);
        DCPtr dc = CreateDCForBitmap(bm);
        ASSERT_TRUE(BitBlt(dc.get(), 3, 2, 15, 9, dc.get(), 1, 1, SRCCOPY));
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x) {
                const bool in = x >= 3 && x < 18 && y >= 2 && y < 11;
                ASSERT_EQ(Raw(*bm, x, y), in ? Raw(*before, x - 2, y - 1) : Raw(*before, x, y));
            }
        // A mirrored stretch onto itself.
        std::copy_n(before->Bits(), before->SizeBytes(), bm->Bits());
        SetStretchBltMode(dc.get(), COLORONCOLOR);
        ASSERT_TRUE(StretchBlt(dc.get(), 20, 0, -20, 12, dc.get(), 0, 0, 20, 12, SRCCOPY));
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 20; ++x)
                ASSERT_EQ(Raw(*bm, x, y), Raw(*before, 19 - x, y));
    }
}

TEST(Blt, NegativeExtentsCoverThePixelsBeforeTheOrigins) {
    HBITMAP src = Bitmap::Create(9, 9, 8);
    FillRandom(*src, 9);
    HBITMAP a = Bitmap::Create(9, 9, 8), b = Bitmap::Create(9, 9, 8);
    DCPtr s = CreateDCForBitmap(src), da = CreateDCForBitmap(a), db = CreateDCForBitmap(b);
    ASSERT_TRUE(BitBlt(da.get(), 5, 4, -3, -2, s.get(), 6, 5, SRCCOPY));
    ASSERT_TRUE(BitBlt(db.get(), 2, 2, 3, 2, s.get(), 3, 3, SRCCOPY));
    EXPECT_TRUE(SamePixels(*a, *b));
    EXPECT_NE(Raw(*a, 2, 2), 0u);
}

TEST(Blt, MissingContextsAndBitmapsFailWithoutHarm) {
    HBITMAP bm = Bitmap::Create(4, 4, 8);
    DCPtr dc = CreateDCForBitmap(bm), empty = CreateCompatibleDC();
    EXPECT_FALSE(BitBlt(nullptr, 0, 0, 4, 4, dc.get(), 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(dc.get(), 0, 0, 4, 4, nullptr, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(dc.get(), 0, 0, 4, 4, empty.get(), 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(empty.get(), 0, 0, 4, 4, dc.get(), 0, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(dc.get(), 0, 0, 4, 4, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(Raw(*bm, 3, 3), 0xFFu);
    EXPECT_FALSE(StretchBlt(dc.get(), 0, 0, 4, 4, nullptr, 0, 0, 2, 2, SRCCOPY));
    EXPECT_FALSE(PatBlt(empty.get(), 0, 0, 1, 1, BLACKNESS));
    // Extreme coordinates cost nothing and draw nothing.
    EXPECT_TRUE(StretchBlt(dc.get(), -2000000000, 0, 2000000000, 4, dc.get(), 0, 0, 4, 4, SRCCOPY));
    EXPECT_TRUE(BitBlt(dc.get(), 2147483000, 2147483000, 2000, 2000, dc.get(), -2147483000,
                       -2147483000, SRCCOPY));
}

}  // namespace
