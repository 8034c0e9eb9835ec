#pragma once
// The imaging layer: one raster image in a record (`BitmapHandle`) with its
// pixels in a drawing-layer bitmap, its palette (the bitmap's colour table) and
// its region (selection), plus the conversions, device contexts, row access
// and file loading that the bitmap wrapper and the stores build on.
//
// Results follow one rule: an int result of 1 (or a positive value) is
// success, 0 or a negative value failure. Nothing throws.
//
// Definitions of this layer:
//  - Pixels are stored top-down, rows padded to 4 bytes (the drawing layer's
//    format: 1/4-bit pixels from the most significant bit, 24-bit pixels blue,
//    green, red). Row calls address stored rows. The view perspective is
//    kTopLeft for everything this layer makes; kBottomLeft (set only by the
//    caller) means the stored rows run bottom-up, and ChangeViewPerspective to
//    kTopLeft reverses them.
//  - FlipBitmap, the transform toggle, reverses the order of the rows; applied
//    twice it restores the bitmap. The region is not moved.
//  - ChangeBitsPerPixel to 8: when the source is 8-bit and a pixel's palette
//    entry has the same red, green and blue at the same index of the target
//    palette, the pixel keeps its index (so a re-map onto the bitmap's own
//    palette is the identity, duplicate entries included). Any other colour
//    goes to the nearest of the first `colors` entries of the target palette
//    (squared RGB distance, lowest index on a tie). A target palette always
//    has 256 entries and becomes the bitmap's palette. With no palette or a
//    colour count of 0, an 8-bit bitmap is unchanged, a 1- or 4-bit bitmap
//    keeps its indices with its own table as the first entries, and deeper
//    bitmaps get a palette of their own colours when they have at most 256,
//    otherwise a 6 x 7 x 6 colour cube (252 entries). To 24 bits pixels expand
//    through the palette. To 1 or 4 bits colours go to the nearest entry of
//    the given palette (or the standard table). Nothing is ever dithered. The
//    colour order argument is accepted and has no effect.
//  - ResizeBitmap with flag kResizeSmooth is bilinear (pixel centres aligned)
//    for 24- and 32-bit bitmaps and nearest-pixel for the others; without it,
//    destination pixel k takes source pixel floor(k * old / new). The region is
//    kept, clipped to the new size.
//  - FillBitmap colours: 0x00BBGGRR is an RGB colour (the nearest entry for
//    indexed bitmaps), 0x010000nn palette index nn, 0x02BBGGRR an RGB colour
//    as well.
//  - Regions are held in bitmap coordinates, clipped to the bitmap. Region
//    exchange uses the seven-value RegionTransform: GetBitmapRegion maps each
//    rectangle's edges with floor(e * num / den) + offset; SetBitmapRegion and
//    SetBitmapRectRegion apply the inverse, floor((e - offset) * den / num).
//    Combine modes: kRegionSet replaces, kRegionAnd, kRegionOr, kRegionXor,
//    kRegionAndNot (the current region minus the new one).
//  - DrawRegionOutline paints the region's inner border (its pixels that
//    leave the region when moved by one pixel in any of the four directions),
//    after the transform, with an 8 x 8 diagonal pattern of the frame phase:
//    white where (x + y + phase) mod 8 >= 4, black elsewhere, x and y being the
//    coordinates in the context's bitmap (the pattern is aligned to its
//    origin). The caller advances the phase, 0 to 7, once per call.
//  - Loading, resizing and depth changes give the record new pixels: a
//    context made before them keeps drawing into the old ones.
//  - Memory options (kMemoryConventional, kMemoryLoader) are accepted; every
//    bitmap takes the drawing layer's memory, mapped page by page.
//
// Files. GetFileInfo reports the depth that loading produces: 8-bit palette
// files keep palette and indices exactly (duplicates included; the palette is
// padded with black to 256 entries); 1-bit files stay 1-bit; 2 to 7 bits
// become 8-bit with the same colours and indices; 8-bit grey files become
// 8-bit with a grey-ramp palette; every other depth becomes 24-bit (alpha is
// dropped). Resolution is the file's horizontal dots per inch, 0 when the file
// records none. Format codes:
//  - kFormatByRectangles (6): uncompressed BMP and uncompressed TIFF (strips
//    or tiles; 1, 2, 4 or 8-bit grey or palette, 8-bit RGB or RGBA), read by
//    this layer; a rectangle reads only the rows (strips, tiles) it covers.
//  - kFormatGif (55): GIF, read by this layer (Qt's reader gives true colour)
//    and always loaded whole through the 8-bit route.
//  - kFormatBmpRle, kFormatPng, kFormatJpeg, kFormatTiff (compressed or
//    unusual TIFF), kFormatPnm: decoded by Qt's image readers. LoadBitmapFileRect decodes the whole
//    image for these (JPEG decodes only up to the rectangle's rows where Qt allows a clip
//    rectangle) and keeps the rectangle.
// Files wider or taller than 2^20 pixels, or with a size below 1, are refused
// by GetFileInfo. LoadBitmapFile refuses, before allocating anything, a file
// whose pixels (and decoding buffer) would not fit in memory; rectangles of
// it can still be loaded with LoadBitmapFileRect.

#include <QRegion>
#include <cstdint>
#include <string>

#include "platform/Gdi.h"

namespace quillor::imaging {

using platform::gdi::COLORREF;
using platform::gdi::HDC;
using platform::gdi::HPALETTE;
using platform::gdi::RECT;
using platform::gdi::RegionTransform;
using platform::gdi::RGBQUAD;

constexpr std::uint32_t kBitmapAllocated = 1;  // bit 0 of BitmapHandle::flags

constexpr int kTopLeft = 1;
constexpr int kBottomLeft = 4;

constexpr int kMemoryConventional = 1;
constexpr int kMemoryLoader = 128;

constexpr int kResizeSmooth = 2;

enum RegionCombine {
    kRegionSet = 1,
    kRegionAnd = 2,
    kRegionOr = 3,
    kRegionXor = 4,
    kRegionAndNot = 5,
};

enum FileFormat {
    kFormatUnknown = 0,
    kFormatByRectangles = 6,
    kFormatBmp = kFormatByRectangles,
    kFormatBmpRle = 7,
    kFormatPng = 10,
    kFormatJpeg = 11,
    kFormatTiff = 12,
    kFormatPnm = 13,
    kFormatGif = 55,
};

// The record of one bitmap. A value-initialised record is empty.
struct BitmapHandle {
    std::uint32_t flags = 0;  // kBitmapAllocated while pixels are held
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int bytesPerLine = 0;
    int viewPerspective = 0;
    int colorCount = 0;   // palette entries: 2, 16 or 256; 0 above 8 bits
    int xResolution = 0;  // dots per inch
    int yResolution = 0;
    platform::gdi::HBITMAP pixels;
    bool hasRegion = false;
    QRegion region;  // bitmap coordinates
    int lockCount = 0;

    bool IsAllocated() const { return (flags & kBitmapAllocated) != 0; }
};

// Allocation. AllocateBitmap frees what the record held and allocates
// zero-filled pixels (1, 4, 8, 16, 24 or 32 bits, 1 to 2^20 pixels each way)
// with the standard table for indexed depths; resolution 0. Returns 1, or 0
// with the record left empty.
int AllocateBitmap(BitmapHandle* bitmap, int memoryOption, int width, int height, int bits);
// Frees pixels and region; the record becomes empty.
void FreeBitmap(BitmapHandle* bitmap);
// Fills in size, depth and bytes per line without pixels (not allocated).
// Returns 1, or 0 for an unsupported depth or size.
int InitBitmap(BitmapHandle* bitmap, int width, int height, int bits);

// Palette entries first .. first + count - 1 (those inside the table).
// Returns 1, or 0 when not allocated, not indexed or the range is invalid.
int GetBitmapPalette(const BitmapHandle* bitmap, int first, int count, RGBQUAD* out);
int SetBitmapPalette(BitmapHandle* bitmap, int first, int count, const RGBQUAD* in);

// Converts src to the given depth into dst (which may be src). palette holds
// 256 entries for a target of 8 bits, 2 or 16 for 1 or 4 bits.
int ChangeBitsPerPixel(BitmapHandle* dst, const BitmapHandle* src, int bits, int order,
                       const RGBQUAD* palette, int colors);

// Resizes in place; flags kResizeSmooth or 0. Returns 1, 0 on failure.
int ResizeBitmap(BitmapHandle* bitmap, int width, int height, int flags);

// A memory context with the bitmap's own pixels selected (shared, not
// copied); null when not allocated. Delete it with DeleteBitmapDC.
HDC CreateBitmapDC(BitmapHandle* bitmap);
void DeleteBitmapDC(HDC dc);

// Row access: GetBitmapRow and PutBitmapRow work between LockBitmap and
// UnlockBitmap (which nest). They copy min(bytes, bytesPerLine) bytes of
// stored row `row` and return that count, or -1 when not locked, not
// allocated or the row is outside the bitmap.
int LockBitmap(BitmapHandle* bitmap);
int UnlockBitmap(BitmapHandle* bitmap);
long GetBitmapRow(const BitmapHandle* bitmap, void* buffer, int row, long bytes);
long PutBitmapRow(BitmapHandle* bitmap, const void* buffer, int row, long bytes);

// Fills the region (the whole bitmap when it has none) with the colour.
int FillBitmap(BitmapHandle* bitmap, COLORREF color);
// The transform toggle: reverses the row order.
int FlipBitmap(BitmapHandle* bitmap);
// Changes src's view perspective to `perspective` in place (dst is ignored
// and may be null). Returns 1, 0 for an unknown perspective.
int ChangeViewPerspective(BitmapHandle* dst, BitmapHandle* src, int perspective);

// Regions (a null transform is the identity).
bool BitmapHasRegion(const BitmapHandle* bitmap);
void FreeBitmapRegion(BitmapHandle* bitmap);
int GetBitmapRegion(const BitmapHandle* bitmap, const RegionTransform* transform, QRegion* out);
int SetBitmapRegion(BitmapHandle* bitmap, const RegionTransform* transform, const QRegion& region,
                    int combine);
int SetBitmapRectRegion(BitmapHandle* bitmap, const RegionTransform* transform, const RECT& rect,
                        int combine);

// A palette of the bitmap's colour table, selected into dc; null for a bitmap
// above 8 bits, a bitmap that is not allocated or a null context.
HPALETTE SelectBitmapPalette(HDC dc, const BitmapHandle* bitmap);
// Paints the region's outline into dc (see above). Returns 1, 0 when the
// bitmap has no region or the context has no bitmap.
int DrawRegionOutline(HDC dc, const BitmapHandle* bitmap, const RegionTransform* transform,
                      int frame);

struct FileInfo {
    int format = kFormatUnknown;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;  // the depth loading produces: 1, 8 or 24
    int xResolution = 0;   // dots per inch, 0 when the file has none
    int yResolution = 0;
};

// Load options: a record of 44 bytes. `passes` (the field at byte 12) is
// accepted; files are always decoded in one pass.
struct LoadOptions {
    std::int32_t size = 44;
    std::int32_t flags = 0;
    std::int32_t page = 1;
    std::int32_t passes = 0;
    std::int32_t reserved[7] = {};
};
static_assert(sizeof(LoadOptions) == 44);

// Returns 1, or a negative value when the file cannot be read or its size is
// refused.
int GetFileInfo(const std::string& path, FileInfo* info);
void GetDefaultLoadOptions(LoadOptions* options);
// Loads the whole file into the record. bits 0 keeps the depth of FileInfo;
// another depth converts to it. An allocated record (of any size) receives
// the file's size and pixels. order and flags are accepted; options and info
// may be null. The file's resolution replaces the record's when it has one.
// Returns 1, 0 on failure (the record is then left as it was).
int LoadBitmapFile(const std::string& path, BitmapHandle* bitmap, int bits, int order, int flags,
                   const LoadOptions* options, const FileInfo* info);
// Loads the rectangle (x, y, width, height) of the file into the record,
// which becomes width x height; parts outside the image stay 0. Returns 1,
// or 0 when the file cannot be read or the rectangle misses the image.
int LoadBitmapFileRect(const std::string& path, BitmapHandle* bitmap, int x, int y, int width,
                       int height);

}  // namespace quillor::imaging
