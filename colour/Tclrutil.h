#pragma once
// Colour records: the colour entry with its colour-book kind, names, values
// and tagged extras; the entry layouts of the palette file; and the colour
// arithmetic (RGB and HLS, CMY, packed colour words) of the colour controls.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class File;
}

namespace quillor {

// A Windows colour reference: red in bits 0-7, green 8-15, blue 16-23.
using COLORREF = std::uint32_t;

// Blue, green, red, reserved: the byte order of a colour-table entry.
struct tagRGBQUAD {
    std::uint8_t rgbBlue = 0;
    std::uint8_t rgbGreen = 0;
    std::uint8_t rgbRed = 0;
    std::uint8_t rgbReserved = 0;
    bool operator==(const tagRGBQUAD&) const = default;
};

// The info word of a colour entry.
constexpr std::uint16_t kInforKindMask = 0x000F;
constexpr std::uint16_t kInforColorName = 0x1000;
constexpr std::uint16_t kInforFileName = 0x2000;
constexpr std::uint16_t kInforUserColor = 0x4000;
constexpr std::uint16_t kInforMark = 0x8000;

// The info word in its legacy layout (entry layout 1, chosen-colour files).
constexpr std::uint16_t kLegacyUserColor = 0x0010;
constexpr std::uint16_t kLegacyMark = 0x0080;

// Stands for a component that has no value.
constexpr double kMissingValue = 999.0;

// The tag that holds the annotation text of a kind-6 colour (8-bit, with its
// terminating zero).
constexpr std::int16_t kAnnotationTagId = 101;

// The longest name an entry keeps: the file stores the length plus its
// terminating zero in 16 bits.
constexpr std::size_t kMaxColorTextLength = 65534;

// Bytes per element of a tag type; -1 for a type that has no size.
int ElementSize(int type);

// One tagged block of extra data.
struct TAdditionalColorDataTag {
    std::int16_t Id = 0;
    std::int16_t Type = 0;
    std::int32_t Count = 0;
    std::vector<std::uint8_t> Data;  // Count x element size bytes
    bool operator==(const TAdditionalColorDataTag&) const = default;
};

// The ordered list of tags of an entry; tags keep the order they were added in.
class TAdditionalColorData {
  public:
    // Appends a tag holding a copy of count x ElementSize(type) bytes of data.
    // Refused (false, nothing added) for a type without a size, a negative
    // count, or missing data for a non-empty tag.
    bool Add(std::int16_t id, std::int16_t type, std::int32_t count, const void* data);
    // The data of the first tag with that id, or nullptr.
    const std::vector<std::uint8_t>* Find(std::int16_t id) const;
    int GetCount() const { return static_cast<int>(tags_.size()); }
    const TAdditionalColorDataTag& GetTag(int index) const { return tags_.at(std::size_t(index)); }
    void Clear() { tags_.clear(); }
    void AppendCopies(const TAdditionalColorData& other);
    bool operator==(const TAdditionalColorData&) const = default;

  private:
    std::vector<TAdditionalColorDataTag> tags_;
};

// Reads palette data from an open file (through a buffer) or from bytes in
// memory, and always knows how much is left, so that no count read from the
// data can ask for more than the data still holds.
class TPaletteReader {
  public:
    // Reads from the file's current position to its end as it is now.
    explicit TPaletteReader(platform::File& file);
    TPaletteReader(const void* data, std::size_t size);
    TPaletteReader(const TPaletteReader&) = delete;
    TPaletteReader& operator=(const TPaletteReader&) = delete;

    // Exactly n bytes, or false.
    bool Read(void* buffer, std::size_t n);
    // Steps back over the byte just read.
    void UnreadByte();
    std::uint64_t Remaining() const;

    bool ReadU8(std::uint8_t* v);
    bool ReadU16(std::uint16_t* v);
    bool ReadI16(std::int16_t* v);
    bool ReadU32(std::uint32_t* v);
    bool ReadI32(std::int32_t* v);
    bool ReadF64(double* v);

  private:
    bool Refill();

    platform::File* file_ = nullptr;
    std::vector<std::uint8_t> buffer_;
    const std::uint8_t* data_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t unbuffered_ = 0;  // bytes of the file not yet in the buffer
};

// Collects the bytes of a palette in the current layout.
class TPaletteWriter {
  public:
    void Bytes(const void* data, std::size_t n);
    void U8(std::uint8_t v) { Bytes(&v, 1); }
    void U16(std::uint16_t v);
    void U32(std::uint32_t v);
    void F64(double v);
    const std::string& Data() const { return data_; }

  private:
    std::string data_;
};

// One colour entry of a palette or of the chosen-colour list.
class TColorData {
  public:
    TColorData();
    TColorData(const TColorData& other) { Assign(other); }
    TColorData& operator=(const TColorData& other) {
        Assign(other);
        return *this;
    }
    ~TColorData() = default;

    // Makes this record an exact copy of source.
    void Assign(const TColorData& source);

    std::uint16_t GetInfor() const { return Infor; }
    int GetKind() const { return Infor & kInforKindMask; }
    // Infor := (Infor AND 0x8000) OR (value AND 0x7FFF). Bit 12 and 13 say
    // whether the names are present: a name whose bit goes is dropped, a bit
    // that comes without a name brings an empty one.
    void SetKind(std::uint16_t value);
    // Takes an info word in the legacy layout.
    void SetInforLegacy(std::uint16_t value);

    COLORREF GetColorRef() const;

    // Names: nullptr when absent. Setting one sets or clears its info bit;
    // texts end at their first zero and keep at most kMaxColorTextLength units.
    const std::u16string* GetColorName() const { return ColorName ? &*ColorName : nullptr; }
    const std::u16string* GetFileName() const { return FileName ? &*FileName : nullptr; }
    void SetColorName(std::optional<std::u16string_view> name);
    void SetFileName(std::optional<std::u16string_view> name);

    void SetNormal(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
    void SetPrinterColor(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                         std::uint8_t green, std::uint8_t blue);
    void SetPantone1000(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                        std::uint8_t green, std::uint8_t blue);
    void SetPantoneTextile(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                           std::uint8_t green, std::uint8_t blue);
    void SetTQStandardColor(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                            std::uint8_t green, std::uint8_t blue);
    void SetTQTextileColor(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                           std::uint8_t green, std::uint8_t blue);
    void SetPantoneColor(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                         std::uint8_t green, std::uint8_t blue);
    // reserved, text3 and text4 are accepted and ignored. A name passed as
    // nullopt is absent; an empty one is present.
    void SetUserColor(std::uint16_t reserved, std::uint16_t page, std::uint8_t number,
                      std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                      std::optional<std::u16string_view> fileName,
                      std::optional<std::u16string_view> colorName,
                      std::optional<std::u16string_view> text3 = std::nullopt,
                      std::optional<std::u16string_view> text4 = std::nullopt);
    void SetUserColor(const TColorData& source);
    void SetPantoneColor2(const TColorData& source);

    // An 8-byte record of a headerless legacy palette.
    void SetFromLegacyRecord(const std::uint8_t record[8]);
    // Kind 1 becomes 3 (with the old page numbers renumbered), kind 2 becomes 4.
    void UpgradeKind();

    // One entry in layout 0, 1 or 2. False when the data ends inside the entry
    // or holds what no entry can (a count beyond what is left, a tag type
    // without a size, a layout-2 text count of 0); the record is then unchanged.
    bool Read(TPaletteReader& reader, int layout);
    // One entry in layout 2.
    void Write(TPaletteWriter& writer) const;

    // Every field, names and tags included.
    bool operator==(const TColorData& other) const;

    std::uint8_t Status = 0;
    std::uint16_t Page = 0;
    std::uint8_t Number = 0;
    std::uint8_t Extra = 0;
    std::int16_t Extra1 = 0;
    std::int16_t Extra2 = 0;
    std::int16_t Extra3 = 0;
    tagRGBQUAD Rgb;
    double Values[4];
    TAdditionalColorData Additional;

  private:
    void Reset();
    void SetColor(std::uint16_t kind, std::uint16_t page, std::uint8_t number, std::uint8_t red,
                  std::uint8_t green, std::uint8_t blue);
    void SetRgbAndValues(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
    void SyncNames();
    bool ReadLayout0(TPaletteReader& reader);
    bool ReadLayout1(TPaletteReader& reader);
    bool ReadLayout2(TPaletteReader& reader);
    bool ReadAdditional(TPaletteReader& reader, bool currentLayout);

    std::uint16_t Infor = 0;
    std::optional<std::u16string> FileName;
    std::optional<std::u16string> ColorName;
};

// Colour arithmetic. Hue in degrees (999.0 for a grey, which has no hue),
// lightness and saturation 0 to 1.
double MaxOf3(double x, double y, double z);
double MinOf3(double x, double y, double z);
void RgbToHls(std::uint8_t red, std::uint8_t green, std::uint8_t blue, double& h, double& l,
              double& s);
// Components are the floor of value x 255; values outside 0 to 1 (and NaN,
// taken as 0) are held at the nearest end instead of wrapping.
void HlsToRgb(std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue, double h, double l,
              double s);
double HlsValue(double h, double m1, double m2);
COLORREF HlsToColorRef(double h, double l, double s);
// The quad word: blue in bits 0-7, green 8-15, red 16-23.
std::uint32_t HlsToQuad(double h, double l, double s);
void QuadToHls(std::uint32_t quad, double& h, double& l, double& s);
COLORREF PackColorRef(std::uint32_t red, std::uint32_t green, std::uint32_t blue);
std::uint32_t PackQuad(std::uint32_t red, std::uint32_t green, std::uint32_t blue);

inline std::uint8_t RedOf(COLORREF c) {
    return std::uint8_t(c & 0xFF);
}
inline std::uint8_t GreenOf(COLORREF c) {
    return std::uint8_t((c >> 8) & 0xFF);
}
inline std::uint8_t BlueOf(COLORREF c) {
    return std::uint8_t((c >> 16) & 0xFF);
}

// Cyan, magenta and yellow are the complements of red, green and blue.
void ColorRefToCmy(COLORREF color, int& cyan, int& magenta, int& yellow);
// Components outside 0-255 are held at the nearest end.
COLORREF CmyToColorRef(int cyan, int magenta, int yellow);
// A component 0-255 as a whole percentage, rounded down (255 -> 100, 128 -> 50).
int ComponentPercentage(int value);

}  // namespace quillor
