#include "platform/Profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/Files.h"
#include "platform/SystemInfo.h"
#include "tests/common/TestSupport.h"

namespace profile = platform::profile;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::string kStatus =
    "; written by the design program\r\n"
    "[Window]\r\n"
    "Left=10\r\n"
    "Top = 20\r\n"
    "\r\n"
    "[canvasinfor]\r\n"
    "Width=800\r\n"
    "dpi = 300\r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Single='x'\r\n"
    "NoEquals\r\n"
    "\r\n"
    "; about Last\r\n"
    "[Last]\r\n"
    "A=1\r\n"
    "[CanvasInfor]\r\n"
    "DPI=999\r\n";

std::string Utf16Le(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (char16_t u : platform::Utf8ToUtf16(utf8)) {
        out.push_back(char(u & 0xFF));
        out.push_back(char(u >> 8));
    }
    return out;
}

}  // namespace

TEST(ProfileDocument, ReadsTheWindowsWay) {
    profile::Document doc = profile::Document::Parse(kStatus);
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> expected;
    } cases[] = {
        {"CanvasInfor", "DPI", "300"},  // first section of the name, any case, blanks ignored
        {" CANVASINFOR ", " Dpi ", "300"},       {"Window", "Top", "20"},
        {"CanvasInfor", "Quoted", "  spaced  "},  // quotes taken off, what is inside kept
        {"CanvasInfor", "Single", "x"},          {"CanvasInfor", "NoEquals", std::nullopt},
        {"CanvasInfor", "A", std::nullopt},  // in another section
        {"Missing", "DPI", std::nullopt},        {"Last", "A", "1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(doc.Get(c.section, c.key), c.expected) << c.section << "/" << c.key;
    EXPECT_EQ(doc.Sections(), (std::vector<std::string>{"Window", "canvasinfor", "Last"}));
    EXPECT_EQ(doc.Keys("CANVASINFOR"),
              (std::vector<std::string>{"Width", "dpi", "Quoted", "Single", "NoEquals"}));
}

TEST(ProfileDocument, IntegerSyntax) {
    struct Case {
        const char* text;
        std::optional<int> expected;
    } cases[] = {
        {"160", 160},
        {"0", 0},
        {"+7", 7},
        {"-5", -5},
        {"  12", 12},
        {"12 ", std::nullopt},
        {"12abc", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"0x1F", 31},
        {"$ff", 255},
        {"$FFFFFFFF", -1},
        {"0x", std::nullopt},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"-2147483648", -2147483647 - 1},
        {"99999999999999999999", std::nullopt},
        {"1.5", std::nullopt},
    };
    for (const Case& c : cases) {
        int v = 12345;
        bool ok = profile::ParseInteger(c.text, &v);
        EXPECT_EQ(ok, c.expected.has_value()) << "'" << c.text << "'";
        if (ok && c.expected) {
            EXPECT_EQ(v, *c.expected) << "'" << c.text << "'";
        }
    }
}

TEST(ProfileDocument, AWriteChangesOnlyItsLine) {
    profile::Document doc = profile::Document::Parse(kStatus);
    ASSERT_TRUE(doc.Set("CanvasInfor", "DPI", "160"));
    std::string expected = kStatus;
    expected.replace(expected.find("dpi = 300"), 9, "dpi = 160");
    EXPECT_EQ(doc.Serialize(), expected) << "spacing, case, comments, CRLF all kept";

    // A new key goes after the last key of its section, in front of the
    // blank line and the comment that lead into the next section.
    ASSERT_TRUE(doc.Set("canvasINFOR", "Height", "600"));
    expected.replace(expected.find("NoEquals\r\n") + 10, 0, "Height=600\r\n");
    EXPECT_EQ(doc.Serialize(), expected);

    // A key line without '=' takes the value; a new section goes at the end.
    ASSERT_TRUE(doc.Set("CanvasInfor", "noequals", "1"));
    ASSERT_TRUE(doc.Set("New", "K", "v"));
    expected.replace(expected.find("NoEquals\r\n"), 10, "NoEquals=1\r\n");
    expected += "\r\n[New]\r\nK=v\r\n";
    EXPECT_EQ(doc.Serialize(), expected);
    EXPECT_EQ(doc.Get("canvasinfor", "noequals"), "1");
}

TEST(ProfileDocument, LineEndingsAndALastLineWithoutOne) {
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        {"", "[S]\nK=v\n"},
        {"[S]\nA=1", "[S]\nA=1\nK=v\n"},
        {"[S]\r\nA=1", "[S]\r\nA=1\r\nK=v\r\n"},
        {"[T]\r\nA=1", "[T]\r\nA=1\r\n\r\n[S]\r\nK=v\r\n"},
        {"[S]\nK=old", "[S]\nK=v"},
        {"[S]\nK=old\n\n", "[S]\nK=v\n\n"},
        {"[S]\n", "[S]\nK=v\n"},
    };
    for (const Case& c : cases) {
        profile::Document doc = profile::Document::Parse(c.before);
        ASSERT_TRUE(doc.Set("S", "K", "v"));
        EXPECT_EQ(doc.Serialize(), c.after) << c.before;
    }
}

TEST(ProfileDocument, EncodingsAreKept) {
    // UTF-16 with its byte-order mark stays UTF-16.
    profile::Document wide = profile::Document::Parse(Utf16Le("[S]\r\nName=\xED\x95\x9C\r\n"));
    EXPECT_EQ(wide.Get("s", "name"), "\xED\x95\x9C");
    ASSERT_TRUE(wide.Set("S", "Other", "\xE4\xB8\xAD"));
    EXPECT_EQ(wide.Serialize(), Utf16Le("[S]\r\nName=\xED\x95\x9C\r\nOther=\xE4\xB8\xAD\r\n"));

    // An 8-bit file in the ANSI code page: read through it, and lines not
    // written keep their bytes exactly.
    ScopedEnv cp("VELSERIN_ANSI_CODEPAGE", "1252");
    const std::string ansi = "[S]\nName=caf\xE9\nRaw=\x81\x8D\n";
    profile::Document old = profile::Document::Parse(ansi);
    EXPECT_EQ(old.Get("S", "Name"), "caf\xC3\xA9");
    ASSERT_TRUE(old.Set("S", "New", "na\xC3\xAFve"));
    EXPECT_EQ(old.Serialize(), ansi + "New=na\xEFve\n");
}

TEST(ProfileDocument, AnyBytesComeBackAsTheyWere) {
    std::mt19937 rng(99);
    const std::string pieces[] = {"[",   "]", "=",  ";",    "\r",   "\n",   "\r\n",
                                  "key", " ", "\"", "\xC3", "\xA9", "\xFF", std::string("\0", 1)};
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        int n = int(rng() % 30);
        for (int i = 0; i < n; ++i)
            bytes += pieces[rng() % std::size(pieces)];
        if (bytes.rfind("\xFF", 0) == 0)
            bytes.insert(bytes.begin(), 'x');  // no byte-order mark
        EXPECT_EQ(profile::Document::Parse(bytes).Serialize(), bytes);
    }
}

TEST(ProfileDocument, WhatAFileCannotHoldIsRefused) {
    profile::Document doc = profile::Document::Parse("[S]\nK=v\n");
    const std::string before = doc.Serialize();
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"S", "K", "two\nlines"}, {"S", "K", "cr\r"}, {"S", "", "v"},   {"S", "  ", "v"},
        {"S", "a=b", "v"},        {"S", "[X]", "v"},  {"S", ";c", "v"}, {"S]", "K", "v"},
        {"S\n", "K", "v"},        {"S", "K\n", "v"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(doc.Set(c.section, c.key, c.value))
            << c.section << "/" << c.key << "/" << c.value;
        EXPECT_EQ(doc.Serialize(), before);
    }
}

TEST(ProfileFiles, ReadWriteDelete) {
    TempDir dir;
    const std::string path = dir.File("status.ini");
    EXPECT_EQ(profile::ReadInteger(path, "CanvasInfor", "DPI", 160), 160);
    EXPECT_EQ(profile::ReadString(path, "CanvasInfor", "DPI", "none"), "none");
    EXPECT_FALSE(platform::FileExists(path)) << "reads create nothing";
    ASSERT_TRUE(profile::DeleteKey(path, "CanvasInfor", "DPI"));
    EXPECT_FALSE(platform::FileExists(path)) << "deleting from nothing creates nothing";

    ASSERT_TRUE(profile::WriteInteger(path, "CanvasInfor", "DPI", 160));
    EXPECT_EQ(ReadFile(path), "[CanvasInfor]\nDPI=160\n");
    EXPECT_EQ(profile::ReadInteger(path, "canvasinfor", "dpi", 0), 160);

    WriteFile(path, "[CanvasInfor]\nDPI=lots\n");
    EXPECT_EQ(profile::ReadInteger(path, "CanvasInfor", "DPI", 160), 160) << "not a number";
    WriteFile(path, "[CanvasInfor]\nDPI=\n");
    EXPECT_EQ(profile::ReadInteger(path, "CanvasInfor", "DPI", 160), 160) << "empty";

    WriteFile(path, kStatus);
    ASSERT_TRUE(profile::WriteString(path, "Last", "B", "2"));
    ASSERT_TRUE(profile::DeleteKey(path, "Window", "left"));
    ASSERT_TRUE(profile::EraseSection(path, "canvasinfor"));
    EXPECT_EQ(profile::ReadSections(path), (std::vector<std::string>{"Window", "Last"}));
    EXPECT_EQ(profile::ReadSection(path, "Last"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ReadFile(path),
              "; written by the design program\r\n[Window]\r\nTop = 20\r\n\r\n\r\n"
              "; about Last\r\n[Last]\r\nA=1\r\nB=2\r\n");
}

namespace {
const char* g_failStage = nullptr;
int FailAt(const char* stage) {
    return g_failStage && std::strcmp(stage, g_failStage) == 0 ? EIO : 0;
}
}  // namespace

TEST(ProfileFiles, FailedWritesLeaveTheFileAsItWas) {
    TempDir dir;
    const std::string path = dir.File("status.ini");
    WriteFile(path, kStatus);
    ::chmod(path.c_str(), 0604);
    int err = 0;

    platform::SetAtomicWriteFaultHook(FailAt);
    for (const char* stage : {"write", "flush", "rename"}) {
        g_failStage = stage;
        EXPECT_FALSE(profile::WriteInteger(path, "CanvasInfor", "DPI", 1, &err)) << stage;
        EXPECT_EQ(err, EIO);
        EXPECT_EQ(ReadFile(path), kStatus);
    }
    g_failStage = nullptr;
    platform::SetAtomicWriteFaultHook(nullptr);

    EXPECT_FALSE(profile::WriteString(path, "S", "K", "a\nb", &err));
    EXPECT_EQ(err, EINVAL);
    EXPECT_EQ(ReadFile(path), kStatus);

    ASSERT_TRUE(profile::WriteInteger(path, "CanvasInfor", "DPI", 1));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u) << "the file keeps its mode";
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path()))
        entries += e.exists();
    EXPECT_EQ(entries, 1u) << "no temporary file left";

    // A file that cannot be read is never replaced; a missing folder is not made.
    ::mkdir(dir.File("folder.ini").c_str(), 0700);
    EXPECT_FALSE(profile::WriteInteger(dir.File("folder.ini"), "S", "K", 1, &err));
    EXPECT_EQ(err, EISDIR);
    EXPECT_FALSE(profile::WriteInteger(dir.File("missing/status.ini"), "S", "K", 1, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_FALSE(platform::DirectoryExists(dir.File("missing")));
}

TEST(ProfileFiles, ALinkedFileStaysALink) {
    TempDir dir;
    WriteFile(dir.File("real.ini"), "[S]\nK=1\n");
    ASSERT_EQ(::symlink(dir.File("real.ini").c_str(), dir.File("link.ini").c_str()), 0);
    ASSERT_TRUE(profile::WriteInteger(dir.File("link.ini"), "S", "K", 2));
    struct stat st;
    ASSERT_EQ(::lstat(dir.File("link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(dir.File("real.ini")), "[S]\nK=2\n");
}
