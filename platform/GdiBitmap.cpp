#include "platform/GdiBitmap.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace platform::gdi {

namespace {

// Below this size the heap is cheaper; above it anonymous mappings give
// zero pages that are only backed once written.
constexpr std::size_t kMapThreshold = 256 * 1024;

const RGBQUAD kSixteenColours[16] = {
    MakeQuad(0, 0, 0),       MakeQuad(128, 0, 0),   MakeQuad(0, 128, 0),   MakeQuad(128, 128, 0),
    MakeQuad(0, 0, 128),     MakeQuad(128, 0, 128), MakeQuad(0, 128, 128), MakeQuad(192, 192, 192),
    MakeQuad(128, 128, 128), MakeQuad(255, 0, 0),   MakeQuad(0, 255, 0),   MakeQuad(255, 255, 0),
    MakeQuad(0, 0, 255),     MakeQuad(255, 0, 255), MakeQuad(0, 255, 255), MakeQuad(255, 255, 255),
};

COLORREF QuadColor(const RGBQUAD& q) {
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

}  // namespace

COLORREF ColorOf555(WORD v) {
    const int r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    return RGB((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
}

WORD ValueOf555(COLORREF c) {
    return WORD(((GetRValue(c) >> 3) << 10) | ((GetGValue(c) >> 3) << 5) | (GetBValue(c) >> 3));
}

HBITMAP Bitmap::Create(int width, int height, int bpp, const RGBQUAD* colors, int colorCount) {
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return nullptr;
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension)
        return nullptr;
    const std::size_t stride = ((std::size_t(width) * std::size_t(bpp) + 31) / 32) * 4;
    const std::size_t bytes = stride * std::size_t(height);
    if (bytes > kMaxBytes)
        return nullptr;

    HBITMAP bm(new Bitmap());
    bm->width_ = width;
    bm->height_ = height;
    bm->bpp_ = bpp;
    bm->stride_ = int(stride);
    if (bytes >= kMapThreshold) {
        void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED)
            return nullptr;
        bm->bits_ = static_cast<BYTE*>(p);
        bm->mapped_ = true;
    } else {
        bm->bits_ = static_cast<BYTE*>(std::calloc(bytes, 1));
        if (!bm->bits_)
            return nullptr;
    }

    if (bpp <= 8) {
        const int n = 1 << bpp;
        bm->table_.resize(n);
        if (colors && colorCount > 0) {
            std::copy_n(colors, std::min(n, colorCount), bm->table_.begin());
        } else if (bpp == 1) {
            bm->table_[1] = MakeQuad(255, 255, 255);
        } else if (bpp == 4) {
            std::copy_n(kSixteenColours, 16, bm->table_.begin());
        } else {
            for (int i = 0; i < 256; ++i)
                bm->table_[i] = MakeQuad(i, i, i);
        }
    }
    return bm;
}

Bitmap::~Bitmap() {
    if (!bits_)
        return;
    if (mapped_)
        ::munmap(bits_, SizeBytes());
    else
        std::free(bits_);
}

int Bitmap::GetColorTable(int first, int count, RGBQUAD* out) const {
    const int n = ColorCount();
    if (!out || first < 0 || count <= 0 || first >= n)
        return 0;
    const int k = std::min(count, n - first);
    std::copy_n(table_.begin() + first, k, out);
    return k;
}

int Bitmap::SetColorTable(int first, int count, const RGBQUAD* in) {
    const int n = ColorCount();
    if (!in || first < 0 || count <= 0 || first >= n)
        return 0;
    const int k = std::min(count, n - first);
    std::copy_n(in, k, table_.begin() + first);
    return k;
}

DWORD Bitmap::GetValue(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return 0;
    const BYTE* r = Row(y);
    switch (bpp_) {
        case 1:
            return (r[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (r[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        case 8:
            return r[x];
        case 16:
            return DWORD(r[2 * x]) | (DWORD(r[2 * x + 1] & 0x7F) << 8);
        case 24:
            return DWORD(r[3 * x]) | (DWORD(r[3 * x + 1]) << 8) | (DWORD(r[3 * x + 2]) << 16);
        default:
            return DWORD(r[4 * x]) | (DWORD(r[4 * x + 1]) << 8) | (DWORD(r[4 * x + 2]) << 16);
    }
}

void Bitmap::SetValue(int x, int y, DWORD v) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return;
    BYTE* r = Row(y);
    switch (bpp_) {
        case 1: {
            const BYTE m = BYTE(0x80 >> (x & 7));
            r[x >> 3] = (v & 1) ? BYTE(r[x >> 3] | m) : BYTE(r[x >> 3] & ~m);
            break;
        }
        case 4:
            if (x & 1)
                r[x >> 1] = BYTE((r[x >> 1] & 0xF0) | (v & 15));
            else
                r[x >> 1] = BYTE((r[x >> 1] & 0x0F) | ((v & 15) << 4));
            break;
        case 8:
            r[x] = BYTE(v);
            break;
        case 16:
            r[2 * x] = BYTE(v);
            r[2 * x + 1] = BYTE((v >> 8) & 0x7F);
            break;
        case 24:
            r[3 * x] = BYTE(v);
            r[3 * x + 1] = BYTE(v >> 8);
            r[3 * x + 2] = BYTE(v >> 16);
            break;
        default:
            r[4 * x] = BYTE(v);
            r[4 * x + 1] = BYTE(v >> 8);
            r[4 * x + 2] = BYTE(v >> 16);
            r[4 * x + 3] = 0;
            break;
    }
}

COLORREF Bitmap::ColorOfValue(DWORD v) const {
    if (bpp_ <= 8)
        return v < table_.size() ? QuadColor(table_[v]) : 0;
    if (bpp_ == 16)
        return ColorOf555(WORD(v));
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

DWORD Bitmap::NearestIndex(COLORREF c) const {
    const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    DWORD best = 0;
    int bestDist = 1 << 30;
    for (std::size_t i = 0; i < table_.size(); ++i) {
        const int dr = table_[i].rgbRed - r, dg = table_[i].rgbGreen - g,
                  db = table_[i].rgbBlue - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = DWORD(i);
            if (d == 0)
                break;
        }
    }
    return best;
}

DWORD Bitmap::ValueOfColor(COLORREF c) const {
    if (bpp_ <= 8)
        return NearestIndex(c);
    if (bpp_ == 16)
        return ValueOf555(c);
    return DWORD(GetBValue(c)) | (DWORD(GetGValue(c)) << 8) | (DWORD(GetRValue(c)) << 16);
}

HBITMAP Bitmap::CreateCompatible(int width, int height) const {
    return Create(width, height, bpp_, table_.empty() ? nullptr : table_.data(), ColorCount());
}

QImage Bitmap::ImageView() {
    QImage::Format format = QImage::Format_Invalid;
    switch (bpp_) {
        case 1:
            format = QImage::Format_Mono;
            break;
        case 8:
            format = QImage::Format_Indexed8;
            break;
        case 16:
            format = QImage::Format_RGB555;
            break;
        case 24:
            format = QImage::Format_BGR888;
            break;
        case 32:
            format = QImage::Format_RGB32;
            break;
        default:
            break;
    }
    QImage image;
    if (format != QImage::Format_Invalid) {
        image = QImage(bits_, width_, height_, stride_, format);
    } else {
        image = QImage(width_, height_, QImage::Format_Indexed8);
        if (image.isNull())
            return image;
        for (int y = 0; y < height_; ++y) {
            uchar* out = image.scanLine(y);
            for (int x = 0; x < width_; ++x)
                out[x] = uchar(GetValue(x, y));
        }
    }
    if (bpp_ <= 8) {
        QList<QRgb> colours;
        colours.reserve(int(table_.size()));
        for (const RGBQUAD& q : table_)
            colours.append(qRgb(q.rgbRed, q.rgbGreen, q.rgbBlue));
        image.setColorTable(colours);
    }
    return image;
}

QImage Bitmap::ToImage() const {
    QImage image(width_, height_, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < height_; ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width_; ++x) {
            const COLORREF c = ColorOfValue(GetValue(x, y));
            out[x] = qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
        }
    }
    return image;
}

int Palette::GetEntries(int first, int count, PALETTEENTRY* out) const {
    if (!out || first < 0 || count <= 0 || first >= Size())
        return 0;
    const int k = std::min(count, Size() - first);
    std::copy_n(entries_.begin() + first, k, out);
    return k;
}

int Palette::SetEntries(int first, int count, const PALETTEENTRY* in) {
    if (!in || first < 0 || count <= 0 || first >= Size())
        return 0;
    const int k = std::min(count, Size() - first);
    std::copy_n(in, k, entries_.begin() + first);
    return k;
}

COLORREF Palette::ColorOf(int i) const {
    if (i < 0 || i >= Size())
        return 0;
    const PALETTEENTRY& e = entries_[std::size_t(i)];
    return RGB(e.peRed, e.peGreen, e.peBlue);
}

HPALETTE CreatePalette(const PALETTEENTRY* entries, int count) {
    if (!entries || count < 1)
        return nullptr;
    count = std::min(count, 256);
    return std::make_shared<Palette>(std::vector<PALETTEENTRY>(entries, entries + count));
}

HPALETTE CreatePaletteFromTable(const RGBQUAD* table, int count) {
    if (!table || count < 1)
        return nullptr;
    count = std::min(count, 256);
    std::vector<PALETTEENTRY> e(std::size_t(count), PALETTEENTRY{});
    for (int i = 0; i < count; ++i)
        e[std::size_t(i)] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
    return std::make_shared<Palette>(std::move(e));
}

HPALETTE CreatePaletteFromBitmap(const Bitmap& bitmap) {
    return CreatePaletteFromTable(bitmap.ColorTable(), bitmap.ColorCount());
}

int GetPaletteEntries(const HPALETTE& palette, int first, int count, PALETTEENTRY* out) {
    return palette ? palette->GetEntries(first, count, out) : 0;
}

int SetPaletteEntries(const HPALETTE& palette, int first, int count, const PALETTEENTRY* in) {
    return palette ? palette->SetEntries(first, count, in) : 0;
}

}  // namespace platform::gdi
