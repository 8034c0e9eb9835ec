#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/Files.h"
#include "platform/SystemInfo.h"
#include "tests/common/TestSupport.h"

namespace reg = platform::registry;
using reg::Root;
using reg::ValueType;
using testsupport::ScopedEnv;
using testsupport::EditorExport;
using testsupport::TempDir;

namespace {

const char* kCommon = "Software\\Ostrevin\\VelSerin\\4.0\\Common";

// "hex(2):" data of a text: UTF-16 little endian with its terminating NUL.
std::string HexOfText(const std::string& utf8) {
    std::string out;
    char buf[8];
    std::u16string units = platform::Utf8ToUtf16(utf8);
    units.push_back(u'\0');
    for (char16_t u : units) {
        std::snprintf(buf, sizeof buf, "%s%02x,%02x", out.empty() ? "" : ",", u & 0xFF, u >> 8);
        out += buf;
    }
    return out;
}

// A hive as the registry editor would export it, with a line in it that no
// editor would write.
const std::string kExport =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ostrevin]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OSTREVIN\\VelSerin\\4.0\\Common]\n"
    "\"Language\"=\"Korean\"\n"
    "\"defaultFONTname\"=\"Gulim\"\n"
    "\"Empty\"=\"\"\n"
    "\"Folder\"=hex(2):" +
    HexOfText("%USERPROFILE%\\Pattern") +
    "\n"
    "\"Count\"=dword:0000002a\n"
    "this line is not a value\n"
    "\"Blob\"=hex:01,02,03,\\\n"
    "  04,05\n"
    "@=\"the default value\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ostrevin\\VelSerin\\4.0\\Directory]\n"
    "\"DefaultDir\"=\"C:\\\\Ostrevin\\\\VelSerin4.0\"\n";

class RegistryFiles : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv registry{"VELSERIN_REGISTRY_DIR", dir.File("registry")};
    std::string hivePath = dir.File("registry/system.reg");

    void WriteHive(const std::string& bytes) {
        ::mkdir(dir.File("registry").c_str(), 0700);
        testsupport::WriteFile(hivePath, bytes);
    }
    std::string HiveText() { return testsupport::ReadFile(hivePath); }
    reg::Hive Load() {
        reg::Hive hive;
        EXPECT_TRUE(reg::LoadHive(Root::LocalMachine, &hive));
        return hive;
    }
    std::string Text(const char* key, const char* name) {
        reg::Value v;
        if (reg::QueryValue(Root::LocalMachine, key, name, &v) != reg::Lookup::Found)
            return "<none>";
        return v.Text();
    }
};

}  // namespace

// ---- Reading ------------------------------------------------------------------

TEST(RegistryParse, EditorExportInUtf16WithCrLf) {
    std::vector<std::string> problems;
    reg::Hive hive = reg::Hive::Parse(EditorExport(kExport), "system.reg", &problems);

    // Key and value names in any case name the same key and value.
    const reg::Key* key =
        hive.FindKey(Root::LocalMachine, "software\\ostrevin\\velserin\\4.0\\COMMON");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->FindValue("language")->Text(), "Korean");
    EXPECT_EQ(key->FindValue("DefaultFontName")->Text(), "Gulim");
    EXPECT_EQ(key->FindValue("DefaultFontName")->name, "defaultFONTname") << "case as written";

    const reg::Value* empty = key->FindValue("Empty");
    ASSERT_NE(empty, nullptr) << "an existing empty value is a value";
    EXPECT_EQ(empty->type, ValueType::String);
    EXPECT_EQ(empty->Text(), "");

    const reg::Value* folder = key->FindValue("Folder");
    EXPECT_EQ(folder->type, ValueType::ExpandString);
    EXPECT_TRUE(folder->IsString());
    EXPECT_EQ(folder->Text(), "%USERPROFILE%\\Pattern") << "unexpanded";

    const reg::Value* count = key->FindValue("Count");
    EXPECT_EQ(count->type, ValueType::DWord);
    EXPECT_FALSE(count->IsString());
    EXPECT_EQ(count->Text(), "");
    EXPECT_EQ(count->DWordValue(), 42u);

    const reg::Value* blob = key->FindValue("Blob");
    EXPECT_EQ(blob->type, ValueType::Binary);
    EXPECT_EQ(blob->data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5})) << "continued over two lines";
    EXPECT_EQ(key->FindValue("")->Text(), "the default value");

    EXPECT_EQ(hive.FindKey(Root::LocalMachine, "Software\\Ostrevin\\VelSerin\\4.0\\Directory")
                  ->FindValue("defaultdir")
                  ->Text(),
              "C:\\Ostrevin\\VelSerin4.0");
    EXPECT_TRUE(hive.KeyExists(Root::LocalMachine, "Software\\Ostrevin\\VelSerin"))
        << "a key above a listed key exists";
    EXPECT_FALSE(hive.KeyExists(Root::LocalMachine, "Software\\Ostrevin\\Vel"));
    EXPECT_EQ(hive.FindKey(Root::CurrentUser, kCommon), nullptr) << "another root";

    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("system.reg:11"), std::string::npos) << problems[0];
    EXPECT_NE(problems[0].find("this line is not a value"), std::string::npos) << problems[0];
}

TEST(RegistryParse, UnderstoodInEveryEncodingAlike) {
    std::string utf8 = reg::Hive::Parse(kExport).Serialize();
    EXPECT_EQ(reg::Hive::Parse(EditorExport(kExport)).Serialize(), utf8);
    EXPECT_EQ(reg::Hive::Parse("\xEF\xBB\xBF" + kExport).Serialize(), utf8);
    // UTF-16 whose byte-order mark was lost on the way.
    EXPECT_EQ(reg::Hive::Parse(EditorExport(kExport).substr(2)).Serialize(), utf8);
    // Big endian.
    std::string le = EditorExport(kExport), be = "\xFE\xFF";
    for (std::size_t i = 2; i + 1 < le.size(); i += 2)
        be += std::string{le[i + 1], le[i]};
    EXPECT_EQ(reg::Hive::Parse(be).Serialize(), utf8);
}

TEST(RegistryParse, LinesNotUnderstoodStayWhereTheyWere) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "stray line before any key\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\A]\n"
        "\"Name\"=\"a\"\n"
        "; a comment\n"
        "\"Unterminated\"=\"abc\n"
        "\"Truncated\"=hex:01,02,\\\n"
        "[HKEY_LOCAL_MACHINE\\Software\\B\n"
        "\"Name\"=\"b\"\n"
        "\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\C]\n"
        "\"Name\"=\"c\"\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\D]\n"
        "\"Name\"=\"d\"\n";
    std::vector<std::string> problems;
    reg::Hive hive = reg::Hive::Parse(text, "t", &problems);

    // The values under a key line that is not understood belong to no key;
    // before, they were taken for the values of the key above it.
    EXPECT_EQ(hive.FindKey(Root::LocalMachine, "Software\\A")->FindValue("Name")->Text(), "a");
    EXPECT_EQ(hive.FindKey(Root::LocalMachine, "Software\\B"), nullptr);
    EXPECT_EQ(hive.FindKey(Root::LocalMachine, "Software\\C"), nullptr);
    EXPECT_EQ(hive.FindKey(Root::LocalMachine, "Software\\D")->FindValue("Name")->Text(), "d");
    // A hex value cut short does not swallow the key line that follows it.
    EXPECT_EQ(hive.FindKey(Root::LocalMachine, "Software\\A")->FindValue("Truncated"), nullptr);

    EXPECT_EQ(problems.size(), 5u);  // stray, unterminated, truncated, [B, [-C
    // Everything is written back: the kept lines verbatim, in their place.
    reg::Hive& h = hive;
    h.CreateKey(Root::LocalMachine, "Software\\A").SetString("New", "n");
    std::string out = h.Serialize();
    for (const char* kept :
         {"stray line before any key", "; a comment", "\"Unterminated\"=\"abc",
          "\"Truncated\"=hex:01,02,\\", "[HKEY_LOCAL_MACHINE\\Software\\B\n\"Name\"=\"b\"",
          "[-HKEY_LOCAL_MACHINE\\Software\\C]\n\"Name\"=\"c\""})
        EXPECT_NE(out.find(kept), std::string::npos) << kept << "\n" << out;
    reg::Hive again = reg::Hive::Parse(out);
    EXPECT_EQ(again.FindKey(Root::LocalMachine, "Software\\A")->FindValue("New")->Text(), "n");
    EXPECT_EQ(again.Serialize(), out);
}

TEST(RegistryParse, WrittenTextReadsBackIdentically) {
    reg::Hive hive;
    reg::Key& key = hive.CreateKey(Root::LocalMachine, "Software\\Test");
    const std::vector<std::pair<std::string, std::string>> values = {
        {"Plain", "text"},
        {"Quotes and backslashes", "C:\\dir\\ \"quoted\" \\"},
        {"Empty", ""},
        {"Line breaks", "first\nsecond\r\nthird"},
        {"Tab and NUL-free control", "a\tb\x01"},
        {"Non-ASCII \xED\x95\x9C", "\xEA\xB5\xB4\xEB\xA6\xBC \xE4\xB8\xAD"},
        {"", "the default value"},
    };
    for (const auto& [name, text] : values)
        EXPECT_TRUE(key.SetString(name, text));
    std::string text = hive.Serialize();
    EXPECT_EQ(text.find('\r'), std::string::npos) << "LF lines";
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);

    std::vector<std::string> problems;
    reg::Hive back = reg::Hive::Parse(text, "", &problems);
    EXPECT_TRUE(problems.empty()) << problems[0];
    for (const auto& [name, value] : values) {
        const reg::Value* v = back.FindKey(Root::LocalMachine, "Software\\Test")->FindValue(name);
        ASSERT_NE(v, nullptr) << name;
        EXPECT_EQ(v->type, ValueType::String) << name;
        EXPECT_EQ(v->Text(), value) << name;
    }
    EXPECT_EQ(back.Serialize(), text);
}

TEST(RegistryParse, SettingAValueOfAnotherCaseReplacesIt) {
    reg::Hive hive = reg::Hive::Parse(
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n"
        "\"DefaultDir\"=\"/a\"\n\"Other\"=\"o\"\n\"defaultdir\"=\"/b\"\n");
    reg::Key* key = hive.FindKey(Root::LocalMachine, "K");
    EXPECT_EQ(key->FindValue("Defaultdir")->Text(), "/b") << "the later line wins, as on import";
    EXPECT_TRUE(key->SetString("Defaultdir", "/c"));
    EXPECT_FALSE(key->SetString("DEFAULTDIR", "/c")) << "unchanged";
    std::string out = hive.Serialize();
    EXPECT_EQ(out,
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n"
              "\"DefaultDir\"=\"/c\"\n\"Other\"=\"o\"\n\n");
}

TEST(RegistryParse, OldRegedit4StringsAreConverted) {
    ScopedEnv cp("VELSERIN_ANSI_CODEPAGE", "1252");
    // In "REGEDIT4" files hex(2) holds 8-bit text: "caf\xE9" in code page 1252.
    reg::Hive hive = reg::Hive::Parse(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"E\"=hex(2):63,61,66,e9,00\r\n\"S\"="
        "\"plain\"\r\n");
    const reg::Key* key = hive.FindKey(Root::LocalMachine, "K");
    EXPECT_EQ(key->FindValue("E")->Text(), "caf\xC3\xA9");
    EXPECT_EQ(key->FindValue("S")->Text(), "plain");
    reg::Hive back = reg::Hive::Parse(hive.Serialize());
    EXPECT_EQ(back.FindKey(Root::LocalMachine, "K")->FindValue("E")->Text(), "caf\xC3\xA9");
}

TEST(RegistryParse, AnyBytesParseAndTheTextIsStable) {
    // Whatever a file holds, the parser neither crashes nor loses it: what it
    // writes reads back to the same text.
    std::mt19937 rng(1234);
    const std::string pieces[] = {"[HKEY_LOCAL_MACHINE\\K]",
                                  "\"N\"=",
                                  "\"v\"",
                                  "hex:",
                                  "hex(2):",
                                  "00,41,",
                                  "\\",
                                  "dword:",
                                  "\n",
                                  "\r\n",
                                  "@=",
                                  "\"",
                                  "[",
                                  "]",
                                  ";",
                                  " ",
                                  "\xFF\xFE",
                                  "\xC3",
                                  "=",
                                  "ff"};
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        int n = int(rng() % 40);
        for (int i = 0; i < n; ++i)
            bytes += pieces[rng() % std::size(pieces)];
        std::string once = reg::Hive::Parse(bytes).Serialize();
        EXPECT_EQ(reg::Hive::Parse(once).Serialize(), once) << "from: " << bytes;
    }
}

// ---- Files --------------------------------------------------------------------

TEST_F(RegistryFiles, ReadsNeverWrite) {
    EXPECT_EQ(reg::QueryValue(Root::LocalMachine, kCommon, "Language", nullptr),
              reg::Lookup::NoKey);
    EXPECT_FALSE(platform::DirectoryExists(dir.File("registry")));
    WriteHive(EditorExport(kExport));
    EXPECT_EQ(Text(kCommon, "LANGUAGE"), "Korean");
    EXPECT_EQ(reg::QueryValue(Root::LocalMachine, kCommon, "Missing", nullptr),
              reg::Lookup::NoValue);
    EXPECT_EQ(HiveText(), EditorExport(kExport));
    EXPECT_FALSE(platform::FileExists(hivePath + ".lock"));
}

TEST_F(RegistryFiles, FirstWriteMakesFolderAndHive) {
    ASSERT_TRUE(reg::SetStringValue(Root::LocalMachine, kCommon, "Language", "English"));
    EXPECT_EQ(HiveText(),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Ostrevin\\VelSerin\\4.0\\Common]\n"
              "\"Language\"=\"English\"\n\n");
    EXPECT_TRUE(platform::FileExists(hivePath + ".lock"));
    ASSERT_TRUE(reg::CreateKey(Root::CurrentUser, "Software\\Ostrevin\\Tablet"));
    EXPECT_EQ(testsupport::ReadFile(dir.File("registry/user.reg")),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Ostrevin\\Tablet]\n\n");
    EXPECT_EQ(Text(kCommon, "Language"), "English") << "HKEY_LOCAL_MACHINE unchanged";
}

TEST_F(RegistryFiles, WriteKeepsWhatItDoesNotKnowAndConvertsToUtf8) {
    WriteHive(EditorExport(kExport));
    ::chmod(hivePath.c_str(), 0640);
    ASSERT_TRUE(reg::SetStringValue(Root::LocalMachine, kCommon, "LANGUAGE", "Thai"));
    std::string text = HiveText();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("this line is not a value\n"), std::string::npos) << "kept verbatim";
    EXPECT_NE(text.find("\"Language\"=\"Thai\""), std::string::npos) << "the name keeps its case";
    EXPECT_EQ(text.find("Korean"), std::string::npos);

    reg::Hive hive = Load();
    const reg::Key* key = hive.FindKey(Root::LocalMachine, kCommon);
    EXPECT_EQ(key->FindValue("defaultfontname")->Text(), "Gulim");
    EXPECT_EQ(key->FindValue("Folder")->type, ValueType::ExpandString);
    EXPECT_EQ(key->FindValue("Folder")->Text(), "%USERPROFILE%\\Pattern");
    EXPECT_EQ(key->FindValue("Count")->DWordValue(), 42u);
    EXPECT_EQ(key->FindValue("Blob")->data.size(), 5u);
    EXPECT_EQ(key->FindValue("Empty")->Text(), "");
    EXPECT_EQ(Text("Software\\Ostrevin\\VelSerin\\4.0\\Directory", "DefaultDir"),
              "C:\\Ostrevin\\VelSerin4.0");
    struct stat st;
    ASSERT_EQ(::stat(hivePath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the hive keeps its mode";
}

TEST_F(RegistryFiles, UnchangedValueLeavesTheFileAlone) {
    WriteHive(EditorExport(kExport));
    struct stat before, after;
    ASSERT_EQ(::stat(hivePath.c_str(), &before), 0);
    ASSERT_TRUE(reg::SetStringValue(Root::LocalMachine, kCommon, "language", "Korean"));
    ASSERT_TRUE(reg::CreateKey(Root::LocalMachine, "Software\\Ostrevin"));
    ASSERT_EQ(::stat(hivePath.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(HiveText(), EditorExport(kExport));
}

namespace {
const char* g_failStage = nullptr;
int FailAt(const char* stage) {
    return g_failStage && std::strcmp(stage, g_failStage) == 0 ? ENOSPC : 0;
}
}  // namespace

TEST_F(RegistryFiles, FailedWriteLeavesThePreviousHive) {
    WriteHive(kExport);
    platform::SetAtomicWriteFaultHook(FailAt);
    for (const char* stage : {"write", "flush", "rename"}) {
        g_failStage = stage;
        int err = 0;
        EXPECT_FALSE(reg::SetStringValue(Root::LocalMachine, kCommon, "Language", "Thai", &err))
            << stage;
        EXPECT_EQ(err, ENOSPC) << stage;
        EXPECT_EQ(HiveText(), kExport) << stage;
    }
    g_failStage = nullptr;
    platform::SetAtomicWriteFaultHook(nullptr);
    // Nothing left behind, and the lock was given back.
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir.File("registry")))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"system.reg", "system.reg.lock"}));
    ASSERT_TRUE(reg::SetStringValue(Root::LocalMachine, kCommon, "Language", "Thai"));
    EXPECT_EQ(Text(kCommon, "Language"), "Thai");
}

TEST_F(RegistryFiles, AHiveThatCannotBeReadIsNeverReplaced) {
    ::mkdir(dir.File("registry").c_str(), 0700);
    ::mkdir(hivePath.c_str(), 0700);  // cannot be read as a file
    int err = 0;
    EXPECT_FALSE(reg::SetStringValue(Root::LocalMachine, kCommon, "Language", "Thai", &err));
    EXPECT_EQ(err, EISDIR);
    EXPECT_TRUE(platform::DirectoryExists(hivePath));
    EXPECT_EQ(reg::QueryValue(Root::LocalMachine, kCommon, "Language", nullptr),
              reg::Lookup::NoKey);

    ScopedEnv blocked("VELSERIN_REGISTRY_DIR", dir.File("file/registry"));
    testsupport::WriteFile(dir.File("file"), "");
    EXPECT_FALSE(reg::CreateKey(Root::LocalMachine, "Software", &err));
    EXPECT_EQ(err, ENOTDIR);

    EXPECT_FALSE(reg::SetStringValue(Root::LocalMachine, "Bad\nKey", "Name", "v", &err));
    EXPECT_EQ(err, EINVAL);
    EXPECT_FALSE(reg::SetStringValue(Root::LocalMachine, "Key", "Bad\rName", "v", &err));
    EXPECT_EQ(err, EINVAL);
}

TEST_F(RegistryFiles, ALinkedHiveIsWrittenWhereItPoints) {
    ::mkdir(dir.File("registry").c_str(), 0700);
    testsupport::WriteFile(dir.File("shared.reg"), kExport);
    ASSERT_EQ(::symlink(dir.File("shared.reg").c_str(), hivePath.c_str()), 0);
    ASSERT_TRUE(reg::SetStringValue(Root::LocalMachine, kCommon, "Language", "Thai"));
    struct stat st;
    ASSERT_EQ(::lstat(hivePath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(testsupport::ReadFile(dir.File("shared.reg")).find("\"Language\"=\"Thai\""),
              std::string::npos);
}

TEST_F(RegistryFiles, ABatchSeesAndKeepsWhatOthersCommitted) {
    reg::HiveWriter writer(Root::LocalMachine);
    ASSERT_TRUE(writer.Begin());
    int err = 0;
    EXPECT_FALSE(writer.Begin(&err)) << "one batch at a time";
    EXPECT_EQ(err, EBUSY);
    EXPECT_TRUE(writer.IsOpen()) << "and the first one goes on";
    writer.End();

    ASSERT_TRUE(reg::SetStringValue(Root::LocalMachine, kCommon, "A", "1"));
    ASSERT_TRUE(writer.Begin());
    EXPECT_EQ(writer.Contents().FindKey(Root::LocalMachine, kCommon)->FindValue("A")->Text(), "1");
    writer.Contents().CreateKey(Root::LocalMachine, kCommon).SetString("B", "2");
    ASSERT_TRUE(writer.Commit());
    writer.Contents().CreateKey(Root::LocalMachine, kCommon).SetString("C", "3");
    ASSERT_TRUE(writer.Commit());
    writer.End();
    EXPECT_EQ(Text(kCommon, "A") + Text(kCommon, "B") + Text(kCommon, "C"), "123");
}

TEST_F(RegistryFiles, TwoProcessesWritingAtOnceKeepEveryValue) {
    WriteHive(kExport);
    const int kWrites = 60;
    std::vector<pid_t> children;
    for (const char* who : {"A", "B"}) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kWrites; ++i) {
                std::string name = std::string(who) + std::to_string(i);
                ok = reg::SetStringValue(Root::LocalMachine, kCommon, name, name + "-value") && ok;
                // Rewriting a value another writer may just have read.
                ok = reg::SetStringValue(Root::LocalMachine, kCommon, "Shared", name) && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<std::string> problems;
    reg::Hive hive = reg::Hive::Parse(HiveText(), "", &problems);
    EXPECT_EQ(problems.size(), 1u) << "only the line that was there";
    const reg::Key* key = hive.FindKey(Root::LocalMachine, kCommon);
    ASSERT_NE(key, nullptr);
    for (const char* who : {"A", "B"})
        for (int i = 0; i < kWrites; ++i) {
            std::string name = std::string(who) + std::to_string(i);
            const reg::Value* v = key->FindValue(name);
            ASSERT_NE(v, nullptr) << name;
            EXPECT_EQ(v->Text(), name + "-value");
        }
    EXPECT_EQ(key->FindValue("Language")->Text(), "Korean");
    std::string last = key->FindValue("Shared")->Text();
    const std::string lastIndex = std::to_string(kWrites - 1);
    EXPECT_TRUE(last == std::string("A").append(lastIndex) ||
                last == std::string("B").append(lastIndex))
        << last;
}
