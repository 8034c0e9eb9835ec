// The bitmap record: allocation, palettes, conversions, contexts, rows,
// fills, regions and outlines.
#include "raster/Imaging.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace quillor::imaging;
namespace gdi = platform::gdi;
using gdi::DWORD;

namespace {

std::vector<RGBQUAD> Table(int n, RGBQUAD fill = {}) {
    return std::vector<RGBQUAD>(std::size_t(n), fill);
}

DWORD At(const BitmapHandle& b, int x, int y) {
    return b.pixels->GetValue(x, y);
}

std::vector<QRect> Rects(const QRegion& r) {
    return std::vector<QRect>(r.begin(), r.end());
}

TEST(ImagingRecord, AllocateFillsTheRecordAndRefusesBadArguments) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, kMemoryConventional, 10, 3, 8), 1);
    EXPECT_TRUE(b.IsAllocated());
    EXPECT_EQ(b.width, 10);
    EXPECT_EQ(b.height, 3);
    EXPECT_EQ(b.bitsPerPixel, 8);
    EXPECT_EQ(b.bytesPerLine, 12);
    EXPECT_EQ(b.colorCount, 256);
    EXPECT_EQ(b.viewPerspective, kTopLeft);
    EXPECT_EQ(At(b, 9, 2), 0u);

    struct Case {
        int w, h, bits;
    };
    const Case bad[] = {{0, 5, 8},
                        {5, 0, 8},
                        {-1, 5, 24},
                        {5, 5, 2},
                        {5, 5, 0},
                        {(1 << 20) + 1, 1, 1},
                        {1, (1 << 20) + 1, 1}};
    for (const Case& c : bad) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bits);
        EXPECT_EQ(AllocateBitmap(&b, kMemoryLoader, c.w, c.h, c.bits), 0);
        EXPECT_FALSE(b.IsAllocated());
        EXPECT_EQ(b.pixels, nullptr);
    }

    ASSERT_EQ(InitBitmap(&b, 7, 2, 24), 1);
    EXPECT_FALSE(b.IsAllocated());
    EXPECT_EQ(b.bytesPerLine, 24);
    ASSERT_EQ(AllocateBitmap(&b, 1, 7, 2, 1), 1);
    EXPECT_EQ(b.bytesPerLine, 4);
    FreeBitmap(&b);
    EXPECT_FALSE(b.IsAllocated());
    EXPECT_EQ(b.width, 0);
    EXPECT_EQ(b.pixels, nullptr);
}

TEST(ImagingRecord, PaletteEntriesInAndOut) {
    BitmapHandle b;
    RGBQUAD q[3] = {gdi::MakeQuad(1, 2, 3), gdi::MakeQuad(4, 5, 6), gdi::MakeQuad(7, 8, 9)};
    EXPECT_EQ(SetBitmapPalette(&b, 0, 3, q), 0);  // not allocated
    ASSERT_EQ(AllocateBitmap(&b, 1, 2, 2, 8), 1);
    ASSERT_EQ(SetBitmapPalette(&b, 100, 3, q), 1);
    RGBQUAD back[4] = {};
    ASSERT_EQ(GetBitmapPalette(&b, 99, 4, back), 1);
    EXPECT_EQ(back[1], q[0]);
    EXPECT_EQ(back[3], q[2]);
    EXPECT_EQ(GetBitmapPalette(&b, -1, 2, back), 0);

    BitmapHandle deep;
    ASSERT_EQ(AllocateBitmap(&deep, 1, 2, 2, 24), 1);
    EXPECT_EQ(SetBitmapPalette(&deep, 0, 1, q), 0);
}

// An 8-bit bitmap whose palette holds duplicates: index 0 and 2 are both red,
// 1 and 3 both white.
BitmapHandle DuplicatePaletteBitmap() {
    BitmapHandle b;
    EXPECT_EQ(AllocateBitmap(&b, 1, 4, 1, 8), 1);
    std::vector<RGBQUAD> pal = Table(256);
    pal[0] = pal[2] = gdi::MakeQuad(255, 0, 0);
    pal[1] = pal[3] = gdi::MakeQuad(255, 255, 255);
    pal[4] = gdi::MakeQuad(0, 0, 250);
    SetBitmapPalette(&b, 0, 256, pal.data());
    for (int x = 0; x < 4; ++x)
        b.pixels->SetValue(x, 0, DWORD(3 - x));
    return b;
}

TEST(ImagingConvert, RemapOntoOwnPaletteIsTheIdentity) {
    BitmapHandle b = DuplicatePaletteBitmap();
    ASSERT_EQ(ResizeBitmap(&b, 5, 1, 0), 1);  // pixels 3 3 2 1 0
    b.pixels->SetValue(4, 0, 252);            // beyond the 250 searched entries
    std::vector<RGBQUAD> pal = Table(256);
    GetBitmapPalette(&b, 0, 256, pal.data());
    for (auto& q : pal)
        q.rgbReserved = 2;  // flags do not count
    ASSERT_EQ(ChangeBitsPerPixel(&b, &b, 8, 2, pal.data(), 250), 1);
    const DWORD expected[5] = {3, 3, 2, 1, 252};
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(At(b, x, 0), expected[x]) << x;
}

TEST(ImagingConvert, OtherColoursGoToTheNearestEntryLowestIndexFirst) {
    BitmapHandle b = DuplicatePaletteBitmap();
    // Target palette: entry 3 changed, so pixels of index 3 (white) must be
    // searched; white now sits at 5 and 6 (tie: 5). Red is unchanged at 0
    // and 2 and keeps its indices.
    std::vector<RGBQUAD> pal = Table(256);
    GetBitmapPalette(&b, 0, 256, pal.data());
    pal[3] = gdi::MakeQuad(0, 0, 0);
    pal[1] = gdi::MakeQuad(1, 1, 1);
    pal[5] = pal[6] = gdi::MakeQuad(255, 255, 255);
    ASSERT_EQ(ChangeBitsPerPixel(&b, &b, 8, 2, pal.data(), 250), 1);
    EXPECT_EQ(At(b, 0, 0), 5u);  // was 3 (white)
    EXPECT_EQ(At(b, 1, 0), 2u);  // red, unchanged entry
    EXPECT_EQ(At(b, 2, 0), 5u);  // was 1 (white), entry changed
    EXPECT_EQ(At(b, 3, 0), 0u);
    RGBQUAD q;
    GetBitmapPalette(&b, 5, 1, &q);
    EXPECT_TRUE(q.rgbRed == 255 && q.rgbGreen == 255 && q.rgbBlue == 255);
}

TEST(ImagingConvert, ColourCountLimitsTheSearch) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 1, 1, 24), 1);
    b.pixels->SetValue(0, 0, 0x00FF0000);  // red
    std::vector<RGBQUAD> pal = Table(256, gdi::MakeQuad(0, 0, 0));
    pal[200] = gdi::MakeQuad(255, 0, 0);
    pal[1] = gdi::MakeQuad(128, 0, 0);
    BitmapHandle c;
    ASSERT_EQ(ChangeBitsPerPixel(&c, &b, 8, 2, pal.data(), 150), 1);
    EXPECT_EQ(At(c, 0, 0), 1u);
    ASSERT_EQ(ChangeBitsPerPixel(&c, &b, 8, 2, pal.data(), 256), 1);
    EXPECT_EQ(At(c, 0, 0), 200u);
    EXPECT_EQ(b.bitsPerPixel, 24);  // the source is untouched
}

TEST(ImagingConvert, DepthChangesWithoutAPalette) {
    // 24 -> 8 builds a palette of the image's own colours; 8 -> 24 expands
    // through it; 1 -> 8 keeps the indices and the table.
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 3, 1, 24), 1);
    const DWORD colours[3] = {0x00102030, 0x00FFFFFF, 0x00102030};
    for (int x = 0; x < 3; ++x)
        b.pixels->SetValue(x, 0, colours[x]);
    ASSERT_EQ(ChangeBitsPerPixel(&b, &b, 8, 2, nullptr, 0), 1);
    EXPECT_EQ(b.bitsPerPixel, 8);
    EXPECT_EQ(At(b, 0, 0), At(b, 2, 0));
    EXPECT_NE(At(b, 0, 0), At(b, 1, 0));
    ASSERT_EQ(ChangeBitsPerPixel(&b, &b, 24, 4, nullptr, 0), 1);
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(At(b, x, 0), colours[x]);

    BitmapHandle mono;
    ASSERT_EQ(AllocateBitmap(&mono, 1, 9, 1, 1), 1);
    mono.pixels->SetValue(8, 0, 1);
    ASSERT_EQ(ChangeBitsPerPixel(&mono, &mono, 8, 2, nullptr, 0), 1);
    EXPECT_EQ(At(mono, 8, 0), 1u);
    EXPECT_EQ(At(mono, 7, 0), 0u);
    RGBQUAD q[2];
    GetBitmapPalette(&mono, 0, 2, q);
    EXPECT_EQ(q[1], gdi::MakeQuad(255, 255, 255));

    // An 8-bit bitmap without a palette given stays as it is.
    BitmapHandle d = DuplicatePaletteBitmap();
    ASSERT_EQ(ChangeBitsPerPixel(&d, &d, 8, 2, nullptr, 0), 1);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(At(d, x, 0), DWORD(3 - x));
}

TEST(ImagingConvert, ManyColoursGetAColourCube) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 300, 1, 24), 1);
    for (int x = 0; x < 300; ++x)
        b.pixels->SetValue(x, 0, DWORD(x * 50000));
    ASSERT_EQ(ChangeBitsPerPixel(&b, &b, 8, 2, nullptr, 0), 1);
    RGBQUAD q;
    GetBitmapPalette(&b, 251, 1, &q);
    EXPECT_EQ(q, gdi::MakeQuad(255, 255, 255));  // the cube's last entry
    for (int x = 0; x < 300; ++x)
        ASSERT_LE(At(b, x, 0), 251u);
}

TEST(ImagingResize, NearestAndBilinear) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 2, 1, 24), 1);
    b.pixels->SetValue(0, 0, 0x00000000);
    b.pixels->SetValue(1, 0, 0x00C8C8C8);  // grey 200
    BitmapHandle n = b;
    n.pixels = b.pixels->CreateCompatible(2, 1);
    std::memcpy(n.pixels->Bits(), b.pixels->Bits(), b.pixels->SizeBytes());
    ASSERT_EQ(ResizeBitmap(&n, 4, 2, 0), 1);
    EXPECT_EQ(n.width, 4);
    EXPECT_EQ(n.height, 2);
    const DWORD nearest[4] = {0, 0, 0x00C8C8C8, 0x00C8C8C8};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(At(n, x, 1), nearest[x]) << x;

    ASSERT_EQ(ResizeBitmap(&b, 4, 1, kResizeSmooth), 1);
    // Centres at -0.25, 0.25, 0.75, 1.25 of the source: 0, 50, 150, 200.
    const int grey[4] = {0, 50, 150, 200};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(At(b, x, 0), DWORD(grey[x] * 0x010101)) << x;

    BitmapHandle indexed;
    ASSERT_EQ(AllocateBitmap(&indexed, 1, 2, 1, 8), 1);
    indexed.pixels->SetValue(1, 0, 7);
    ASSERT_EQ(ResizeBitmap(&indexed, 4, 1, kResizeSmooth), 1);
    const DWORD idx[4] = {0, 0, 7, 7};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(At(indexed, x, 0), idx[x]);
    EXPECT_EQ(ResizeBitmap(&indexed, 0, 1, 0), 0);
    EXPECT_EQ(indexed.width, 4);
}

TEST(ImagingContext, SharesThePixels) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 4, 4, 24), 1);
    HDC dc = CreateBitmapDC(&b);
    ASSERT_NE(dc, nullptr);
    gdi::SetPixel(dc, 2, 1, gdi::RGB(10, 20, 30));
    EXPECT_EQ(At(b, 2, 1), 0x000A141Eu);
    b.pixels->SetValue(0, 0, 0x00FF0000);
    EXPECT_EQ(gdi::GetPixel(dc, 0, 0), gdi::RGB(255, 0, 0));
    DeleteBitmapDC(dc);
    BitmapHandle empty;
    EXPECT_EQ(CreateBitmapDC(&empty), nullptr);
}

TEST(ImagingRows, LockedRowAccess) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 3, 2, 8), 1);
    const unsigned char row[4] = {1, 2, 3, 4};
    unsigned char back[8] = {};
    EXPECT_EQ(PutBitmapRow(&b, row, 0, 4), -1);  // not locked
    ASSERT_EQ(LockBitmap(&b), 1);
    EXPECT_EQ(PutBitmapRow(&b, row, 1, 4), 4);
    EXPECT_EQ(GetBitmapRow(&b, back, 1, 8), 4);  // one row is 4 bytes
    EXPECT_EQ(back[2], 3);
    EXPECT_EQ(GetBitmapRow(&b, back, 2, 4), -1);
    EXPECT_EQ(GetBitmapRow(&b, back, -1, 4), -1);
    ASSERT_EQ(UnlockBitmap(&b), 1);
    EXPECT_EQ(UnlockBitmap(&b), 0);
    EXPECT_EQ(GetBitmapRow(&b, back, 1, 4), -1);
}

TEST(ImagingFill, FillsInsideTheRegionOnly) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 6, 4, 8), 1);
    ASSERT_EQ(FillBitmap(&b, 0x01000009), 1);  // palette index 9, no region
    EXPECT_EQ(At(b, 5, 3), 9u);
    RECT r{1, 1, 3, 3};
    ASSERT_EQ(SetBitmapRectRegion(&b, nullptr, r, kRegionSet), 1);
    ASSERT_EQ(FillBitmap(&b, gdi::RGB(255, 255, 255)), 1);  // grey ramp: 255
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(At(b, x, y), (x >= 1 && x < 3 && y >= 1 && y < 3) ? 255u : 9u);

    BitmapHandle c;
    ASSERT_EQ(AllocateBitmap(&c, 1, 3, 1, 24), 1);
    ASSERT_EQ(FillBitmap(&c, gdi::RGB(1, 2, 3)), 1);
    EXPECT_EQ(At(c, 2, 0), 0x00010203u);
}

TEST(ImagingFill, RectanglesAtAnyBitOffsetAndDepth) {
    // Spans that start and end inside a byte, cover whole bytes, or lie in
    // one byte; 1-bit fills both ways, 24-bit rows after the first.
    struct Case {
        int bits, left, right;
        COLORREF colour;
        DWORD value;
    };
    const Case cases[] = {
        {1, 3, 29, gdi::RGB(255, 255, 255), 1}, {1, 0, 37, gdi::RGB(255, 255, 255), 1},
        {1, 9, 14, gdi::RGB(255, 255, 255), 1}, {1, 8, 16, gdi::RGB(255, 255, 255), 1},
        {24, 5, 31, gdi::RGB(9, 8, 7), 0x00090807},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + ": " + std::to_string(c.left) + ".." +
                     std::to_string(c.right));
        BitmapHandle b;
        ASSERT_EQ(AllocateBitmap(&b, 1, 37, 4, c.bits), 1);
        if (c.bits == 1) {
            ASSERT_EQ(FillBitmap(&b, gdi::RGB(255, 255, 255)), 1);
        }
        RECT r{c.left, 1, c.right, 3};
        ASSERT_EQ(SetBitmapRectRegion(&b, nullptr, r, kRegionSet), 1);
        ASSERT_EQ(FillBitmap(&b, c.bits == 1 ? gdi::RGB(0, 0, 0) : c.colour), 1);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 37; ++x) {
                const bool inside = x >= c.left && x < c.right && y >= 1 && y < 3;
                const DWORD outside = c.bits == 1 ? 1u : 0u;
                const DWORD filled = c.bits == 1 ? 0u : c.value;
                EXPECT_EQ(At(b, x, y), inside ? filled : outside) << x << "," << y;
            }
    }
}

TEST(ImagingFlip, ToggleIsItsOwnInverseAndPerspective) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 2, 3, 8), 1);
    for (int y = 0; y < 3; ++y)
        b.pixels->SetValue(0, y, DWORD(y + 1));
    ASSERT_EQ(FlipBitmap(&b), 1);
    EXPECT_EQ(At(b, 0, 0), 3u);
    EXPECT_EQ(At(b, 0, 2), 1u);
    ASSERT_EQ(FlipBitmap(&b), 1);
    EXPECT_EQ(At(b, 0, 0), 1u);

    ASSERT_EQ(ChangeViewPerspective(nullptr, &b, kTopLeft), 1);  // already
    EXPECT_EQ(At(b, 0, 0), 1u);
    b.viewPerspective = kBottomLeft;
    ASSERT_EQ(ChangeViewPerspective(nullptr, &b, kTopLeft), 1);
    EXPECT_EQ(At(b, 0, 0), 3u);
    EXPECT_EQ(b.viewPerspective, kTopLeft);
    EXPECT_EQ(ChangeViewPerspective(nullptr, &b, 3), 0);
}

TEST(ImagingRegion, ThroughTheTransform) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 100, 100, 8), 1);
    EXPECT_FALSE(BitmapHasRegion(&b));
    QRegion out;
    EXPECT_EQ(GetBitmapRegion(&b, nullptr, &out), 0);
    // Two rectangles: (1,2)-(4,5) and (10,10)-(13,20), right/bottom exclusive.
    QRegion region = QRegion(1, 2, 3, 3) | QRegion(10, 10, 3, 10);
    ASSERT_EQ(SetBitmapRegion(&b, nullptr, region, kRegionSet), 1);
    EXPECT_TRUE(BitmapHasRegion(&b));

    struct Case {
        RegionTransform t;
        std::vector<QRect> expected;
    };
    // Edges: floor(e * num / den) + offset.
    const Case cases[] = {
        {{1, 1, 1, 1, 1, 0, 0},
         {QRect(QPoint(1, 2), QPoint(3, 4)), QRect(QPoint(10, 10), QPoint(12, 19))}},
        {{1, 1, 1, 1, 1, 5, -3},
         {QRect(QPoint(6, -1), QPoint(8, 1)), QRect(QPoint(15, 7), QPoint(17, 16))}},
        // 2/1: (2,4)-(8,10) and (20,20)-(26,40), then offset (-7, 11).
        {{1, 2, 1, 2, 1, -7, 11},
         {QRect(QPoint(-5, 15), QPoint(0, 20)), QRect(QPoint(13, 31), QPoint(18, 50))}},
        // 1/3: x edges 1,4 -> 0,1; y 2,5 -> 0,1; 10,13 -> 3,4; 10,20 -> 3,6;
        // offset (2, 1).
        {{1, 1, 3, 1, 3, 2, 1},
         {QRect(QPoint(2, 1), QPoint(2, 1)), QRect(QPoint(5, 4), QPoint(5, 6))}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.t.xNumerator << "/" << c.t.xDenominator << " + " << c.t.xOffset);
        ASSERT_EQ(GetBitmapRegion(&b, &c.t, &out), 1);
        EXPECT_EQ(Rects(out), c.expected);
        // And back: the inverse mapping gives the bitmap's region where the
        // zoom does not lose edges.
        if (c.t.xDenominator == 1) {
            BitmapHandle d;
            ASSERT_EQ(AllocateBitmap(&d, 1, 100, 100, 8), 1);
            ASSERT_EQ(SetBitmapRegion(&d, &c.t, out, kRegionSet), 1);
            EXPECT_EQ(d.region, b.region);
        }
    }
    RegionTransform zero{1, 0, 1, 1, 1, 0, 0};
    EXPECT_EQ(SetBitmapRegion(&b, &zero, region, kRegionSet), 0);

    // Combining, and clipping to the bitmap.
    ASSERT_EQ(SetBitmapRectRegion(&b, nullptr, RECT{90, 90, 200, 200}, kRegionOr), 1);
    EXPECT_EQ(b.region, region | QRegion(90, 90, 10, 10));
    ASSERT_EQ(SetBitmapRectRegion(&b, nullptr, RECT{0, 0, 5, 5}, kRegionAnd), 1);
    EXPECT_EQ(b.region, QRegion(1, 2, 3, 3));
    ASSERT_EQ(SetBitmapRectRegion(&b, nullptr, RECT{0, 0, 5, 5}, kRegionAndNot), 1);
    EXPECT_FALSE(BitmapHasRegion(&b));
    ASSERT_EQ(SetBitmapRectRegion(&b, nullptr, RECT{0, 0, 5, 5}, kRegionXor), 1);
    FreeBitmapRegion(&b);
    EXPECT_FALSE(BitmapHasRegion(&b));
    EXPECT_EQ(SetBitmapRectRegion(&b, nullptr, RECT{0, 0, 5, 5}, 9), 0);
}

TEST(ImagingOutline, PhasesOnAnLShapedRegion) {
    // An L: a 6 x 2 bar over a 2 x 4 stem, in a 10 x 8 bitmap, drawn at zoom 1
    // with offset (1, 1) into a 24-bit target filled grey.
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, 1, 10, 8, 8), 1);
    const QRegion L = QRegion(0, 0, 6, 2) | QRegion(0, 2, 2, 4);
    ASSERT_EQ(SetBitmapRegion(&b, nullptr, L, kRegionSet), 1);
    const RegionTransform t{1, 1, 1, 1, 1, 1, 1};
    const QRegion shown = L.translated(1, 1);
    for (int phase = 0; phase < 8; ++phase) {
        SCOPED_TRACE(phase);
        gdi::HBITMAP target = gdi::Bitmap::Create(12, 10, 24);
        auto dc = gdi::CreateDCForBitmap(target);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x)
                target->SetValue(x, y, 0x808080);
        ASSERT_EQ(DrawRegionOutline(dc.get(), &b, &t, phase), 1);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x) {
                const bool in = shown.contains(QPoint(x, y));
                const bool border =
                    in && !(shown.contains(QPoint(x - 1, y)) && shown.contains(QPoint(x + 1, y)) &&
                            shown.contains(QPoint(x, y - 1)) && shown.contains(QPoint(x, y + 1)));
                const DWORD expected =
                    !border ? 0x808080 : ((x + y + phase) % 8 >= 4 ? 0xFFFFFF : 0x000000);
                ASSERT_EQ(target->GetValue(x, y), expected) << x << "," << y;
            }
    }
    BitmapHandle none;
    ASSERT_EQ(AllocateBitmap(&none, 1, 4, 4, 8), 1);
    gdi::HBITMAP target = gdi::Bitmap::Create(4, 4, 8);
    auto dc = gdi::CreateDCForBitmap(target);
    EXPECT_EQ(DrawRegionOutline(dc.get(), &none, nullptr, 0), 0);
}

TEST(ImagingPalette, PaintingPaletteIsSelected) {
    BitmapHandle b = DuplicatePaletteBitmap();
    gdi::HBITMAP screen = gdi::Bitmap::Create(4, 4, 24);
    auto dc = gdi::CreateDCForBitmap(screen);
    HPALETTE p = SelectBitmapPalette(dc.get(), &b);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Size(), 256);
    EXPECT_EQ(p->ColorOf(4), gdi::RGB(0, 0, 250));
    EXPECT_EQ(dc->state.palette, p);
    BitmapHandle deep;
    ASSERT_EQ(AllocateBitmap(&deep, 1, 2, 2, 24), 1);
    EXPECT_EQ(SelectBitmapPalette(dc.get(), &deep), nullptr);
}

}  // namespace
