#include "platform/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/common/TestSupport.h"

using platform::File;
using testsupport::TempDir;

TEST(Files, ShortReadIsReportedWithCount) {
    TempDir dir;
    testsupport::WriteFile(dir.File("a"), "hello");
    File f = File::Open(dir.File("a"), O_RDONLY);
    ASSERT_TRUE(f.IsOpen());
    char buf[16] = {};
    std::size_t done = 99;
    EXPECT_FALSE(f.Read(buf, 10, &done));
    EXPECT_EQ(done, 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_FALSE(f.Read(buf, 1, &done));
    EXPECT_EQ(done, 0u);
}

TEST(Files, OffsetsBeyondFourGigabytes) {
    TempDir dir;
    File f = File::CreateExclusive(dir.File("big"));
    ASSERT_TRUE(f.IsOpen());
    const std::int64_t far = (std::int64_t(5) << 30) + 123;  // past 2^32: needs 64-bit offsets
    ASSERT_TRUE(f.SetSize(far + 4));                         // sparse: costs no disk blocks
    ASSERT_TRUE(f.WriteAt(far, "abcd", 4));
    EXPECT_EQ(f.Size(), far + 4);
    char buf[4];
    ASSERT_TRUE(f.ReadAt(far, buf, 4));
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(f.Seek(far + 2), far + 2);
    ASSERT_TRUE(f.Read(buf, 2));
    EXPECT_EQ(std::string(buf, 2), "cd");
    EXPECT_EQ(f.Position(), far + 4);
}

TEST(Files, CreateExclusiveRefusesAnExistingFile) {
    TempDir dir;
    testsupport::WriteFile(dir.File("taken"), "x");
    int err = 0;
    File f = File::CreateExclusive(dir.File("taken"), 0600, &err);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(testsupport::ReadFile(dir.File("taken")), "x");
}

TEST(Files, PrivateTempFolderIsClosedToOthersAndRemovedAtExit) {
    // Run in a child so that its normal exit can be watched.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        const std::string& dir = platform::PrivateTempFolder();
        struct stat st;
        bool ok = !dir.empty() && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                  (st.st_mode & 0777) == 0700 && platform::PrivateTempFolder() == dir;
        testsupport::WriteFile(dir + "/inside", "data");
        std::string msg = (ok ? "1" : "0") + dir;
        (void)!::write(fds[1], msg.data(), msg.size());
        ::close(fds[1]);
        std::exit(0);
    }
    ::close(fds[1]);
    char buf[4096];
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_GT(n, 1);
    EXPECT_EQ(buf[0], '1');
    std::string dir(buf + 1, std::size_t(n - 1));
    EXPECT_EQ(dir.rfind(platform::TempFolder() + "/", 0), 0u) << dir;
    EXPECT_FALSE(platform::DirectoryExists(dir)) << "left behind: " << dir;
}

namespace {
const char* g_failStage = nullptr;
int FailAt(const char* stage) {
    return g_failStage && std::strcmp(stage, g_failStage) == 0 ? ENOSPC : 0;
}
}  // namespace

TEST(Files, ReplaceAtomicallyKeepsTheOldFileWhenAStageFails) {
    TempDir dir;
    const std::string path = dir.File("hive");
    testsupport::WriteFile(path, "old contents");
    ::chmod(path.c_str(), 0640);
    platform::SetAtomicWriteFaultHook(FailAt);
    for (const char* stage : {"write", "flush", "rename"}) {
        g_failStage = stage;
        int err = 0;
        EXPECT_FALSE(platform::ReplaceFileAtomically(path, "new contents", 0644, &err)) << stage;
        EXPECT_EQ(err, ENOSPC) << stage;
        EXPECT_EQ(testsupport::ReadFile(path), "old contents") << stage;
    }
    g_failStage = nullptr;
    platform::SetAtomicWriteFaultHook(nullptr);
    // No temporary file is left beside it.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    ASSERT_TRUE(platform::ReplaceFileAtomically(path, "new contents"));
    EXPECT_EQ(testsupport::ReadFile(path), "new contents");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the file's mode is kept";
}

TEST(Files, ReplaceAtomicallyCreatesAMissingFileWithTheGivenMode) {
    TempDir dir;
    const std::string path = dir.File("new.ini");
    ASSERT_TRUE(platform::ReplaceFileAtomically(path, "x", 0600));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
