#include "colour/Tclrutil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/Files.h"
#include "platform/SystemInfo.h"

namespace quillor {

namespace {

// Page numbers of the old Pantone 1000 book; position i is page i + 20 now.
constexpr std::uint16_t kOldPantonePages[148] = {
    11,  12,  13,  20,  30,  40,  50,  55,  60,  70,  75,  80,  90,   95,   100, 105, 110, 115, 120,
    130, 135, 137, 140, 150, 155, 160, 170, 180, 190, 200, 210, 220,  225,  230, 240, 250, 252, 253,
    257, 260, 265, 270, 275, 276, 277, 278, 280, 290, 300, 305, 310,  315,  320, 330, 335, 340, 350,
    352, 355, 358, 360, 370, 375, 380, 390, 400, 410, 420, 430, 440,  450,  455, 460, 470, 480, 490,
    500, 510, 520, 521, 522, 523, 524, 530, 535, 540, 550, 555, 560,  565,  570, 580, 590, 600, 605,
    610, 620, 625, 630, 635, 640, 645, 650, 660, 665, 670, 673, 677,  680,  685, 690, 695, 700, 710,
    713, 717, 720, 725, 730, 740, 750, 760, 770, 780, 790, 800, 810,  820,  830, 840, 850, 860, 870,
    880, 890, 900, 910, 920, 930, 940, 950, 960, 970, 980, 990, 1000, 1010, 1020};

constexpr std::size_t kReadBufferSize = 64 * 1024;

// Texts in the file are C strings: they end at their first zero.
std::u16string CText(std::u16string_view text) {
    std::size_t zero = text.find(u'\0');
    if (zero != std::u16string_view::npos)
        text = text.substr(0, zero);
    if (text.size() > kMaxColorTextLength)
        text = text.substr(0, kMaxColorTextLength);
    return std::u16string(text);
}

// An 8-bit text of layout 1 (a 16-bit length, then the bytes); nullopt when
// the length is 0. False when the data ends first.
bool ReadAnsiText(TPaletteReader& reader, std::optional<std::string>* text) {
    std::uint16_t length;
    if (!reader.ReadU16(&length))
        return false;
    if (length > reader.Remaining())
        return false;
    text->reset();
    if (length == 0)
        return true;
    std::string bytes(length, '\0');
    if (!reader.Read(bytes.data(), length))
        return false;
    *text = std::move(bytes);
    return true;
}

std::uint16_t RenumberOldTagId(std::uint16_t id) {
    switch (id) {
        case 20:
            return 100;
        case 21:
            return 101;
        case 22:
            return 102;
        case 23:
            return 103;
        case 40:
            return 200;
        case 50:
            return 0xFFFF;
        default:
            return id;
    }
}

// Floor of value x 255 as a byte, held inside 0-255.
std::uint8_t ComponentByte(long double value) {
    long double v = std::floor(value * 255.0L);
    if (!(v > 0.0L))
        return 0;  // also NaN
    if (v >= 255.0L)
        return 255;
    return static_cast<std::uint8_t>(v);
}

}  // namespace

int ElementSize(int type) {
    switch (type) {
        case 1:
        case 2:
            return 1;
        case 3:
        case 6:
            return 2;
        case 4:
        case 5:
            return 4;
        default:
            return -1;
    }
}

// ---------------------------------------------------------------------------
// TAdditionalColorData

bool TAdditionalColorData::Add(std::int16_t id, std::int16_t type, std::int32_t count,
                               const void* data) {
    int size = ElementSize(type);
    if (size < 0 || count < 0)
        return false;
    std::size_t bytes = std::size_t(count) * std::size_t(size);
    if (bytes > 0 && data == nullptr)
        return false;
    TAdditionalColorDataTag tag;
    tag.Id = id;
    tag.Type = type;
    tag.Count = count;
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (bytes > 0)
        tag.Data.assign(p, p + bytes);
    tags_.push_back(std::move(tag));
    return true;
}

const std::vector<std::uint8_t>* TAdditionalColorData::Find(std::int16_t id) const {
    for (const auto& tag : tags_) {
        if (tag.Id == id)
            return &tag.Data;
    }
    return nullptr;
}

void TAdditionalColorData::AppendCopies(const TAdditionalColorData& other) {
    if (&other == this) {
        std::vector<TAdditionalColorDataTag> copy = tags_;
        tags_.insert(tags_.end(), copy.begin(), copy.end());
        return;
    }
    tags_.insert(tags_.end(), other.tags_.begin(), other.tags_.end());
}

// ---------------------------------------------------------------------------
// TPaletteReader

TPaletteReader::TPaletteReader(platform::File& file) : file_(&file) {
    std::int64_t size = file.Size();
    std::int64_t at = file.Position();
    unbuffered_ = (size >= 0 && at >= 0 && size > at) ? std::uint64_t(size - at) : 0;
}

TPaletteReader::TPaletteReader(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data)), end_(data ? size : 0) {}

bool TPaletteReader::Refill() {
    if (file_ == nullptr || unbuffered_ == 0)
        return false;
    if (buffer_.empty())
        buffer_.resize(kReadBufferSize);
    std::size_t want = std::size_t(std::min<std::uint64_t>(unbuffered_, buffer_.size()));
    std::size_t got = 0;
    file_->Read(buffer_.data(), want, &got);
    if (got == 0) {
        // The file shrank or cannot be read: nothing more will come.
        unbuffered_ = 0;
        return false;
    }
    unbuffered_ = got < want ? 0 : unbuffered_ - got;
    data_ = buffer_.data();
    pos_ = 0;
    end_ = got;
    return true;
}

bool TPaletteReader::Read(void* buffer, std::size_t n) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (n > 0) {
        if (pos_ == end_ && !Refill())
            return false;
        std::size_t take = std::min(n, end_ - pos_);
        std::memcpy(out, data_ + pos_, take);
        out += take;
        pos_ += take;
        n -= take;
    }
    return true;
}

void TPaletteReader::UnreadByte() {
    // The byte just read is always still in the buffer: a one-byte read never
    // spans two fills.
    if (pos_ > 0)
        --pos_;
}

std::uint64_t TPaletteReader::Remaining() const {
    return (end_ - pos_) + unbuffered_;
}

bool TPaletteReader::ReadU8(std::uint8_t* v) {
    return Read(v, 1);
}

bool TPaletteReader::ReadU16(std::uint16_t* v) {
    std::uint8_t b[2];
    if (!Read(b, 2))
        return false;
    *v = std::uint16_t(b[0] | (b[1] << 8));
    return true;
}

bool TPaletteReader::ReadI16(std::int16_t* v) {
    std::uint16_t u;
    if (!ReadU16(&u))
        return false;
    *v = static_cast<std::int16_t>(u);
    return true;
}

bool TPaletteReader::ReadU32(std::uint32_t* v) {
    std::uint8_t b[4];
    if (!Read(b, 4))
        return false;
    *v = std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) |
         (std::uint32_t(b[3]) << 24);
    return true;
}

bool TPaletteReader::ReadI32(std::int32_t* v) {
    std::uint32_t u;
    if (!ReadU32(&u))
        return false;
    *v = static_cast<std::int32_t>(u);
    return true;
}

bool TPaletteReader::ReadF64(double* v) {
    std::uint8_t b[8];
    if (!Read(b, 8))
        return false;
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | b[i];
    std::memcpy(v, &bits, sizeof bits);
    return true;
}

// ---------------------------------------------------------------------------
// TPaletteWriter

void TPaletteWriter::Bytes(const void* data, std::size_t n) {
    data_.append(static_cast<const char*>(data), n);
}

void TPaletteWriter::U16(std::uint16_t v) {
    std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
    Bytes(b, 2);
}

void TPaletteWriter::U32(std::uint32_t v) {
    std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                         std::uint8_t(v >> 24)};
    Bytes(b, 4);
}

void TPaletteWriter::F64(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    std::uint8_t b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = std::uint8_t(bits >> (8 * i));
    Bytes(b, 8);
}

// ---------------------------------------------------------------------------
// TColorData

TColorData::TColorData() {
    for (double& v : Values)
        v = kMissingValue;
}

void TColorData::Assign(const TColorData& source) {
    if (&source == this)
        return;
    Status = source.Status;
    Infor = source.Infor;
    Page = source.Page;
    Number = source.Number;
    Extra = source.Extra;
    Extra1 = source.Extra1;
    Extra2 = source.Extra2;
    Extra3 = source.Extra3;
    Rgb = source.Rgb;
    std::copy(std::begin(source.Values), std::end(source.Values), std::begin(Values));
    ColorName = source.ColorName;
    FileName = source.FileName;
    Additional.Clear();
    Additional.AppendCopies(source.Additional);
}

bool TColorData::operator==(const TColorData& o) const {
    return Status == o.Status && Infor == o.Infor && Page == o.Page && Number == o.Number &&
           Extra == o.Extra && Extra1 == o.Extra1 && Extra2 == o.Extra2 && Extra3 == o.Extra3 &&
           Rgb == o.Rgb && std::memcmp(Values, o.Values, sizeof Values) == 0 &&
           ColorName == o.ColorName && FileName == o.FileName && Additional == o.Additional;
}

void TColorData::SyncNames() {
    if (!(Infor & kInforColorName))
        ColorName.reset();
    else if (!ColorName)
        ColorName.emplace();
    if (!(Infor & kInforFileName))
        FileName.reset();
    else if (!FileName)
        FileName.emplace();
}

void TColorData::SetKind(std::uint16_t value) {
    Infor = std::uint16_t((Infor & kInforMark) | (value & 0x7FFF));
    SyncNames();
}

void TColorData::SetInforLegacy(std::uint16_t value) {
    if (value < 16)
        Infor = value;
    else if (value < 128)
        Infor = std::uint16_t((value & 0x0F) | kInforUserColor);
    else
        Infor = std::uint16_t((value & 0x0F) | kInforUserColor | kInforMark);
    SyncNames();
}

COLORREF TColorData::GetColorRef() const {
    return PackColorRef(Rgb.rgbRed, Rgb.rgbGreen, Rgb.rgbBlue);
}

void TColorData::SetColorName(std::optional<std::u16string_view> name) {
    if (name) {
        ColorName = CText(*name);
        Infor |= kInforColorName;
    } else {
        ColorName.reset();
        Infor &= std::uint16_t(~kInforColorName);
    }
}

void TColorData::SetFileName(std::optional<std::u16string_view> name) {
    if (name) {
        FileName = CText(*name);
        Infor |= kInforFileName;
    } else {
        FileName.reset();
        Infor &= std::uint16_t(~kInforFileName);
    }
}

void TColorData::Reset() {
    FileName.reset();
    ColorName.reset();
    Additional.Clear();
    Status = 0;
}

void TColorData::SetRgbAndValues(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    Rgb = tagRGBQUAD{blue, green, red, 0};
    Values[0] = red;
    Values[1] = green;
    Values[2] = blue;
    Values[3] = kMissingValue;
}

void TColorData::SetColor(std::uint16_t kind, std::uint16_t page, std::uint8_t number,
                          std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    Reset();
    SetKind(kind);
    Page = page;
    Number = number;
    Extra = 0;
    Extra1 = Extra2 = Extra3 = 0;
    SetRgbAndValues(red, green, blue);
}

void TColorData::SetNormal(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    SetColor(0, 0, 0, red, green, blue);
}

void TColorData::SetPrinterColor(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                                 std::uint8_t green, std::uint8_t blue) {
    SetColor(0, page, number, red, green, blue);
}

void TColorData::SetPantone1000(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                                std::uint8_t green, std::uint8_t blue) {
    SetColor(1, page, number, red, green, blue);
}

void TColorData::SetPantoneTextile(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                                   std::uint8_t green, std::uint8_t blue) {
    SetColor(2, page, number, red, green, blue);
}

void TColorData::SetTQStandardColor(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                                    std::uint8_t green, std::uint8_t blue) {
    SetColor(3, page, number, red, green, blue);
}

void TColorData::SetTQTextileColor(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                                   std::uint8_t green, std::uint8_t blue) {
    SetColor(4, page, number, red, green, blue);
}

void TColorData::SetPantoneColor(std::uint16_t page, std::uint8_t number, std::uint8_t red,
                                 std::uint8_t green, std::uint8_t blue) {
    SetColor(5, page, number, red, green, blue);
}

void TColorData::SetUserColor(std::uint16_t /*reserved*/, std::uint16_t page, std::uint8_t number,
                              std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                              std::optional<std::u16string_view> fileName,
                              std::optional<std::u16string_view> colorName,
                              std::optional<std::u16string_view> /*text3*/,
                              std::optional<std::u16string_view> /*text4*/) {
    SetColor(kInforUserColor, page, number, red, green, blue);
    if (fileName)
        SetFileName(fileName);
    if (colorName)
        SetColorName(colorName);
}

void TColorData::SetUserColor(const TColorData& source) {
    std::uint16_t infor = source.Infor;
    Assign(source);
    SetKind(std::uint16_t(infor | kInforUserColor));
}

void TColorData::SetPantoneColor2(const TColorData& source) {
    std::uint16_t infor = source.Infor;
    Assign(source);
    SetKind(std::uint16_t(infor | 6));
}

void TColorData::SetFromLegacyRecord(const std::uint8_t record[8]) {
    Reset();
    std::uint8_t kind = record[0];
    if (kind >= 3) {
        Infor = 0;
        Page = 0;
        Number = 0;
    } else {
        Infor = kind;
        Page = std::uint16_t(record[4] | (record[5] << 8));
        Number = record[6];
        UpgradeKind();
    }
    Extra = 0;
    Extra1 = Extra2 = Extra3 = 0;
    auto widen = [](std::uint8_t v) { return std::uint8_t(((v << 2) | (v >> 4)) & 0xFF); };
    SetRgbAndValues(widen(record[1]), widen(record[2]), widen(record[3]));
}

void TColorData::UpgradeKind() {
    switch (GetKind()) {
        case 1: {
            Infor = std::uint16_t(Infor + 2);
            const auto* end = std::end(kOldPantonePages);
            const auto* at = std::find(std::begin(kOldPantonePages), end, Page);
            if (at != end)
                Page = std::uint16_t(at - std::begin(kOldPantonePages) + 20);
            break;
        }
        case 2:
            Infor = std::uint16_t(Infor + 2);
            Page = std::uint16_t(Page + 1000);
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------
// Entry layouts

bool TColorData::Read(TPaletteReader& reader, int layout) {
    // Read into a copy, so that a short or corrupt entry leaves this one alone;
    // layouts 0 and 1 keep the fields they do not store.
    TColorData entry(*this);
    entry.FileName.reset();
    entry.ColorName.reset();
    entry.Additional.Clear();
    bool ok = false;
    switch (layout) {
        case 0:
            ok = entry.ReadLayout0(reader);
            break;
        case 1:
            ok = entry.ReadLayout1(reader);
            break;
        case 2:
            ok = entry.ReadLayout2(reader);
            break;
        default:
            return false;
    }
    if (!ok)
        return false;
    entry.UpgradeKind();
    entry.SyncNames();
    *this = std::move(entry);
    return true;
}

bool TColorData::ReadLayout0(TPaletteReader& reader) {
    std::uint8_t b[10];
    if (!reader.Read(b, sizeof b))
        return false;
    Infor = std::uint16_t(b[0] | (b[1] << 8));
    Page = std::uint16_t(b[2] | (b[3] << 8));
    Number = b[4];
    Rgb = tagRGBQUAD{b[6], b[7], b[8], b[9]};
    return true;
}

bool TColorData::ReadLayout1(TPaletteReader& reader) {
    std::uint8_t b[9];
    if (!reader.Read(b, sizeof b))
        return false;
    std::uint16_t legacy = std::uint16_t(b[0] | (b[1] << 8));
    Page = std::uint16_t(b[2] | (b[3] << 8));
    Number = b[4];
    Rgb = tagRGBQUAD{b[5], b[6], b[7], b[8]};

    std::optional<std::string> fileName, colorName, annotation;
    if (legacy & kLegacyUserColor) {
        if (!ReadAnsiText(reader, &fileName) || !ReadAnsiText(reader, &colorName))
            return false;
    }
    if ((legacy & kInforKindMask) == 6) {
        if (!(legacy & kLegacyMark) && !ReadAnsiText(reader, &annotation))
            return false;
        if (!ReadAdditional(reader, false))
            return false;
    }

    std::uint16_t kind = legacy & kInforKindMask;
    if (legacy & kLegacyUserColor) {
        Infor = std::uint16_t(kind | kInforUserColor | ((legacy & kLegacyMark) ? kInforMark : 0));
    } else if (legacy & kLegacyMark) {
        Infor = std::uint16_t(kind | kInforMark);
    } else {
        Infor = legacy;
    }
    if (colorName) {
        ColorName = CText(platform::AnsiToUtf16(*colorName));
        Infor |= kInforColorName;
    }
    if (fileName) {
        FileName = CText(platform::AnsiToUtf16(*fileName));
        Infor |= kInforFileName;
    }
    if (annotation && Additional.GetCount() == 0) {
        std::string data = *annotation;
        data.push_back('\0');
        Additional.Add(kAnnotationTagId, 2, std::int32_t(data.size()), data.data());
    }
    return true;
}

bool TColorData::ReadLayout2(TPaletteReader& reader) {
    std::uint8_t b[53];
    if (!reader.Read(b, sizeof b))
        return false;
    TPaletteReader fields(b, sizeof b);
    std::uint32_t mark;
    fields.ReadU32(&mark);
    fields.ReadU8(&Status);
    fields.ReadU16(&Infor);
    fields.ReadU16(&Page);
    fields.ReadU8(&Number);
    fields.ReadU8(&Extra);
    fields.ReadI16(&Extra1);
    fields.ReadI16(&Extra2);
    fields.ReadI16(&Extra3);
    fields.Read(&Rgb.rgbBlue, 1);
    fields.Read(&Rgb.rgbGreen, 1);
    fields.Read(&Rgb.rgbRed, 1);
    fields.Read(&Rgb.rgbReserved, 1);
    for (double& v : Values)
        fields.ReadF64(&v);

    auto readText = [&](std::optional<std::u16string>* text) {
        std::uint16_t count;
        if (!reader.ReadU16(&count))
            return false;
        // The count includes the terminating zero: 0 is not a text.
        if (count == 0 || std::uint64_t(count) * 2 > reader.Remaining())
            return false;
        std::u16string units(count, u'\0');
        for (auto& u : units) {
            std::uint16_t v;
            if (!reader.ReadU16(&v))
                return false;
            u = char16_t(v);
        }
        *text = CText(units);
        return true;
    };
    if ((Infor & kInforColorName) && !readText(&ColorName))
        return false;
    if ((Infor & kInforFileName) && !readText(&FileName))
        return false;
    return ReadAdditional(reader, true);
}

bool TColorData::ReadAdditional(TPaletteReader& reader, bool currentLayout) {
    std::uint8_t start;
    if (!reader.ReadU8(&start))
        return true;  // end of the data: no block
    if (start == 50)
        start = 255;
    if (start != 255) {
        // Not ours: the next entry's first byte.
        reader.UnreadByte();
        return true;
    }
    std::int32_t tags;
    if (!reader.ReadI32(&tags))
        return false;
    if (tags < 0)
        return false;
    // Every tag takes at least its 8-byte head.
    if (std::uint64_t(tags) > reader.Remaining() / 8)
        return false;
    for (std::int32_t i = 0; i < tags; ++i) {
        std::uint16_t id, type;
        std::int32_t count;
        if (!reader.ReadU16(&id) || !reader.ReadU16(&type) || !reader.ReadI32(&count))
            return false;
        if (!currentLayout) {
            id = RenumberOldTagId(id & 0xFF);
            type = type & 0xFF;
            if (type == 50)
                type = 0xFFFF;
        }
        int size = ElementSize(static_cast<std::int16_t>(type));
        if (size < 0 || count < 0)
            return false;
        std::uint64_t bytes = std::uint64_t(count) * std::uint64_t(size);
        if (bytes > reader.Remaining())
            return false;
        std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
        if (!reader.Read(data.data(), data.size()))
            return false;
        Additional.Add(static_cast<std::int16_t>(id), static_cast<std::int16_t>(type), count,
                       data.data());
    }
    return true;
}

void TColorData::Write(TPaletteWriter& w) const {
    w.U32(1);
    w.U8(Status);
    w.U16(Infor);
    w.U16(Page);
    w.U8(Number);
    w.U8(Extra);
    w.U16(std::uint16_t(Extra1));
    w.U16(std::uint16_t(Extra2));
    w.U16(std::uint16_t(Extra3));
    w.U8(Rgb.rgbBlue);
    w.U8(Rgb.rgbGreen);
    w.U8(Rgb.rgbRed);
    w.U8(Rgb.rgbReserved);
    for (double v : Values)
        w.F64(v);
    auto writeText = [&](const std::optional<std::u16string>& text) {
        // The names always follow their bits (SyncNames); an empty one is one zero unit.
        const std::u16string empty;
        const std::u16string& t = text ? *text : empty;
        w.U16(std::uint16_t(t.size() + 1));
        for (char16_t u : t)
            w.U16(std::uint16_t(u));
        w.U16(0);
    };
    if (Infor & kInforColorName)
        writeText(ColorName);
    if (Infor & kInforFileName)
        writeText(FileName);
    if (Additional.GetCount() > 0) {
        w.U8(255);
        w.U32(std::uint32_t(Additional.GetCount()));
        for (int i = 0; i < Additional.GetCount(); ++i) {
            const TAdditionalColorDataTag& tag = Additional.GetTag(i);
            w.U16(std::uint16_t(tag.Id));
            w.U16(std::uint16_t(tag.Type));
            w.U32(std::uint32_t(tag.Count));
            w.Bytes(tag.Data.data(), tag.Data.size());
        }
    }
}

// ---------------------------------------------------------------------------
// Colour arithmetic

double MaxOf3(double x, double y, double z) {
    if (x > y)
        return x > z ? x : z;
    return y > z ? y : z;
}

double MinOf3(double x, double y, double z) {
    if (x < y)
        return x < z ? x : z;
    return y < z ? y : z;
}

void RgbToHls(std::uint8_t red, std::uint8_t green, std::uint8_t blue, double& h, double& l,
              double& s) {
    constexpr long double kInv255 = 1.0L / 255.0L;
    double r = static_cast<double>(red * kInv255);
    double g = static_cast<double>(green * kInv255);
    double b = static_cast<double>(blue * kInv255);
    double max = MaxOf3(r, g, b);
    double min = MinOf3(r, g, b);
    l = (max + min) * 0.5;
    if (max == min) {
        s = 0.0;
        h = kMissingValue;
        return;
    }
    s = l <= 0.5 ? (max - min) / (max + min) : (max - min) / (2.0 - max - min);
    double d = max - min;
    if (r == max)
        h = (g - b) / d;
    else if (g == max)
        h = (b - r) / d + 2.0;
    else
        h = (r - g) / d + 4.0;
    h *= 60.0;
    if (h < 0.0)
        h += 360.0;
}

double HlsValue(double h, double m1, double m2) {
    constexpr long double kInv60 = 1.0L / 60.0L;
    if (h > 360.0)
        h -= 360.0;
    else if (h < 0.0)
        h += 360.0;
    long double lm1 = m1, lm2 = m2, lh = h;
    if (h < 60.0)
        return static_cast<double>(lm1 + (lm2 - lm1) * lh * kInv60);
    if (h < 180.0)
        return m2;
    if (h < 240.0)
        return static_cast<double>(lm1 + (lm2 - lm1) * (240.0L - lh) * kInv60);
    return m1;
}

void HlsToRgb(std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue, double h, double l,
              double s) {
    double m2 = l <= 0.5 ? l * (1.0 + s) : l + s - l * s;
    double m1 = 2.0 * l - m2;
    if (s == 0.0) {
        red = green = blue = ComponentByte(l);
        return;
    }
    red = ComponentByte(HlsValue(h + 120.0, m1, m2));
    green = ComponentByte(HlsValue(h, m1, m2));
    blue = ComponentByte(HlsValue(h - 120.0, m1, m2));
}

COLORREF HlsToColorRef(double h, double l, double s) {
    std::uint8_t r, g, b;
    HlsToRgb(r, g, b, h, l, s);
    return PackColorRef(r, g, b);
}

std::uint32_t HlsToQuad(double h, double l, double s) {
    std::uint8_t r, g, b;
    HlsToRgb(r, g, b, h, l, s);
    return PackQuad(r, g, b);
}

void QuadToHls(std::uint32_t quad, double& h, double& l, double& s) {
    RgbToHls(std::uint8_t(quad >> 16), std::uint8_t(quad >> 8), std::uint8_t(quad), h, l, s);
}

COLORREF PackColorRef(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}

std::uint32_t PackQuad(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return (blue & 0xFF) | ((green & 0xFF) << 8) | ((red & 0xFF) << 16);
}

void ColorRefToCmy(COLORREF color, int& cyan, int& magenta, int& yellow) {
    cyan = 255 - RedOf(color);
    magenta = 255 - GreenOf(color);
    yellow = 255 - BlueOf(color);
}

COLORREF CmyToColorRef(int cyan, int magenta, int yellow) {
    auto back = [](int v) { return std::uint32_t(255 - std::clamp(v, 0, 255)); };
    return PackColorRef(back(cyan), back(magenta), back(yellow));
}

int ComponentPercentage(int value) {
    return std::clamp(value, 0, 255) * 100 / 255;
}

}  // namespace quillor
