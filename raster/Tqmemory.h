#pragma once
// Single bitmaps: the abstract bitmap interface shared with the union store,
// the bitmap wrapper over the imaging layer's record (size and depth cached,
// a device context on demand, nested row access, palettes, file loading, raw
// pixel exchange with open files, the selection region kept intact across its
// own operations), and a plain work raster.

#include <QRegion>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "raster/Imaging.h"

namespace quillor {

using platform::gdi::HDC;
using platform::gdi::RGBQUAD;

// The interface of every bitmap of the library. The base behaviour of each
// operation is to do nothing (false, 0 or none).
class VantrelBitmap {
  public:
    using ChangeHandler = std::function<void()>;

    VantrelBitmap() = default;
    virtual ~VantrelBitmap() = default;
    VantrelBitmap(const VantrelBitmap&) = delete;
    VantrelBitmap& operator=(const VantrelBitmap&) = delete;

    virtual void SetTransformFlag(std::uint8_t /*flag*/) {}
    virtual void SetBitsPerPixel(int /*bits*/) {}
    virtual bool Create(int /*width*/, int /*height*/, const RGBQUAD* /*palette*/, int /*bits*/) {
        return false;
    }
    virtual void GetPalette(int /*first*/, int /*count*/, RGBQUAD* /*out*/) {}
    virtual void SetPalette(int /*first*/, int /*count*/, const RGBQUAD* /*in*/) {}
    virtual int LoadFromFile(const std::string& /*path*/) { return 0; }
    virtual HDC GetBitmapDC() { return nullptr; }
    virtual void ReleaseBitmapDC(HDC /*dc*/) {}
    virtual imaging::BitmapHandle* GetHandle() { return nullptr; }

    std::uint8_t TransformFlag() const { return FTransformFlag; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int BitsPerPixel() const { return FBitsPerPixel; }
    bool InUse() const { return FInUse != 0; }
    // Called after every successful change of size, depth, allocation or
    // transform.
    void SetOnChange(ChangeHandler handler) { FOnChange = std::move(handler); }

  protected:
    void NotifyChange() {
        if (FOnChange)
            FOnChange();
    }

    std::uint8_t FTransformFlag = 0;
    int FWidth = 0;
    int FHeight = 0;
    std::uint16_t FBitsPerPixel = 0;  // 0: no pixels
    ChangeHandler FOnChange;
    imaging::BitmapHandle FHandle;
    std::uint8_t FInUse = 0;  // a context from GetBitmapDC is out
};

class TQuillorBitmap : public VantrelBitmap {
  public:
    TQuillorBitmap() = default;
    ~TQuillorBitmap() override;

    void SetTransformFlag(std::uint8_t flag) override;
    void SetBitsPerPixel(int bits) override;
    bool Create(int width, int height, const RGBQUAD* palette, int bits) override;
    void GetPalette(int first, int count, RGBQUAD* out) override;
    void SetPalette(int first, int count, const RGBQUAD* in) override;
    int LoadFromFile(const std::string& path) override { return LoadFile(path, false); }
    // None while a context from an earlier call is still out.
    HDC GetBitmapDC() override;
    void ReleaseBitmapDC(HDC dc) override;
    imaging::BitmapHandle* GetHandle() override;

    bool IsAllocated() const { return FHandle.IsAllocated(); }
    int BytesPerLine() const { return IsAllocated() ? FHandle.bytesPerLine : 0; }
    int Resolution() const { return FResolution; }
    std::uint8_t UserFlag() const { return FUserFlag; }
    void SetUserFlag(std::uint8_t flag) { FUserFlag = flag; }
    std::uint8_t Changed() const { return FChanged; }
    void SetChanged(std::uint8_t changed) { FChanged = changed; }
    int RowLockCount() const { return FRowLockCount; }
    // A store that locks the pixel data of its tiles for row access marks
    // them in use, so that they hand out no context and stay resident.
    void SetInUse(bool inUse) { FInUse = inUse ? 1 : 0; }

    bool Allocate(int width, int height, int resolution, const RGBQUAD* palette, int memoryOption,
                  int bits);
    // Frees the pixels and the region and ends every level of row access.
    void Free();
    bool Resize(int width, int height, bool smooth);
    // Copies the source's pixels over the whole of this bitmap with the raster
    // operation; the selection region is kept. An empty bitmap takes the
    // source's size, depth and palette first.
    bool CopyFrom(VantrelBitmap& source, std::uint32_t rop);
    // Every row, stride bytes apart in buffer (from the last row when bottomUp).
    void PutRows(const void* buffer, int stride, bool bottomUp);
    void GetRows(void* buffer, int stride, bool bottomUp);
    // Loads a file; keep: the record was prepared by Allocate. 1 or 0.
    int LoadFile(const std::string& path, bool keep);
    int LoadFileRect(const std::string& path, int x, int y, int width, int height,
                     const imaging::FileInfo& info);
    // The pixels, bytes per line x height, as one block (modes of WriteBlock;
    // mode 1 is refused).
    bool ReadPixels(platform::File& file, int mode);
    bool WritePixels(platform::File& file, int mode);

    // Row access nests; the row buffer lives from the first BeginRowAccess to
    // the last EndRowAccess (or Free).
    bool BeginRowAccess();
    void EndRowAccess();
    // Row y copied into the row buffer; null outside row access or for a row
    // outside the bitmap.
    std::uint8_t* GetRow(int y);

    // Fills the rectangle (right and bottom exclusive); the selection stays.
    void FillRect(platform::gdi::COLORREF colour, int left, int top, int right, int bottom);
    // The selection, or none; freeIt removes it from the bitmap.
    std::optional<QRegion> GetRegion(bool freeIt);
    int SetRegion(const QRegion& region, int combine);
    // A context of the pixels that does not count as the one handed out.
    // Delete it with imaging::DeleteBitmapDC.
    HDC RawDC();

  private:
    void CacheFromHandle();
    bool NormaliseDepth(bool wholeFile);

    int FResolution = 0;
    std::vector<std::uint8_t> FRowBuffer;
    std::uint8_t FUserFlag = 0;
    std::uint8_t FChanged = 1;
    int FRowLockCount = 0;
};

// A plain raster in one block, rows stride bytes apart (stride a multiple of 4).
class TQBitmap {
  public:
    bool Setup(int width, int height, int bits);
    // The block's address; null when there is none.
    std::uint8_t* Lock();
    // Sets every byte of the locked block; nothing when it is not locked.
    void Fill(std::uint8_t value);
    void Unlock();
    void Free();

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int BitsPerPixel() const { return FBitsPerPixel; }
    int Stride() const { return FStride; }

  private:
    std::vector<std::uint8_t> FBlock;
    std::uint8_t* FAddress = nullptr;
    int FWidth = 0;
    int FHeight = 0;
    int FBitsPerPixel = 0;
    int FStride = 0;
};

}  // namespace quillor
