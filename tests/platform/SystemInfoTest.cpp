#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "tests/common/TestSupport.h"

using testsupport::ScopedEnv;
using testsupport::TempDir;

TEST(SystemInfo, ApplicationDataFolder) {
    TempDir dir;
    {
        ScopedEnv config("XDG_CONFIG_HOME", dir.File("config") + "/");
        EXPECT_EQ(platform::SpecialFolderPath(platform::kFolderAppData), dir.File("config"));
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv home("HOME", dir.File("home"));
        EXPECT_EQ(platform::SpecialFolderPath(platform::kFolderAppData), dir.File("home/.config"));
    }
    {
        // A relative XDG value is invalid by the XDG rules and ignored.
        ScopedEnv config("XDG_CONFIG_HOME", "relative");
        ScopedEnv home("HOME", dir.File("home"));
        EXPECT_EQ(platform::SpecialFolderPath(platform::kFolderAppData), dir.File("home/.config"));
    }
}

TEST(SystemInfo, MissingApplicationDataFolderIsMadeLikeTheShellsAlwaysExists) {
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.File("fresh/config"));
    EXPECT_EQ(platform::SpecialFolderPath(platform::kFolderAppData), dir.File("fresh/config"));
    EXPECT_TRUE(platform::DirectoryExists(dir.File("fresh/config")));
}

TEST(SystemInfo, DocumentsFolder) {
    TempDir dir;
    ScopedEnv home("HOME", "/home/weaver");
    ScopedEnv config("XDG_CONFIG_HOME", dir.Path());
    ScopedEnv docs("XDG_DOCUMENTS_DIR", std::nullopt);
    EXPECT_EQ(platform::SpecialFolderPath(platform::kFolderPersonal), "/home/weaver/Documents");
    testsupport::WriteFile(dir.File("user-dirs.dirs"),
                           "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n"
                           "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(platform::SpecialFolderPath(platform::kFolderPersonal), "/home/weaver/Dokumente");
    ScopedEnv docsEnv("XDG_DOCUMENTS_DIR", "/data/docs");
    EXPECT_EQ(platform::SpecialFolderPath(platform::kFolderPersonal), "/data/docs");
    EXPECT_EQ(platform::SpecialFolderPath(12345), "");
}

TEST(SystemInfo, Facts) {
    EXPECT_EQ(platform::PlatformId(), 2u);
    EXPECT_GT(platform::TotalPhysicalMemory(), 64ull << 20);
    std::string path = platform::ProgramPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], '/');
    EXPECT_EQ(platform::ProgramName(), "test_platform");
}

TEST(SystemInfo, AnsiCodePageFollowsTheLocale) {
    struct Case {
        const char* locale;
        int codePage;
    } cases[] = {
        {"ko_KR.UTF-8", 949}, {"zh_CN.UTF-8", 936}, {"zh_TW.UTF-8", 950},  {"zh_HK.UTF-8", 950},
        {"th_TH.UTF-8", 874}, {"ja_JP.UTF-8", 932}, {"de_DE.UTF-8", 1252}, {"C", 1252},
    };
    ScopedEnv over("VELSERIN_ANSI_CODEPAGE", std::nullopt);
    ScopedEnv all("LC_ALL", std::nullopt);
    ScopedEnv ctype("LC_CTYPE", std::nullopt);
    for (const Case& c : cases) {
        ScopedEnv lang("LANG", c.locale);
        EXPECT_EQ(platform::AnsiCodePage(), c.codePage) << c.locale;
    }
    ScopedEnv lang("LANG", "ko_KR.UTF-8");
    ScopedEnv lcAll("LC_ALL", "ja_JP.UTF-8");  // LC_ALL wins over LANG
    EXPECT_EQ(platform::AnsiCodePage(), 932);
    ScopedEnv forced("VELSERIN_ANSI_CODEPAGE", "936");
    EXPECT_EQ(platform::AnsiCodePage(), 936);
}

TEST(SystemInfo, AnsiConversions) {
    // "Hangul" in CP949, e with acute in CP1252, and the same back.
    EXPECT_EQ(platform::AnsiToUtf8("\xC7\xD1\xB1\xDB", 949), "\xED\x95\x9C\xEA\xB8\x80");
    EXPECT_EQ(platform::Utf8ToAnsi("\xED\x95\x9C\xEA\xB8\x80", 949), "\xC7\xD1\xB1\xDB");
    EXPECT_EQ(platform::AnsiToUtf16("caf\xE9", 1252), u"caf\u00E9");
    EXPECT_EQ(platform::Utf16ToAnsi(u"caf\u00E9", 1252), "caf\xE9");
    // A byte that is not a character in the code page is marked, not dropped silently.
    EXPECT_EQ(platform::AnsiToUtf8("a\x81z", 1252), "a\xEF\xBF\xBDz");
    // A character the code page cannot hold.
    EXPECT_EQ(platform::Utf8ToAnsi("\xED\x95\x9C", 1252), "?");
}

TEST(SystemInfo, Utf16RoundTripIncludingSurrogates) {
    std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
    std::u16string u = platform::Utf8ToUtf16(text);
    EXPECT_EQ(u, u"a\u00E9\u4E2D\U0001F600z");
    EXPECT_EQ(platform::Utf16ToUtf8(u), text);
    EXPECT_TRUE(platform::IsValidUtf8(text));
    EXPECT_FALSE(platform::IsValidUtf8("\xC3"));
    EXPECT_FALSE(platform::IsValidUtf8("\xC0\x80"));
    EXPECT_EQ(platform::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}
