// The tablet reader over the built driver, replaying recordings written in
// the evemu-record format.

#include "app/Tablet.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include "tests/drivers/DriverFixture.h"
#include "tests/drivers/Recording.h"

namespace wt = platform::wintab;
using tablettest::DeviceLines;
using tablettest::EventLines;
using tablettest::TabletModel;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// The driver next to the test program, replaying `recording`.
struct ReplayEnvironment {
    explicit ReplayEnvironment(const std::string& recording)
        : library("VELSERIN_WINTAB", std::string(tablettest::DriverPath())),
          replay("VELSERIN_WINTAB_REPLAY", recording) {}
    ScopedEnv library;
    ScopedEnv replay;
};

std::string WriteRecording(const TempDir& dir, const TabletModel& model, const EventLines& e) {
    std::string path = dir.File("pen.rec");
    WriteFile(path, DeviceLines(model) + e.Text());
    return path;
}

struct Reading {
    platform::LPARAM context;
    std::uint32_t serial;
    std::uint32_t mask;
    std::int32_t x, y;
    std::uint32_t pressure;
    bool onWindowThread;
};

// A dialog stand-in that routes its WT_PACKET messages to the reader.
class TabletWindow {
  public:
    explicit TabletWindow(TTablet& tablet) : tablet_(tablet) {
        platform::InstallMessageHandler(&widget, [this](platform::WindowMessage& m) {
            messages.push_back(m);
            if (m.Msg != tablet_.PacketMessage())
                return;
            std::uint32_t mask = tablet_.ReadPacket(m);
            readings.push_back({m.LParam, std::uint32_t(m.WParam), mask, tablet_.FX, tablet_.FY,
                                tablet_.FPressure, QThread::currentThread() == widget.thread()});
        });
    }
    platform::HWND Handle() { return platform::WindowHandle(&widget); }
    bool WaitForReadings(std::size_t n) {
        return tablettest::WaitUntil([&] { return readings.size() >= n; });
    }

    QWidget widget;
    std::vector<platform::WindowMessage> messages;
    std::vector<Reading> readings;

  private:
    TTablet& tablet_;
};

QSize Screen() {
    return QGuiApplication::primaryScreen()->size();
}

}  // namespace

TEST(Tablet, WithoutADriverEveryCallIsHarmless) {
    TempDir dir;
    WriteFile(dir.File("libnotwintab.so"), "not a library");
    // No library at all, a file that is no library, a library without the entry points.
    for (std::string library : {dir.File("missing/libwintab32.so"), dir.File("libnotwintab.so"),
                                std::string("libz.so.1")}) {
        SCOPED_TRACE(library);
        ScopedEnv env("VELSERIN_WINTAB", library);
        testing::internal::CaptureStderr();
        TTablet tablet;
        QWidget window;
        EXPECT_FALSE(tablet.Open(platform::WindowHandle(&window), "Software\\Ostrevin"));
        EXPECT_FALSE(tablet.IsOpen());
        EXPECT_EQ(tablet.PacketMessage(), 0u);
        EXPECT_EQ(tablet.ReadPacket({wt::WT_PACKET, 1, 1, 0}), 0u);
        EXPECT_EQ(tablet.GetDeviceName(), "0");
        EXPECT_EQ(tablet.FMaxPressure, 0);
        testing::internal::GetCapturedStderr();
    }
}

TEST(Tablet, DriverWithoutATabletIsNoTablet) {
    TempDir dir;
    ScopedEnv library("VELSERIN_WINTAB", std::string(tablettest::DriverPath()));
    ScopedEnv replay("VELSERIN_WINTAB_REPLAY", std::nullopt);
    ScopedEnv input("VELSERIN_WINTAB_INPUT_DIR", dir.Path());  // no event nodes
    TTablet tablet;
    QWidget window;
    EXPECT_FALSE(tablet.Open(platform::WindowHandle(&window)));
    EXPECT_FALSE(tablet.IsOpen());
    EXPECT_EQ(tablet.ReadPacket({wt::WT_PACKET, 1, 1, 0}), 0u);
    EXPECT_EQ(tablet.GetDeviceName(), "");
}

TEST(Tablet, ReadsReplayedPacketsOnTheWindowsThread) {
    TempDir dir;
    TabletModel model;
    EventLines e;
    e.Report(0, {{ABS_X, 0}, {ABS_Y, 0}, {ABS_PRESSURE, 0}}, {{BTN_TOOL_PEN, 1}});
    e.Report(4000, {{ABS_PRESSURE, 300}}, {{BTN_TOUCH, 1}});
    e.Sync(8000);  // the same packet again
    e.Report(12000, {{ABS_X, 7600}, {ABS_Y, 4750}, {ABS_PRESSURE, 900}});
    e.Report(16000, {{ABS_X, 15199}, {ABS_Y, 9499}, {ABS_PRESSURE, 2047}});
    ReplayEnvironment env(WriteRecording(dir, model, e));

    TTablet tablet;
    TabletWindow window(tablet);
    ASSERT_TRUE(tablet.Open(window.Handle()));
    ASSERT_TRUE(tablet.IsOpen());
    EXPECT_EQ(tablet.PacketMessage(), wt::WT_PACKET);
    EXPECT_EQ(tablet.GetDeviceName(), model.name);
    EXPECT_EQ(tablet.FMaxPressure, 2047);

    ASSERT_TRUE(window.WaitForReadings(5));
    tablettest::WaitUntil([] { return false; }, 50);
    ASSERT_EQ(window.readings.size(), 5u);  // one per report

    const int w = Screen().width();
    const int h = Screen().height();
    const struct {
        std::uint32_t mask;
        std::int32_t x, y;
        std::uint32_t pressure;
    } expected[] = {
        {wt::PK_CURSOR, 0, 0, 0},  // the top-left corner is (0, 0)
        {wt::PK_BUTTONS | wt::PK_NORMAL_PRESSURE, 0, 0, 300},
        {0, 0, 0, 300},  // identical to the one before
        {wt::PK_X | wt::PK_Y | wt::PK_NORMAL_PRESSURE, w / 2, h / 2, 900},
        {wt::PK_X | wt::PK_Y | wt::PK_NORMAL_PRESSURE, w - 1, h - 1, 2047},  // y grows downwards
    };
    std::uint32_t serial = 0;
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const Reading& r = window.readings[i];
        EXPECT_GT(r.serial, serial);
        serial = r.serial;
        EXPECT_TRUE(r.onWindowThread);
        EXPECT_EQ(r.mask, expected[i].mask);
        EXPECT_EQ(r.x, expected[i].x);
        EXPECT_EQ(r.y, expected[i].y);
        EXPECT_EQ(r.pressure, expected[i].pressure);
    }
    EXPECT_EQ(tablet.FPrevPressure, 900u);
    EXPECT_EQ(tablet.FButtons, 1u);
    EXPECT_EQ(tablet.FCursor, 1u);

    // A packet already read, one never queued, another context: 0, and the
    // values stay as they were.
    platform::WindowMessage stale = window.messages[1];
    platform::WindowMessage unknown = window.messages[4];
    unknown.WParam += 1000;
    platform::WindowMessage otherContext = window.messages[4];
    otherContext.LParam += 1;
    for (const platform::WindowMessage& m : {stale, unknown, otherContext}) {
        EXPECT_EQ(tablet.ReadPacket(m), 0u);
        EXPECT_EQ(tablet.FPressure, 2047u);
        EXPECT_EQ(tablet.FPrevPressure, 900u);
        EXPECT_EQ(tablet.FX, w - 1);
    }
}

TEST(Tablet, MaxPressureIsTheDevicesRange) {
    const struct {
        int minimum, maximum, expected;
    } cases[] = {{0, 2047, 2047}, {0, 8191, 8191}, {5, 1028, 1023}, {-100, 100, 200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maximum);
        TempDir dir;
        TabletModel model;
        model.axes[2] = {ABS_PRESSURE, c.minimum, c.maximum, 0};
        EventLines e;
        e.Report(0, {{ABS_PRESSURE, c.minimum}}, {{BTN_TOOL_PEN, 1}});
        ReplayEnvironment env(WriteRecording(dir, model, e));
        TTablet tablet;
        QWidget window;
        ASSERT_TRUE(tablet.Open(platform::WindowHandle(&window)));
        EXPECT_EQ(tablet.FMaxPressure, c.expected);
    }
}

TEST(Tablet, LongDeviceNamesComeThroughWhole) {
    for (std::size_t length : {99u, 100u, 300u, 4000u}) {
        SCOPED_TRACE(length);
        TempDir dir;
        TabletModel model;
        model.name = std::string(length - 1, 'x') + "Z";
        EventLines e;
        e.Report(0, {}, {{BTN_TOOL_PEN, 1}});
        ReplayEnvironment env(WriteRecording(dir, model, e));
        TTablet tablet;
        EXPECT_EQ(tablet.GetDeviceName(), model.name);
    }
}

TEST(Tablet, StoredMaximumPressureUnderTheKeyPath) {
    const char* kKey = "Software\\Ostrevin\\VelSerin\\4.0";
    const struct {
        const char* what;
        const char* value;  // the line in the hive, or null for none
        bool opens;
        int pressure;
    } cases[] = {
        {"no value: the device's", nullptr, true, 2047},
        {"a number", "\"MaxNPressure\"=\"1234\"", true, 1234},
        {"leading blanks and a sign", "\"MaxNPressure\"=\"  -5\"", true, -5},
        {"hexadecimal", "\"MaxNPressure\"=\"$400\"", true, 1024},
        {"not a number", "\"MaxNPressure\"=\"abc\"", false, 2047},
        {"trailing text", "\"MaxNPressure\"=\"12 kg\"", false, 2047},
        {"beyond 32 bits", "\"MaxNPressure\"=\"4294967296\"", false, 2047},
        {"empty", "\"MaxNPressure\"=\"\"", false, 2047},
        {"not a string", "\"MaxNPressure\"=dword:00000400", false, 2047},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        EventLines e;
        e.Report(0, {}, {{BTN_TOOL_PEN, 1}});
        ReplayEnvironment env(WriteRecording(dir, TabletModel(), e));
        ScopedEnv registry("VELSERIN_REGISTRY_DIR", dir.Path());
        std::string hive = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\" +
                           std::string(kKey) + "\\Common]\n";
        if (c.value)
            hive += std::string(c.value) + "\n";
        WriteFile(dir.File("user.reg"), hive);

        TTablet tablet;
        QWidget window;
        EXPECT_EQ(tablet.Open(platform::WindowHandle(&window), kKey), c.opens);
        EXPECT_TRUE(tablet.IsOpen());  // the context stays open either way
        EXPECT_EQ(tablet.FMaxPressure, c.pressure);
        // Reading never writes the hive.
        EXPECT_EQ(testsupport::ReadFile(dir.File("user.reg")), hive);
    }
}

TEST(Tablet, OpeningAgainReplacesTheContext) {
    TempDir dir;
    EventLines e;
    for (int i = 0; i < 40; ++i)
        e.Report(i * 3000, {{ABS_PRESSURE, i}}, {{BTN_TOOL_PEN, 1}});
    ReplayEnvironment env(WriteRecording(dir, TabletModel(), e));
    TTablet tablet;
    TabletWindow window(tablet);
    ASSERT_TRUE(tablet.Open(window.Handle()));
    ASSERT_TRUE(window.WaitForReadings(1));
    platform::WindowMessage first = window.messages[0];
    ASSERT_TRUE(tablet.Open(window.Handle()));
    std::vector<std::uint32_t> pressures;  // read through the new context
    ASSERT_TRUE(tablettest::WaitUntil([&] {
        pressures.clear();
        for (const Reading& r : window.readings)
            if (r.context != first.LParam)
                pressures.push_back(r.pressure);
        return pressures.size() >= 3;
    }));
    // The replay starts again for the new context.
    EXPECT_EQ(pressures[0], 0u);
    EXPECT_EQ(pressures[1], 1u);
    EXPECT_EQ(pressures[2], 2u);
    // The first context is closed: its messages read nothing.
    first.WParam += 1;
    EXPECT_EQ(tablet.ReadPacket(first), 0u);
}

TEST(Tablet, ContextRefusedStillOpensWithoutAContext) {
    TempDir dir;
    EventLines e;
    e.Report(0, {}, {{BTN_TOOL_PEN, 1}});
    ReplayEnvironment env(WriteRecording(dir, TabletModel(), e));
    TTablet tablet;
    // No window to post to: the driver refuses the context, the steps got through.
    EXPECT_TRUE(tablet.Open(nullptr));
    EXPECT_FALSE(tablet.IsOpen());
    EXPECT_EQ(tablet.PacketMessage(), 0u);
    EXPECT_EQ(tablet.FMaxPressure, 2047);
    EXPECT_EQ(tablet.ReadPacket({wt::WT_PACKET, 1, 0, 0}), 0u);
}
