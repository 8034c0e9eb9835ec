#include "app/Define.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/app/SettingsKeys.h"
#include "tests/common/TestSupport.h"

using settingskeys::kDirectoryKey;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

class DefineTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv registry{"VELSERIN_REGISTRY_DIR", dir.File("registry")};
    ScopedEnv config{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv home{"HOME", dir.File("home")};

    void WriteHive(const std::string& body) {
        ::mkdir(dir.File("registry").c_str(), 0700);
        testsupport::WriteFile(dir.File("registry/system.reg"),
                               "Windows Registry Editor Version 5.00\n\n" + body);
    }
};

}  // namespace

TEST_F(DefineTest, ValuesAfterInitialisation) {
    Define::InitializeDefinitions();
    EXPECT_EQ(Define::SuiteVersion, "4.0");
    EXPECT_EQ(Define::ProgramDrive, "/");
    EXPECT_EQ(Define::AppDataFolder, dir.File("config"));
    EXPECT_EQ(Define::PersonalFolder, dir.File("home") + "/Documents");
    EXPECT_EQ(Define::RegistryBase, "\\Software\\Ostrevin\\VelSerin\\4.0");
    EXPECT_EQ(Define::DefinitionValues[0], 303);
    EXPECT_EQ(Define::DefinitionValues[9], 301);
}

TEST_F(DefineTest, DefaultDirectoryFromTheHive) {
    struct Case {
        const char* what;
        const char* hive;  // nullptr: no hive file at all
        const char* expected;
    } cases[] = {
        {"no hive", nullptr, "/opt/Ostrevin/VelSerin4.0"},
        {"key without the value", "", "/opt/Ostrevin/VelSerin4.0"},
        {"empty value", "\"DefaultDir\"=\"\"\n", "/opt/Ostrevin/VelSerin4.0"},
        {"present", "\"DefaultDir\"=\"/srv/velserin\"\n", "/srv/velserin"},
        {"name in another case", "\"defaultdir\"=\"/srv/other\"\n", "/srv/other"},
        {"escaped text", "\"DefaultDir\"=\"/srv/a \\\"b\\\" \\\\c\"\n", "/srv/a \"b\" \\c"},
        {"DWORD value", "\"DefaultDir\"=dword:00000001\n", "/opt/Ostrevin/VelSerin4.0"},
        {"expandable string, kept unexpanded",
         "\"DefaultDir\"=hex(2):24,00,48,00,4f,00,4d,00,45,00,2f,00,76,00,00,00\n", "$HOME/v"},
    };
    for (const Case& c : cases) {
        std::remove(dir.File("registry/system.reg").c_str());
        if (c.hive)
            WriteHive(std::string(kDirectoryKey) + c.hive);
        Define::InitializeDefinitions();
        EXPECT_EQ(Define::DefaultDirectory, c.expected) << c.what;
        EXPECT_EQ(Define::ReadDefaultDirectory(), c.expected) << c.what;
    }
}

TEST_F(DefineTest, ReadingNeverWritesTheHive) {
    Define::InitializeDefinitions();
    struct stat st;
    EXPECT_NE(::stat(dir.File("registry").c_str(), &st), 0) << "no registry folder is made";
    WriteHive("");
    std::string before = testsupport::ReadFile(dir.File("registry/system.reg"));
    Define::InitializeDefinitions();
    EXPECT_EQ(testsupport::ReadFile(dir.File("registry/system.reg")), before);
}

TEST_F(DefineTest, EmptyApplicationDataFolderWhenThereIsNoHome) {
    ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv noHome("HOME", "");
    // With neither variable the password database still names a home folder;
    // what matters is that the value never carries a trailing separator.
    Define::InitializeDefinitions();
    EXPECT_TRUE(Define::AppDataFolder.empty() || Define::AppDataFolder.back() != '/');
}
