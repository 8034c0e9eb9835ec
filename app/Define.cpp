#include "app/Define.h"

#include "platform/Registry.h"
#include "platform/SystemInfo.h"

namespace Define {

std::string SuiteVersion;
std::string PersonalFolder;
std::string ProgramDrive;
std::string DefaultDirectory;
std::string AppDataFolder;
std::string RegistryBase;
int DefinitionValues[10] = {};

namespace {
// The drive of a path, as the Windows drive extraction gives it. Linux paths
// have one root, so every absolute path is on the drive "/" and the drive
// part itself is empty.
std::string ExtractDrive(const std::string& /*path*/) {
    return std::string();
}
}  // namespace

void InitializeDefinitions() {
    SuiteVersion = "4.0";
    ProgramDrive = ExtractDrive(platform::ProgramPath()) + "/";
    DefaultDirectory = ReadDefaultDirectory();
    PersonalFolder = GetSpecialFolder(platform::kFolderPersonal);
    AppDataFolder = GetSpecialFolder(platform::kFolderAppData);
    for (int i = 0; i < 10; ++i)
        DefinitionValues[i] = kDefinitionValues[i];
    RegistryBase = "\\Software\\Ostrevin\\VelSerin\\" + SuiteVersion;
}

std::string GetSpecialFolder(int number) {
    return platform::SpecialFolderPath(number);
}

std::string ReadDefaultDirectory() {
    namespace reg = platform::registry;
    reg::Value value;
    std::string text;
    // Opened for reading only: nothing is created. A value of another type
    // than a string reads as empty; an expandable string reads unexpanded.
    if (reg::QueryValue(reg::Root::LocalMachine,
                        "Software\\Ostrevin\\VelSerin\\" + SuiteVersion + "\\Directory\\",
                        "DefaultDir", &value) == reg::Lookup::Found)
        text = value.Text();
    if (text.empty())
        text = kInstallFolderStem + SuiteVersion;
    return text;
}

}  // namespace Define
