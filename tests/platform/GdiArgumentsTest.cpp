// Any argument is safe: random calls with near, far and extreme coordinates,
// extents, codes and modes on every depth never write outside the clip region
// (and, under the sanitizers, never outside any bitmap).

#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "tests/platform/GdiTestSupport.h"

namespace {

using namespace gditest;

class AnyArguments : public ::testing::TestWithParam<int> {};

TEST_P(AnyArguments, StayInsideTheClipRegion) {
    const int bpp = GetParam();
    std::mt19937 rng(unsigned(bpp) * 977u);
    auto coord = [&]() -> int {
        switch (rng() % 6) {
            case 0:
                return INT_MIN;
            case 1:
                return INT_MAX;
            case 2:
                return int(rng());
            default:
                return int(rng() % 60) - 15;
        }
    };
    auto extent = [&]() -> int {
        switch (rng() % 5) {
            case 0:
                return int(rng());
            case 1:
                return -int(rng() % 50);
            default:
                return int(rng() % 50);
        }
    };
    HBITMAP dst = Bitmap::Create(37, 23, bpp);
    FillRandom(*dst, 1);
    DCPtr d = CreateDCForBitmap(dst);
    const QRegion clip = CreateRectRgn(3, 2, 20, 15).united(CreateRectRgn(25, 10, 35, 21));
    SelectClipRgn(d.get(), &clip);
    const HBITMAP before = Copy(*dst);
    const int depths[] = {1, 4, 8, 16, 24, 32};
    HBITMAP pattern = Bitmap::Create(8, 8, depths[rng() % 6]);
    FillRandom(*pattern, 2);
    SelectObject(d.get(), CreateFont(11, "DejaVu Sans"));

    for (int step = 0; step < 400; ++step) {
        HBITMAP src = Bitmap::Create(1 + int(rng() % 30), 1 + int(rng() % 30), depths[rng() % 6]);
        FillRandom(*src, unsigned(step));
        DCPtr s = CreateDCForBitmap(src);
        SetROP2(d.get(), 1 + int(rng() % 16));
        SetStretchBltMode(d.get(), 1 + int(rng() % 4));
        SetBkMode(d.get(), 1 + int(rng() % 2));
        SetBrushOrgEx(d.get(), coord(), coord());
        switch (rng() % 4) {
            case 0:
                SelectObject(d.get(), CreatePatternBrush(pattern));
                break;
            case 1:
                SelectObject(d.get(), CreateHatchBrush(int(rng() % 6), COLORREF(rng())));
                break;
            case 2:
                SelectObject(d.get(), GetStockBrush(NULL_BRUSH));
                break;
            default:
                SelectObject(d.get(), CreateSolidBrush(COLORREF(rng())));
                break;
        }
        SelectObject(d.get(), CreatePen(int(rng() % 7), int(rng() % 8), COLORREF(rng())));
        const DWORD rop = RopFromIndex(BYTE(rng()));
        const int x = coord(), y = coord(), w = extent(), h = extent();
        switch (rng() % 14) {
            case 0:
                BitBlt(d.get(), x, y, w, h, s.get(), coord(), coord(), rop);
                break;
            case 1:
                StretchBlt(d.get(), x, y, w, h, s.get(), coord(), coord(), extent(), extent(), rop);
                break;
            case 2:
                PatBlt(d.get(), x, y, w, h, rop);
                break;
            case 3:
                MoveToEx(d.get(), x, y);
                LineTo(d.get(), coord(), coord());
                break;
            case 4:
                Rectangle(d.get(), x, y, coord(), coord());
                break;
            case 5:
                Ellipse(d.get(), x, y, coord(), coord());
                break;
            case 6: {
                const POINT pts[] = {
                    {x, y}, {coord(), coord()}, {coord(), coord()}, {coord(), coord()}};
                Polygon(d.get(), pts, 4);
                Polyline(d.get(), pts, 4);
                break;
            }
            case 7:
                FillRect(d.get(), RECT{x, y, coord(), coord()}, CreateSolidBrush(COLORREF(rng())));
                break;
            case 8:
                FrameRgn(d.get(), CreateRectRgn(x, y, coord(), coord()),
                         CreatePatternBrush(pattern), coord(), coord());
                break;
            case 9:
                InvertRect(d.get(), RECT{x, y, coord(), coord()});
                break;
            case 10:
                TextOut(d.get(), x, y, "Wq|");
                break;
            case 11:
                SetPixel(d.get(), x, y, COLORREF(rng()));
                break;
            case 12:
                PaintRgn(d.get(), CreateRectRgn(x, y, coord(), coord()));
                break;
            default:
                FrameRect(d.get(), RECT{x, y, coord(), coord()}, CreateSolidBrush(0));
                break;
        }
    }
    int changedInside = 0;
    for (int py = 0; py < dst->Height(); ++py)
        for (int px = 0; px < dst->Width(); ++px) {
            if (clip.contains(QPoint(px, py))) {
                changedInside += Raw(*dst, px, py) != Raw(*before, px, py);
            } else {
                ASSERT_EQ(Raw(*dst, px, py), Raw(*before, px, py)) << px << "," << py;
            }
        }
    EXPECT_GT(changedInside, 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, AnyArguments, ::testing::Values(1, 4, 8, 16, 24, 32));

}  // namespace
