#include "app/Settings.h"

#include <sys/stat.h>
#include <cerrno>

#include "app/Define.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/Profile.h"
#include "platform/SystemInfo.h"

namespace velserin {

namespace reg = platform::registry;

FolderCreateError::FolderCreateError(const std::string& path)
    : SettingsError("Cannot create " + path) {}

RegistryError RegistryError::CreateKey(const std::string& section) {
    return RegistryError("Failed to create key " + section);
}

RegistryError RegistryError::SetData(const std::string& name) {
    return RegistryError("Failed to set data for '" + name + "'");
}

InvalidDataTypeError::InvalidDataTypeError(const std::string& name)
    : RegistryError("Invalid data type for '" + name + "'") {}

InvalidIntegerError::InvalidIntegerError(const std::string& text)
    : SettingsError("''" + text + "'' is not a valid integer value") {}

IniFileError::IniFileError(const std::string& path) : SettingsError("Unable to write to " + path) {}

std::string DefaultFontName(std::uint32_t platformId) {
    return platformId > 1 ? "Microsoft Sans Serif" : "MS Sans Serif";
}

std::string DefaultColorFolder() {
    return Define::DefaultDirectory + "/Color";
}

std::string DefaultOpenFolder() {
    return platform::HomeFolder() + "/Pattern";
}

// ---- RegistryIniFile ----------------------------------------------------------

RegistryIniFile::RegistryIniFile(reg::Root root, std::string baseKey)
    : root_(root), base_(reg::NormalizeKeyPath(baseKey)) {}

std::string RegistryIniFile::SectionPath(const std::string& section) const {
    return reg::NormalizeKeyPath(base_ + "\\" + section);
}

std::string RegistryIniFile::ReadString(const std::string& section, const std::string& name,
                                        const std::string& defaultValue) {
    if (!snapshot_) {
        // A hive that cannot be read reads as empty: every value its default.
        snapshot_.emplace();
        reg::LoadHive(root_, &*snapshot_);
    }
    const std::string path = SectionPath(section);
    if (!snapshot_->KeyExists(root_, path))
        return defaultValue;
    const reg::Key* key = snapshot_->FindKey(root_, path);
    const reg::Value* value = key ? key->FindValue(name) : nullptr;
    if (!value)
        return defaultValue;
    if (!value->IsString())
        throw InvalidDataTypeError(name);
    return value->Text();
}

void RegistryIniFile::WriteString(const std::string& section, const std::string& name,
                                  const std::string& value) {
    snapshot_.reset();
    const std::string path = SectionPath(section);
    if (!reg::IsStorableName(path))
        throw RegistryError::CreateKey(section);
    // Opening the key for writing: the hive's lock and a fresh reading.
    reg::HiveWriter writer(root_);
    if (!writer.Begin())
        throw RegistryError::CreateKey(section);
    reg::Hive& hive = writer.Contents();
    if (!hive.KeyExists(root_, path)) {
        hive.CreateKey(root_, path);
        if (!writer.Commit())
            throw RegistryError::CreateKey(section);
    }
    if (!reg::IsStorableName(name) || !platform::IsValidUtf8(value))
        throw RegistryError::SetData(name);
    hive.CreateKey(root_, path).SetString(name, value);
    if (!writer.Commit())
        throw RegistryError::SetData(name);
}

RegistryIniFile OpenSettingsRegistry() {
    return RegistryIniFile(reg::Root::LocalMachine, Define::RegistryBase + "\\");
}

// ---- Folders and status.ini ------------------------------------------------------

FolderChain SettingsFolderChain(const std::string& appDataFolder, const std::string& suiteVersion) {
    FolderChain chain;
    chain.companyFolder = appDataFolder + "/Ostrevin";
    chain.versionFolder = chain.companyFolder + "/VelSerin" + suiteVersion;
    chain.settingsFolder = chain.versionFolder + "/Velserin";
    return chain;
}

void EnsureFolders(const FolderChain& chain) {
    for (const std::string* folder :
         {&chain.companyFolder, &chain.versionFolder, &chain.settingsFolder}) {
        if (platform::DirectoryExists(*folder))
            continue;
        // One folder, not a path of them: a missing parent is a failure.
        if (::mkdir(folder->c_str(), 0777) != 0 && !platform::DirectoryExists(*folder))
            throw FolderCreateError(*folder);
    }
}

FolderChain EnsureFolderChain() {
    FolderChain chain = SettingsFolderChain(Define::AppDataFolder, Define::SuiteVersion);
    EnsureFolders(chain);
    return chain;
}

int ReadDPI(const std::string& statusFile) {
    return platform::profile::ReadInteger(statusFile, kStatusSection, kStatusDPI, kDefaultDPI);
}

void WriteDPI(const std::string& statusFile, int dpi) {
    if (!platform::profile::WriteInteger(statusFile, kStatusSection, kStatusDPI, dpi))
        throw IniFileError(statusFile);
}

// ---- Every setting ----------------------------------------------------------------

void LoadDefaultDirectory() {
    Define::DefaultDirectory = OpenSettingsRegistry().ReadString(
        kSectionDirectory, kValueDefaultDir, Define::DefaultDirectory);
}

void LoadRegistrySettings(ConfigSettings* s, std::uint32_t platformId) {
    RegistryIniFile ini = OpenSettingsRegistry();
    s->language = ini.ReadString(kSectionCommon, kValueLanguage, kDefaultLanguage);
    s->units = ini.ReadString(kSectionCommon, kValueUnits, kDefaultUnits);
    s->select = ini.ReadString(kSectionCommon, kValueSelect, kDefaultSelect);
    s->fontName = ini.ReadString(kSectionCommon, kValueFontName, DefaultFontName(platformId));
    s->colorFolder = ini.ReadString(kSectionDirectory, kValueColor, DefaultColorFolder());
    s->openFolder = ini.ReadString(kSectionDirectory, kValueOpenFolder, DefaultOpenFolder());
}

void LoadSettings(ConfigSettings* s, std::uint32_t platformId, const std::string& statusFile) {
    LoadRegistrySettings(s, platformId);
    s->dpi = ReadDPI(statusFile);
}

std::uint32_t ParsePressure(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        throw InvalidIntegerError(text);
    std::uint64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw InvalidIntegerError(text);
        v = v * 10 + std::uint64_t(text[i] - '0');
        // A number that cannot be held is no pressure either.
        if (v > 0xFFFFFFFFull)
            throw InvalidIntegerError(text);
    }
    if (negative && v != 0)
        throw InvalidIntegerError(text);
    return std::uint32_t(v);
}

std::uint32_t ReadMaxNPressure(std::uint32_t deviceMaximum) {
    // Any failure here used to end the utility, and the utility is the one
    // program that rewrites this value: show it and go on with the device's
    // own maximum, so that O.K. puts a good value back.
    try {
        RegistryIniFile ini = OpenSettingsRegistry();
        return ParsePressure(
            ini.ReadString(kSectionCommon, kValueMaxNPressure, std::to_string(deviceMaximum)));
    } catch (const SettingsError& e) {
        platform::ShowException(e.what());
        return deviceMaximum;
    }
}

void LoadSizeTypeAndUnits(ConfigSettings* s) {
    RegistryIniFile ini = OpenSettingsRegistry();
    s->sizeType = ini.ReadString(kSectionCommon, kValueSizeType, kDefaultSizeType);
    s->units = ini.ReadString(kSectionCommon, kValueUnits, kDefaultUnits);
}

FolderChain ReadAllSettings(ConfigSettings* settings, std::uint32_t platformId,
                            const OpenTablet& openTablet) {
    LoadDefaultDirectory();
    FolderChain chain = EnsureFolderChain();
    LoadSettings(settings, platformId, chain.StatusFile());
    std::optional<std::uint32_t> deviceMaximum;
    if (openTablet)
        deviceMaximum = openTablet();
    if (deviceMaximum)
        settings->maxNPressure = ReadMaxNPressure(*deviceMaximum);
    LoadSizeTypeAndUnits(settings);
    return chain;
}

void SaveSettings(const ConfigSettings& s) {
    RegistryIniFile ini = OpenSettingsRegistry();
    ini.WriteString(kSectionCommon, kValueLanguage, s.language);
    ini.WriteString(kSectionCommon, kValueFontName, s.fontName);
    ini.WriteString(kSectionCommon, kValueMaxNPressure, std::to_string(s.maxNPressure));
    ini.WriteString(kSectionCommon, kValueSizeType, s.sizeType);
    ini.WriteString(kSectionCommon, kValueUnits, s.units);
    ini.WriteString(kSectionCommon, kValueSelect, s.select);
    ini.WriteString(kSectionDirectory, kValueColor, s.colorFolder);
    ini.WriteString(kSectionDirectory, kValueOpenFolder, s.openFolder);
}

void WriteAllSettings(const ConfigSettings& settings, const std::string& statusFile) {
    SaveSettings(settings);
    WriteDPI(statusFile, settings.dpi);
}

}  // namespace velserin
