#include "app/Settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/Define.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"
#include "tests/app/SettingsKeys.h"
#include "tests/common/TestSupport.h"

namespace reg = platform::registry;
using platform::MessageKind;
using platform::RecordingMessageSink;
using testsupport::EditorExport;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;
using velserin::ConfigSettings;
using velserin::FolderChain;

using namespace settingskeys;

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class SettingsTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv registry{"VELSERIN_REGISTRY_DIR", dir.File("registry")};
    ScopedEnv config{"XDG_CONFIG_HOME", dir.File("config")};
    ScopedEnv home{"HOME", dir.File("home")};
    RecordingMessageSink messages;
    platform::ScopedMessageSink sink{&messages};
    const std::string hivePath = dir.File("registry/system.reg");
    const std::string settingsFolder = dir.File("config/Ostrevin/VelSerin4.0/Velserin");
    const std::string statusPath = settingsFolder + "/status.ini";

    void SetUp() override {
        ::mkdir(dir.File("config").c_str(), 0700);
        Define::InitializeDefinitions();
    }

    void WriteHive(const std::string& bytes) {
        ::mkdir(dir.File("registry").c_str(), 0700);
        WriteFile(hivePath, bytes);
    }
    void WriteStatus(const std::string& bytes) {
        std::filesystem::create_directories(settingsFolder);
        WriteFile(statusPath, bytes);
    }
    std::string Stored(const char* key, const char* name) {
        reg::Value v;
        if (reg::QueryValue(reg::Root::LocalMachine, key, name, &v) != reg::Lookup::Found)
            return "<none>";
        return v.Text();
    }
    std::vector<std::string> Shown() {
        std::vector<std::string> texts;
        for (const auto& e : messages.entries) {
            EXPECT_EQ(e.kind, MessageKind::Exception);
            texts.push_back(e.text);
        }
        return texts;
    }
};

}  // namespace

TEST_F(SettingsTest, DefaultsFromNothingAndWrittenBack) {
    ConfigSettings s;
    s.language = s.units = s.select = s.sizeType = "stale";
    s.dpi = -1;
    FolderChain chain = velserin::ReadAllSettings(&s, platform::kPlatformWin32NT);
    EXPECT_EQ(s.language, "English");
    EXPECT_EQ(s.units, "uCm");
    EXPECT_EQ(s.select, "READ");
    EXPECT_EQ(s.fontName, "Microsoft Sans Serif");
    EXPECT_EQ(s.colorFolder, "/opt/Ostrevin/VelSerin4.0/Color");
    EXPECT_EQ(s.openFolder, dir.File("home") + "/Pattern");
    EXPECT_EQ(s.maxNPressure, 0u) << "no tablet";
    EXPECT_EQ(s.sizeType, "cstA4");
    EXPECT_EQ(s.dpi, 160);
    EXPECT_EQ(velserin::DefaultFontName(1), "MS Sans Serif");

    EXPECT_EQ(chain.companyFolder, dir.File("config/Ostrevin"));
    EXPECT_EQ(chain.versionFolder, dir.File("config/Ostrevin/VelSerin4.0"));
    EXPECT_EQ(chain.settingsFolder, settingsFolder);
    EXPECT_EQ(chain.StatusFile(), statusPath);
    EXPECT_TRUE(platform::DirectoryExists(settingsFolder));
    EXPECT_FALSE(platform::DirectoryExists(dir.File("registry"))) << "reading writes nothing";
    EXPECT_FALSE(platform::FileExists(statusPath));
    EXPECT_TRUE(messages.entries.empty());

    velserin::WriteAllSettings(s, chain.StatusFile());
    const std::string hive = ReadFile(hivePath);
    EXPECT_EQ(hive, std::string("Windows Registry Editor Version 5.00\n\n") + kCommonKey +
                        "\"Language\"=\"English\"\n"
                        "\"DefaultFontName\"=\"Microsoft Sans Serif\"\n"
                        "\"MaxNPressure\"=\"0\"\n"
                        "\"TREG_Size\"=\"cstA4\"\n"
                        "\"TUnits\"=\"uCm\"\n"
                        "\"Select\"=\"READ\"\n"
                        "\n" +
                        kDirectoryKey +
                        "\"Color\"=\"/opt/Ostrevin/VelSerin4.0/Color\"\n"
                        "\"VelserinOpen\"=\"" +
                        dir.File("home") + "/Pattern\"\n\n");
    EXPECT_EQ(ReadFile(statusPath), "[CanvasInfor]\nDPI=160\n");

    // The reader takes the written hive as it is, and the store reads back
    // what it wrote.
    std::vector<std::string> problems;
    EXPECT_EQ(reg::Hive::Parse(hive, "", &problems).Serialize(), hive);
    EXPECT_TRUE(problems.empty());
    ConfigSettings again;
    velserin::ReadAllSettings(&again, platform::kPlatformWin32NT);
    EXPECT_EQ(again.language + again.units + again.select + again.fontName + again.colorFolder +
                  again.openFolder + again.sizeType + std::to_string(again.dpi),
              s.language + s.units + s.select + s.fontName + s.colorFolder + s.openFolder +
                  s.sizeType + std::to_string(s.dpi));
    EXPECT_EQ(ReadFile(hivePath), hive) << "writing the same again changes nothing";
}

TEST_F(SettingsTest, StoredPressureAndItsMend) {
    struct Case {
        const char* line;  // the stored value's line; nullptr: no value
        std::uint32_t expected;
        const char* shown;  // nullptr: nothing shown
    } cases[] = {
        {nullptr, 1023, nullptr},
        {"\"MaxNPressure\"=\"512\"", 512, nullptr},
        {"\"maxnpressure\"=\"5000\"", 5000, nullptr},  // above the device's maximum: kept
        {"\"MaxNPressure\"=\"0\"", 0, nullptr},
        {"\"MaxNPressure\"=\"4294967295\"", 4294967295u, nullptr},
        {"\"MaxNPressure\"=\"4294967296\"", 1023, "''4294967296'' is not a valid integer value"},
        {"\"MaxNPressure\"=\"-1\"", 1023, "''-1'' is not a valid integer value"},
        {"\"MaxNPressure\"=\"12abc\"", 1023, "''12abc'' is not a valid integer value"},
        {"\"MaxNPressure\"=\" 12\"", 1023, "'' 12'' is not a valid integer value"},
        {"\"MaxNPressure\"=\"$10\"", 1023, "''$10'' is not a valid integer value"},
        {"\"MaxNPressure\"=\"\"", 1023, "'''' is not a valid integer value"},
        {"\"MaxNPressure\"=dword:00000010", 1023, "Invalid data type for 'MaxNPressure'"},
        {"\"MaxNPressure\"=hex(2):34,00,32,00,00,00", 42, nullptr},  // expandable: a string
    };
    for (const Case& c : cases) {
        messages.entries.clear();
        WriteHive(std::string("Windows Registry Editor Version 5.00\n\n") + kCommonKey +
                  (c.line ? std::string(c.line) + "\n" : "") + "\"TREG_Size\"=\"cstA3\"\n");
        ConfigSettings s;
        // The utility goes on: everything after the pressure is still read.
        EXPECT_NO_THROW(velserin::ReadAllSettings(&s, 2, [] { return 1023u; })) << c.line;
        EXPECT_EQ(s.maxNPressure, c.expected) << (c.line ? c.line : "missing");
        EXPECT_EQ(s.sizeType, "cstA3");
        if (c.shown) {
            EXPECT_EQ(Shown(), std::vector<std::string>{c.shown});
        } else {
            EXPECT_TRUE(messages.entries.empty()) << messages.entries[0].text;
        }

        // Without a tablet the stored value is not read, and 0 is saved.
        messages.entries.clear();
        ConfigSettings none;
        velserin::ReadAllSettings(&none, 2, [] { return std::optional<std::uint32_t>(); });
        EXPECT_EQ(none.maxNPressure, 0u);
        EXPECT_TRUE(messages.entries.empty());
    }
    velserin::ConfigSettings s;
    velserin::SaveSettings(s);
    EXPECT_EQ(Stored(kCommonPath, "MaxNPressure"), "0");
}

TEST_F(SettingsTest, ReadsAroundTheTabletInTheirOrder) {
    ConfigSettings s;
    bool called = false;
    velserin::ReadAllSettings(&s, 2, [&]() -> std::optional<std::uint32_t> {
        called = true;
        // By now the folders are made and the first batch has been read ...
        EXPECT_TRUE(platform::DirectoryExists(settingsFolder));
        EXPECT_EQ(s.language, "English");
        // ... and what changes now is seen by the last batch only.
        EXPECT_TRUE(reg::SetStringValue(reg::Root::LocalMachine, kCommonPath, "Language", "Thai"));
        EXPECT_TRUE(
            reg::SetStringValue(reg::Root::LocalMachine, kCommonPath, "TREG_Size", "cstA0"));
        EXPECT_TRUE(reg::SetStringValue(reg::Root::LocalMachine, kCommonPath, "TUnits", "uDot"));
        return 7;
    });
    EXPECT_TRUE(called);
    EXPECT_EQ(s.language, "English");
    EXPECT_EQ(s.sizeType, "cstA0");
    EXPECT_EQ(s.units, "uDot") << "read again after the paper size";
    EXPECT_EQ(s.maxNPressure, 7u);
}

TEST_F(SettingsTest, EditorExportIsReadAndKept) {
    WriteHive(
        EditorExport("Windows Registry Editor Version 5.00\n"
                     "\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTREVIN\\VELSERIN\\4.0\\COMMON]\n"
                     "\"language\"=\"Korean\"\n"
                     "\"TUNITS\"=\"UINCH\"\n"
                     "\"Select\"=\"MERGE\"\n"
                     "\"Counter\"=dword:00000005\n"
                     "\"Unknown\"=\"keep me\"\n"
                     "this line is no value\n"
                     "\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ostrevin\\VelSerin\\4.0\\Directory]\n"
                     "\"DefaultDir\"=\"/srv/velserin\"\n"
                     "\"Color\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,2f,00,63,00,00,00\n"
                     "\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ostrevin\\Other]\n"
                     "\"Owner\"=\"another program\"\n"));
    ConfigSettings s;
    FolderChain chain = velserin::ReadAllSettings(&s, 2);
    EXPECT_EQ(Define::DefaultDirectory, "/srv/velserin") << "\"Defaultdir\" names \"DefaultDir\"";
    EXPECT_EQ(s.language, "Korean");
    EXPECT_EQ(s.units, "UINCH");
    EXPECT_FALSE(velserin::IsToken(velserin::kUnits, s.units)) << "tokens compare exactly";
    EXPECT_TRUE(velserin::IsToken(velserin::kUnits, "uInch"));
    EXPECT_EQ(s.select, "MERGE");
    EXPECT_EQ(s.colorFolder, "%HOME%/c") << "an expandable string, unexpanded";
    EXPECT_EQ(s.openFolder, dir.File("home") + "/Pattern");

    s.language = "Japanese";
    velserin::WriteAllSettings(s, chain.StatusFile());
    const std::string hive = ReadFile(hivePath);
    EXPECT_EQ(hive.find('\r'), std::string::npos) << "written in UTF-8 with LF lines";
    EXPECT_NE(hive.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTREVIN\\VELSERIN\\4.0\\COMMON]\n"
                        "\"language\"=\"Japanese\"\n"
                        "\"TUNITS\"=\"UINCH\"\n"),
              std::string::npos)
        << hive;
    for (const char* once : {"\"language\"", "\"tunits\"", "\"select\"", "\"color\"",
                             "\"defaultdir\"", "\\common]", "\\directory]"})
        EXPECT_EQ(Count(Lower(hive), once), 1u) << once << "\n" << hive;
    for (const char* kept :
         {"\"Counter\"=dword:00000005", "\"Unknown\"=\"keep me\"", "this line is no value",
          "\"DefaultDir\"=\"/srv/velserin\"", "\"Owner\"=\"another program\""})
        EXPECT_NE(hive.find(kept), std::string::npos) << kept;
    EXPECT_EQ(Stored(kDirectoryPath, "Color"), "%HOME%/c");
}

TEST_F(SettingsTest, EmptyDefaultdirEmptiesTheInstallationFolder) {
    WriteHive(std::string("Windows Registry Editor Version 5.00\n\n") + kDirectoryKey +
              "\"Defaultdir\"=\"\"\n");
    Define::InitializeDefinitions();
    EXPECT_EQ(Define::DefaultDirectory, "/opt/Ostrevin/VelSerin4.0")
        << "emptiness falls back there";
    ConfigSettings s;
    velserin::ReadAllSettings(&s, 2);
    EXPECT_EQ(Define::DefaultDirectory, "");
    EXPECT_EQ(s.colorFolder, "/Color");
}

TEST_F(SettingsTest, WrongTypesEndTheReading) {
    const std::string common = kCommonKey, directory = kDirectoryKey;
    struct Case {
        std::string hive;
        const char* message;
        bool foldersMade;
        bool tabletOpened;
    } cases[] = {
        {directory + "\"Defaultdir\"=dword:00000001\n", "Invalid data type for 'Defaultdir'", false,
         false},
        {common + "\"Language\"=hex:41,00\n\"Select\"=dword:1\n",
         "Invalid data type for 'Language'", true, false},
        {common + "\"Select\"=dword:1\n\n" + directory + "\"VelserinOpen\"=dword:1\n",
         "Invalid data type for 'Select'", true, false},
        {common + "\"TREG_Size\"=hex(7):41,00,00,00,00,00\n", "Invalid data type for 'TREG_Size'",
         true, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir.File("config/Ostrevin"));
        WriteHive("Windows Registry Editor Version 5.00\n\n" + c.hive);
        Define::InitializeDefinitions();
        ConfigSettings s;
        bool tabletOpened = false;
        try {
            velserin::ReadAllSettings(&s, 2, [&] {
                tabletOpened = true;
                return 1u;
            });
            ADD_FAILURE() << "no error for " << c.hive;
        } catch (const velserin::InvalidDataTypeError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(platform::DirectoryExists(settingsFolder), c.foldersMade) << c.hive;
        EXPECT_EQ(tabletOpened, c.tabletOpened) << c.hive;
    }
}

TEST_F(SettingsTest, StatusIniKeepsItsNeighbours) {
    const std::string before =
        "; canvas of the design program\r\n"
        "[Window]\r\n"
        "Maximized=1\r\n"
        "\r\n"
        "[canvasinfor]\r\n"
        "Width=800\r\n"
        "dpi = 300\r\n"
        "\r\n"
        "[Recent]\r\n"
        "File1=/srv/a.vsn\r\n";
    WriteStatus(before);
    ConfigSettings s;
    FolderChain chain = velserin::ReadAllSettings(&s, 2);
    EXPECT_EQ(s.dpi, 300);
    s.dpi = 1000;
    velserin::WriteAllSettings(s, chain.StatusFile());
    std::string after = before;
    after.replace(after.find("dpi = 300"), 9, "dpi = 1000");
    EXPECT_EQ(ReadFile(statusPath), after);

    WriteStatus("[CanvasInfor]\nDPI=high\n");
    EXPECT_EQ(velserin::ReadDPI(statusPath), 160);
}

TEST_F(SettingsTest, UnwritableStatusIni) {
    velserin::EnsureFolderChain();
    ::mkdir(statusPath.c_str(), 0700);  // something that cannot be written over
    try {
        velserin::WriteDPI(statusPath, 160);
        ADD_FAILURE() << "no error";
    } catch (const velserin::IniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + statusPath);
    }
    const std::string missing = dir.File("nowhere/status.ini");
    try {
        velserin::WriteDPI(missing, 160);
        ADD_FAILURE() << "no error";
    } catch (const velserin::SettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + missing);
    }
}

TEST_F(SettingsTest, FolderChainStopsAtTheFirstFolderItCannotMake) {
    struct Case {
        const char* blocked;  // made a plain file, so that no folder can be made there
        const char* failing;
    } cases[] = {
        {"config/Ostrevin", "config/Ostrevin"},
        {"config/Ostrevin/VelSerin4.0", "config/Ostrevin/VelSerin4.0"},
        {"config/Ostrevin/VelSerin4.0/Velserin", "config/Ostrevin/VelSerin4.0/Velserin"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir.File("config/Ostrevin"));
        std::filesystem::create_directories(
            std::filesystem::path(dir.File(c.blocked)).parent_path());
        WriteFile(dir.File(c.blocked), "");
        bool tabletOpened = false;
        ConfigSettings s;
        try {
            velserin::ReadAllSettings(&s, 2, [&] {
                tabletOpened = true;
                return 1u;
            });
            ADD_FAILURE() << c.blocked;
        } catch (const velserin::FolderCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create " + dir.File(c.failing));
        }
        EXPECT_FALSE(tabletOpened) << "nothing after the chain runs";
        // The folders in front of the failing one stay.
        for (std::filesystem::path p = dir.File(c.failing); p != dir.File("config");) {
            p = p.parent_path();
            EXPECT_TRUE(platform::DirectoryExists(p.string())) << p;
        }
    }

    // One folder at a time: the chain makes no folder above its first one.
    Define::InitializeDefinitions();
    Define::AppDataFolder = dir.File("absent/config");
    EXPECT_THROW(velserin::EnsureFolderChain(), velserin::FolderCreateError);
    EXPECT_FALSE(platform::DirectoryExists(dir.File("absent")));

    FolderChain root = velserin::SettingsFolderChain("", "4.0");
    EXPECT_EQ(root.companyFolder, "/Ostrevin");
    EXPECT_EQ(root.versionFolder, "/Ostrevin/VelSerin4.0");
    EXPECT_EQ(root.settingsFolder, "/Ostrevin/VelSerin4.0/Velserin");
    EXPECT_EQ(root.StatusFile(), "/Ostrevin/VelSerin4.0/Velserin/status.ini");
}

namespace {
int g_renames = 0;
int g_failRename = 0;
int FailNthRename(const char* stage) {
    if (std::strcmp(stage, "rename") != 0)
        return 0;
    return ++g_renames == g_failRename ? ENOSPC : 0;
}
}  // namespace

TEST_F(SettingsTest, SavingStopsAtTheWriteThatFails) {
    // With an empty hive every value is one replacement of the hive, and a
    // new section one more, in the order of the O.K. sequence.
    struct Step {
        const char* message;
        const char* key;
        const char* name;  // the value this step writes; nullptr: a section
    } steps[] = {
        {"Failed to create key Common", kCommonPath, nullptr},
        {"Failed to set data for 'Language'", kCommonPath, "Language"},
        {"Failed to set data for 'DefaultFontName'", kCommonPath, "DefaultFontName"},
        {"Failed to set data for 'MaxNPressure'", kCommonPath, "MaxNPressure"},
        {"Failed to set data for 'TREG_Size'", kCommonPath, "TREG_Size"},
        {"Failed to set data for 'TUnits'", kCommonPath, "TUnits"},
        {"Failed to set data for 'Select'", kCommonPath, "Select"},
        {"Failed to create key Directory", kDirectoryPath, nullptr},
        {"Failed to set data for 'Color'", kDirectoryPath, "Color"},
        {"Failed to set data for 'VelserinOpen'", kDirectoryPath, "VelserinOpen"},
    };
    ConfigSettings s;
    FolderChain chain = velserin::ReadAllSettings(&s, 2);
    platform::SetAtomicWriteFaultHook(FailNthRename);
    for (int k = 1; k <= int(std::size(steps)); ++k) {
        std::remove(hivePath.c_str());
        g_renames = 0;
        g_failRename = k;
        try {
            velserin::WriteAllSettings(s, chain.StatusFile());
            ADD_FAILURE() << "no error at step " << k;
        } catch (const velserin::RegistryError& e) {
            EXPECT_STREQ(e.what(), steps[k - 1].message);
        }
        for (int i = 0; i < int(std::size(steps)); ++i) {
            if (!steps[i].name)
                continue;
            bool written = Stored(steps[i].key, steps[i].name) != "<none>";
            EXPECT_EQ(written, i < k - 1) << steps[i].name << " when step " << k << " fails";
        }
        EXPECT_FALSE(platform::FileExists(chain.StatusFile())) << "status.ini is not reached";
    }
    platform::SetAtomicWriteFaultHook(nullptr);

    // A hive that cannot be opened for writing fails at the first key.
    std::remove(hivePath.c_str());
    ::mkdir(hivePath.c_str(), 0700);
    try {
        velserin::SaveSettings(s);
        ADD_FAILURE() << "no error";
    } catch (const velserin::RegistryError& e) {
        EXPECT_STREQ(e.what(), "Failed to create key Common");
    }
}
