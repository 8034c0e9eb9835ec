#include "colour/Palettes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <stdexcept>
#include <vector>

#include "platform/Files.h"

namespace quillor {

TPalette::TPalette() {
    for (auto& item : Items)
        item = std::make_unique<TColorData>();
}

TColorData* TPalette::GetColorData(int index) {
    return index >= 0 && index < kEntryCount ? Items[std::size_t(index)].get() : nullptr;
}

const TColorData* TPalette::GetColorData(int index) const {
    return index >= 0 && index < kEntryCount ? Items[std::size_t(index)].get() : nullptr;
}

COLORREF TPalette::GetColor(int index) const {
    const TColorData* entry = GetColorData(index);
    return entry ? entry->GetColorRef() : 0;
}

bool TPalette::Copy(int index, const TColorData& source) {
    TColorData* entry = GetColorData(index);
    if (entry)
        entry->Assign(source);
    return entry != nullptr;
}

bool TPalette::SetNormal(int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    TColorData* entry = GetColorData(index);
    if (entry)
        entry->SetNormal(red, green, blue);
    return entry != nullptr;
}

#define QUILLOR_FORWARD_KIND_SETTER(Name)                                                     \
    bool TPalette::Name(int index, std::uint16_t page, std::uint8_t number, std::uint8_t red, \
                        std::uint8_t green, std::uint8_t blue) {                              \
        TColorData* entry = GetColorData(index);                                              \
        if (entry)                                                                            \
            entry->Name(page, number, red, green, blue);                                      \
        return entry != nullptr;                                                              \
    }
QUILLOR_FORWARD_KIND_SETTER(SetPrinterColor)
QUILLOR_FORWARD_KIND_SETTER(SetPantone1000)
QUILLOR_FORWARD_KIND_SETTER(SetPantoneTextile)
QUILLOR_FORWARD_KIND_SETTER(SetTQStandardColor)
QUILLOR_FORWARD_KIND_SETTER(SetTQTextileColor)
QUILLOR_FORWARD_KIND_SETTER(SetPantoneColor)
#undef QUILLOR_FORWARD_KIND_SETTER

bool TPalette::SetUserColor(int index, std::uint16_t reserved, std::uint16_t page,
                            std::uint8_t number, std::uint8_t red, std::uint8_t green,
                            std::uint8_t blue, std::optional<std::u16string_view> fileName,
                            std::optional<std::u16string_view> colorName,
                            std::optional<std::u16string_view> text3,
                            std::optional<std::u16string_view> text4) {
    TColorData* entry = GetColorData(index);
    if (entry) {
        entry->SetUserColor(reserved, page, number, red, green, blue, fileName, colorName, text3,
                            text4);
    }
    return entry != nullptr;
}

bool TPalette::SetUserColor(int index, const TColorData& source) {
    TColorData* entry = GetColorData(index);
    if (entry)
        entry->SetUserColor(source);
    return entry != nullptr;
}

bool TPalette::SetPantoneColor2(int index, const TColorData& source) {
    TColorData* entry = GetColorData(index);
    if (entry)
        entry->SetPantoneColor2(source);
    return entry != nullptr;
}

void TPalette::SetUseColor(std::uint16_t value) {
    // UseColor names an entry; beyond the last one ColorCount would wrap to 0.
    if (value > kEntryCount - 1)
        value = kEntryCount - 1;
    UseColor = value;
    if (value >= ColorCount)
        ColorCount = std::uint16_t(value + 1);
}

bool TPalette::Load(TPaletteReader& reader) {
    // Everything is read into copies first, so that a short or corrupt file
    // changes no entry. The copies start as the entries are: layouts 0 and 1
    // keep what they do not store, and the setters keep the bit-15 mark.
    std::vector<TColorData> entries(kEntryCount);
    for (int k = 0; k < kEntryCount; ++k)
        entries[std::size_t(k)].Assign(*Items[std::size_t(k)]);
    std::uint8_t signature[2];
    if (!reader.Read(signature, 2))
        return false;

    if (signature[0] != 'C' || signature[1] != 'P') {
        std::uint8_t legacy[kLegacyFileSize];
        legacy[0] = signature[0];
        legacy[1] = signature[1];
        if (!reader.Read(legacy + 2, kLegacyFileSize - 2))
            return false;
        entries[0].SetNormal(0, 0, 0);
        for (int k = 1; k <= 225; ++k)
            entries[std::size_t(k)].SetFromLegacyRecord(legacy + 8 * (k - 1));
        for (int k = 226; k < kEntryCount; ++k) {
            entries[std::size_t(k)].SetNormal(std::uint8_t(k), std::uint8_t(k), std::uint8_t(k));
        }
    } else {
        std::uint16_t version;
        if (!reader.ReadU16(&version))
            return false;
        if (version == 111)
            return true;
        std::uint16_t useColor = UseColor;
        std::uint16_t colorCount = ColorCount;
        int layout = version <= 100 ? 0 : version <= 110 ? 1 : 2;
        if (layout == 2 && (!reader.ReadU16(&useColor) || !reader.ReadU16(&colorCount)))
            return false;
        for (int k = 0; k < kEntryCount; ++k) {
            TColorData& entry = entries[std::size_t(k)];
            if (!entry.Read(reader, layout))
                return false;
        }
        UseColor = useColor;
        ColorCount = colorCount;
    }
    for (int k = 0; k < kEntryCount; ++k)
        Items[std::size_t(k)]->Assign(entries[std::size_t(k)]);
    return true;
}

bool TPalette::LoadFromFile(const std::string& fileName) {
    ColorCount = kEntryCount;
    // Not blocking on a FIFO with no writer; only a regular file holds a palette.
    platform::File file = platform::File::Open(fileName, O_RDONLY | O_NONBLOCK);
    struct stat st;
    if (!file.IsOpen() || ::fstat(file.Descriptor(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    TPaletteReader reader(file);
    return Load(reader);
}

bool TPalette::LoadFromMemory(const void* data, std::size_t size) {
    ColorCount = kEntryCount;
    TPaletteReader reader(data, size);
    return Load(reader);
}

std::string TPalette::SaveToMemory() const {
    TPaletteWriter writer;
    writer.U8('C');
    writer.U8('P');
    writer.U16(kCurrentVersion);
    writer.U16(UseColor);
    writer.U16(ColorCount);
    for (const auto& item : Items)
        item->Write(writer);
    return writer.Data();
}

void TPalette::SaveToFile(const std::string& fileName) const {
    // Written over the existing file, then cut to what was written, so that
    // no old bytes remain to be read back as a tag block.
    // O_NONBLOCK: a FIFO without a reader fails to open instead of hanging.
    platform::File file = platform::File::Open(fileName, O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
    if (!file.IsOpen())
        throw std::runtime_error("Cannot open file" + fileName);
    std::string data = SaveToMemory();
    if (!file.Write(data.data(), data.size()) || !file.SetSize(std::int64_t(data.size())))
        throw std::runtime_error("Cannot write file" + fileName);
}

}  // namespace quillor
