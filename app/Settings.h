#pragma once
// The utility's settings store. Everything the utility edits lives in two
// places:
//
// - the machine-wide registry key (RegistryBase under HKEY_LOCAL_MACHINE,
//   Software\Ostrevin\VelSerin\4.0), seen as an INI file: its subkeys "Common"
//   and "Directory" are the sections, their string values the entries;
// - status.ini, "CanvasInfor"/"DPI", in the folder chain
//   <AppDataFolder>/Ostrevin/VelSerin4.0/Velserin.
//
// The dialog reads every setting when it is created (ReadAllSettings, or
// its steps one by one) and writes every setting when the user confirms
// (WriteAllSettings, or SaveSettings then WriteDPI). Failures are thrown as
// SettingsError, whose what() is the message to show.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Registry.h"

namespace velserin {

// ---- Errors -----------------------------------------------------------------

class SettingsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "Cannot create " + the folder's path.
class FolderCreateError : public SettingsError {
  public:
    explicit FolderCreateError(const std::string& path);
};

// "Failed to create key %s" (the section), "Failed to set data for '%s'"
// (the value name).
class RegistryError : public SettingsError {
  public:
    using SettingsError::SettingsError;
    static RegistryError CreateKey(const std::string& section);
    static RegistryError SetData(const std::string& name);
};

// "Invalid data type for '%s'": a value that is neither a string nor an
// expandable string.
class InvalidDataTypeError : public RegistryError {
  public:
    explicit InvalidDataTypeError(const std::string& name);
};

// "''%s'' is not a valid integer value".
class InvalidIntegerError : public SettingsError {
  public:
    explicit InvalidIntegerError(const std::string& text);
};

// "Unable to write to %s" (the file's path).
class IniFileError : public SettingsError {
  public:
    explicit IniFileError(const std::string& path);
};

// ---- Names, vocabularies and defaults ---------------------------------------

inline constexpr const char* kSectionCommon = "Common";
inline constexpr const char* kSectionDirectory = "Directory";

inline constexpr const char* kValueDefaultDir = "Defaultdir";
inline constexpr const char* kValueLanguage = "Language";
inline constexpr const char* kValueUnits = "TUnits";
inline constexpr const char* kValueSelect = "Select";
inline constexpr const char* kValueFontName = "DefaultFontName";
inline constexpr const char* kValueColor = "Color";
inline constexpr const char* kValueOpenFolder = "VelserinOpen";
inline constexpr const char* kValueMaxNPressure = "MaxNPressure";
inline constexpr const char* kValueSizeType = "TREG_Size";

inline constexpr const char* kStatusFileName = "status.ini";
inline constexpr const char* kStatusSection = "CanvasInfor";
inline constexpr const char* kStatusDPI = "DPI";
inline constexpr int kDefaultDPI = 160;
// The range the dialog's spin box allows; the store itself keeps any number.
inline constexpr int kMinimumDPI = 0;
inline constexpr int kMaximumDPI = 1000;

// The allowed texts of each value, in the order the dialog tries them.
// Texts compare exactly, case included (IsToken); a stored text outside its
// list is kept and written back unchanged.
inline constexpr std::array<const char*, 7> kLanguages = {
    "English", "Korean", "Chinese", "Taiwanese", "Thai", "Japanese", "Indonesian"};
inline constexpr std::array<const char*, 3> kUnits = {"uCm", "uInch", "uDot"};
inline constexpr std::array<const char*, 2> kSelects = {"READ", "MERGE"};
inline constexpr std::array<const char*, 8> kSizeTypes = {
    "cstA4", "cstA3", "cstA2", "cstA1", "cstA0", "cstLetter", "cstLegal", "cstTabloid"};

inline constexpr const char* kDefaultLanguage = "English";
inline constexpr const char* kDefaultUnits = "uCm";
inline constexpr const char* kDefaultSelect = "READ";
inline constexpr const char* kDefaultSizeType = "cstA4";

template <std::size_t N>
bool IsToken(const std::array<const char*, N>& vocabulary, std::string_view text) {
    for (const char* t : vocabulary)
        if (text == t)
            return true;
    return false;
}

// "Microsoft Sans Serif" on the NT family (platform id > 1), else "MS Sans Serif".
std::string DefaultFontName(std::uint32_t platformId);
// DefaultDirectory + "/Color" (so "/Color" when DefaultDirectory is empty).
std::string DefaultColorFolder();
// The home folder followed by "/Pattern".
std::string DefaultOpenFolder();

// ---- The registry view -------------------------------------------------------

// An INI-shaped view over one registry key: sections are subkeys of the base
// key, entries are string values. Open one for a batch of reads or writes
// and drop it after: the reads of one object see one reading of the hive,
// and nothing is kept between objects. Reads never create anything.
class RegistryIniFile {
  public:
    RegistryIniFile(platform::registry::Root root, std::string baseKey);

    // The stored text when the section's subkey and the value exist (also
    // when it is empty; an expandable string unexpanded), else the default.
    // Throws InvalidDataTypeError for a value of another type.
    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue);
    // Creates the section's subkey when missing (RegistryError "Failed to
    // create key"), then sets the string value (RegistryError "Failed to set
    // data for"). Each call is committed to the hive before it returns.
    void WriteString(const std::string& section, const std::string& name, const std::string& value);

    const std::string& BaseKey() const { return base_; }

  private:
    std::string SectionPath(const std::string& section) const;

    platform::registry::Root root_;
    std::string base_;
    std::optional<platform::registry::Hive> snapshot_;
};

// The settings store's view: HKEY_LOCAL_MACHINE, RegistryBase + "\".
RegistryIniFile OpenSettingsRegistry();

// ---- Folders and status.ini ---------------------------------------------------

struct FolderChain {
    std::string companyFolder;   // AppDataFolder + "/Ostrevin"
    std::string versionFolder;   // companyFolder + "/VelSerin" + SuiteVersion
    std::string settingsFolder;  // versionFolder + "/Velserin"
    std::string StatusFile() const { return settingsFolder + "/" + kStatusFileName; }
};

// The chain's paths; an empty application-data folder starts it at "/Ostrevin".
FolderChain SettingsFolderChain(const std::string& appDataFolder, const std::string& suiteVersion);
// Makes each missing folder of the chain in turn, one folder at a time (its
// parent must exist). The first that can be neither found nor made throws
// FolderCreateError; folders made before it stay.
void EnsureFolders(const FolderChain& chain);
// The same for the chain of Define::AppDataFolder and Define::SuiteVersion.
FolderChain EnsureFolderChain();

// "CanvasInfor"/"DPI": 160 when the file, the entry or a number is missing.
int ReadDPI(const std::string& statusFile);
// Throws IniFileError "Unable to write to <statusFile>" when refused.
void WriteDPI(const std::string& statusFile, int dpi);

// ---- Every setting at once ----------------------------------------------------

// The values the dialog shows and saves.
struct ConfigSettings {
    std::string language = kDefaultLanguage;  // "Common"/"Language"
    std::string units = kDefaultUnits;        // "Common"/"TUnits"
    std::string select = kDefaultSelect;      // "Common"/"Select"
    std::string fontName;                     // "Common"/"DefaultFontName"
    std::string colorFolder;                  // "Directory"/"Color"
    std::string openFolder;                   // "Directory"/"VelserinOpen"
    std::uint32_t maxNPressure = 0;           // "Common"/"MaxNPressure"; 0 without a tablet
    std::string sizeType = kDefaultSizeType;  // "Common"/"TREG_Size"
    int dpi = kDefaultDPI;                    // status.ini "CanvasInfor"/"DPI"
};

// The reads, in the order the dialog makes them when it is created:
//
// 1. "Directory"/"Defaultdir", default DefaultDirectory; the result replaces
//    Define::DefaultDirectory.
void LoadDefaultDirectory();
// 2. EnsureFolderChain().
// 3. One registry batch: "Language", "TUnits", "Select", "DefaultFontName",
//    then "Color" and "VelserinOpen"; then status.ini "DPI".
void LoadSettings(ConfigSettings* settings, std::uint32_t platformId,
                  const std::string& statusFile);
// The registry batch of LoadSettings alone, for a caller that reads "DPI"
// itself.
void LoadRegistrySettings(ConfigSettings* settings, std::uint32_t platformId);
// 4. Only when a tablet context is open: "Common"/"MaxNPressure", default the
//    device's maximum. A text that is not a decimal integer that fits in
//    32 bits unsigned, or a value of another registry type, is shown with
//    the application's exception display and the default is returned: the
//    utility must start so that the user can put the setting right.
std::uint32_t ReadMaxNPressure(std::uint32_t deviceMaximum);
// 5. One registry batch: "TREG_Size", then "TUnits" again.
void LoadSizeTypeAndUnits(ConfigSettings* settings);

// Called between steps 3 and 4: opens the tablet and returns its maximum
// normal pressure, or nullopt when no tablet context is open.
using OpenTablet = std::function<std::optional<std::uint32_t>()>;

// Steps 1 to 5; returns the folder chain (status.ini is in its settings
// folder). A FolderCreateError or InvalidDataTypeError leaves it at once.
FolderChain ReadAllSettings(ConfigSettings* settings, std::uint32_t platformId,
                            const OpenTablet& openTablet = OpenTablet());

// One registry batch, each value a string, in this order: "Language",
// "DefaultFontName", "MaxNPressure" (decimal), "TREG_Size", "TUnits",
// "Select", "Color", "VelserinOpen". A RegistryError stops it; the values
// written before it stay written. "Defaultdir" is never written.
void SaveSettings(const ConfigSettings& settings);
// SaveSettings, then WriteDPI (not reached when SaveSettings throws).
void WriteAllSettings(const ConfigSettings& settings, const std::string& statusFile);

// Parses a stored pressure: an optional sign and decimal digits, nothing
// else, with a value from 0 to 4294967295. Throws InvalidIntegerError.
std::uint32_t ParsePressure(const std::string& text);

}  // namespace velserin
