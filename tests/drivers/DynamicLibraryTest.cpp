// Loading libraries by their Windows names.

#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include "platform/SystemInfo.h"
#include "tests/drivers/DriverFixture.h"

using platform::LibraryCandidates;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {
std::string ProgramFolder() {
    std::string path = platform::ProgramPath();
    return path.substr(0, path.rfind('/'));
}
}  // namespace

TEST(DynamicLibrary, MapsWindowsNamesToSharedObjects) {
    ScopedEnv unset("VELSERIN_WINTAB", std::nullopt);
    const std::string beside = ProgramFolder() + "/";
    struct Case {
        const char* name;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"Wintab32.dll", {beside + "libwintab32.so", "libwintab32.so"}},
        {"WINTAB32.DLL", {beside + "libwintab32.so", "libwintab32.so"}},
        {"Rsrc32.dll", {beside + "librsrc32.so", "librsrc32.so"}},
        {"libz.so.1", {beside + "libz.so.1", "libz.so.1"}},
        {"/opt/x/libfoo.so", {"/opt/x/libfoo.so"}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LibraryCandidates(c.name), c.files) << c.name;
}

TEST(DynamicLibrary, WintabOverrideNamesTheFile) {
    ScopedEnv over("VELSERIN_WINTAB", std::string("/somewhere/else.so"));
    EXPECT_EQ(LibraryCandidates("Wintab32.dll"), std::vector<std::string>{"/somewhere/else.so"});
    // Only the Wintab library is moved by it.
    EXPECT_EQ(LibraryCandidates("NotWintab32.dll").size(), 2u);
    ScopedEnv empty("VELSERIN_WINTAB", std::string());
    EXPECT_EQ(LibraryCandidates("Wintab32.dll").size(), 2u);
}

TEST(DynamicLibrary, LoadsTheDriverAndFindsItsEntryPoints) {
    ScopedEnv over("VELSERIN_WINTAB", std::string(tablettest::DriverPath()));
    platform::HMODULE module = platform::LoadLibrary("Wintab32.dll");
    ASSERT_NE(module, nullptr) << platform::LastLibraryError();
    EXPECT_EQ(platform::LastLibraryError(), "");
    for (const char* name : {"WTInfoW", "WTOpenW", "WTPacket", "WTClose"})
        EXPECT_NE(platform::GetProcAddress(module, name), nullptr) << name;
    // Only the interface is exported.
    EXPECT_EQ(platform::GetProcAddress(module, "WTNoSuchEntry"), nullptr);
    EXPECT_EQ(
        platform::GetProcAddress(module, "_ZN8wintab3214ReportAssembler4FeedERK11input_event"),
        nullptr);
    EXPECT_TRUE(platform::FreeLibrary(module));
}

TEST(DynamicLibrary, FailsQuietlyOnlyWhenTheLibraryIsAbsent) {
    TempDir dir;
    testsupport::WriteFile(dir.File("libbroken.so"), "not an ELF file");
    struct Case {
        const char* what;
        std::string wintab;  // $VELSERIN_WINTAB
        const char* name;
        bool reported;
    };
    const Case cases[] = {
        {"absent everywhere", "", "NoSuchLibrary123.dll", false},
        {"named file missing", dir.File("missing.so"), "Wintab32.dll", true},
        {"named file not a library", dir.File("libbroken.so"), "Wintab32.dll", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv over("VELSERIN_WINTAB", c.wintab);
        testing::internal::CaptureStderr();
        EXPECT_EQ(platform::LoadLibrary(c.name), nullptr);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(platform::LastLibraryError(), "");
        EXPECT_EQ(err.find("cannot load") != std::string::npos, c.reported) << err;
    }
    EXPECT_EQ(platform::GetProcAddress(nullptr, "WTInfoW"), nullptr);
    EXPECT_FALSE(platform::FreeLibrary(nullptr));
}
