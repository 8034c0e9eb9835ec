#pragma once
// Bitmaps in memory ("DIBs") and logical palettes.
//
// A bitmap has 1, 4, 8, 16 (5-5-5), 24 or 32 bits per pixel; rows are stored
// top-down, each padded to a multiple of 4 bytes; 1- and 4-bit pixels start at
// the most significant bits of a byte; 24-bit pixels are blue, green, red;
// 32-bit pixels blue, green, red, unused. Indexed depths carry a colour table
// of 2, 16 or 256 entries. Large bitmaps take anonymous memory that the system
// maps page by page on first touch, so pages never written cost nothing.

#include <QImage>
#include <cstddef>
#include <memory>
#include <vector>

#include "platform/GdiTypes.h"

namespace platform::gdi {

class Bitmap;
class Palette;
using HBITMAP = std::shared_ptr<Bitmap>;
using HPALETTE = std::shared_ptr<Palette>;

class Bitmap {
  public:
    // Largest width or height, and largest pixel block, a bitmap may have.
    static constexpr int kMaxDimension = 1 << 20;
    static constexpr std::size_t kMaxBytes = std::size_t(4) << 30;

    // A zero-filled bitmap. bitsPerPixel is 1, 4, 8, 16, 24 or 32. For the
    // indexed depths `colors` gives the first `colorCount` table entries (the
    // rest are black); without it the table is black and white (1 bit), the
    // sixteen standard colours (4 bits) or a grey ramp (8 bits). Returns null
    // for an unsupported depth, a size below 1 x 1 or above the limits, or
    // when memory runs out.
    static HBITMAP Create(int width, int height, int bitsPerPixel, const RGBQUAD* colors = nullptr,
                          int colorCount = 0);

    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitsPerPixel() const { return bpp_; }
    // Bytes per row, a multiple of 4.
    int Stride() const { return stride_; }
    std::size_t SizeBytes() const { return std::size_t(stride_) * std::size_t(height_); }
    bool IsIndexed() const { return bpp_ <= 8; }

    BYTE* Bits() { return bits_; }
    const BYTE* Bits() const { return bits_; }
    // Row y (0 is the top row); y must lie in 0..Height()-1.
    BYTE* Row(int y) { return bits_ + std::size_t(y) * std::size_t(stride_); }
    const BYTE* Row(int y) const { return bits_ + std::size_t(y) * std::size_t(stride_); }

    // The colour table: 2, 16 or 256 entries for indexed depths, none above.
    int ColorCount() const { return int(table_.size()); }
    const RGBQUAD* ColorTable() const { return table_.data(); }
    // Copy entries first..first+count-1 out or in; entries beyond the table
    // are left alone. Return the number of entries copied.
    int GetColorTable(int first, int count, RGBQUAD* out) const;
    int SetColorTable(int first, int count, const RGBQUAD* in);

    // Raw pixel values: a table index, a 5-5-5 word, or 0x00RRGGBB for 24 and
    // 32 bits. Out-of-range coordinates read 0 and write nothing.
    DWORD GetValue(int x, int y) const;
    void SetValue(int x, int y, DWORD value);

    // The RGB colour (0x00BBGGRR) of a raw value of this bitmap's format.
    COLORREF ColorOfValue(DWORD value) const;
    // The raw value that shows an RGB colour: the nearest table entry (squared
    // distance, lowest index on a tie) for indexed depths.
    DWORD ValueOfColor(COLORREF rgb) const;
    // The nearest table entry to an RGB colour; 0 for direct depths.
    DWORD NearestIndex(COLORREF rgb) const;

    // A new bitmap of the same depth and colour table.
    HBITMAP CreateCompatible(int width, int height) const;

    // A QImage on this bitmap's own pixels (no copy) for every depth Qt has;
    // 4-bit bitmaps come back as an 8-bit copy. The image must not outlive
    // the bitmap. 32-bit bitmaps are Format_RGB32, whose unused fourth byte
    // Qt may read as alpha when drawing.
    QImage ImageView();
    // A detached copy in 32-bit (0xffRRGGBB) form.
    QImage ToImage() const;

  private:
    Bitmap() = default;
    int width_ = 0;
    int height_ = 0;
    int bpp_ = 0;
    int stride_ = 0;
    BYTE* bits_ = nullptr;
    bool mapped_ = false;
    std::vector<RGBQUAD> table_;
};

// Bitmap factories under their usual names.
inline HBITMAP CreateDIBSection(int width, int height, int bitsPerPixel,
                                const RGBQUAD* colors = nullptr, int colorCount = 0) {
    return Bitmap::Create(width, height, bitsPerPixel, colors, colorCount);
}

// The colour of a 5-5-5 value, each 5-bit component widened to 8 bits by
// repeating its top bits (31 gives 255).
COLORREF ColorOf555(WORD value);
WORD ValueOf555(COLORREF rgb);

// A logical palette: up to 256 entries.
class Palette {
  public:
    explicit Palette(std::vector<PALETTEENTRY> entries) : entries_(std::move(entries)) {}
    int Size() const { return int(entries_.size()); }
    const std::vector<PALETTEENTRY>& Entries() const { return entries_; }
    int GetEntries(int first, int count, PALETTEENTRY* out) const;
    int SetEntries(int first, int count, const PALETTEENTRY* in);
    // Entry i as an RGB colour; black for an index beyond the palette.
    COLORREF ColorOf(int i) const;

  private:
    std::vector<PALETTEENTRY> entries_;
};

// count is limited to 1..256; null entries or a count below 1 give null.
HPALETTE CreatePalette(const PALETTEENTRY* entries, int count);
// A palette with the entries of a colour table.
HPALETTE CreatePaletteFromTable(const RGBQUAD* table, int count);
// A palette with a bitmap's colour table (null for direct depths).
HPALETTE CreatePaletteFromBitmap(const Bitmap& bitmap);
int GetPaletteEntries(const HPALETTE& palette, int first, int count, PALETTEENTRY* out);
int SetPaletteEntries(const HPALETTE& palette, int first, int count, const PALETTEENTRY* in);

}  // namespace platform::gdi
