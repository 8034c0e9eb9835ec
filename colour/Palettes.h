#pragma once
// The 256-entry palette of colour records and its palette file ("CP" files of
// every version, and the headerless legacy palette).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "colour/Tclrutil.h"

namespace quillor {

class TPalette {
  public:
    static constexpr int kEntryCount = 256;
    // The version that SaveToFile writes.
    static constexpr std::uint16_t kCurrentVersion = 112;
    // Size of the headerless legacy palette: 225 records of 8 bytes.
    static constexpr std::size_t kLegacyFileSize = 1800;

    // 256 new entries; UseColor and ColorCount 0 (nothing defined yet).
    TPalette();
    TPalette(const TPalette&) = delete;
    TPalette& operator=(const TPalette&) = delete;

    // The entries live as long as the palette. nullptr outside 0-255.
    TColorData* GetColorData(int index);
    const TColorData* GetColorData(int index) const;
    // The entry's colour reference; 0 outside 0-255.
    COLORREF GetColor(int index) const;

    // The setters forward to the entry and leave ColorCount alone; they do
    // nothing and answer false outside 0-255.
    bool Copy(int index, const TColorData& source);
    bool SetNormal(int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
    bool SetPrinterColor(int index, std::uint16_t page, std::uint8_t number, std::uint8_t red,
                         std::uint8_t green, std::uint8_t blue);
    bool SetPantone1000(int index, std::uint16_t page, std::uint8_t number, std::uint8_t red,
                        std::uint8_t green, std::uint8_t blue);
    bool SetPantoneTextile(int index, std::uint16_t page, std::uint8_t number, std::uint8_t red,
                           std::uint8_t green, std::uint8_t blue);
    bool SetTQStandardColor(int index, std::uint16_t page, std::uint8_t number, std::uint8_t red,
                            std::uint8_t green, std::uint8_t blue);
    bool SetTQTextileColor(int index, std::uint16_t page, std::uint8_t number, std::uint8_t red,
                           std::uint8_t green, std::uint8_t blue);
    bool SetPantoneColor(int index, std::uint16_t page, std::uint8_t number, std::uint8_t red,
                         std::uint8_t green, std::uint8_t blue);
    bool SetUserColor(int index, std::uint16_t reserved, std::uint16_t page, std::uint8_t number,
                      std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                      std::optional<std::u16string_view> fileName,
                      std::optional<std::u16string_view> colorName,
                      std::optional<std::u16string_view> text3 = std::nullopt,
                      std::optional<std::u16string_view> text4 = std::nullopt);
    bool SetUserColor(int index, const TColorData& source);
    bool SetPantoneColor2(int index, const TColorData& source);

    std::uint16_t GetUseColor() const { return UseColor; }
    // UseColor := value (held at 255, the last entry); ColorCount becomes
    // UseColor + 1 when it is not above UseColor already.
    void SetUseColor(std::uint16_t value);
    std::uint16_t GetColorCount() const { return ColorCount; }
    void SetColorCount(std::uint16_t value) { ColorCount = value; }

    // ColorCount becomes 256 first, whatever follows. True when the file was
    // opened and held a whole palette; false when it could not be opened or is
    // short or corrupt, and then the entries and UseColor are as they were.
    bool LoadFromFile(const std::string& fileName);
    // The same for a palette file's bytes.
    bool LoadFromMemory(const void* data, std::size_t size);

    // Writes the current version over the file (created when missing) and cuts
    // it to the palette's length. Throws std::runtime_error "Cannot open file"
    // or "Cannot write file", followed by the file name.
    void SaveToFile(const std::string& fileName) const;
    // The bytes SaveToFile writes.
    std::string SaveToMemory() const;

  private:
    bool Load(TPaletteReader& reader);

    std::array<std::unique_ptr<TColorData>, kEntryCount> Items;
    std::uint16_t UseColor = 0;
    std::uint16_t ColorCount = 0;
};

}  // namespace quillor
