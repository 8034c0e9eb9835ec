// File information and loading: depths, palettes, indices, resolution,
// rectangles and refused headers.
#include <gtest/gtest.h>

#include <QImage>
#include <QImageWriter>
#include <string>
#include <vector>

#include "raster/Imaging.h"
#include "tests/common/TestSupport.h"
#include "tests/raster/ImageFiles.h"

using namespace quillor::imaging;
using imagefiles::Rgb;
namespace gdi = platform::gdi;
using gdi::DWORD;

namespace {

class ImageLoad : public ::testing::Test {
  protected:
    std::string Put(const std::string& name, const std::string& bytes) {
        const std::string path = dir_.File(name);
        testsupport::WriteFile(path, bytes);
        return path;
    }
    // Loads the whole file; checks that information and result agree.
    BitmapHandle Load(const std::string& path, int expectedBits, int expectedFormat = -1) {
        FileInfo info;
        EXPECT_EQ(GetFileInfo(path, &info), 1);
        EXPECT_EQ(info.bitsPerPixel, expectedBits);
        if (expectedFormat >= 0) {
            EXPECT_EQ(info.format, expectedFormat);
        }
        LoadOptions options;
        GetDefaultLoadOptions(&options);
        options.passes = 4;
        BitmapHandle b;
        EXPECT_EQ(InitBitmap(&b, info.width, info.height, info.bitsPerPixel), 1);
        EXPECT_EQ(LoadBitmapFile(path, &b, 0, 1, 3, &options, &info), 1);
        EXPECT_TRUE(b.IsAllocated());
        EXPECT_EQ(b.bitsPerPixel, expectedBits);
        EXPECT_EQ(b.width, info.width);
        EXPECT_EQ(b.height, info.height);
        return b;
    }
    static RGBQUAD Entry(const BitmapHandle& b, int i) {
        RGBQUAD q{};
        GetBitmapPalette(&b, i, 1, &q);
        return q;
    }
    static DWORD At(const BitmapHandle& b, int x, int y) { return b.pixels->GetValue(x, y); }

    testsupport::TempDir dir_;
};

// 8-bit palette with duplicates and pure white: red at 0 and 2, white at 1
// and 3, blue at 4.
const std::vector<Rgb> kDupPalette = {
    {255, 0, 0}, {255, 255, 255}, {255, 0, 0}, {255, 255, 255}, {0, 0, 255}};

TEST_F(ImageLoad, PaletteBmpsKeepPaletteAndIndices) {
    struct Case {
        const char* name;
        int bits;
        std::vector<std::string> rows;  // top first
        int expectedBits;
        std::vector<DWORD> expected;  // row 0 then row 1, 5 pixels each
    };
    const Case cases[] = {
        {"8-bit",
         8,
         {std::string("\0\1\2\3\4", 5), std::string("\4\3\2\1\0", 5)},
         8,
         {0, 1, 2, 3, 4, 4, 3, 2, 1, 0}},
        // 4 bits: pixels 0 1 2 3 4 / 4 3 2 1 0, high nibble first.
        {"4-bit",
         4,
         {std::string("\x01\x23\x40", 3), std::string("\x43\x21\x00", 3)},
         8,
         {0, 1, 2, 3, 4, 4, 3, 2, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        imagefiles::BmpLayout layout;
        layout.width = 5;
        layout.height = 2;
        layout.bits = c.bits;
        layout.table = kDupPalette;
        layout.rows = c.rows;
        layout.pixelsPerMetre = 3780;  // 96 dots per inch
        BitmapHandle b = Load(Put("p.bmp", imagefiles::Bmp(layout)), c.expectedBits, kFormatBmp);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(At(b, i % 5, i / 5), c.expected[i]) << i;
        EXPECT_EQ(Entry(b, 1), gdi::MakeQuad(255, 255, 255));
        EXPECT_EQ(Entry(b, 3), gdi::MakeQuad(255, 255, 255));
        EXPECT_EQ(Entry(b, 2), gdi::MakeQuad(255, 0, 0));
        EXPECT_EQ(Entry(b, 5), gdi::MakeQuad(0, 0, 0));  // padding
        EXPECT_EQ(b.xResolution, 96);
        EXPECT_EQ(b.colorCount, 256);
    }
}

TEST_F(ImageLoad, BmpDepths) {
    // 1 bit stays 1 bit; 24 and 32 bits become 24-bit blue-green-red; a
    // top-down file reads the same; no resolution reads 0.
    imagefiles::BmpLayout mono;
    mono.width = 10;
    mono.height = 2;
    mono.bits = 1;
    mono.table = {{0, 0, 64}, {250, 250, 0}};
    mono.rows = {std::string("\x80\x40", 2), std::string("\x00\x40", 2)};
    BitmapHandle m = Load(Put("m.bmp", imagefiles::Bmp(mono)), 1);
    EXPECT_EQ(At(m, 0, 0), 1u);
    EXPECT_EQ(At(m, 1, 0), 0u);
    EXPECT_EQ(At(m, 9, 1), 1u);
    EXPECT_EQ(Entry(m, 1), gdi::MakeQuad(250, 250, 0));
    EXPECT_EQ(m.xResolution, 0);

    for (bool topDown : {false, true}) {
        SCOPED_TRACE(topDown);
        imagefiles::BmpLayout rgb;
        rgb.width = 2;
        rgb.height = 2;
        rgb.bits = 24;
        rgb.topDown = topDown;
        rgb.rows = {std::string("\x01\x02\x03\x04\x05\x06", 6),
                    std::string("\x07\x08\x09\x0a\x0b\x0c", 6)};
        BitmapHandle b = Load(Put("c.bmp", imagefiles::Bmp(rgb)), 24);
        EXPECT_EQ(At(b, 0, 0), 0x00030201u);
        EXPECT_EQ(At(b, 1, 1), 0x000c0b0au);
    }
    imagefiles::BmpLayout deep;
    deep.width = 1;
    deep.height = 1;
    deep.bits = 32;
    deep.rows = {std::string("\x10\x20\x30\xff", 4)};
    BitmapHandle d = Load(Put("d.bmp", imagefiles::Bmp(deep)), 24);
    EXPECT_EQ(At(d, 0, 0), 0x00302010u);
    imagefiles::BmpLayout five;  // 5-5-5: red 31, green 0, blue 16
    five.width = 1;
    five.height = 1;
    five.bits = 16;
    five.rows = {std::string("\x10\x7c", 2)};
    BitmapHandle f = Load(Put("f.bmp", imagefiles::Bmp(five)), 24);
    EXPECT_EQ(At(f, 0, 0), 0x00FF0083u);
}

TEST_F(ImageLoad, PngDepthsPalettesAndResolution) {
    const std::vector<Rgb> grey;
    struct Case {
        const char* name;
        int bitDepth, colourType;
        std::vector<Rgb> palette;
        std::vector<std::string> rows;
        int expectedBits;
        std::vector<DWORD> expected;  // first row
    };
    const Case cases[] = {
        {"palette 8", 8, 3, kDupPalette, {std::string("\3\2\1\0\4", 5)}, 8, {3, 2, 1, 0, 4}},
        // 2 bits: 3 2 1 0 1 packed from the top bits: 11 10 01 00 | 01 000000
        {"palette 2",
         2,
         3,
         {{0, 0, 0}, {9, 9, 9}, {9, 9, 9}, {255, 255, 255}},
         {std::string("\xe4\x40", 2)},
         8,
         {3, 2, 1, 0, 1}},
        {"grey 8", 8, 0, {}, {std::string("\x00\x10\x80\xfe\xff", 5)}, 8, {0, 16, 128, 254, 255}},
        {"grey 1", 1, 0, {}, {std::string("\xa8", 1)}, 1, {1, 0, 1, 0, 1}},
        {"rgb 16",
         16,
         2,
         {},
         {std::string("\x12\x34\x56\x78\x9a\xbc"
                      "\0\0\0\0\0\0"
                      "\xff\xff\0\0\0\0"
                      "\0\0\0\0\0\0"
                      "\0\0\0\0\0\0",
                      30)},
         24,
         {0x0012569a, 0, 0x00ff0000, 0, 0}},
        {"rgba 8",
         8,
         6,
         {},
         {std::string("\x10\x20\x30\x00"
                      "\x40\x50\x60\x80"
                      "\0\0\0\xff"
                      "\0\0\0\xff"
                      "\xff\xff\xff\xff",
                      20)},
         24,
         {0x00102030, 0x00405060, 0, 0, 0x00ffffff}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path =
            Put("i.png", imagefiles::Png(5, 1, c.bitDepth, c.colourType, c.palette, c.rows, 11811));
        BitmapHandle b = Load(path, c.expectedBits, kFormatPng);
        for (int x = 0; x < 5; ++x) {
            if (c.bitDepth == 16) {
                // 16-bit channels are narrowed by Qt's reader: within one step.
                for (int shift : {0, 8, 16})
                    EXPECT_NEAR(int((At(b, x, 0) >> shift) & 0xFF),
                                int((c.expected[x] >> shift) & 0xFF), 1)
                        << x;
            } else if (c.bitDepth == 1) {
                // A grey 1-bit file: the colour of each pixel, whatever index
                // the reader gives it.
                const RGBQUAD q = Entry(b, int(At(b, x, 0)));
                const int v = c.expected[x] ? 255 : 0;
                EXPECT_EQ(q, gdi::MakeQuad(v, v, v)) << x;
            } else {
                EXPECT_EQ(At(b, x, 0), c.expected[x]) << x;
            }
        }
        EXPECT_EQ(b.xResolution, 300);
        if (c.colourType == 3) {
            for (std::size_t i = 0; i < c.palette.size(); ++i)
                EXPECT_EQ(Entry(b, int(i)),
                          gdi::MakeQuad(c.palette[i].r, c.palette[i].g, c.palette[i].b))
                    << i;
        }
        if (c.colourType == 0 && c.bitDepth == 8) {
            EXPECT_EQ(Entry(b, 128), gdi::MakeQuad(128, 128, 128));
            EXPECT_EQ(Entry(b, 255), gdi::MakeQuad(255, 255, 255));
        }
    }
    // No pHYs chunk: resolution 0.
    BitmapHandle b = Load(Put("n.png", imagefiles::Png(1, 1, 8, 0, {}, {std::string(1, '\0')})), 8);
    EXPECT_EQ(b.xResolution, 0);
}

TEST_F(ImageLoad, OtherFormatsThroughQt) {
    QImage rgb(3, 2, QImage::Format_RGB32);
    rgb.fill(qRgb(200, 100, 50));
    QImage grey(3, 2, QImage::Format_Grayscale8);
    grey.fill(77);
    QImage mono(9, 2, QImage::Format_Mono);
    mono.fill(0);
    mono.setPixel(8, 1, 1);
    QImage indexed(3, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(1, 2, 3), qRgb(255, 255, 255)});
    indexed.setPixel(0, 0, 1);
    indexed.setPixel(1, 0, 2);
    indexed.setPixel(2, 0, 0);
    struct Case {
        const char* file;
        const QImage& image;
        int bits;
        int format;
    };
    const Case cases[] = {
        {"a.jpg", rgb, 24, kFormatJpeg},
        {"b.jpg", grey, 8, kFormatJpeg},
        {"c.ppm", rgb, 24, kFormatPnm},
        {"d.pgm", grey, 8, kFormatPnm},
        {"e.pbm", mono, 1, kFormatPnm},
        // Qt writes TIFF uncompressed: read strip by strip by the layer.
        {"f.tif", rgb, 24, kFormatByRectangles},
        {"g.tif", indexed, 8, kFormatByRectangles},
        {"h.tif", mono, 1, kFormatByRectangles},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir_.File(c.file);
        ASSERT_TRUE(c.image.save(QString::fromStdString(path)));
        BitmapHandle b = Load(path, c.bits, c.format);
        if (c.image.format() == QImage::Format_Indexed8) {
            EXPECT_EQ(At(b, 0, 0), 1u);
            EXPECT_EQ(At(b, 1, 0), 2u);
            EXPECT_EQ(Entry(b, 2), gdi::MakeQuad(255, 255, 255));
        } else if (c.bits == 1) {
            EXPECT_NE(At(b, 8, 1), At(b, 0, 0));
        } else if (c.bits == 24 && c.format != kFormatJpeg) {
            EXPECT_EQ(At(b, 2, 1), 0x00C86432u);
        }
    }
    // A compressed TIFF goes through Qt's reader.
    {
        QImageWriter writer(QString::fromStdString(dir_.File("z.tif")));
        writer.setCompression(1);
        ASSERT_TRUE(writer.write(rgb));
        BitmapHandle z = Load(dir_.File("z.tif"), 24, kFormatTiff);
        EXPECT_EQ(At(z, 2, 1), 0x00C86432u);
    }
    BitmapHandle g = Load(Put("g.gif", imagefiles::Gif()), 8, kFormatGif);
    EXPECT_EQ(At(g, 0, 0), 1u);
    EXPECT_EQ(At(g, 1, 0), 3u);
    EXPECT_EQ(Entry(g, 3), gdi::MakeQuad(255, 0, 0));
}

// Larger GIFs, whose codes grow to 12 bits and whose table fills and is
// cleared, plain and interlaced: indices as written, colours as Qt's own
// reader decodes them.
TEST_F(ImageLoad, LzwGifsDecodeAsQtDoes) {
    const int w = 97, h = 41;
    std::vector<Rgb> table;
    for (int i = 0; i < 256; ++i)
        table.push_back({std::uint8_t(i), std::uint8_t(255 - i), 7});
    table[9] = table[10];  // a duplicate entry
    std::vector<std::uint8_t> indices(std::size_t(w) * h);
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        // Runs of repeated values mixed with noise, so that both long and
        // short strings enter the table.
        indices[i] = (i / 13) % 3 == 0 ? std::uint8_t((seed >> 16) & 0xFF) : std::uint8_t(i / 50);
    }
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced);
        const std::string path = Put("l.gif", imagefiles::LzwGif(w, h, table, indices, interlaced));
        BitmapHandle b = Load(path, 8, kFormatGif);
        const QImage qt(QString::fromStdString(path));
        ASSERT_EQ(qt.width(), w);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const DWORD v = At(b, x, y);
                ASSERT_EQ(v, indices[std::size_t(y) * w + x]) << x << "," << y;
                const RGBQUAD q = Entry(b, int(v));
                ASSERT_EQ(qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue), qt.pixel(x, y) | 0xFF000000u);
            }
        EXPECT_EQ(Entry(b, 9), Entry(b, 10));
    }
    // A damaged stream is refused.
    std::string damaged = imagefiles::LzwGif(w, h, table, indices, false);
    damaged.resize(damaged.size() / 2);
    const std::string path = Put("d.gif", damaged);
    BitmapHandle b;
    EXPECT_EQ(LoadBitmapFile(path, &b, 0, 1, 3, nullptr, nullptr), 0);
}

TEST_F(ImageLoad, Rectangles) {
    // A 6 x 4 8-bit BMP whose pixel (x, y) is 10 * y + x.
    imagefiles::BmpLayout layout;
    layout.width = 6;
    layout.height = 4;
    layout.bits = 8;
    layout.table = kDupPalette;
    for (int y = 0; y < 4; ++y) {
        std::string row;
        for (int x = 0; x < 6; ++x)
            row += char(10 * y + x);
        layout.rows.push_back(row);
    }
    const std::string bmp = Put("r.bmp", imagefiles::Bmp(layout));
    QImage png(6, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            png.setPixel(x, y, qRgb(10 * y + x, 0, 0));
    const std::string pngPath = dir_.File("r.png");
    ASSERT_TRUE(png.save(QString::fromStdString(pngPath)));
    // The same values as grey in 2 x 3 tiles of a TIFF, and as strips of a
    // TIFF written by Qt.
    std::vector<std::uint8_t> grey;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            grey.push_back(std::uint8_t(10 * y + x));
    const std::string tiled = Put("t.tif", imagefiles::TiledGreyTiff(6, 4, 4, 3, grey));
    QImage stripImage(6, 4, QImage::Format_Grayscale8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            stripImage.scanLine(y)[x] = uchar(10 * y + x);
    const std::string strips = dir_.File("s.tif");
    {
        QImageWriter writer(QString::fromStdString(strips));
        ASSERT_TRUE(writer.write(stripImage));
    }
    FileInfo info;
    ASSERT_EQ(GetFileInfo(tiled, &info), 1);
    EXPECT_EQ(info.format, kFormatByRectangles);
    EXPECT_EQ(info.bitsPerPixel, 8);
    EXPECT_EQ(info.xResolution, 300);
    ASSERT_EQ(GetFileInfo(strips, &info), 1);
    EXPECT_EQ(info.format, kFormatByRectangles);

    struct Case {
        int x, y, w, h;
    };
    const Case cases[] = {{0, 0, 6, 4}, {1, 2, 3, 2}, {4, 3, 5, 5}, {-2, -1, 3, 3}};
    for (const Case& c : cases) {
        for (const std::string& path : {bmp, pngPath, tiled, strips}) {
            SCOPED_TRACE(testing::Message()
                         << path << " " << c.x << "," << c.y << " " << c.w << "x" << c.h);
            BitmapHandle b;
            ASSERT_EQ(LoadBitmapFileRect(path, &b, c.x, c.y, c.w, c.h), 1);
            EXPECT_EQ(b.width, c.w);
            EXPECT_EQ(b.height, c.h);
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    const int fx = c.x + x, fy = c.y + y;
                    const bool inside = fx >= 0 && fy >= 0 && fx < 6 && fy < 4;
                    const DWORD v = inside ? DWORD(10 * fy + fx) : 0;
                    const DWORD got = b.bitsPerPixel == 8 ? At(b, x, y) : At(b, x, y) >> 16;
                    EXPECT_EQ(got, v) << x << "," << y;
                }
            if (path == bmp) {
                EXPECT_EQ(Entry(b, 3), gdi::MakeQuad(255, 255, 255));
            }
        }
    }
    BitmapHandle b;
    EXPECT_EQ(LoadBitmapFileRect(bmp, &b, 6, 0, 2, 2), 0);  // misses the image
    EXPECT_EQ(LoadBitmapFileRect(bmp, &b, 0, 0, 0, 2), 0);
    EXPECT_EQ(LoadBitmapFileRect(dir_.File("none.bmp"), &b, 0, 0, 1, 1), 0);
}

TEST_F(ImageLoad, RefusedHeaders) {
    auto header = [](std::int32_t w, std::int32_t h) {
        imagefiles::BmpLayout s;
        s.width = 1;
        s.height = 1;
        s.bits = 8;
        s.table = kDupPalette;
        s.rows = {std::string(1, '\1')};
        s.claimedWidth = w;
        s.claimedHeight = h;
        return imagefiles::Bmp(s);
    };
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"zero width", header(0, 1)},
        {"negative width", header(-5, 1)},
        {"width above 2^20", header((1 << 20) + 1, 1)},
        {"height above 2^20", header(1, (1 << 20) + 1)},
        {"empty file", ""},
        {"not an image", "hello, world"},
        {"truncated header", header(1, 1).substr(0, 20)},
        {"png with huge size", imagefiles::Png(1, 1, 8, 0, {}, {std::string(1, '\0')})
                                   .replace(16, 4, std::string("\x7f\xff\xff\xff", 4))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Put("bad", c.bytes);
        FileInfo info;
        EXPECT_LT(GetFileInfo(path, &info), 0);
        BitmapHandle b;
        EXPECT_EQ(LoadBitmapFile(path, &b, 0, 1, 3, nullptr, nullptr), 0);
        EXPECT_FALSE(b.IsAllocated());
        EXPECT_EQ(LoadBitmapFileRect(path, &b, 0, 0, 1, 1), 0);
    }
    // A size whose pixels cannot be held: 2^20 x 2^20 at 24 bits (3 TiB),
    // top-down, with only its first row present. Information is given, the
    // whole load is refused without allocating, and a rectangle of the
    // first row still loads.
    imagefiles::BmpLayout huge;
    huge.width = 2;
    huge.height = 1;
    huge.bits = 24;
    huge.topDown = true;
    huge.rows = {std::string("\1\2\3\4\5\6", 6)};
    huge.claimedWidth = 1 << 20;
    huge.claimedHeight = 1 << 20;
    const std::string path = Put("huge.bmp", imagefiles::Bmp(huge));
    FileInfo info;
    ASSERT_EQ(GetFileInfo(path, &info), 1);
    EXPECT_EQ(info.width, 1 << 20);
    EXPECT_EQ(info.format, kFormatBmp);
    BitmapHandle b;
    EXPECT_EQ(LoadBitmapFile(path, &b, 0, 1, 3, nullptr, &info), 0);
    EXPECT_FALSE(b.IsAllocated());
    ASSERT_EQ(LoadBitmapFileRect(path, &b, 0, 0, 1, 1), 1);
    EXPECT_EQ(At(b, 0, 0), 0x00030201u);
    // A rectangle beyond the rows present fails rather than inventing pixels.
    EXPECT_EQ(LoadBitmapFileRect(path, &b, 0, 5, 1, 1), 0);
}

// Damaged copies of valid files of every format this layer reads itself:
// truncated at many lengths and with bytes overwritten. Every call gives a
// result (no crash, no hang, nothing read or written out of bounds under the
// sanitizers), and a load that succeeds gives a consistent record.
TEST_F(ImageLoad, DamagedFilesNeverCrash) {
    imagefiles::BmpLayout bmp;
    bmp.width = 7;
    bmp.height = 5;
    bmp.bits = 4;
    bmp.table = kDupPalette;
    bmp.rows.assign(5, std::string("\x12\x34\x01\x20", 4));
    std::vector<std::uint8_t> grey(7 * 5, 9);
    std::vector<Rgb> table(256, Rgb{1, 2, 3});
    std::vector<std::uint8_t> indices(40 * 9);
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = std::uint8_t(i * 7 % 251);
    const std::string originals[] = {
        imagefiles::Bmp(bmp),
        imagefiles::TiledGreyTiff(7, 5, 4, 2, grey),
        imagefiles::LzwGif(40, 9, table, indices, true),
        imagefiles::Png(3, 1, 8, 3, kDupPalette, {std::string("\1\2\3", 3)}),
    };
    std::uint32_t seed = 99;
    auto random = [&] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (const std::string& original : originals) {
        std::vector<std::string> damaged;
        for (std::size_t n = 0; n < original.size(); n += 1 + original.size() / 40)
            damaged.push_back(original.substr(0, n));
        for (int k = 0; k < 60; ++k) {
            std::string d = original;
            for (int j = 0; j < 3; ++j)
                d[random() % d.size()] = char(random());
            damaged.push_back(d);
        }
        for (const std::string& bytes : damaged) {
            const std::string path = Put("x", bytes);
            FileInfo info;
            const int known = GetFileInfo(path, &info);
            BitmapHandle b;
            const int whole = LoadBitmapFile(path, &b, 0, 1, 3, nullptr, nullptr);
            if (whole == 1) {
                ASSERT_TRUE(b.IsAllocated());
                ASSERT_EQ(known, 1);
                ASSERT_EQ(b.width, info.width);
                ASSERT_EQ(b.bitsPerPixel, info.bitsPerPixel);
            } else {
                ASSERT_EQ(whole, 0);
                ASSERT_FALSE(b.IsAllocated());
            }
            const int part = LoadBitmapFileRect(path, &b, 1, 1, 3, 3);
            ASSERT_TRUE(part == 0 || part == 1);
            if (part == 1) {
                ASSERT_EQ(b.width, 3);
            }
        }
    }
}

TEST_F(ImageLoad, LoadingIntoAnAllocatedRecordReplacesItOnlyOnSuccess) {
    BitmapHandle b;
    ASSERT_EQ(AllocateBitmap(&b, kMemoryLoader, 3, 3, 8), 1);
    b.xResolution = 150;
    b.pixels->SetValue(0, 0, 42);
    EXPECT_EQ(LoadBitmapFile(dir_.File("missing.png"), &b, 0, 1, 3, nullptr, nullptr), 0);
    EXPECT_EQ(At(b, 0, 0), 42u);
    const std::string path =
        Put("one.png", imagefiles::Png(2, 1, 8, 0, {}, {std::string("\7\0", 2)}));
    ASSERT_EQ(LoadBitmapFile(path, &b, 0, 1, 3, nullptr, nullptr), 1);
    EXPECT_EQ(b.width, 2);
    EXPECT_EQ(At(b, 0, 0), 7u);
    EXPECT_EQ(b.xResolution, 150);  // the file has none: the record's stays
    // A depth asked for converts.
    ASSERT_EQ(LoadBitmapFile(path, &b, 24, 1, 3, nullptr, nullptr), 1);
    EXPECT_EQ(b.bitsPerPixel, 24);
    EXPECT_EQ(At(b, 0, 0), 0x00070707u);
}

}  // namespace
