// The utility started as a user starts it, in a real X display: the window's
// caption, the single-instance guard and its message boxes answered with the
// keyboard. Needs $DISPLAY (the test command runs these under xvfb-run).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/TestSupport.h"

using namespace std::chrono_literals;
using testsupport::TempDir;

namespace {

const std::string kApp = VELSERIN_BINARY_DIR "/bin/velserin-config";
const char* kBoxTitle = "VelSerin Design CAD System Configuration";

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

struct Process {
    pid_t pid = -1;
    std::string stderrPath;
    int status = -1;

    bool Exited(std::chrono::milliseconds within) {
        auto end = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < end) {
            if (::waitpid(pid, &status, WNOHANG) == pid) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    void Kill() {
        if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
    }
    std::string Stderr() const { return testsupport::ReadFile(stderrPath); }
};

class EntryWindowTest : public ::testing::Test {
protected:
    TempDir dir;
    std::deque<Process> started;  // killed at the end of each test

    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
        if (Shell("command -v xdotool").empty()) GTEST_SKIP() << "needs xdotool";
        ::mkdir(dir.File("home").c_str(), 0700);
        ::mkdir(dir.File("runtime").c_str(), 0700);
    }
    void TearDown() override {
        for (Process& p : started) p.Kill();
    }

    Process& Start(const std::string& name) {
        Process& p = started.emplace_back();
        p.stderrPath = dir.File(name + ".stderr");
        p.pid = ::fork();
        if (p.pid == 0) {
            int fd = ::open(p.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 2);
            ::setenv("HOME", dir.File("home").c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", dir.File("runtime").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", dir.File("home/.config").c_str(), 1);
            ::setenv("VELSERIN_REGISTRY_DIR", dir.File("home/registry").c_str(), 1);
            ::setenv("VELSERIN_WINTAB", dir.File("no-driver.so").c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::execl(kApp.c_str(), kApp.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return p;
    }

    // Window ids whose name is exactly `title`, waiting up to a few seconds.
    std::vector<std::string> Windows(const std::string& title, bool wait = true) {
        for (int i = 0; i < (wait ? 300 : 1); ++i) {
            std::string ids = Shell("xdotool search --onlyvisible --name '^" + Escape(title) +
                                  "$' 2>/dev/null");
            if (!ids.empty()) {
                std::vector<std::string> out;
                std::size_t pos = 0;
                while (pos < ids.size()) {
                    std::size_t end = ids.find('\n', pos);
                    if (end == std::string::npos) end = ids.size();
                    out.push_back(ids.substr(pos, end - pos));
                    pos = end + 1;
                }
                return out;
            }
            std::this_thread::sleep_for(100ms);
        }
        return {};
    }

    static std::string Escape(const std::string& s) {
        std::string out;
        for (char c : s) {
            if (c == '(' || c == ')' || c == '.') out += '\\';
            out += c;
        }
        return out;
    }

    void PressEnter(const std::string& window) {
        Shell("xdotool windowfocus --sync " + window + " key Return 2>&1");
    }

    // Everything below the test folder but the lock files and stderr logs,
    // with sizes and modification times.
    std::map<std::string, std::string> Snapshot() {
        std::map<std::string, std::string> files;
        for (auto& e : std::filesystem::recursive_directory_iterator(dir.File("home"))) {
            struct stat st;
            ::stat(e.path().c_str(), &st);
            files[e.path()] = std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) +
                              "." + std::to_string(st.st_mtim.tv_nsec);
        }
        return files;
    }
};

}  // namespace

TEST_F(EntryWindowTest, SecondCopyIsRefusedWithABoxAndTouchesNothing) {
    Process& first = Start("first");
    auto main = Windows("Configuration");
    ASSERT_EQ(main.size(), 1u) << first.Stderr();
    // The caption is exactly the dialog's own: nothing appended.
    EXPECT_EQ(Shell("xdotool getwindowname " + main[0]), "Configuration");

    auto before = Snapshot();
    Process& second = Start("second");
    auto box = Windows(kBoxTitle);
    ASSERT_EQ(box.size(), 1u);
    EXPECT_NE(second.Stderr().find("Application Already Running."), std::string::npos);
    EXPECT_FALSE(second.Exited(200ms)) << "waits for the box to be answered";
    PressEnter(box[0]);
    ASSERT_TRUE(second.Exited(10s));
    ASSERT_TRUE(WIFEXITED(second.status));
    EXPECT_EQ(WEXITSTATUS(second.status), 0);
    EXPECT_EQ(Snapshot(), before);

    // A copy killed outright leaves nothing that blocks the next start.
    first.Kill();
    Process& third = Start("third");
    EXPECT_EQ(Windows("Configuration").size(), 1u) << third.Stderr();
    EXPECT_EQ(third.Stderr().find("Already Running"), std::string::npos);
}

TEST_F(EntryWindowTest, RefusedBesideTheDesignProgram) {
    // The design program holds a plain POSIX record lock on its lock file.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t peer = ::fork();
    if (peer == 0) {
        ::close(fds[0]);
        std::string path = dir.File("runtime/VelSerinDesignCAD.lock");
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? '1' : '0';
        (void)!::write(fds[1], &ok, 1);
        for (;;) ::pause();
    }
    ::close(fds[1]);
    char ok = 0;
    ASSERT_EQ(::read(fds[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');

    Process& p = Start("refused");
    auto box = Windows(kBoxTitle);
    ASSERT_EQ(box.size(), 1u) << p.Stderr();
    EXPECT_NE(p.Stderr().find("After Close VelSerin Application, try again!"), std::string::npos);
    PressEnter(box[0]);
    ASSERT_TRUE(p.Exited(10s));
    EXPECT_TRUE(WIFEXITED(p.status) && WEXITSTATUS(p.status) == 0);

    ::kill(peer, SIGKILL);
    ::waitpid(peer, nullptr, 0);
    Process& after = Start("after");
    EXPECT_EQ(Windows("Configuration").size(), 1u) << after.Stderr();
}

TEST_F(EntryWindowTest, TwoCopiesStartedTogetherExactlyOneRuns) {
    for (int round = 0; round < 3; ++round) {
        const std::string suffix = std::to_string(round);
        Process& a = Start(std::string("a").append(suffix));
        Process& b = Start(std::string("b").append(suffix));
        auto box = Windows(kBoxTitle);
        ASSERT_EQ(box.size(), 1u);
        EXPECT_EQ(Windows("Configuration").size(), 1u);
        int refused = (a.Stderr().find("Already Running") != std::string::npos) +
                      (b.Stderr().find("Already Running") != std::string::npos);
        EXPECT_EQ(refused, 1);
        PressEnter(box[0]);
        a.Kill();
        b.Kill();
        // Let the windows go before the next round.
        for (int i = 0; i < 50 && !Windows("Configuration", false).empty(); ++i)
            std::this_thread::sleep_for(100ms);
    }
}
