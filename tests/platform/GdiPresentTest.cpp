// Bitmap layout and limits, text, palettes, Qt views and the presenting window.

#include <gtest/gtest.h>

#include <QImage>
#include <fstream>
#include <string>

#include "platform/GdiWindow.h"
#include "tests/platform/GdiTestSupport.h"

namespace {

using namespace gditest;

TEST(Bitmaps, LayoutAndDefaultTables) {
    struct Case {
        int width, bpp, stride, colours;
    };
    for (const Case c : {Case{1, 1, 4, 2}, Case{33, 1, 8, 2}, Case{9, 4, 8, 16}, Case{5, 8, 8, 256},
                         Case{3, 16, 8, 0}, Case{5, 24, 16, 0}, Case{3, 32, 12, 0}}) {
        HBITMAP bm = Bitmap::Create(c.width, 2, c.bpp);
        ASSERT_TRUE(bm);
        EXPECT_EQ(bm->Stride(), c.stride) << c.width << "x" << c.bpp;
        EXPECT_EQ(bm->ColorCount(), c.colours);
        for (std::size_t i = 0; i < bm->SizeBytes(); ++i)
            ASSERT_EQ(bm->Bits()[i], 0);
    }
    HBITMAP mono = Bitmap::Create(9, 1, 1);
    EXPECT_EQ(mono->ColorTable()[0], MakeQuad(0, 0, 0));
    EXPECT_EQ(mono->ColorTable()[1], MakeQuad(255, 255, 255));
    // Pixel 0 of a 1-bit row is the most significant bit; 24-bit is blue, green, red.
    mono->SetValue(0, 0, 1);
    mono->SetValue(8, 0, 1);
    EXPECT_EQ(mono->Row(0)[0], 0x80);
    EXPECT_EQ(mono->Row(0)[1], 0x80);
    HBITMAP rgb = Bitmap::Create(2, 1, 24);
    DCPtr dc = CreateDCForBitmap(rgb);
    SetPixel(dc.get(), 1, 0, RGB(1, 2, 3));
    EXPECT_EQ(rgb->Row(0)[3], 3);
    EXPECT_EQ(rgb->Row(0)[4], 2);
    EXPECT_EQ(rgb->Row(0)[5], 1);
    // Tables: given entries, the rest black; compatible bitmaps share them.
    const RGBQUAD two[2] = {MakeQuad(1, 2, 3), MakeQuad(4, 5, 6)};
    HBITMAP b8 = Bitmap::Create(4, 4, 8, two, 2);
    EXPECT_EQ(b8->ColorTable()[1], MakeQuad(4, 5, 6));
    EXPECT_EQ(b8->ColorTable()[2], MakeQuad(0, 0, 0));
    HBITMAP compatible = b8->CreateCompatible(7, 1);
    EXPECT_EQ(compatible->BitsPerPixel(), 8);
    EXPECT_EQ(compatible->ColorTable()[0], MakeQuad(1, 2, 3));
}

TEST(Bitmaps, RefusesBadSizesAndDepths) {
    EXPECT_FALSE(Bitmap::Create(0, 5, 8));
    EXPECT_FALSE(Bitmap::Create(5, -1, 8));
    EXPECT_FALSE(Bitmap::Create(5, 5, 7));
    EXPECT_FALSE(Bitmap::Create(Bitmap::kMaxDimension + 1, 1, 1));
    EXPECT_FALSE(Bitmap::Create(Bitmap::kMaxDimension, Bitmap::kMaxDimension, 32));
    HBITMAP bm = Bitmap::Create(2, 2, 8);
    RGBQUAD q[4];
    EXPECT_EQ(bm->GetColorTable(254, 4, q), 2);
    EXPECT_EQ(bm->SetColorTable(256, 1, q), 0);
    EXPECT_EQ(bm->SetColorTable(-1, 1, q), 0);
    EXPECT_EQ(bm->GetValue(2, 0), 0u);
    bm->SetValue(-1, 0, 9);  // ignored
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
    }
    return -1;
}

TEST(Bitmaps, LargeBitmapsCostNothingUntilTouched) {
    const long before = ResidentKiB();
    HBITMAP big = Bitmap::Create(30000, 20000, 8);  // 600 MB of address space
    ASSERT_TRUE(big);
    DCPtr dc = CreateDCForBitmap(big);
    SetPixel(dc.get(), 29999, 19999, RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc.get(), 29999, 19999), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc.get(), 15000, 10000), RGB(0, 0, 0));
    const long after = ResidentKiB();
    if (before > 0 && after > 0) {
        EXPECT_LT(after - before, 64 * 1024);
    }
}

TEST(Palettes, SetDibColorTableAndPaletteEntries) {
    HBITMAP bm = Bitmap::Create(2, 1, 8);
    DCPtr dc = CreateDCForBitmap(bm);
    const RGBQUAD red = MakeQuad(255, 0, 0);
    EXPECT_EQ(SetDIBColorTable(dc.get(), 5, 1, &red), 1u);
    RGBQUAD back;
    EXPECT_EQ(GetDIBColorTable(dc.get(), 5, 1, &back), 1u);
    EXPECT_EQ(back, red);
    EXPECT_EQ(SetDIBColorTable(dc.get(), 300, 1, &red), 0u);
    bm->SetValue(0, 0, 5);
    EXPECT_EQ(GetPixel(dc.get(), 0, 0), RGB(255, 0, 0));
    HPALETTE pal = CreatePaletteFromBitmap(*bm);
    ASSERT_TRUE(pal);
    EXPECT_EQ(pal->Size(), 256);
    EXPECT_EQ(pal->ColorOf(5), RGB(255, 0, 0));
    PALETTEENTRY e{1, 2, 3, 0};
    EXPECT_EQ(SetPaletteEntries(pal, 255, 4, &e), 1);
    EXPECT_EQ(pal->ColorOf(255), RGB(1, 2, 3));
    EXPECT_EQ(pal->ColorOf(256), RGB(0, 0, 0));
    EXPECT_FALSE(CreatePalette(&e, 0));
    EXPECT_FALSE(CreatePaletteFromBitmap(*Bitmap::Create(1, 1, 24)));
}

TEST(Views, QImageSharesThePixelsWhereQtHasTheFormat) {
    for (const int bpp : {1, 8, 16, 24, 32}) {
        HBITMAP bm = Bitmap::Create(5, 3, bpp);
        DCPtr dc = CreateDCForBitmap(bm);
        const QImage view = bm->ImageView();
        EXPECT_EQ(view.constBits(), bm->Bits()) << bpp;
        SetPixel(dc.get(), 4, 2, RGB(255, 255, 255));
        SetPixel(dc.get(), 1, 1, bpp == 1 ? RGB(255, 255, 255) : RGB(255, 0, 0));
        EXPECT_EQ(view.pixel(4, 2), qRgb(255, 255, 255)) << bpp;
        const COLORREF c = GetPixel(dc.get(), 1, 1);
        EXPECT_EQ(view.pixel(1, 1), qRgb(GetRValue(c), GetGValue(c), GetBValue(c))) << bpp;
        EXPECT_EQ(view.pixel(0, 0), qRgb(0, 0, 0));
    }
    HBITMAP four = Bitmap::Create(3, 1, 4);
    four->SetValue(1, 0, 9);  // red in the standard sixteen
    const QImage converted = four->ImageView();
    EXPECT_EQ(converted.format(), QImage::Format_Indexed8);
    EXPECT_EQ(converted.pixel(1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(four->ToImage().pixel(1, 0), qRgb(255, 0, 0));
}

TEST(Text, LandsInsideItsExtentTheSameOnEveryDepth) {
    QImage reference;
    for (const int bpp : {1, 8, 24, 32}) {
        HBITMAP bm = Bitmap::Create(120, 40, bpp);
        DCPtr dc = CreateDCForBitmap(bm);
        SelectObject(dc.get(), CreateFont(18, "DejaVu Sans"));
        SetTextColor(dc.get(), RGB(255, 255, 255));
        SetBkMode(dc.get(), TRANSPARENT);
        SIZE size;
        ASSERT_TRUE(GetTextExtentPoint32(dc.get(), "Quillor 4.0 jg", &size));
        EXPECT_GT(size.cx, 40);
        EXPECT_GE(size.cy, 18);
        ASSERT_TRUE(TextOut(dc.get(), 7, 5, "Quillor 4.0 jg"));
        int ink = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 120; ++x) {
                if (GetPixel(dc.get(), x, y) == RGB(0, 0, 0))
                    continue;
                ++ink;
                EXPECT_TRUE(x >= 7 && x < 7 + size.cx && y >= 5 && y < 5 + size.cy)
                    << x << "," << y;
            }
        EXPECT_GT(ink, 40) << bpp;
        const QImage picture = bm->ToImage();
        if (reference.isNull()) {
            reference = picture;
        } else {
            EXPECT_EQ(picture, reference) << bpp;
        }
    }
}

TEST(Text, OpaqueFillsTheCellAndAlignmentMovesIt) {
    HBITMAP bm = Bitmap::Create(100, 40, 8);
    DCPtr dc = CreateDCForBitmap(bm);
    SelectObject(dc.get(), CreateFont(-14, "DejaVu Sans"));
    SetBkColor(dc.get(), RGB(90, 90, 90));
    SetTextColor(dc.get(), RGB(255, 255, 255));
    SIZE size;
    ASSERT_TRUE(GetTextExtentPoint32(dc.get(), "Ab", &size));
    EXPECT_EQ(SetTextAlign(dc.get(), TA_RIGHT | TA_BOTTOM), UINT(TA_LEFT | TA_TOP));
    ASSERT_TRUE(TextOut(dc.get(), 60, 30, QStringLiteral("Ab")));
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 100; ++x) {
            const bool cell = x >= 60 - size.cx && x < 60 && y >= 30 - size.cy && y < 30;
            const DWORD v = Raw(*bm, x, y);
            if (cell) {
                EXPECT_TRUE(v == 90 || v == 255) << x << "," << y;
            } else {
                EXPECT_EQ(v, 0u) << x << "," << y;
            }
        }
    TEXTMETRIC tm;
    ASSERT_TRUE(GetTextMetrics(dc.get(), &tm));
    EXPECT_EQ(tm.tmHeight, size.cy);
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
    DCPtr empty = CreateCompatibleDC();
    EXPECT_FALSE(TextOut(empty.get(), 0, 0, "x"));
}

// A control that paints its whole area blue and counts its paints.
class CountingWindow : public platform::gdi::Window {
  public:
    int paints = 0;

  protected:
    void Paint() override {
        ++paints;
        FillRect(Canvas(), RECT{0, 0, width(), height()}, CreateSolidBrush(RGB(0, 0, 255)));
    }
};

TEST(Window, PaintRunsAfterInvalidationAndCanvasDrawingShowsAtOnce) {
    CountingWindow w;
    w.resize(20, 10);
    QImage shot = w.grab().toImage();
    EXPECT_EQ(w.paints, 1);
    EXPECT_EQ(shot.pixel(5, 5), qRgb(0, 0, 255));
    // Drawing outside a paint: the bitmap changes, Paint does not run.
    SetPixel(w.Canvas(), 3, 3, RGB(255, 0, 0));
    w.UpdateRect(RECT{3, 3, 4, 4});
    shot = w.grab().toImage();
    EXPECT_EQ(w.paints, 1);
    EXPECT_EQ(shot.pixel(3, 3), qRgb(255, 0, 0));
    EXPECT_FALSE(w.PaintPending());
    w.Invalidate();
    EXPECT_TRUE(w.PaintPending());
    shot = w.grab().toImage();
    EXPECT_EQ(w.paints, 2);
    EXPECT_EQ(shot.pixel(3, 3), qRgb(0, 0, 255));
    // A resize brings a new bitmap of the new size and a repaint.
    w.resize(30, 12);
    shot = w.grab().toImage();
    EXPECT_EQ(w.paints, 3);
    EXPECT_EQ(w.WindowBitmap()->Width(), 30);
    EXPECT_EQ(shot.pixel(29, 11), qRgb(0, 0, 255));
}

}  // namespace
