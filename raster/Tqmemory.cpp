#include "raster/Tqmemory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "raster/Compress.h"

namespace quillor {

namespace im = imaging;
namespace gdi = platform::gdi;

namespace {

constexpr int kPaletteSize = 256;
constexpr int kRemapColours = 250;
// White stands in as this colour while an 8-bit palette is re-mapped, so that
// the re-mapping keeps it as an entry of its own.
constexpr RGBQUAD kWhiteStandIn{253, 252, 253, 0};  // blue, green, red

bool IsWhite(const RGBQUAD& q) {
    return q.rgbRed == 255 && q.rgbGreen == 255 && q.rgbBlue == 255;
}

}  // namespace

TQuillorBitmap::~TQuillorBitmap() {
    Free();
}

void TQuillorBitmap::CacheFromHandle() {
    FWidth = FHandle.width;
    FHeight = FHandle.height;
    FBitsPerPixel = static_cast<std::uint16_t>(FHandle.bitsPerPixel);
}

void TQuillorBitmap::SetTransformFlag(std::uint8_t flag) {
    if (flag == FTransformFlag)
        return;
    if (IsAllocated())
        im::FlipBitmap(&FHandle);
    FTransformFlag = flag;
    NotifyChange();
}

void TQuillorBitmap::SetBitsPerPixel(int bits) {
    if (bits == FBitsPerPixel)
        return;
    if (IsAllocated()) {
        if (im::ChangeBitsPerPixel(&FHandle, &FHandle, bits, bits <= 8 ? 2 : 4, nullptr, 0) != 1)
            return;
        CacheFromHandle();
    } else if (FWidth > 0 && FHeight > 0) {
        if (im::AllocateBitmap(&FHandle, im::kMemoryConventional, FWidth, FHeight, bits) != 1)
            return;
        CacheFromHandle();
    } else {
        FBitsPerPixel = static_cast<std::uint16_t>(bits);
    }
    NotifyChange();
}

bool TQuillorBitmap::Create(int width, int height, const RGBQUAD* palette, int bits) {
    return Allocate(width, height, 0, palette, im::kMemoryConventional, bits);
}

bool TQuillorBitmap::Allocate(int width, int height, int resolution, const RGBQUAD* palette,
                              int memoryOption, int bits) {
    Free();
    if (im::AllocateBitmap(&FHandle, memoryOption, width, height, bits) != 1)
        return false;
    FHandle.xResolution = resolution;
    FHandle.yResolution = resolution;
    if (bits == 8 && palette != nullptr &&
        im::SetBitmapPalette(&FHandle, 0, kPaletteSize, palette) != 1) {
        im::FreeBitmap(&FHandle);
        return false;
    }
    CacheFromHandle();
    NotifyChange();
    return true;
}

void TQuillorBitmap::GetPalette(int first, int count, RGBQUAD* out) {
    if (IsAllocated())
        im::GetBitmapPalette(&FHandle, first, count, out);
}

void TQuillorBitmap::SetPalette(int first, int count, const RGBQUAD* in) {
    if (IsAllocated())
        im::SetBitmapPalette(&FHandle, first, count, in);
}

HDC TQuillorBitmap::GetBitmapDC() {
    if (FInUse)
        return nullptr;
    HDC dc = im::CreateBitmapDC(&FHandle);
    if (dc == nullptr)
        return nullptr;
    FInUse = 1;
    return dc;
}

void TQuillorBitmap::ReleaseBitmapDC(HDC dc) {
    if (dc == nullptr)
        return;
    im::DeleteBitmapDC(dc);
    FInUse = 0;
}

im::BitmapHandle* TQuillorBitmap::GetHandle() {
    return IsAllocated() ? &FHandle : nullptr;
}

HDC TQuillorBitmap::RawDC() {
    return im::CreateBitmapDC(&FHandle);
}

void TQuillorBitmap::Free() {
    if (!IsAllocated())
        return;
    // No row buffer or data lock may outlive the pixels.
    if (FRowLockCount > 0) {
        FRowLockCount = 1;
        EndRowAccess();
    }
    FRowLockCount = 0;
    if (im::BitmapHasRegion(&FHandle))
        im::FreeBitmapRegion(&FHandle);
    im::FreeBitmap(&FHandle);
    FWidth = 0;
    FHeight = 0;
    FBitsPerPixel = 0;
}

bool TQuillorBitmap::Resize(int width, int height, bool smooth) {
    if (width < 1 || height < 1)
        return false;
    bool ok;
    if (IsAllocated()) {
        ok = (width == FHandle.width && height == FHandle.height) ||
             im::ResizeBitmap(&FHandle, width, height, smooth ? im::kResizeSmooth : 0) > 0;
    } else {
        ok = im::AllocateBitmap(&FHandle, im::kMemoryConventional, width, height, FBitsPerPixel) ==
             1;
    }
    if (!ok)
        return false;
    CacheFromHandle();
    NotifyChange();
    return true;
}

bool TQuillorBitmap::CopyFrom(VantrelBitmap& source, std::uint32_t rop) {
    if (&source == this)
        return false;
    std::optional<QRegion> region;
    if (!IsAllocated()) {
        std::array<RGBQUAD, kPaletteSize> palette{};
        const bool indexed8 = source.BitsPerPixel() == 8;
        if (indexed8)
            source.GetPalette(0, kPaletteSize, palette.data());
        if (!Create(source.Width(), source.Height(), indexed8 ? palette.data() : nullptr,
                    source.BitsPerPixel()))
            return false;
    } else {
        region = GetRegion(true);
    }
    HDC src = source.GetBitmapDC();
    HDC dst = src != nullptr ? RawDC() : nullptr;
    bool ok = false;
    if (src != nullptr && dst != nullptr)
        ok = gdi::BitBlt(dst, 0, 0, FWidth, FHeight, src, 0, 0, rop);
    if (dst != nullptr)
        im::DeleteBitmapDC(dst);
    if (src != nullptr)
        source.ReleaseBitmapDC(src);
    if (region)
        SetRegion(*region, im::kRegionSet);
    if (!ok)
        return false;
    if (auto* quillor = dynamic_cast<TQuillorBitmap*>(&source))
        FUserFlag = quillor->FUserFlag;
    return true;
}

void TQuillorBitmap::PutRows(const void* buffer, int stride, bool bottomUp) {
    if (!IsAllocated() || buffer == nullptr)
        return;
    im::LockBitmap(&FHandle);
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    for (int i = 0; i < FHandle.height; ++i, p += stride)
        im::PutBitmapRow(&FHandle, p, bottomUp ? FHandle.height - 1 - i : i, stride);
    im::UnlockBitmap(&FHandle);
}

void TQuillorBitmap::GetRows(void* buffer, int stride, bool bottomUp) {
    if (!IsAllocated() || buffer == nullptr)
        return;
    im::LockBitmap(&FHandle);
    auto* p = static_cast<std::uint8_t*>(buffer);
    for (int i = 0; i < FHandle.height; ++i, p += stride)
        im::GetBitmapRow(&FHandle, p, bottomUp ? FHandle.height - 1 - i : i, stride);
    im::UnlockBitmap(&FHandle);
}

namespace {
// A zeroed buffer for all of a bitmap's rows; false when memory is short.
bool AllocatePixelBlock(const im::BitmapHandle& handle, std::vector<std::uint8_t>* block) {
    const std::size_t size =
        static_cast<std::size_t>(handle.bytesPerLine) * static_cast<std::size_t>(handle.height);
    try {
        block->assign(size, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
}  // namespace

bool TQuillorBitmap::ReadPixels(platform::File& file, int mode) {
    if (!IsAllocated() || mode == kCompressRefused)
        return false;
    std::vector<std::uint8_t> block;
    if (!AllocatePixelBlock(FHandle, &block) || !ReadBlock(file, block.data(), block.size(), mode))
        return false;
    PutRows(block.data(), FHandle.bytesPerLine, false);
    return true;
}

bool TQuillorBitmap::WritePixels(platform::File& file, int mode) {
    if (!IsAllocated() || mode == kCompressRefused)
        return false;
    std::vector<std::uint8_t> block;
    if (!AllocatePixelBlock(FHandle, &block))
        return false;
    GetRows(block.data(), FHandle.bytesPerLine, false);
    return WriteBlock(file, block.data(), block.size(), mode);
}

bool TQuillorBitmap::BeginRowAccess() {
    if (!IsAllocated())
        return false;
    if (++FRowLockCount == 1) {
        try {
            FRowBuffer.assign(static_cast<std::size_t>(FHandle.bytesPerLine), 0);
        } catch (const std::bad_alloc&) {
            FRowLockCount = 0;
            return false;
        }
        if (im::LockBitmap(&FHandle) != 1) {
            FRowLockCount = 0;
            std::vector<std::uint8_t>().swap(FRowBuffer);
            return false;
        }
    }
    return true;
}

void TQuillorBitmap::EndRowAccess() {
    if (FRowLockCount <= 0) {
        FRowLockCount = 0;
        return;
    }
    if (--FRowLockCount > 0)
        return;
    im::UnlockBitmap(&FHandle);
    std::vector<std::uint8_t>().swap(FRowBuffer);
}

std::uint8_t* TQuillorBitmap::GetRow(int y) {
    if (FRowLockCount <= 0 || !IsAllocated() || y < 0 || y >= FHandle.height)
        return nullptr;
    // A resize or depth change during row access changes the row length.
    if (FRowBuffer.size() != static_cast<std::size_t>(FHandle.bytesPerLine))
        FRowBuffer.resize(static_cast<std::size_t>(FHandle.bytesPerLine));
    im::GetBitmapRow(&FHandle, FRowBuffer.data(), y, static_cast<long>(FRowBuffer.size()));
    return FRowBuffer.data();
}

void TQuillorBitmap::FillRect(gdi::COLORREF colour, int left, int top, int right, int bottom) {
    if (!IsAllocated())
        return;
    std::optional<QRegion> selection = GetRegion(true);
    const gdi::RECT rect{left, top, right, bottom};
    im::SetBitmapRectRegion(&FHandle, nullptr, rect, im::kRegionSet);
    im::FillBitmap(&FHandle, colour);
    if (selection)
        SetRegion(*selection, im::kRegionSet);
    else
        im::FreeBitmapRegion(&FHandle);
}

std::optional<QRegion> TQuillorBitmap::GetRegion(bool freeIt) {
    if (!IsAllocated() || !im::BitmapHasRegion(&FHandle))
        return std::nullopt;
    QRegion region;
    if (im::GetBitmapRegion(&FHandle, nullptr, &region) != 1)
        return std::nullopt;
    if (freeIt)
        im::FreeBitmapRegion(&FHandle);
    return region;
}

int TQuillorBitmap::SetRegion(const QRegion& region, int combine) {
    return im::SetBitmapRegion(&FHandle, nullptr, region, combine);
}

// Keeps indexed files of up to 7 bits as they are, re-maps 8-bit palettes
// onto themselves keeping pure white as an entry of its own, and converts
// everything deeper than 8 bits to 24 bits.
bool TQuillorBitmap::NormaliseDepth(bool wholeFile) {
    const int bits = FHandle.bitsPerPixel;
    if (bits == 8) {
        std::array<RGBQUAD, kPaletteSize> palette{};
        im::GetBitmapPalette(&FHandle, 0, kPaletteSize, palette.data());
        std::vector<int> whites;  // the entries that stand in for white
        for (int i = 0; i < kPaletteSize; ++i) {
            if (IsWhite(palette[i])) {
                whites.push_back(i);
                palette[i] = kWhiteStandIn;
            }
        }
        if (!whites.empty())
            im::SetBitmapPalette(&FHandle, 0, kPaletteSize, palette.data());
        for (RGBQUAD& q : palette)
            q.rgbReserved = 2;
        if (wholeFile)
            im::ChangeBitsPerPixel(&FHandle, &FHandle, 8, 2, palette.data(), kRemapColours);
        else
            im::ChangeBitsPerPixel(&FHandle, &FHandle, 8, 2, nullptr, 0);
        if (!whites.empty()) {
            if (!wholeFile)
                im::GetBitmapPalette(&FHandle, 0, kPaletteSize, palette.data());
            for (int i : whites) {
                palette[i].rgbRed = 255;
                palette[i].rgbGreen = 255;
                palette[i].rgbBlue = 255;
            }
            const int count =
                wholeFile ? std::clamp(FHandle.colorCount, 1, kPaletteSize) : kPaletteSize;
            im::SetBitmapPalette(&FHandle, 0, count, palette.data());
        }
    } else if (bits > 8 && bits != 24) {
        if (im::ChangeBitsPerPixel(&FHandle, &FHandle, 24, 4, nullptr, 0) != 1)
            return false;
    }
    return true;
}

int TQuillorBitmap::LoadFile(const std::string& path, bool keep) {
    im::LoadOptions options;
    im::GetDefaultLoadOptions(&options);
    options.passes = 4;
    im::FileInfo info;
    if (!keep) {
        Free();
        if (im::GetFileInfo(path, &info) != 1 || info.width < 0 || info.height < 0)
            return 0;
        if (im::InitBitmap(&FHandle, info.width, info.height, info.bitsPerPixel) != 1)
            return 0;
    } else {
        // Row access must not span the new pixels.
        if (FRowLockCount > 0) {
            FRowLockCount = 1;
            EndRowAccess();
        }
    }
    if (im::LoadBitmapFile(path, &FHandle, 0, 1, 3, &options, keep ? nullptr : &info) != 1)
        return 0;
    if (FHandle.viewPerspective != im::kTopLeft)
        im::ChangeViewPerspective(nullptr, &FHandle, im::kTopLeft);
    if (FTransformFlag == 1)
        im::FlipBitmap(&FHandle);
    if (!NormaliseDepth(true))
        return 0;
    CacheFromHandle();
    const int fileResolution = keep ? FHandle.xResolution : info.xResolution;
    FResolution = fileResolution >= 1 ? fileResolution : FHandle.xResolution;
    NotifyChange();
    return 1;
}

int TQuillorBitmap::LoadFileRect(const std::string& path, int x, int y, int width, int height,
                                 const im::FileInfo& info) {
    Free();
    if (im::InitBitmap(&FHandle, width, height, info.bitsPerPixel) != 1)
        return 0;
    if (im::LoadBitmapFileRect(path, &FHandle, x, y, width, height) <= 0)
        return 0;
    if (FHandle.viewPerspective != im::kTopLeft)
        im::ChangeViewPerspective(nullptr, &FHandle, im::kTopLeft);
    if (FTransformFlag == 1)
        im::FlipBitmap(&FHandle);
    if (!NormaliseDepth(false))
        return 0;
    CacheFromHandle();
    FResolution = info.xResolution;
    NotifyChange();
    return 1;
}

bool TQBitmap::Setup(int width, int height, int bits) {
    Free();
    if (width < 1 || height < 1 || bits < 1)
        return false;
    const long long stride = ((static_cast<long long>(width) * bits + 31) / 32) * 4;
    if (stride > 0x7FFFFFFF)
        return false;
    try {
        FBlock.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    FWidth = width;
    FHeight = height;
    FBitsPerPixel = static_cast<std::uint16_t>(bits);
    FStride = static_cast<int>(stride);
    return true;
}

std::uint8_t* TQBitmap::Lock() {
    FAddress = FBlock.empty() ? nullptr : FBlock.data();
    return FAddress;
}

void TQBitmap::Fill(std::uint8_t value) {
    if (FAddress != nullptr)
        std::memset(FAddress, value, FBlock.size());
}

void TQBitmap::Unlock() {
    FAddress = nullptr;
}

void TQBitmap::Free() {
    Unlock();
    std::vector<std::uint8_t>().swap(FBlock);
    FWidth = FHeight = FBitsPerPixel = FStride = 0;
}

}  // namespace quillor
