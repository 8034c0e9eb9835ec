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
#include "tests/drivers/Recording.h"

using namespace std::chrono_literals;
using testsupport::TempDir;

namespace {

const std::string kApp = VELSERIN_BINARY_DIR "/bin/velserin-config";
const char* kBoxTitle = "VelSerin Design CAD System Configuration";

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

struct Process {
    pid_t pid = -1;
    std::string stderrPath;
    int status = -1;

    bool Exited(std::chrono::milliseconds within) {
        auto end = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < end) {
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return true;
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
    std::deque<Process> started;                  // killed at the end of each test
    std::map<std::string, std::string> extraEnv;  // set in the started programs after the rest

    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        if (Shell("command -v xdotool").empty())
            GTEST_SKIP() << "needs xdotool";
        ::mkdir(dir.File("home").c_str(), 0700);
        ::mkdir(dir.File("runtime").c_str(), 0700);
        // The roaming application-data folder, where the dialog keeps its settings folders.
        ::mkdir(dir.File("home/.config").c_str(), 0700);
    }
    void TearDown() override {
        for (Process& p : started)
            p.Kill();
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
            for (const auto& [name, value] : extraEnv)
                ::setenv(name.c_str(), value.c_str(), 1);
            ::execl(kApp.c_str(), kApp.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return p;
    }

    // Window ids whose name is exactly `title`, waiting up to a few seconds.
    std::vector<std::string> Windows(const std::string& title, bool wait = true) {
        for (int i = 0; i < (wait ? 300 : 1); ++i) {
            std::string ids =
                Shell("xdotool search --onlyvisible --name '^" + Escape(title) + "$' 2>/dev/null");
            if (!ids.empty()) {
                std::vector<std::string> out;
                std::size_t pos = 0;
                while (pos < ids.size()) {
                    std::size_t end = ids.find('\n', pos);
                    if (end == std::string::npos)
                        end = ids.size();
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
            if (c == '(' || c == ')' || c == '.')
                out += '\\';
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
    int peer = testsupport::HoldPosixLockInChild(dir.File("runtime/VelSerinDesignCAD.lock"));
    ASSERT_GT(peer, 0);

    Process& p = Start("refused");
    auto box = Windows(kBoxTitle);
    ASSERT_EQ(box.size(), 1u) << p.Stderr();
    EXPECT_NE(p.Stderr().find("After Close VelSerin Application, try again!"), std::string::npos);
    PressEnter(box[0]);
    ASSERT_TRUE(p.Exited(10s));
    EXPECT_TRUE(WIFEXITED(p.status) && WEXITSTATUS(p.status) == 0);

    testsupport::KillChild(peer);
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

TEST_F(EntryWindowTest, EnterPressesOKAndEscapePressesCancel) {
    const std::string hive = dir.File("home/registry/system.reg");
    const std::string status = dir.File("home/.config/Ostrevin/VelSerin4.0/Velserin/status.ini");

    Process& cancelled = Start("escape");
    auto main = Windows("Configuration");
    ASSERT_EQ(main.size(), 1u) << cancelled.Stderr();
    Shell("xdotool windowfocus --sync " + main[0] + " key Escape 2>&1");
    ASSERT_TRUE(cancelled.Exited(10s)) << "Escape closes the dialog";
    EXPECT_TRUE(WIFEXITED(cancelled.status) && WEXITSTATUS(cancelled.status) == 0);
    EXPECT_FALSE(std::filesystem::exists(hive));
    EXPECT_FALSE(std::filesystem::exists(status));

    Process& confirmed = Start("enter");
    main = Windows("Configuration");
    ASSERT_EQ(main.size(), 1u) << confirmed.Stderr();
    PressEnter(main[0]);
    ASSERT_TRUE(confirmed.Exited(10s)) << "Enter presses O.K";
    EXPECT_TRUE(WIFEXITED(confirmed.status) && WEXITSTATUS(confirmed.status) == 0);
    const std::string stored = testsupport::ReadFile(hive);
    for (const char* line :
         {"\"Language\"=\"English\"", "\"TUnits\"=\"uCm\"", "\"Select\"=\"READ\"",
          "\"TREG_Size\"=\"cstA4\"", "\"MaxNPressure\"=\"0\""})
        EXPECT_NE(stored.find(line), std::string::npos) << line;
    EXPECT_EQ(testsupport::ReadFile(status), "[CanvasInfor]\nDPI=160\n");
}

// Screenshots of the six pages, with a replayed tablet so that the Tablet
// page is enabled, in <build>/screenshots/config-page-<n>.png.
TEST_F(EntryWindowTest, ScreenshotOfEveryPage) {
    if (Shell("command -v scrot").empty())
        GTEST_SKIP() << "needs scrot";
    tablettest::EventLines pen;
    pen.Report(0, {{ABS_X, 100}, {ABS_Y, 100}, {ABS_PRESSURE, 0}}, {{BTN_TOOL_PEN, 1}});
    const std::string recording = dir.File("pen.rec");
    testsupport::WriteFile(recording,
                           tablettest::DeviceLines(tablettest::TabletModel()) + pen.Text());
    extraEnv["VELSERIN_WINTAB"] = VELSERIN_BINARY_DIR "/bin/libwintab32.so";
    extraEnv["VELSERIN_WINTAB_REPLAY"] = recording;

    Process& p = Start("pages");
    auto main = Windows("Configuration");
    ASSERT_EQ(main.size(), 1u) << p.Stderr();
    const std::string folder = VELSERIN_BINARY_DIR "/screenshots";
    std::filesystem::create_directories(folder);
    std::this_thread::sleep_for(500ms);
    Shell("xdotool windowfocus --sync " + main[0] + " 2>&1");
    std::string previous;
    for (int page = 1; page <= 6; ++page) {
        const std::string shot = folder + "/config-page-" + std::to_string(page) + ".png";
        std::filesystem::remove(shot);
        Shell("eval \"$(xdotool getwindowgeometry --shell " + main[0] +
              ")\"; scrot -o -a \"$X,$Y,$WIDTH,$HEIGHT\" '" + shot + "' 2>&1");
        ASSERT_TRUE(std::filesystem::exists(shot)) << shot;
        const std::string pixels = testsupport::ReadFile(shot);
        EXPECT_NE(pixels, previous) << "page " << page << " looks like the one before";
        previous = pixels;
        Shell("xdotool key --window " + main[0] + " ctrl+Tab 2>&1");
        std::this_thread::sleep_for(400ms);
    }
    EXPECT_FALSE(p.Exited(0ms));
}
