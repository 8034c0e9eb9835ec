#include <fcntl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Gdi.h"
#include "raster/Compress.h"
#include "raster/Imaging.h"
#include "raster/Tqmemory.h"
#include "tests/common/TestSupport.h"
#include "tests/raster/ImageFiles.h"

namespace im = quillor::imaging;
namespace gdi = platform::gdi;
using gdi::HDC;
using gdi::RGBQUAD;
using quillor::TQBitmap;
using quillor::TQuillorBitmap;
using quillor::VantrelBitmap;

namespace {

constexpr int kDepths[] = {1, 4, 8, 16, 24, 32};

// The bitmap's pixels as 0x00RRGGBB values, row by row.
std::vector<std::uint32_t> Colours(TQuillorBitmap& bitmap) {
    im::BitmapHandle copy;
    EXPECT_EQ(im::ChangeBitsPerPixel(&copy, bitmap.GetHandle(), 24, 4, nullptr, 0), 1);
    std::vector<std::uint32_t> out;
    std::vector<std::uint8_t> row(std::size_t(copy.bytesPerLine));
    im::LockBitmap(&copy);
    for (int y = 0; y < copy.height; ++y) {
        im::GetBitmapRow(&copy, row.data(), y, long(row.size()));
        for (int x = 0; x < copy.width; ++x)
            out.push_back(std::uint32_t(row[3 * x + 2]) << 16 | std::uint32_t(row[3 * x + 1]) << 8 |
                          row[3 * x]);
    }
    im::UnlockBitmap(&copy);
    im::FreeBitmap(&copy);
    return out;
}

// A 24-bit bitmap with the given colours (0x00RRGGBB, row by row).
void Put24(TQuillorBitmap& bitmap, int width, int height, const std::vector<std::uint32_t>& c) {
    ASSERT_TRUE(bitmap.Create(width, height, nullptr, 24));
    const int stride = bitmap.BytesPerLine();
    std::vector<std::uint8_t> rows(std::size_t(stride * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = c[std::size_t(y * width + x)];
            rows[std::size_t(y * stride + 3 * x)] = std::uint8_t(v);
            rows[std::size_t(y * stride + 3 * x + 1)] = std::uint8_t(v >> 8);
            rows[std::size_t(y * stride + 3 * x + 2)] = std::uint8_t(v >> 16);
        }
    bitmap.PutRows(rows.data(), stride, false);
}

// A black-and-white checker pattern, which every depth holds exactly.
std::vector<std::uint32_t> Checker(int width, int height) {
    std::vector<std::uint32_t> c;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            c.push_back(((x / 2 + y) % 2) ? 0xFFFFFFu & 0xFFFFFF : 0);
    return c;
}

// Black-and-white colours at the given depth; an 8-bit bitmap gets a grey
// ramp, so that black is index 0 and white index 255 as at the other depths.
void MakeBlackAndWhite(TQuillorBitmap& bitmap, int width, int height,
                       const std::vector<std::uint32_t>& colours, int bits) {
    if (bits != 8) {
        Put24(bitmap, width, height, colours);
        bitmap.SetBitsPerPixel(bits);
        return;
    }
    std::array<RGBQUAD, 256> ramp{};
    for (int i = 0; i < 256; ++i)
        ramp[i] = RGBQUAD{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
    ASSERT_TRUE(bitmap.Create(width, height, ramp.data(), 8));
    const int stride = bitmap.BytesPerLine();
    std::vector<std::uint8_t> rows(std::size_t(stride * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rows[std::size_t(y * stride + x)] = colours[std::size_t(y * width + x)] ? 255 : 0;
    bitmap.PutRows(rows.data(), stride, false);
}

void MakeChecker(TQuillorBitmap& bitmap, int width, int height, int bits) {
    Put24(bitmap, width, height, Checker(width, height));
    bitmap.SetBitsPerPixel(bits);
    ASSERT_EQ(bitmap.BitsPerPixel(), bits);
}

TEST(QuillorBitmapTest, OnlyOneBitmapContextIsOutAtATime) {
    TQuillorBitmap empty;
    EXPECT_EQ(empty.GetBitmapDC(), nullptr);
    EXPECT_FALSE(empty.InUse());

    TQuillorBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(8, 8, nullptr, 24));
    HDC first = bitmap.GetBitmapDC();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(bitmap.InUse());
    EXPECT_EQ(bitmap.GetBitmapDC(), nullptr);
    // A raw context does not count as the one handed out.
    HDC raw = bitmap.RawDC();
    EXPECT_NE(raw, nullptr);
    im::DeleteBitmapDC(raw);
    EXPECT_TRUE(bitmap.InUse());
    bitmap.ReleaseBitmapDC(first);
    EXPECT_FALSE(bitmap.InUse());
    HDC again = bitmap.GetBitmapDC();
    EXPECT_NE(again, nullptr);
    bitmap.ReleaseBitmapDC(again);
}

TEST(QuillorBitmapTest, ChangesNotifyOnlyWhenSomethingChanged) {
    TQuillorBitmap bitmap;
    int changes = 0;
    bitmap.SetOnChange([&] { ++changes; });
    Put24(bitmap, 3, 2, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(changes, 1);
    const auto before = Colours(bitmap);

    bitmap.SetTransformFlag(0);  // the current value
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Colours(bitmap), before);

    bitmap.SetTransformFlag(1);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(Colours(bitmap), std::vector<std::uint32_t>({4, 5, 6, 1, 2, 3}));
    bitmap.SetTransformFlag(1);
    EXPECT_EQ(changes, 2);
    bitmap.SetTransformFlag(0);
    EXPECT_EQ(Colours(bitmap), before);

    const int n = changes;
    bitmap.SetBitsPerPixel(24);  // the current depth
    EXPECT_TRUE(bitmap.Resize(3, 2, false));
    EXPECT_EQ(Colours(bitmap), before);
    EXPECT_FALSE(bitmap.Resize(0, 2, false));
    EXPECT_FALSE(bitmap.Resize(3, -1, true));
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(changes, n + 1);  // only the successful resize

    bitmap.SetBitsPerPixel(8);  // six colours: a palette of its own colours
    EXPECT_EQ(changes, n + 2);
    EXPECT_EQ(bitmap.BitsPerPixel(), 8);
    EXPECT_EQ(bitmap.GetHandle()->bitsPerPixel, 8);
    EXPECT_EQ(Colours(bitmap), before);
}

TEST(QuillorBitmapTest, EmptyBitmapWithSizeAllocatesOnDepthOrResize) {
    TQuillorBitmap bitmap;
    EXPECT_FALSE(bitmap.Resize(4, 4, false));  // no depth yet
    bitmap.SetBitsPerPixel(8);
    EXPECT_FALSE(bitmap.IsAllocated());
    EXPECT_EQ(bitmap.BitsPerPixel(), 8);
    ASSERT_TRUE(bitmap.Resize(5, 3, false));
    EXPECT_TRUE(bitmap.IsAllocated());
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.BitsPerPixel(), 8);

    ASSERT_TRUE(bitmap.Resize(10, 6, false));
    EXPECT_EQ(bitmap.GetHandle()->width, 10);
    bitmap.Free();
    EXPECT_EQ(bitmap.GetHandle(), nullptr);
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.BitsPerPixel(), 0);
}

TEST(QuillorBitmapTest, CreateSetsTheWholePalette) {
    std::array<RGBQUAD, 256> palette{};
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2), 0};
    TQuillorBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(4, 4, palette.data(), 8));
    std::array<RGBQUAD, 256> out{};
    bitmap.GetPalette(0, 256, out.data());
    for (int i = 0; i < 256; ++i)
        EXPECT_TRUE(out[i].rgbBlue == palette[i].rgbBlue &&
                    out[i].rgbGreen == palette[i].rgbGreen && out[i].rgbRed == palette[i].rgbRed)
            << i;
    EXPECT_FALSE(bitmap.Create(0, 4, nullptr, 8));
    EXPECT_FALSE(bitmap.IsAllocated());
}

TEST(QuillorBitmapTest, FillRectKeepsTheSelection) {
    TQuillorBitmap bitmap;
    Put24(bitmap, 6, 4, std::vector<std::uint32_t>(24, 0));
    const QRegion selection = QRegion(0, 0, 3, 2) + QRegion(4, 3, 2, 1);
    bitmap.SetRegion(selection, im::kRegionSet);

    bitmap.FillRect(0x0000FF, 2, 1, 5, 4);  // red, right and bottom exclusive
    auto colours = Colours(bitmap);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 4;
            EXPECT_EQ(colours[std::size_t(y * 6 + x)], inside ? 0xFF0000u : 0u) << x << "," << y;
        }
    auto kept = bitmap.GetRegion(false);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(*kept, selection);

    // Without a selection none is left behind.
    TQuillorBitmap plain;
    Put24(plain, 3, 3, std::vector<std::uint32_t>(9, 0));
    plain.FillRect(0xFFFFFF, 0, 0, 1, 1);
    EXPECT_FALSE(plain.GetRegion(false).has_value());
    EXPECT_EQ(Colours(plain)[0], 0xFFFFFFu);
    EXPECT_EQ(Colours(plain)[1], 0u);
}

TEST(QuillorBitmapTest, GetRegionCanTakeTheSelectionOut) {
    TQuillorBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(5, 5, nullptr, 8));
    EXPECT_FALSE(bitmap.GetRegion(false).has_value());
    bitmap.SetRegion(QRegion(1, 1, 2, 2), im::kRegionSet);
    bitmap.SetRegion(QRegion(2, 2, 2, 2), im::kRegionOr);
    const QRegion expected = QRegion(1, 1, 2, 2) + QRegion(2, 2, 2, 2);
    EXPECT_EQ(bitmap.GetRegion(false), expected);
    EXPECT_EQ(bitmap.GetRegion(true), expected);
    EXPECT_FALSE(bitmap.GetRegion(false).has_value());
}

class PixelFileTest : public ::testing::Test {
  protected:
    platform::File OpenEmpty() {
        testsupport::WriteFile(path_, "");
        platform::File file = platform::File::Open(path_, O_RDWR);
        EXPECT_TRUE(file.IsOpen());
        return file;
    }
    testsupport::TempDir dir_;
    std::string path_ = dir_.File("pixels");
};

TEST_F(PixelFileTest, PixelsReadBackAtEveryDepthAndMode) {
    for (int bits : kDepths) {
        for (int mode : {0, 2, 7}) {
            TQuillorBitmap source;
            MakeChecker(source, 13, 5, bits);
            // Make the pixels less regular than the checker alone.
            source.FillRect(0x808080, 3, 1, 9, 4);
            platform::File file = OpenEmpty();
            ASSERT_TRUE(source.WritePixels(file, mode)) << bits << " " << mode;
            const std::int64_t raw = std::int64_t(source.BytesPerLine()) * 5;
            if (mode != 2) {
                EXPECT_EQ(file.Size(), raw) << bits;
            }
            file.Seek(0);
            TQuillorBitmap target;
            ASSERT_TRUE(target.Create(13, 5, nullptr, bits));
            if (bits <= 8) {  // the block holds pixels only: give the target the same table
                std::array<RGBQUAD, 256> table{};
                source.GetPalette(0, 1 << bits, table.data());
                target.SetPalette(0, 1 << bits, table.data());
            }
            ASSERT_TRUE(target.ReadPixels(file, mode)) << bits << " " << mode;
            EXPECT_EQ(Colours(target), Colours(source)) << bits << " " << mode;
        }
    }
}

TEST_F(PixelFileTest, RefusedModeAndEmptyBitmapsExchangeNothing) {
    TQuillorBitmap bitmap;
    MakeChecker(bitmap, 4, 4, 8);
    platform::File file = OpenEmpty();
    EXPECT_FALSE(bitmap.WritePixels(file, quillor::kCompressRefused));
    EXPECT_EQ(file.Size(), 0);
    EXPECT_FALSE(bitmap.ReadPixels(file, quillor::kCompressRefused));

    TQuillorBitmap empty;
    EXPECT_FALSE(empty.WritePixels(file, 0));
    EXPECT_EQ(file.Size(), 0);

    // A short file is a failed read that leaves the pixels alone.
    const auto before = Colours(bitmap);
    file.Write("ab", 2);
    file.Seek(0);
    EXPECT_FALSE(bitmap.ReadPixels(file, 0));
    EXPECT_EQ(Colours(bitmap), before);
}

TEST(QuillorBitmapTest, RowsGoBothWays) {
    TQuillorBitmap bitmap;
    ASSERT_TRUE(bitmap.Create(2, 3, nullptr, 8));
    const int stride = bitmap.BytesPerLine();
    ASSERT_EQ(stride, 4);
    const std::vector<std::uint8_t> rows = {1, 2, 0, 0, 3, 4, 0, 0, 5, 6, 0, 0};
    bitmap.PutRows(rows.data(), stride, true);  // the buffer's first row is the last
    std::vector<std::uint8_t> topDown(rows.size());
    bitmap.GetRows(topDown.data(), stride, false);
    EXPECT_EQ(topDown, std::vector<std::uint8_t>({5, 6, 0, 0, 3, 4, 0, 0, 1, 2, 0, 0}));
    std::vector<std::uint8_t> bottomUp(rows.size());
    bitmap.GetRows(bottomUp.data(), stride, true);
    EXPECT_EQ(bottomUp, rows);
}

TEST(QuillorBitmapTest, RowAccessNestsAndFreeEndsAllOfIt) {
    TQuillorBitmap bitmap;
    EXPECT_FALSE(bitmap.BeginRowAccess());
    ASSERT_TRUE(bitmap.Create(3, 2, nullptr, 8));
    const std::vector<std::uint8_t> rows = {7, 8, 9, 0, 10, 11, 12, 0};
    bitmap.PutRows(rows.data(), 4, false);

    EXPECT_EQ(bitmap.GetRow(0), nullptr);  // outside row access
    ASSERT_TRUE(bitmap.BeginRowAccess());
    ASSERT_TRUE(bitmap.BeginRowAccess());
    EXPECT_EQ(bitmap.RowLockCount(), 2);
    const std::uint8_t* row = bitmap.GetRow(1);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(row, row + 3), std::vector<std::uint8_t>({10, 11, 12}));
    for (int y : {-1, 2, 1000})
        EXPECT_EQ(bitmap.GetRow(y), nullptr) << y;
    bitmap.EndRowAccess();
    EXPECT_NE(bitmap.GetRow(0), nullptr);  // one level still open
    EXPECT_EQ(bitmap.GetHandle()->lockCount, 1);

    bitmap.Free();
    EXPECT_EQ(bitmap.RowLockCount(), 0);
    EXPECT_EQ(bitmap.GetRow(0), nullptr);
    bitmap.EndRowAccess();  // a stray end is harmless
    EXPECT_EQ(bitmap.RowLockCount(), 0);

    ASSERT_TRUE(bitmap.Create(3, 2, nullptr, 8));
    EXPECT_EQ(bitmap.GetHandle()->lockCount, 0);
    ASSERT_TRUE(bitmap.BeginRowAccess());
    EXPECT_EQ(bitmap.GetHandle()->lockCount, 1);
    bitmap.EndRowAccess();
    EXPECT_EQ(bitmap.GetHandle()->lockCount, 0);
}

TEST(QuillorBitmapTest, RowsStayWholeWhenTheBitmapChangesDuringRowAccess) {
    TQuillorBitmap bitmap;
    Put24(bitmap, 1, 2, {0x010203, 0x040506});
    ASSERT_TRUE(bitmap.BeginRowAccess());
    ASSERT_TRUE(bitmap.Resize(6, 2, false));  // 3 bytes a row become 20
    const std::uint8_t* row = bitmap.GetRow(1);
    ASSERT_NE(row, nullptr);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(row[3 * x + 2], 0x04) << x;
    EXPECT_EQ(bitmap.GetRow(2), nullptr);
    bitmap.EndRowAccess();
    EXPECT_EQ(bitmap.RowLockCount(), 0);
}

TEST(QuillorBitmapTest, CopyFromKeepsColoursBetweenAllDepths) {
    for (int from : kDepths)
        for (int to : kDepths) {
            TQuillorBitmap source;
            MakeChecker(source, 9, 4, from);
            source.SetUserFlag(1);
            TQuillorBitmap target;
            MakeChecker(target, 9, 4, to);
            target.FillRect(0xFFFFFF, 0, 0, 9, 4);
            target.SetRegion(QRegion(1, 1, 2, 2), im::kRegionSet);
            ASSERT_TRUE(target.CopyFrom(source, gdi::SRCCOPY)) << from << "->" << to;
            EXPECT_EQ(Colours(target), Checker(9, 4)) << from << "->" << to;
            EXPECT_EQ(target.GetRegion(false), QRegion(1, 1, 2, 2));
            EXPECT_EQ(target.UserFlag(), 1);
            EXPECT_FALSE(source.InUse());
        }
}

TEST(QuillorBitmapTest, CopyFromAppliesTheRasterOperation) {
    const std::vector<std::uint32_t> src = {0x0F0F0F, 0xF0F0F0, 0x123456, 0x000000};
    const std::vector<std::uint32_t> dst = {0x3C3C3C, 0xFFFFFF, 0x00FF00, 0xA5A5A5};
    struct Case {
        std::uint32_t rop;
        std::uint32_t (*op)(std::uint32_t s, std::uint32_t d);
    } cases[] = {
        {gdi::SRCCOPY, [](std::uint32_t s, std::uint32_t) { return s; }},
        {gdi::SRCAND, [](std::uint32_t s, std::uint32_t d) { return s & d; }},
        {gdi::SRCPAINT, [](std::uint32_t s, std::uint32_t d) { return s | d; }},
        {gdi::NOTSRCCOPY, [](std::uint32_t s, std::uint32_t) { return ~s & 0xFFFFFF; }},
    };
    for (const Case& c : cases) {
        for (int depth : {24, 32}) {
            TQuillorBitmap source, target;
            Put24(source, 2, 2, src);
            Put24(target, 2, 2, dst);
            source.SetBitsPerPixel(depth);
            ASSERT_TRUE(target.CopyFrom(source, c.rop)) << std::hex << c.rop;
            std::vector<std::uint32_t> expected;
            for (std::size_t i = 0; i < src.size(); ++i)
                expected.push_back(c.op(src[i], dst[i]));
            EXPECT_EQ(Colours(target), expected) << std::hex << c.rop << " " << depth;
        }
    }
}

TEST(QuillorBitmapTest, RasterOperationsOnBlackAndWhiteBetweenAllDepths) {
    // Black and white are all-zero and all-one colours at every depth.
    const int w = 8, h = 2;
    const std::vector<std::uint32_t> src = Checker(w, h);
    std::vector<std::uint32_t> dst;
    for (int i = 0; i < w * h; ++i)
        dst.push_back(i % 3 == 0 ? 0xFFFFFF : 0);
    struct Case {
        std::uint32_t rop;
        std::uint32_t (*op)(std::uint32_t s, std::uint32_t d);
    } cases[] = {
        {gdi::SRCCOPY, [](std::uint32_t s, std::uint32_t) { return s; }},
        {gdi::SRCAND, [](std::uint32_t s, std::uint32_t d) { return s & d; }},
        {gdi::SRCPAINT, [](std::uint32_t s, std::uint32_t d) { return s | d; }},
        {gdi::NOTSRCCOPY, [](std::uint32_t s, std::uint32_t) { return ~s & 0xFFFFFF; }},
    };
    for (const Case& c : cases)
        for (int from : kDepths)
            for (int to : kDepths) {
                TQuillorBitmap source, target;
                MakeBlackAndWhite(source, w, h, src, from);
                MakeBlackAndWhite(target, w, h, dst, to);
                ASSERT_TRUE(target.CopyFrom(source, c.rop));
                std::vector<std::uint32_t> expected;
                for (std::size_t i = 0; i < src.size(); ++i)
                    expected.push_back(c.op(src[i], dst[i]));
                EXPECT_EQ(Colours(target), expected)
                    << std::hex << c.rop << std::dec << " " << from << "->" << to;
            }
}

TEST(QuillorBitmapTest, CopyIntoEmptyBitmapTakesSizeDepthAndPalette) {
    std::array<RGBQUAD, 256> palette{};
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{std::uint8_t(i), 0, std::uint8_t(255 - i), 0};
    TQuillorBitmap source;
    ASSERT_TRUE(source.Create(7, 3, palette.data(), 8));
    const std::vector<std::uint8_t> rows(std::size_t(source.BytesPerLine() * 3), 200);
    source.PutRows(rows.data(), source.BytesPerLine(), false);

    TQuillorBitmap target;
    ASSERT_TRUE(target.CopyFrom(source, gdi::SRCCOPY));
    EXPECT_EQ(target.Width(), 7);
    EXPECT_EQ(target.Height(), 3);
    EXPECT_EQ(target.BitsPerPixel(), 8);
    std::array<RGBQUAD, 256> out{};
    target.GetPalette(0, 256, out.data());
    EXPECT_EQ(out[200].rgbBlue, 200);
    EXPECT_EQ(out[200].rgbRed, 55);
    EXPECT_EQ(Colours(target), Colours(source));

    // A source whose context is out cannot be copied.
    HDC held = source.GetBitmapDC();
    TQuillorBitmap other;
    ASSERT_TRUE(other.Create(7, 3, nullptr, 8));
    other.SetRegion(QRegion(0, 0, 1, 1), im::kRegionSet);
    EXPECT_FALSE(other.CopyFrom(source, gdi::SRCCOPY));
    EXPECT_EQ(other.GetRegion(false), QRegion(0, 0, 1, 1));
    source.ReleaseBitmapDC(held);
}

class LoadTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir_;
};

// An 8-bit file whose palette holds pure white (index 1) and the colour that
// stands in for white while the palette is re-mapped (index 2).
std::string WhitePaletteBmp() {
    imagefiles::BmpLayout layout;
    layout.width = 4;
    layout.height = 2;
    layout.bits = 8;
    layout.table = {{0, 0, 0}, {255, 255, 255}, {253, 252, 253}, {10, 20, 30}};
    layout.rows = {std::string("\x01\x02\x03\x00", 4), std::string("\x02\x01\x00\x03", 4)};
    layout.pixelsPerMetre = 3780;  // 96 dots per inch
    return imagefiles::Bmp(layout);
}

TEST_F(LoadTest, WhiteAndItsStandInKeepTheirOwnEntries) {
    const std::string path = dir_.File("white.bmp");
    testsupport::WriteFile(path, WhitePaletteBmp());
    im::FileInfo info;
    ASSERT_EQ(im::GetFileInfo(path, &info), 1);

    TQuillorBitmap whole, part;
    int changes = 0;
    whole.SetOnChange([&] { ++changes; });
    ASSERT_EQ(whole.LoadFile(path, false), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(whole.Resolution(), 96);
    ASSERT_EQ(part.LoadFileRect(path, 0, 0, 4, 2, info), 1);
    for (TQuillorBitmap* bitmap : {&whole, &part}) {
        EXPECT_EQ(bitmap->BitsPerPixel(), 8);
        std::array<RGBQUAD, 256> palette{};
        bitmap->GetPalette(0, 256, palette.data());
        EXPECT_EQ((std::array<int, 3>{palette[1].rgbRed, palette[1].rgbGreen, palette[1].rgbBlue}),
                  (std::array<int, 3>{255, 255, 255}));
        EXPECT_EQ((std::array<int, 3>{palette[2].rgbRed, palette[2].rgbGreen, palette[2].rgbBlue}),
                  (std::array<int, 3>{253, 252, 253}));
        std::vector<std::uint8_t> rows(8);
        bitmap->GetRows(rows.data(), 4, false);
        EXPECT_EQ(rows, std::vector<std::uint8_t>({1, 2, 3, 0, 2, 1, 0, 3}));
    }
}

TEST_F(LoadTest, TransformFlagAppliesToLoadedPixels) {
    const std::string path = dir_.File("white.bmp");
    testsupport::WriteFile(path, WhitePaletteBmp());
    TQuillorBitmap bitmap;
    bitmap.SetTransformFlag(1);
    ASSERT_EQ(bitmap.LoadFromFile(path), 1);
    std::vector<std::uint8_t> rows(8);
    bitmap.GetRows(rows.data(), 4, false);
    EXPECT_EQ(rows, std::vector<std::uint8_t>({2, 1, 0, 3, 1, 2, 3, 0}));
    EXPECT_EQ(bitmap.LoadFile(dir_.File("missing.bmp"), false), 0);
    EXPECT_FALSE(bitmap.IsAllocated());
}

TEST_F(LoadTest, DepthsAreNormalisedKeepingColours) {
    using imagefiles::Rgb;
    struct Case {
        int bits;
        int width;
        std::vector<Rgb> table;
        std::string row;  // one row, unpadded
        int loadedBits;
        std::vector<std::uint32_t> colours;
    } cases[] = {
        {1,
         8,
         {{0, 0, 0}, {255, 255, 255}},
         "\xA5",
         1,
         {0xFFFFFF, 0, 0xFFFFFF, 0, 0, 0xFFFFFF, 0, 0xFFFFFF}},
        {4,
         4,
         {{0, 0, 0}, {255, 255, 255}, {253, 252, 253}, {255, 0, 0}},
         "\x01\x23",
         8,
         {0, 0xFFFFFF, 0xFDFCFD, 0xFF0000}},
        {24, 2, {}, std::string("\x01\x02\x03\xFF\xFF\xFF", 6), 24, {0x030201, 0xFFFFFF}},
    };
    for (const Case& c : cases) {
        imagefiles::BmpLayout layout;
        layout.width = c.width;
        layout.height = 1;
        layout.bits = c.bits;
        layout.table = c.table;
        layout.rows = {c.row};
        const std::string path = dir_.File("depth" + std::to_string(c.bits) + ".bmp");
        testsupport::WriteFile(path, imagefiles::Bmp(layout));
        TQuillorBitmap bitmap;
        ASSERT_EQ(bitmap.LoadFile(path, false), 1) << c.bits;
        EXPECT_EQ(bitmap.BitsPerPixel(), c.loadedBits) << c.bits;
        EXPECT_EQ(Colours(bitmap), c.colours) << c.bits;
    }
}

TEST_F(LoadTest, RectanglesAndPreparedRecordsLoad) {
    const std::string path = dir_.File("white.bmp");
    testsupport::WriteFile(path, WhitePaletteBmp());
    im::FileInfo info;
    ASSERT_EQ(im::GetFileInfo(path, &info), 1);

    TQuillorBitmap part;
    ASSERT_EQ(part.LoadFileRect(path, 1, 0, 2, 2, info), 1);
    EXPECT_EQ(part.Width(), 2);
    EXPECT_EQ(part.Height(), 2);
    EXPECT_EQ(part.Resolution(), 96);
    std::vector<std::uint8_t> rows(8);
    part.GetRows(rows.data(), 4, false);
    EXPECT_EQ(rows, std::vector<std::uint8_t>({2, 3, 0, 0, 1, 0, 0, 0}));

    TQuillorBitmap prepared;
    ASSERT_TRUE(prepared.Allocate(4, 2, 72, nullptr, im::kMemoryLoader, 8));
    EXPECT_EQ(prepared.GetHandle()->xResolution, 72);
    ASSERT_EQ(prepared.LoadFile(path, true), 1);
    EXPECT_EQ(prepared.Resolution(), 96);
    std::vector<std::uint8_t> whole(8);
    prepared.GetRows(whole.data(), 4, false);
    EXPECT_EQ(whole, std::vector<std::uint8_t>({1, 2, 3, 0, 2, 1, 0, 3}));

    EXPECT_EQ(part.LoadFileRect(dir_.File("missing.bmp"), 0, 0, 2, 2, info), 0);
    EXPECT_FALSE(part.IsAllocated());
}

TEST(QBitmapTest, StrideIsPaddedToFourBytes) {
    struct Case {
        int width, bits, stride;
    } cases[] = {{1, 1, 4}, {32, 1, 4}, {33, 1, 8}, {3, 8, 4}, {5, 8, 8}, {3, 24, 12}, {7, 4, 4}};
    for (const Case& c : cases) {
        TQBitmap bitmap;
        ASSERT_TRUE(bitmap.Setup(c.width, 3, c.bits));
        EXPECT_EQ(bitmap.Stride(), c.stride) << c.width << "x" << c.bits;
    }
}

TEST(QBitmapTest, FillCoversTheBlockOnlyWhileLocked) {
    TQBitmap bitmap;
    EXPECT_EQ(bitmap.Lock(), nullptr);
    ASSERT_TRUE(bitmap.Setup(5, 3, 8));
    bitmap.Fill(9);  // not locked: nothing
    std::uint8_t* p = bitmap.Lock();
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 8 * 3; ++i)
        ASSERT_EQ(p[i], 0) << i;
    bitmap.Fill(0xAB);
    for (int i = 0; i < 8 * 3; ++i)
        ASSERT_EQ(p[i], 0xAB) << i;
    bitmap.Unlock();
    ASSERT_TRUE(bitmap.Setup(2, 2, 1));  // a new, zeroed block
    p = bitmap.Lock();
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(bitmap.Stride(), 4);
    bitmap.Free();
    EXPECT_EQ(bitmap.Lock(), nullptr);
    EXPECT_FALSE(bitmap.Setup(0, 3, 8));
}

}  // namespace
