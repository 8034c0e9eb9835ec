#include "platform/Files.h"
#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/common/TestSupport.h"

using platform::MutexProbe;
using platform::NamedMutex;
using testsupport::ScopedEnv;
using testsupport::TempDir;

class NamedMutexTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.Path()};
};

TEST_F(NamedMutexTest, LockFileLivesInTheRuntimeFolder) {
    EXPECT_EQ(platform::MutexLockPath("VelSerinDesignCAD(Configuration)"),
              dir.Path() + "/VelSerinDesignCAD(Configuration).lock");
}

TEST_F(NamedMutexTest, WithoutRuntimeFolderAPrivatePerUserFolderIsUsed) {
    TempDir tmp;
    ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv tmpdir("TMPDIR", tmp.Path());
    std::string expected = tmp.Path() + "/velserin-" + std::to_string(::getuid());
    EXPECT_EQ(platform::MutexFolder(), expected);
    struct stat st;
    ASSERT_EQ(::stat(expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A folder of that name that others can write to is not trusted.
    ASSERT_EQ(::chmod(expected.c_str(), 0777), 0);
    EXPECT_EQ(platform::MutexFolder(), "");
    NamedMutex::Result r;
    EXPECT_EQ(NamedMutex::Create("X", &r), nullptr);
    EXPECT_EQ(r, NamedMutex::Result::Failed);
}

TEST_F(NamedMutexTest, CreateThenSecondCreateIsRefusedUntilReleased) {
    NamedMutex::Result r;
    auto first = NamedMutex::Create("Guard", &r);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(r, NamedMutex::Result::Created);
    EXPECT_EQ(platform::ProbeNamedMutex("Guard"), MutexProbe::Held);

    auto second = NamedMutex::Create("Guard", &r);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(r, NamedMutex::Result::AlreadyHeld);

    first->Release();
    EXPECT_EQ(platform::ProbeNamedMutex("Guard"), MutexProbe::Absent);
    second = NamedMutex::Create("Guard", &r);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(r, NamedMutex::Result::Created);
}

TEST_F(NamedMutexTest, ProbeNeverCreatesNorTakes) {
    EXPECT_EQ(platform::ProbeNamedMutex("Nobody"), MutexProbe::Absent);
    EXPECT_FALSE(platform::FileExists(dir.File("Nobody.lock")));
    // An existing lock file that nobody holds is not a running program.
    testsupport::WriteFile(dir.File("Stale.lock"), "");
    EXPECT_EQ(platform::ProbeNamedMutex("Stale"), MutexProbe::Absent);
    NamedMutex::Result r;
    EXPECT_NE(NamedMutex::Create("Stale", &r), nullptr);
}

TEST_F(NamedMutexTest, PeerHoldingAPosixRecordLockIsSeen) {
    pid_t peer = testsupport::HoldPosixLockInChild(dir.File("VelSerinDesignCAD.lock"));
    ASSERT_GT(peer, 0);
    EXPECT_EQ(platform::ProbeNamedMutex("VelSerinDesignCAD"), MutexProbe::Held);
    NamedMutex::Result r;
    EXPECT_EQ(NamedMutex::Create("VelSerinDesignCAD", &r), nullptr);
    EXPECT_EQ(r, NamedMutex::Result::AlreadyHeld);
    testsupport::KillChild(peer);  // the system drops the lock of a killed holder
    EXPECT_EQ(platform::ProbeNamedMutex("VelSerinDesignCAD"), MutexProbe::Absent);
}

TEST_F(NamedMutexTest, KilledHolderReleasesTheMutex) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        NamedMutex::Result r;
        auto m = NamedMutex::Create("Held", &r);
        char ok = m ? '1' : '0';
        (void)!::write(fds[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(fds[1]);
    char ok = '0';
    ASSERT_EQ(::read(fds[0], &ok, 1), 1);
    ::close(fds[0]);
    ASSERT_EQ(ok, '1');
    EXPECT_EQ(platform::ProbeNamedMutex("Held"), MutexProbe::Held);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(platform::ProbeNamedMutex("Held"), MutexProbe::Absent);
    NamedMutex::Result r;
    EXPECT_NE(NamedMutex::Create("Held", &r), nullptr);
}

TEST_F(NamedMutexTest, ManyProcessesRacingExactlyOneWins) {
    constexpr int kRacers = 16;
    for (int round = 0; round < 20; ++round) {
        std::string name = "Race" + std::to_string(round);
        int go[2], results[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(results), 0);
        std::vector<pid_t> pids;
        for (int i = 0; i < kRacers; ++i) {
            pid_t pid = ::fork();
            if (pid == 0) {
                ::close(go[1]);
                char c;
                (void)!::read(go[0], &c, 1);  // all start when the pipe closes
                NamedMutex::Result r;
                auto m = NamedMutex::Create(name, &r);
                char won = r == NamedMutex::Result::Created ? 'W' : 'L';
                (void)!::write(results[1], &won, 1);
                ::pause();
                _exit(0);
            }
            pids.push_back(pid);
        }
        ::close(go[0]);
        ::close(go[1]);  // release every racer at once
        int winners = 0;
        for (int i = 0; i < kRacers; ++i) {
            char c = 0;
            ASSERT_EQ(::read(results[0], &c, 1), 1);
            winners += c == 'W';
        }
        ::close(results[0]);
        ::close(results[1]);
        for (pid_t p : pids)
            testsupport::KillChild(p);
        EXPECT_EQ(winners, 1) << "round " << round;
    }
}
