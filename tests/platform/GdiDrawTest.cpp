// Primitives, brushes, regions and the context's state.

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "tests/platform/GdiTestSupport.h"

namespace {

using namespace gditest;

// Pixels whose raw value differs between two bitmaps.
std::set<std::pair<int, int>> Changed(const Bitmap& a, const Bitmap& b) {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (Raw(a, x, y) != Raw(b, x, y))
                out.insert({x, y});
    return out;
}

struct Canvas {
    explicit Canvas(int w, int h, int bpp = 8)
        : bm(Bitmap::Create(w, h, bpp)), dc(CreateDCForBitmap(bm)) {}
    HBITMAP bm;
    DCPtr dc;
    HDC operator*() const { return dc.get(); }
};

TEST(Lines, EndPointIsExcludedInEveryDirection) {
    struct Case {
        int x0, y0, x1, y1;
        std::set<std::pair<int, int>> pixels;
    };
    const Case cases[] = {
        {1, 1, 5, 1, {{1, 1}, {2, 1}, {3, 1}, {4, 1}}},
        {5, 1, 1, 1, {{5, 1}, {4, 1}, {3, 1}, {2, 1}}},
        {2, 6, 2, 3, {{2, 6}, {2, 5}, {2, 4}}},
        {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}}},
        {4, 0, 0, 2, {{4, 0}, {3, 1}, {2, 1}, {1, 2}}},
        {3, 3, 3, 3, {}},
    };
    for (const Case& c : cases) {
        Canvas cv(8, 8);
        const HBITMAP before = Copy(*cv.bm);
        SelectObject(*cv, CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
        MoveToEx(*cv, c.x0, c.y0);
        ASSERT_TRUE(LineTo(*cv, c.x1, c.y1));
        EXPECT_EQ(Changed(*before, *cv.bm), c.pixels)
            << c.x0 << "," << c.y0 << "->" << c.x1 << "," << c.y1;
        POINT p;
        MoveToEx(*cv, 0, 0, &p);
        EXPECT_EQ(p, (POINT{c.x1, c.y1}));
    }
}

TEST(Shapes, RectangleAndFillRectCoverLeftToRightMinusOne) {
    Canvas cv(10, 8, 24);
    SelectObject(*cv, CreatePen(PS_SOLID, 1, RGB(0, 0, 255)));
    SelectObject(*cv, CreateSolidBrush(RGB(255, 0, 0)));
    ASSERT_TRUE(Rectangle(*cv, 2, 1, 7, 6));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inBox = x >= 2 && x <= 6 && y >= 1 && y <= 5;
            const bool edge = x == 2 || x == 6 || y == 1 || y == 5;
            const COLORREF expected = !inBox ? RGB(0, 0, 0)
                                      : edge ? RGB(0, 0, 255)
                                             : RGB(255, 0, 0);
            EXPECT_EQ(GetPixel(*cv, x, y), expected) << x << "," << y;
        }
    Canvas f(10, 8, 4);
    ASSERT_EQ(FillRect(*f, RECT{1, 2, 4, 5}, CreateSolidBrush(RGB(255, 255, 255))), 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(Raw(*f.bm, x, y), (x >= 1 && x < 4 && y >= 2 && y < 5) ? 15u : 0u);
    // A hollow brush leaves the inside alone.
    Canvas h(10, 8);
    SelectObject(*h, GetStockBrush(NULL_BRUSH));
    SelectObject(*h, CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
    ASSERT_TRUE(Rectangle(*h, 0, 0, 5, 5));
    EXPECT_EQ(Raw(*h.bm, 2, 2), 0u);
    EXPECT_EQ(Raw(*h.bm, 4, 4), 255u);
}

// NOT and XOR drawn twice restore the bitmap on every depth, for every
// primitive; one XOR call never hits a pixel twice (which would leave holes).
TEST(Shapes, NotAndXorTwiceRestoreEveryDepth) {
    for (const int bpp : {1, 4, 8, 16, 24, 32}) {
        for (const int rop2 : {R2_NOT, R2_XORPEN}) {
            Canvas cv(40, 30, bpp);
            FillRandom(*cv.bm, unsigned(bpp * 7 + rop2));
            const HBITMAP before = Copy(*cv.bm);
            SetROP2(*cv, rop2);
            auto draw = [&] {
                for (const auto& pen : {CreatePen(PS_SOLID, 1, RGB(255, 0, 255)),
                                        CreatePen(PS_DOT, 1, RGB(90, 200, 7)),
                                        CreatePen(PS_SOLID, 5, RGB(3, 255, 128))}) {
                    SelectObject(*cv, pen);
                    SelectObject(*cv, CreateHatchBrush(HS_DIAGCROSS, RGB(255, 255, 255)));
                    MoveToEx(*cv, -3, 2);
                    LineTo(*cv, 37, 27);
                    LineTo(*cv, 5, 29);
                    const POINT star[] = {{20, 0}, {26, 28}, {8, 10}, {34, 10}, {14, 28}};
                    Polyline(*cv, star, 5);
                    Rectangle(*cv, 3, 3, 18, 12);
                    Ellipse(*cv, 15, 8, 38, 27);
                    Polygon(*cv, star, 5);
                    PaintRgn(*cv, CreateRectRgn(1, 20, 9, 29).united(CreateRectRgn(5, 15, 12, 22)));
                }
            };
            draw();
            EXPECT_FALSE(SamePixels(*cv.bm, *before)) << bpp;
            draw();
            EXPECT_TRUE(SamePixels(*cv.bm, *before)) << "depth " << bpp << " rop2 " << rop2;
        }
    }
}

TEST(Shapes, OneXorCallChangesEveryPixelOfTheShapeOnce) {
    struct Shape {
        const char* name;
        int penWidth;
    };
    for (const Shape s : {Shape{"thin", 1}, Shape{"wide", 4}}) {
        for (int kind = 0; kind < 3; ++kind) {
            Canvas cv(40, 40);
            const HBITMAP before = Copy(*cv.bm);
            SetROP2(*cv, R2_XORPEN);
            SelectObject(*cv, CreatePen(PS_SOLID, s.penWidth, RGB(255, 255, 255)));
            SelectObject(*cv, CreateSolidBrush(RGB(255, 255, 255)));
            const POINT tri[] = {{5, 5}, {34, 12}, {12, 33}};
            if (kind == 0)
                Rectangle(*cv, 6, 7, 31, 29);
            if (kind == 1)
                Ellipse(*cv, 6, 7, 31, 29);
            if (kind == 2)
                Polygon(*cv, tri, 3);
            // Every row of the shape is one unbroken run of changed pixels.
            const auto changed = Changed(*before, *cv.bm);
            ASSERT_FALSE(changed.empty());
            for (int y = 0; y < 40; ++y) {
                int first = -1, last = -1, count = 0;
                for (int x = 0; x < 40; ++x)
                    if (changed.count({x, y})) {
                        if (first < 0)
                            first = x;
                        last = x;
                        ++count;
                    }
                if (count) {
                    EXPECT_EQ(count, last - first + 1)
                        << s.name << " kind " << kind << " row " << y;
                }
            }
        }
    }
}

TEST(Shapes, EllipseStaysInItsBoxAndIsSymmetric) {
    Canvas cv(30, 20);
    SelectObject(*cv, CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
    SelectObject(*cv, CreateSolidBrush(RGB(128, 128, 128)));
    ASSERT_TRUE(Ellipse(*cv, 3, 2, 26, 17));
    bool touchesLeft = false, touchesTop = false;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const DWORD v = Raw(*cv.bm, x, y);
            if (x < 3 || x >= 26 || y < 2 || y >= 17) {
                EXPECT_EQ(v, 0u) << x << "," << y;
            }
            if (v && x == 3)
                touchesLeft = true;
            if (v && y == 2)
                touchesTop = true;
            // Mirror images across the box's vertical centre line.
            if (x >= 3 && x < 26) {
                EXPECT_EQ(v, Raw(*cv.bm, 28 - x, y)) << "mirror " << x << "," << y;
            }
        }
    EXPECT_TRUE(touchesLeft);
    EXPECT_TRUE(touchesTop);
    EXPECT_EQ(Raw(*cv.bm, 14, 9), 128u);  // the inside is the brush
}

TEST(Brushes, MonochromePatternUsesTextAndBackgroundColoursFromTheOrigin) {
    HBITMAP pat = Bitmap::Create(8, 8, 1);
    pat->SetValue(0, 0, 1);
    pat->SetValue(3, 1, 1);
    Canvas cv(16, 16, 24);
    SetTextColor(*cv, RGB(255, 0, 0));
    SetBkColor(*cv, RGB(0, 255, 0));
    SetBrushOrgEx(*cv, 2, 3);
    ASSERT_EQ(FillRect(*cv, RECT{0, 0, 16, 16}, CreatePatternBrush(pat)), 1);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool one = pat->GetValue((x - 2 + 16) % 8, (y - 3 + 16) % 8) == 1;
            EXPECT_EQ(GetPixel(*cv, x, y), one ? RGB(0, 255, 0) : RGB(255, 0, 0)) << x << "," << y;
        }
}

TEST(Brushes, ColourPatternsAndHatches) {
    // A 4-bit black and white stripe pattern, as region outlines use, drawn on
    // a 32-bit bitmap: its own colours.
    HBITMAP pat = Bitmap::Create(8, 8, 4);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            pat->SetValue(x, y, (x + y) % 8 >= 4 ? 15 : 0);
    Canvas cv(12, 12, 32);
    FillRect(*cv, RECT{0, 0, 12, 12}, CreateSolidBrush(RGB(9, 9, 9)));
    ASSERT_EQ(FillRect(*cv, RECT{0, 0, 12, 12}, CreatePatternBrush(pat)), 1);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            EXPECT_EQ(GetPixel(*cv, x, y), (x + y) % 8 >= 4 ? RGB(255, 255, 255) : RGB(0, 0, 0));
    // A transparent hatch leaves the background; an opaque one paints it.
    Canvas h(8, 8);
    FillRect(*h, RECT{0, 0, 8, 8}, CreateSolidBrush(RGB(7, 7, 7)));
    SetBkMode(*h, TRANSPARENT);
    FillRect(*h, RECT{0, 0, 8, 8}, CreateHatchBrush(HS_HORIZONTAL, RGB(255, 255, 255)));
    EXPECT_EQ(Raw(*h.bm, 3, 0), 255u);
    EXPECT_EQ(Raw(*h.bm, 3, 1), 7u);
    SetBkMode(*h, OPAQUE);
    SetBkColor(*h, RGB(20, 20, 20));
    FillRect(*h, RECT{0, 0, 8, 8}, CreateHatchBrush(HS_VERTICAL, RGB(255, 255, 255)));
    EXPECT_EQ(Raw(*h.bm, 0, 5), 255u);
    EXPECT_EQ(Raw(*h.bm, 1, 5), 20u);
}

TEST(Regions, FrameRgnPaintsExactlyTheDefinedPixels) {
    // An L shape with a notch: the frame is the region minus the intersection
    // of its four shifted copies.
    const QRegion rgn = CreateRectRgn(2, 2, 14, 6)
                            .united(CreateRectRgn(2, 6, 7, 13))
                            .subtracted(CreateRectRgn(9, 3, 11, 5));
    auto inside = [&](int x, int y) {
        const bool a = x >= 2 && x < 14 && y >= 2 && y < 6, b = x >= 2 && x < 7 && y >= 6 && y < 13;
        const bool notch = x >= 9 && x < 11 && y >= 3 && y < 5;
        return (a || b) && !notch;
    };
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{2, 1}, std::pair{1, 3}}) {
        Canvas cv(16, 16);
        ASSERT_TRUE(FrameRgn(*cv, rgn, CreateSolidBrush(RGB(255, 255, 255)), w, h));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool kept =
                    inside(x - w, y) && inside(x + w, y) && inside(x, y - h) && inside(x, y + h);
                const bool frame = inside(x, y) && !kept;
                EXPECT_EQ(Raw(*cv.bm, x, y), frame ? 255u : 0u)
                    << x << "," << y << " " << w << "x" << h;
            }
    }
}

TEST(Regions, FillPaintAndInvert) {
    Canvas cv(10, 10);
    const QRegion rgn = CreateRectRgn(1, 1, 4, 4).united(CreateRectRgn(6, 6, 9, 8));
    ASSERT_TRUE(FillRgn(*cv, rgn, CreateSolidBrush(RGB(100, 100, 100))));
    EXPECT_EQ(Raw(*cv.bm, 3, 3), 100u);
    EXPECT_EQ(Raw(*cv.bm, 4, 4), 0u);
    EXPECT_EQ(Raw(*cv.bm, 8, 7), 100u);
    SetROP2(*cv, R2_XORPEN);
    SelectObject(*cv, CreateSolidBrush(RGB(1, 1, 1)));
    ASSERT_TRUE(PaintRgn(*cv, rgn));
    EXPECT_EQ(Raw(*cv.bm, 3, 3), 101u);
    ASSERT_TRUE(InvertRgn(*cv, CreateRectRgn(0, 0, 2, 2)));
    EXPECT_EQ(Raw(*cv.bm, 0, 0), 255u);
    EXPECT_EQ(Raw(*cv.bm, 1, 1), 255u - 101u);
    ASSERT_TRUE(InvertRect(*cv, RECT{0, 0, 1, 1}));
    EXPECT_EQ(Raw(*cv.bm, 0, 0), 0u);
}

TEST(Regions, TransformScalesRectangleByRectangle) {
    const QRegion rgn = CreateRectRgn(0, 0, 3, 2).united(CreateRectRgn(3, 2, 5, 3));
    QRegion out;
    ASSERT_TRUE(TransformRegion(rgn, RegionTransform{1, 2, 1, 3, 1, 10, -1}, &out));
    EXPECT_EQ(out, CreateRectRgn(10, -1, 16, 5).united(CreateRectRgn(16, 5, 20, 8)));
    // Reducing by a third floors each edge; rectangles that vanish are dropped.
    ASSERT_TRUE(TransformRegion(CreateRectRgn(1, 1, 7, 4).united(CreateRectRgn(4, 4, 5, 5)),
                                RegionTransform{1, 1, 3, 1, 3, 0, 0}, &out));
    EXPECT_EQ(out, CreateRectRgn(0, 0, 2, 1));
    // A zero denominator is refused and leaves the output alone.
    out = CreateRectRgn(0, 0, 1, 1);
    EXPECT_FALSE(TransformRegion(rgn, RegionTransform{1, 1, 0, 1, 1, 0, 0}, &out));
    EXPECT_EQ(out, CreateRectRgn(0, 0, 1, 1));
    // A negative ratio mirrors.
    ASSERT_TRUE(
        TransformRegion(CreateRectRgn(1, 0, 3, 1), RegionTransform{1, -1, 1, 1, 1, 0, 0}, &out));
    EXPECT_EQ(out, CreateRectRgn(-3, 0, -1, 1));
}

TEST(Regions, CombineModesAndKinds) {
    const QRegion a = CreateRectRgn(0, 0, 4, 4), b = CreateRectRgn(2, 2, 6, 6);
    QRegion r;
    EXPECT_EQ(CombineRgn(r, a, b, RGN_AND), SIMPLEREGION);
    EXPECT_EQ(r, CreateRectRgn(2, 2, 4, 4));
    EXPECT_EQ(CombineRgn(r, a, b, RGN_OR), COMPLEXREGION);
    EXPECT_TRUE(PtInRegion(r, 5, 5));
    EXPECT_EQ(CombineRgn(r, a, b, RGN_XOR), COMPLEXREGION);
    EXPECT_FALSE(PtInRegion(r, 3, 3));
    EXPECT_EQ(CombineRgn(r, a, b, RGN_DIFF), COMPLEXREGION);
    EXPECT_FALSE(PtInRegion(r, 2, 2));
    EXPECT_EQ(CombineRgn(r, a, b, RGN_COPY), SIMPLEREGION);
    EXPECT_EQ(r, a);
    EXPECT_EQ(CombineRgn(r, b, b, 99), RGN_ERROR);
    EXPECT_EQ(r, a);
    EXPECT_EQ(CombineRgn(r, a, CreateRectRgn(5, 5, 6, 6), RGN_AND), NULLREGION);
    EXPECT_EQ(CreateRectRgn(4, 4, 0, 0), a);
    RECT box;
    EXPECT_EQ(GetRgnBox(b, &box), SIMPLEREGION);
    EXPECT_EQ(box, (RECT{2, 2, 6, 6}));
}

TEST(Context, ClipRegionLimitsEveryDrawing) {
    Canvas cv(10, 10);
    const QRegion clip = CreateRectRgn(2, 2, 5, 5);
    EXPECT_EQ(SelectClipRgn(*cv, &clip), SIMPLEREGION);
    FillRect(*cv, RECT{0, 0, 10, 10}, CreateSolidBrush(RGB(255, 255, 255)));
    SelectObject(*cv, CreatePen(PS_SOLID, 3, RGB(255, 255, 255)));
    MoveToEx(*cv, 0, 8);
    LineTo(*cv, 9, 8);
    EXPECT_EQ(SetPixel(*cv, 7, 7, RGB(255, 255, 255)), CLR_INVALID);
    EXPECT_EQ(GetPixel(*cv, 7, 7), CLR_INVALID);
    int count = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            count += Raw(*cv.bm, x, y) != 0;
    EXPECT_EQ(count, 9);
    RECT box;
    EXPECT_EQ(GetClipBox(*cv, &box), SIMPLEREGION);
    EXPECT_EQ(box, (RECT{2, 2, 5, 5}));
    EXPECT_EQ(ExcludeClipRect(*cv, 2, 2, 3, 3), COMPLEXREGION);
    EXPECT_EQ(SelectClipRgn(*cv, nullptr), SIMPLEREGION);
    EXPECT_EQ(GetClipBox(*cv, &box), SIMPLEREGION);
    EXPECT_EQ(box, (RECT{0, 0, 10, 10}));
}

TEST(Context, SelectingReturnsThePreviousObjectAndSaveRestores) {
    HBITMAP a = Bitmap::Create(2, 2, 8), b = Bitmap::Create(3, 3, 24);
    DCPtr dc = CreateCompatibleDC();
    EXPECT_EQ(SelectObject(dc.get(), a), nullptr);
    EXPECT_EQ(SelectObject(dc.get(), b), a);
    const HPEN pen = CreatePen(PS_DASH, 1, RGB(1, 2, 3));
    const HPEN old = SelectObject(dc.get(), pen);
    EXPECT_EQ(old, GetStockPen(BLACK_PEN));
    EXPECT_EQ(SetROP2(dc.get(), R2_XORPEN), R2_COPYPEN);
    const int level = SaveDC(dc.get());
    EXPECT_EQ(level, 1);
    SelectObject(dc.get(), a);
    SetROP2(dc.get(), R2_NOT);
    SetTextColor(dc.get(), RGB(9, 9, 9));
    const QRegion clip = CreateRectRgn(0, 0, 1, 1);
    SelectClipRgn(dc.get(), &clip);
    EXPECT_TRUE(RestoreDC(dc.get(), -1));
    EXPECT_EQ(GetCurrentBitmap(dc.get()), b);
    EXPECT_EQ(GetCurrentPen(dc.get()), pen);
    EXPECT_EQ(GetROP2(dc.get()), R2_XORPEN);
    EXPECT_EQ(GetTextColor(dc.get()), RGB(0, 0, 0));
    RECT box;
    GetClipBox(dc.get(), &box);
    EXPECT_EQ(box, (RECT{0, 0, 3, 3}));
    EXPECT_FALSE(RestoreDC(dc.get(), 1));
    // Invalid values are refused and change nothing.
    EXPECT_EQ(SetROP2(dc.get(), 0), 0);
    EXPECT_EQ(SetStretchBltMode(dc.get(), 9), 0);
    EXPECT_EQ(SetBkMode(dc.get(), 5), 0);
    EXPECT_EQ(GetROP2(dc.get()), R2_XORPEN);
    // A compatible bitmap copies depth and table; a bare context gives 1 bit.
    HBITMAP c = CreateCompatibleBitmap(dc.get(), 5, 5);
    EXPECT_EQ(c->BitsPerPixel(), 24);
    DCPtr bare = CreateCompatibleDC(dc.get());
    EXPECT_EQ(CreateCompatibleBitmap(bare.get(), 5, 5)->BitsPerPixel(), 1);
}

TEST(Context, DashedPenFollowsItsPatternAndOpaqueGapsUseTheBackground) {
    Canvas cv(40, 3);
    SelectObject(*cv, CreatePen(PS_DOT, 1, RGB(255, 255, 255)));
    SetBkMode(*cv, TRANSPARENT);
    MoveToEx(*cv, 0, 0);
    LineTo(*cv, 12, 0);
    for (int x = 0; x < 12; ++x)
        EXPECT_EQ(Raw(*cv.bm, x, 0), (x / 3) % 2 == 0 ? 255u : 0u) << x;
    SetBkMode(*cv, OPAQUE);
    SetBkColor(*cv, RGB(50, 50, 50));
    SelectObject(*cv, CreatePen(PS_DASH, 1, RGB(255, 255, 255)));
    MoveToEx(*cv, 0, 1);
    LineTo(*cv, 30, 1);
    for (int x = 0; x < 30; ++x)
        EXPECT_EQ(Raw(*cv.bm, x, 1), x % 24 < 18 ? 255u : 50u) << x;
}

TEST(Pixels, SetAndGetOnEveryDepth) {
    for (const int bpp : {1, 4, 8, 16, 24, 32}) {
        Canvas cv(3, 2, bpp);
        const COLORREF set = SetPixel(*cv, 2, 1, RGB(255, 255, 255));
        EXPECT_EQ(set, RGB(255, 255, 255)) << bpp;
        EXPECT_EQ(GetPixel(*cv, 2, 1), RGB(255, 255, 255));
        EXPECT_EQ(GetPixel(*cv, 1, 1), RGB(0, 0, 0));
        EXPECT_EQ(GetPixel(*cv, 3, 1), CLR_INVALID);
        EXPECT_EQ(GetPixel(*cv, -1, 0), CLR_INVALID);
        EXPECT_EQ(SetPixel(*cv, 0, 2, 0), CLR_INVALID);
    }
    EXPECT_EQ(GetPixel(nullptr, 0, 0), CLR_INVALID);
}

}  // namespace
