#pragma once
// Suite-wide definitions: the version, folders and registry location that
// every part of the utility takes its values from. Empty until
// InitializeDefinitions runs.

#include <string>

namespace Define {

extern std::string SuiteVersion;
extern std::string PersonalFolder;
extern std::string ProgramDrive;
extern std::string DefaultDirectory;
extern std::string AppDataFolder;
extern std::string RegistryBase;

// Set with the other values; nothing in this utility reads them.
extern int DefinitionValues[10];
constexpr int kDefinitionValues[10] = {303, 303, 300, 240, 209, 151, 180, 270, 280, 301};

// The installation folder when the registry names none: the product name
// followed directly by the version.
constexpr const char* kInstallFolderStem = "/opt/Ostrevin/VelSerin";

void InitializeDefinitions();
// The path of a shell special folder (5 documents, 26 application data), or "".
std::string GetSpecialFolder(int number);
// The installation folder: HKEY_LOCAL_MACHINE "...\Directory" "DefaultDir",
// or the default when that is missing or empty.
std::string ReadDefaultDirectory();

}  // namespace Define
