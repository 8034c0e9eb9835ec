// The tablet driver through its Wintab interface, fed by recordings in the
// evemu-record format.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tests/drivers/DriverFixture.h"
#include "tests/drivers/Recording.h"

namespace wt = platform::wintab;
using tablettest::AbsAxis;
using tablettest::DeviceLines;
using tablettest::EventLines;
using tablettest::LoadedDriver;
using tablettest::MessageWindow;
using tablettest::TabletModel;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Every field, as a C compiler lays out the record.
struct FullPacket {
    wt::HCTX pkContext;
    std::uint32_t pkStatus;
    std::uint32_t pkTime;
    wt::WTPKT pkChanged;
    std::uint32_t pkSerialNumber;
    std::uint32_t pkCursor;
    std::uint32_t pkButtons;
    std::int32_t pkX;
    std::int32_t pkY;
    std::int32_t pkZ;
    std::uint32_t pkNormalPressure;
    std::uint32_t pkTangentPressure;
    wt::ORIENTATION pkOrientation;
    wt::ROTATION pkRotation;
};
constexpr wt::WTPKT kAllFields = 0x3FFF;

// A context that posts its packets, with every field.
wt::LOGCONTEXTW MessagesContext(LoadedDriver& driver, wt::WTPKT fields = kAllFields) {
    wt::LOGCONTEXTW lc = driver.DefaultContext();
    lc.lcOptions |= wt::CXO_MESSAGES;
    lc.lcPktData = fields;
    lc.lcMoveMask = fields;
    return lc;
}

std::u16string DeviceName(LoadedDriver& driver) {
    std::uint32_t size = driver.Info(wt::WTI_DEVICES, wt::DVC_NAME, nullptr);
    std::u16string name(size / 2, u'\0');
    EXPECT_EQ(driver.Info(wt::WTI_DEVICES, wt::DVC_NAME, name.data()), size);
    if (!name.empty() && name.back() == u'\0')
        name.pop_back();
    return name;
}

std::string WriteRecording(const TempDir& dir, const std::string& text,
                           const std::string& file = "pen.rec") {
    std::string path = dir.File(file);
    WriteFile(path, text);
    return path;
}

std::string Recording(const TabletModel& model, const EventLines& events) {
    return DeviceLines(model) + events.Text();
}

// A press at the top-left corner, a stroke, and a repeated report.
EventLines Stroke() {
    EventLines e;
    e.Report(0, {{ABS_X, 0}, {ABS_Y, 0}, {ABS_PRESSURE, 0}}, {{BTN_TOOL_PEN, 1}});
    e.Report(5000, {{ABS_PRESSURE, 300}}, {{BTN_TOUCH, 1}});
    e.Report(10000, {{ABS_X, 7600}, {ABS_Y, 4750}, {ABS_PRESSURE, 900}});
    e.Sync(15000);  // nothing changed
    e.Report(20000, {{ABS_X, 15199}, {ABS_Y, 9499}, {ABS_PRESSURE, 2047}});
    return e;
}

// The replay starts when the first context opens. Tests that open several
// contexts begin their recording with an empty report and a pause, so that
// every context is open before the reports they look at; they look at the
// last messages only.
constexpr std::int64_t kPause = 300000;
EventLines PauseFirst(const std::map<unsigned, int>& abs = {}) {
    EventLines e;
    e.Report(0, abs);
    return e;
}
std::vector<platform::WindowMessage> LastMessages(MessageWindow& window, std::size_t n) {
    window.WaitForMessages(n);
    tablettest::WaitUntil([] { return false; }, 100);  // the lead-in packet may precede them
    if (window.messages.size() < n)
        return {};
    return {window.messages.end() - std::ptrdiff_t(n), window.messages.end()};
}

}  // namespace

TEST(WintabDriver, DescribesTheRecordedDevice) {
    TempDir dir;
    TabletModel model;
    // 300 characters, two of them outside ASCII: the UTF-8 name comes out as UTF-16.
    model.name = "Tablet \xC3\xA9l\xC3\xA8ve" + std::string(288, 'N');
    model.axes = {{ABS_X, 0, 15199, 100}, {ABS_Y, 0, 9499, 100}, {ABS_PRESSURE, 10, 1033, 0}};
    EventLines e;
    e.Report(0, {{ABS_PRESSURE, 10}}, {{BTN_TOOL_PEN, 1}});
    LoadedDriver driver(WriteRecording(dir, Recording(model, e)));
    ASSERT_TRUE(driver.Loaded());

    EXPECT_GE(driver.Info(0, 0, nullptr), sizeof(wt::LOGCONTEXTW));
    EXPECT_GE(driver.Info(0, 0, nullptr), 301u * 2);  // the largest item: the long name

    EXPECT_EQ(driver.Info(wt::WTI_DEVICES, wt::DVC_NAME, nullptr), 301u * 2);
    EXPECT_EQ(DeviceName(driver), u"Tablet \u00e9l\u00e8ve" + std::u16string(288, u'N'));

    wt::AXIS pressure = {};
    EXPECT_EQ(driver.Info(wt::WTI_DEVICES, wt::DVC_NPRESSURE, nullptr), sizeof(wt::AXIS));
    EXPECT_EQ(driver.Info(wt::WTI_DEVICES, wt::DVC_NPRESSURE, &pressure), sizeof(wt::AXIS));
    EXPECT_EQ(pressure.axMin, 10);
    EXPECT_EQ(pressure.axMax, 1033);

    wt::AXIS x = {};
    driver.Info(wt::WTI_DEVICES, wt::DVC_X, &x);
    EXPECT_EQ(x.axMin, 0);
    EXPECT_EQ(x.axMax, 15199);
    EXPECT_EQ(x.axUnits, wt::TU_CENTIMETERS);
    EXPECT_EQ(x.axResolution, 1000u << 16);  // 100 per mm

    std::uint32_t devices = 0;
    EXPECT_EQ(driver.Info(wt::WTI_INTERFACE, wt::IFC_NDEVICES, &devices), 4u);
    EXPECT_EQ(devices, 1u);

    EXPECT_EQ(driver.Info(wt::WTI_DEFCONTEXT, 0, nullptr), sizeof(wt::LOGCONTEXTW));
    wt::LOGCONTEXTW lc = driver.DefaultContext();
    EXPECT_EQ(lc.lcMsgBase, wt::WT_DEFBASE);
    EXPECT_EQ(lc.lcDevice, 0u);
    EXPECT_EQ(lc.lcInOrgX, 0);
    EXPECT_EQ(lc.lcInExtX, 15200);
    EXPECT_EQ(lc.lcInExtY, 9500);
    std::uint32_t msgBase = 0;
    EXPECT_EQ(driver.Info(wt::WTI_DEFCONTEXT, 5, &msgBase), 4u);  // CTX_MSGBASE
    EXPECT_EQ(msgBase, wt::WT_DEFBASE);

    // Items that do not exist: nothing written, size 0.
    std::uint32_t untouched = 0xDEADBEEF;
    EXPECT_EQ(driver.Info(wt::WTI_DEVICES + 1, wt::DVC_NAME, &untouched), 0u);
    EXPECT_EQ(driver.Info(wt::WTI_DEVICES, 999, &untouched), 0u);
    EXPECT_EQ(driver.Info(77, 0, &untouched), 0u);
    EXPECT_EQ(driver.Info(wt::WTI_DEFCONTEXT, 35, &untouched), 0u);  // past the last field
    EXPECT_EQ(driver.Info(wt::WTI_DEFCONTEXT, 0x40000002, &untouched), 0u);
    EXPECT_EQ(untouched, 0xDEADBEEF);
}

// A recording as evemu-record writes it: comment lines, every capability
// bitmap, events with a comment after them. Lines may end in CR LF.
TEST(WintabDriver, AcceptsWhatEvemuRecordWrites) {
    const std::string recording =
        "# EVEMU 1.3\n"
        "# Kernel: 6.1.0\n"
        "# Input device name: \"Ostrevin Test Tablet Pen\"\n"
        "# Input device ID: bus 0x03 vendor 0x56a product 0x357 version 0x110\n"
        "# Size in mm: 151x94\n"
        "# Supported events:\n"
        "# Properties:\n"
        "N: Ostrevin Test Tablet Pen\n"
        "I: 0003 056a 0357 0110\n"
        "P: 00 00 00 00 00 00 00 00\n"
        "B: 00 0b 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 03 1c 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 01 00 00 00 00 00 00 00 00\n"
        "B: 02 00 00 00 00 00 00 00 00\n"
        "B: 03 03 00 00 01 00 00 00 00\n"
        "B: 04 01 00 00 00 00 00 00 00\n"
        "B: 05 00 00 00 00 00 00 00 00\n"
        "B: 11 00 00 00 00 00 00 00 00\n"
        "B: 12 00 00 00 00 00 00 00 00\n"
        "B: 14 00 00 00 00 00 00 00 00\n"
        "B: 15 00 00 00 00 00 00 00 00\n"
        "B: 15 00 00 00 00 00 00 00 00\n"
        "A: 00 0 15199 0 0 100\n"
        "A: 01 0 9499 0 0 100\n"
        "A: 18 0 2047 0 0 0\n"
        "E: 0.000000 0001 0140 0001\t# EV_KEY / BTN_TOOL_PEN         1\n"
        "E: 0.000000 0003 0000 0100\t# EV_ABS / ABS_X                100\n"
        "E: 0.000000 0003 0001 0200\t# EV_ABS / ABS_Y                200\n"
        "E: 0.000000 0003 0018 0000\t# EV_ABS / ABS_PRESSURE         0\n"
        "E: 0.000000 0000 0000 0000\t# ------------ SYN_REPORT (0) ---------- +0ms\n"
        "E: 0.007000 0001 014a 0001\t# EV_KEY / BTN_TOUCH            1\n"
        "E: 0.007000 0003 0018 0500\t# EV_ABS / ABS_PRESSURE         500\n"
        "E: 0.007000 0000 0000 0000\t# ------------ SYN_REPORT (0) ---------- +7ms\n";
    std::string crlf;
    for (char c : recording)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const std::string& text : {recording, crlf}) {
        TempDir dir;
        testing::internal::CaptureStderr();
        LoadedDriver driver(WriteRecording(dir, text));
        EXPECT_EQ(DeviceName(driver), u"Ostrevin Test Tablet Pen");
        MessageWindow window;
        wt::LOGCONTEXTW lc = MessagesContext(driver);
        wt::HCTX ctx = driver.Open(window.handle, &lc, 1);
        ASSERT_NE(ctx, nullptr);
        ASSERT_TRUE(window.WaitForMessages(2));
        FullPacket p = {};
        ASSERT_EQ(driver.Packet(ctx, std::uint32_t(window.messages[1].WParam), &p), 1);
        EXPECT_EQ(p.pkNormalPressure, 500u);
        EXPECT_EQ(p.pkButtons, 1u);
        EXPECT_EQ(p.pkTime, 7u);
        driver.Close(ctx);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

TEST(WintabDriver, PostsOnePacketPerReportInOrder) {
    TempDir dir;
    LoadedDriver driver(WriteRecording(dir, Recording(TabletModel(), Stroke())));
    ASSERT_TRUE(driver.Loaded());
    MessageWindow window;
    wt::LOGCONTEXTW lc = MessagesContext(driver);
    lc.lcMsgBase = 0x6000;
    wt::HCTX ctx = driver.Open(window.handle, &lc, 1);
    ASSERT_NE(ctx, nullptr);

    ASSERT_TRUE(window.WaitForMessages(5));
    tablettest::WaitUntil([] { return false; }, 50);  // and no more than one per report
    ASSERT_EQ(window.messages.size(), 5u);

    const std::uint32_t pressures[] = {0, 300, 900, 900, 2047};
    const std::uint32_t buttons[] = {0, 1, 1, 1, 1};
    std::uint32_t previousSerial = 0;
    for (std::size_t i = 0; i < window.messages.size(); ++i) {
        SCOPED_TRACE(i);
        const platform::WindowMessage& m = window.messages[i];
        EXPECT_TRUE(window.onOwnThread[i]);
        EXPECT_EQ(m.Msg, 0x6000u);
        EXPECT_EQ(reinterpret_cast<wt::HCTX>(m.LParam), ctx);
        EXPECT_GT(m.WParam, previousSerial);
        previousSerial = static_cast<std::uint32_t>(m.WParam);

        FullPacket p;
        std::memset(&p, 0xAB, sizeof p);
        ASSERT_EQ(driver.Packet(ctx, static_cast<std::uint32_t>(m.WParam), &p), 1);
        EXPECT_EQ(p.pkContext, ctx);
        EXPECT_EQ(p.pkSerialNumber, m.WParam);
        EXPECT_EQ(p.pkNormalPressure, pressures[i]);
        EXPECT_EQ(p.pkButtons, buttons[i]);
        EXPECT_EQ(p.pkCursor, 1u);
        EXPECT_EQ(p.pkStatus & wt::TPS_PROXIMITY, 0u);
        EXPECT_EQ(p.pkTime, std::uint32_t(i * 5));
        EXPECT_EQ(p.pkZ, 0);
        EXPECT_EQ(p.pkTangentPressure, 0u);
    }
    EXPECT_EQ(driver.Close(ctx), 1);
    EXPECT_EQ(driver.Close(ctx), 0);
}

TEST(WintabDriver, LaysOutOnlyTheRequestedFieldsInBitOrder) {
    TempDir dir;
    LoadedDriver driver(WriteRecording(dir, Recording(TabletModel(), Stroke())));
    MessageWindow window;
    // Serial, X and pressure: three 4-byte fields and nothing else.
    wt::LOGCONTEXTW lc =
        MessagesContext(driver, wt::PK_SERIAL_NUMBER | wt::PK_X | wt::PK_NORMAL_PRESSURE);
    wt::HCTX ctx = driver.Open(window.handle, &lc, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_TRUE(window.WaitForMessages(5));
    std::uint32_t record[4];
    std::memset(record, 0xAB, sizeof record);
    const platform::WindowMessage& last = window.messages[4];
    ASSERT_EQ(driver.Packet(ctx, static_cast<std::uint32_t>(last.WParam), record), 1);
    EXPECT_EQ(record[0], last.WParam);
    EXPECT_EQ(record[1], 15199u);
    EXPECT_EQ(record[2], 2047u);
    EXPECT_EQ(record[3], 0xABABABABu);  // untouched beyond the 12-byte record
    driver.Close(ctx);
}

TEST(WintabDriver, PacketHandsOutOneAndDropsOlderOnes) {
    TempDir dir;
    LoadedDriver driver(WriteRecording(dir, Recording(TabletModel(), Stroke())));
    MessageWindow window;
    wt::LOGCONTEXTW lc = MessagesContext(driver);
    wt::HCTX ctx = driver.Open(window.handle, &lc, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_TRUE(window.WaitForMessages(5));
    auto serial = [&](int i) { return static_cast<std::uint32_t>(window.messages[i].WParam); };

    FullPacket p = {};
    EXPECT_EQ(driver.Packet(ctx, serial(2), &p), 1);
    EXPECT_EQ(p.pkNormalPressure, 900u);
    // Older packets are gone; a packet is handed out once.
    EXPECT_EQ(driver.Packet(ctx, serial(0), &p), 0);
    EXPECT_EQ(driver.Packet(ctx, serial(1), &p), 0);
    EXPECT_EQ(driver.Packet(ctx, serial(2), &p), 0);
    EXPECT_EQ(p.pkNormalPressure, 900u);  // a failed call leaves the record alone
    // Unknown serials and contexts change nothing: serial 3 is still there.
    EXPECT_EQ(driver.Packet(ctx, serial(4) + 100, &p), 0);
    EXPECT_EQ(driver.Packet(reinterpret_cast<wt::HCTX>(0x7777), serial(3), &p), 0);
    EXPECT_EQ(driver.Packet(nullptr, serial(3), &p), 0);
    // A null record just drops the packet.
    EXPECT_EQ(driver.Packet(ctx, serial(3), nullptr), 1);
    EXPECT_EQ(driver.Packet(ctx, serial(4), &p), 1);
    EXPECT_EQ(p.pkNormalPressure, 2047u);
    EXPECT_EQ(p.pkChanged & (wt::PK_X | wt::PK_Y | wt::PK_NORMAL_PRESSURE),
              wt::PK_X | wt::PK_Y | wt::PK_NORMAL_PRESSURE);

    driver.Close(ctx);
    EXPECT_EQ(driver.Packet(ctx, serial(4), &p), 0);
}

TEST(WintabDriver, KeepsABoundedQueue) {
    TempDir dir;
    EventLines e;
    for (int i = 0; i < 100; ++i)
        e.Report(i * 100, {{ABS_PRESSURE, i}}, {{BTN_TOOL_PEN, 1}});
    LoadedDriver driver(WriteRecording(dir, Recording(TabletModel(), e)));
    MessageWindow window;
    wt::LOGCONTEXTW lc = MessagesContext(driver);
    wt::HCTX ctx = driver.Open(window.handle, &lc, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_TRUE(window.WaitForMessages(100));
    auto serial = [&](int i) { return static_cast<std::uint32_t>(window.messages[i].WParam); };
    FullPacket p = {};
    // The oldest are dropped once the queue is full; the newest are kept, and
    // the oldest one left says that packets before it were lost.
    EXPECT_EQ(driver.Packet(ctx, serial(0), &p), 0);
    EXPECT_EQ(driver.Packet(ctx, serial(35), &p), 0);
    ASSERT_EQ(driver.Packet(ctx, serial(36), &p), 1);
    EXPECT_EQ(p.pkNormalPressure, 36u);
    EXPECT_NE(p.pkStatus & wt::TPS_QUEUE_ERR, 0u);
    ASSERT_EQ(driver.Packet(ctx, serial(99), &p), 1);
    EXPECT_EQ(p.pkNormalPressure, 99u);
    EXPECT_EQ(p.pkStatus & wt::TPS_QUEUE_ERR, 0u);
    driver.Close(ctx);
}

// Pen at the top-left corner, the bottom-right corner and the middle of a
// 15200 x 9500 tablet, seen through contexts with different mappings.
TEST(WintabDriver, MapsTheInputExtentToTheOutputExtent) {
    struct Case {
        const char* what;
        std::int32_t inOrgX, inExtX, outOrgX, outOrgY, outExtX, outExtY;
        std::int32_t expected[3][2];
    };
    const Case cases[] = {
        {"tablet units, y up", 0, 15200, 0, 0, 15200, 9500, {{0, 9499}, {15199, 0}, {7600, 4749}}},
        {"screen, y turned over", 0, 15200, 0, 0, 1920, -1080, {{0, 0}, {1919, 1079}, {960, 540}}},
        {"moved and scaled", 0, 15200, 100, 50, 200, 100, {{100, 149}, {299, 50}, {200, 99}}},
        {"right half of the tablet", 7600, 7600, 0, 0, 1000, -100, {{0, 0}, {999, 99}, {0, 50}}},
        {"x turned over", 0, 15200, 0, 0, -1000, -100, {{999, 0}, {0, 99}, {499, 50}}},
        {"zero extent", 0, 0, 7, 0, 1000, 0, {{7, 0}, {7, 0}, {7, 0}}},
    };
    TempDir dir;
    EventLines e = PauseFirst();
    e.Report(kPause, {{ABS_X, 0}, {ABS_Y, 0}}, {{BTN_TOOL_PEN, 1}});
    e.Report(kPause + 5000, {{ABS_X, 15199}, {ABS_Y, 9499}});
    e.Report(kPause + 10000, {{ABS_X, 7600}, {ABS_Y, 4750}});
    LoadedDriver driver(WriteRecording(dir, Recording(TabletModel(), e)));
    // One window per context, all open before the replay starts.
    std::vector<std::unique_ptr<MessageWindow>> windows;
    std::vector<wt::HCTX> contexts;
    for (const Case& c : cases) {
        wt::LOGCONTEXTW lc = MessagesContext(driver, wt::PK_X | wt::PK_Y);
        lc.lcInOrgX = c.inOrgX;
        lc.lcInExtX = c.inExtX;
        lc.lcOutOrgX = c.outOrgX;
        lc.lcOutOrgY = c.outOrgY;
        lc.lcOutExtX = c.outExtX;
        lc.lcOutExtY = c.outExtY;
        windows.push_back(std::make_unique<MessageWindow>());
        contexts.push_back(driver.Open(windows.back()->handle, &lc, 1));
        ASSERT_NE(contexts.back(), nullptr);
    }
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        SCOPED_TRACE(cases[k].what);
        std::vector<platform::WindowMessage> messages = LastMessages(*windows[k], 3);
        ASSERT_EQ(messages.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            std::int32_t xy[2] = {};
            auto serial = static_cast<std::uint32_t>(messages[i].WParam);
            ASSERT_EQ(driver.Packet(contexts[k], serial, xy), 1);
            EXPECT_EQ(xy[0], cases[k].expected[i][0]) << "report " << i;
            EXPECT_EQ(xy[1], cases[k].expected[i][1]) << "report " << i;
        }
        driver.Close(contexts[k]);
    }
}

TEST(WintabDriver, ReportsToolsTiltAndRelativeValues) {
    TempDir dir;
    TabletModel model;
    // Tilt in degrees (no resolution).
    model.axes.push_back({ABS_TILT_X, -64, 63, 0});
    model.axes.push_back({ABS_TILT_Y, -64, 63, 0});
    // The lead-in puts the pen where the first report has it, so that a
    // relative context sees no move there, whichever packet came first for it.
    EventLines e = PauseFirst({{ABS_X, 100}});
    const std::int64_t t = kPause;
    e.Report(t, {{ABS_X, 100}, {ABS_TILT_X, 0}, {ABS_TILT_Y, 0}}, {{BTN_TOOL_PEN, 1}});
    e.Report(t + 1000, {{ABS_X, 150}, {ABS_TILT_X, 45}}, {{BTN_STYLUS, 1}});
    e.Report(t + 2000, {{ABS_X, 120}, {ABS_TILT_X, 0}, {ABS_TILT_Y, 45}}, {{BTN_STYLUS, 0}});
    e.Report(t + 3000, {}, {{BTN_TOOL_PEN, 0}, {BTN_TOOL_RUBBER, 1}});
    e.Report(t + 4000, {}, {{BTN_TOOL_RUBBER, 0}});
    // Events after a SYN_DROPPED up to its report are lost with it.
    e.Event(t + 5000, EV_SYN, SYN_DROPPED, 0);
    e.Report(t + 5000, {{ABS_X, 9000}});
    e.Report(t + 6000, {{ABS_X, 160}}, {{BTN_TOOL_PEN, 1}});
    LoadedDriver driver(WriteRecording(dir, Recording(model, e)));

    MessageWindow absolute;
    MessageWindow relative;
    wt::LOGCONTEXTW lc = MessagesContext(driver);
    wt::HCTX abs = driver.Open(absolute.handle, &lc, 1);
    lc.lcPktMode = wt::PK_X | wt::PK_BUTTONS;
    wt::HCTX rel = driver.Open(relative.handle, &lc, 1);
    ASSERT_TRUE(abs && rel);
    std::vector<platform::WindowMessage> absMessages = LastMessages(absolute, 6);
    std::vector<platform::WindowMessage> relMessages = LastMessages(relative, 6);
    ASSERT_EQ(absMessages.size(), 6u);
    ASSERT_EQ(relMessages.size(), 6u);

    struct Expect {
        std::uint32_t cursor, status;
        std::int32_t azimuth, altitude;
        std::int32_t relX;
        std::uint32_t relButtons;
    };
    const Expect expected[] = {
        {1, 0, 0, 900, 0, 0},
        {1, 0, 900, 450, 50, (wt::TBN_DOWN << 16) | 1},  // leaning right: east
        {1, 0, 1800, 450, -30, (wt::TBN_UP << 16) | 1},  // leaning towards the user: south
        {2, wt::TPS_INVERT, 1800, 450, 0, 0},
        {2, wt::TPS_PROXIMITY, 1800, 450, 0, 0},  // out of range: the last cursor
        {1, 0, 1800, 450, 40, 0},
    };
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        FullPacket a = {};
        FullPacket r = {};
        ASSERT_EQ(driver.Packet(abs, std::uint32_t(absMessages[i].WParam), &a), 1);
        ASSERT_EQ(driver.Packet(rel, std::uint32_t(relMessages[i].WParam), &r), 1);
        EXPECT_EQ(a.pkCursor, expected[i].cursor);
        EXPECT_EQ(a.pkStatus, expected[i].status);
        EXPECT_EQ(a.pkOrientation.orAzimuth, expected[i].azimuth);
        EXPECT_EQ(a.pkOrientation.orAltitude, expected[i].altitude);
        EXPECT_EQ(r.pkX, expected[i].relX);
        EXPECT_EQ(r.pkButtons, expected[i].relButtons);
        EXPECT_EQ(r.pkNormalPressure, a.pkNormalPressure);  // absolute in both
    }
    driver.Close(abs);
    driver.Close(rel);
}

TEST(WintabDriver, MoveMaskLeavesOutMotionItDoesNotWatch) {
    TempDir dir;
    EventLines e;
    e.Report(0, {{ABS_PRESSURE, 10}}, {{BTN_TOOL_PEN, 1}});
    e.Report(1000, {{ABS_X, 500}});        // only x moved: left out
    e.Report(2000, {{ABS_PRESSURE, 20}});  // pressure: kept
    e.Sync(3000);                          // nothing changed: still a sample
    e.Report(4000, {}, {{BTN_TOUCH, 1}});  // a button press: kept
    LoadedDriver driver(WriteRecording(dir, Recording(TabletModel(), e)));
    MessageWindow window;
    wt::LOGCONTEXTW lc = MessagesContext(driver);
    lc.lcMoveMask = wt::PK_NORMAL_PRESSURE;
    wt::HCTX ctx = driver.Open(window.handle, &lc, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_TRUE(window.WaitForMessages(4));
    tablettest::WaitUntil([] { return false; }, 50);
    ASSERT_EQ(window.messages.size(), 4u);
    FullPacket p = {};
    ASSERT_EQ(driver.Packet(ctx, std::uint32_t(window.messages[1].WParam), &p), 1);
    EXPECT_EQ(p.pkX, 500);  // the later packet carries the moved x
    EXPECT_EQ(p.pkNormalPressure, 20u);
    driver.Close(ctx);
}

TEST(WintabDriver, RefusesBadOpens) {
    TempDir dir;
    LoadedDriver driver(WriteRecording(dir, Recording(TabletModel(), Stroke())));
    MessageWindow window;
    wt::LOGCONTEXTW lc = MessagesContext(driver);
    EXPECT_EQ(driver.Open(nullptr, &lc, 1), nullptr);
    EXPECT_EQ(driver.Open(window.handle, nullptr, 1), nullptr);
    platform::WindowPort foreign = {0x12345678, sizeof(platform::WindowPort), nullptr};
    EXPECT_EQ(driver.Open(&foreign, &lc, 1), nullptr);
    lc.lcDevice = 1;
    EXPECT_EQ(driver.Open(window.handle, &lc, 1), nullptr);
    EXPECT_EQ(driver.Close(nullptr), 0);
    EXPECT_EQ(driver.Close(reinterpret_cast<wt::HCTX>(0x1234)), 0);

    // A disabled context, and one that does not ask for messages, post nothing.
    lc.lcDevice = 0;
    wt::HCTX disabled = driver.Open(window.handle, &lc, 0);
    lc.lcOptions &= ~wt::CXO_MESSAGES;
    wt::HCTX silent = driver.Open(window.handle, &lc, 1);
    ASSERT_TRUE(disabled && silent);
    tablettest::WaitUntil([] { return false; }, 100);
    EXPECT_TRUE(window.messages.empty());
    driver.Close(disabled);
    driver.Close(silent);
}

TEST(WintabDriver, WindowGoneAndLibraryFreedWithContextsOpen) {
    TempDir dir;
    EventLines e;
    for (int i = 0; i < 50; ++i)
        e.Report(i * 2000, {{ABS_PRESSURE, i}}, {{BTN_TOOL_PEN, 1}});
    std::string path = WriteRecording(dir, Recording(TabletModel(), e));
    {
        LoadedDriver driver(path);
        auto window = std::make_unique<MessageWindow>();
        wt::LOGCONTEXTW lc = MessagesContext(driver);
        wt::HCTX ctx = driver.Open(window->handle, &lc, 1);
        ASSERT_NE(ctx, nullptr);
        ASSERT_TRUE(window->WaitForMessages(2));
        window.reset();  // the driver keeps posting to a window that is gone
        tablettest::WaitUntil([] { return false; }, 30);
        // Unloaded with the context still open: the replay thread must stop.
    }
    // Loading again starts afresh.
    LoadedDriver again(path);
    MessageWindow window;
    wt::LOGCONTEXTW lc = MessagesContext(again);
    wt::HCTX ctx = again.Open(window.handle, &lc, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_TRUE(window.WaitForMessages(1));
    FullPacket p = {};
    ASSERT_EQ(again.Packet(ctx, std::uint32_t(window.messages[0].WParam), &p), 1);
    EXPECT_EQ(p.pkNormalPressure, 0u);
    EXPECT_EQ(p.pkSerialNumber, 1u);
    again.Close(ctx);
}

TEST(WintabDriver, ReadsTheRecordingNamedWhenLoaded) {
    TempDir dir;
    TabletModel first;
    first.name = "First Tablet";
    TabletModel second;
    second.name = "Second Tablet";
    std::string a = WriteRecording(dir, Recording(first, Stroke()), "a.rec");
    std::string b = WriteRecording(dir, Recording(second, Stroke()), "b.rec");
    {
        LoadedDriver driver(a);
        EXPECT_EQ(DeviceName(driver), u"First Tablet");
    }
    LoadedDriver driver(b);
    EXPECT_EQ(DeviceName(driver), u"Second Tablet");
}

TEST(WintabDriver, NoTabletWithoutReadableEventNodes) {
    TempDir dir;
    // Not evdev nodes: a text file, a folder, an unreadable file, a non-event name.
    WriteFile(dir.File("event0"), "not a device");
    ::mkdir(dir.File("event1").c_str(), 0700);
    WriteFile(dir.File("event2"), "");
    ::chmod(dir.File("event2").c_str(), 0);
    WriteFile(dir.File("mouse0"), "");
    for (const std::string& folder : {dir.Path(), dir.File("missing")}) {
        SCOPED_TRACE(folder);
        ScopedEnv input("VELSERIN_WINTAB_INPUT_DIR", folder);
        LoadedDriver driver("");
        ASSERT_TRUE(driver.Loaded());
        EXPECT_EQ(driver.Info(0, 0, nullptr), 0u);
        EXPECT_EQ(driver.Info(wt::WTI_DEFCONTEXT, 0, nullptr), 0u);
        MessageWindow window;
        wt::LOGCONTEXTW lc = {};
        lc.lcOptions = wt::CXO_MESSAGES;
        EXPECT_EQ(driver.Open(window.handle, &lc, 1), nullptr);
    }
}

// A recording that is not a pen tablet's, or not well formed, is refused
// with a line on stderr; the driver then has no tablet.
TEST(WintabDriver, RefusesMalformedRecordings) {
    auto replace = [](std::string text, const std::string& from, const std::string& to) {
        std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
        return text;
    };
    TabletModel good;
    const std::string device = DeviceLines(good);
    const std::string events = Stroke().Text();
    TabletModel noPen = good;
    noPen.keys.erase(BTN_TOOL_PEN);
    TabletModel noY = good;
    noY.axes.erase(noY.axes.begin() + 1);
    TabletModel flatPressure = good;
    flatPressure.axes[2] = {ABS_PRESSURE, 0, 0, 0};
    TabletModel reversed = good;
    reversed.axes[0] = {ABS_X, 100, 0, 0};

    struct Case {
        const char* what;
        std::string text;
        const char* says;
    };
    const Case cases[] = {
        {"unknown device line", replace(device, "I: ", "X: 1 2 3\nI: ") + events, "unknown line"},
        {"unknown line among events",
         device + replace(events, "E: 0.010000", "Q: 0.010000 0003 0000 0001\nE: 0.010000"),
         "unknown line"},
        {"device line among events", device + events + "A: 00 0 100 0 0 0\n",
         "device line among the events"},
        {"missing pressure range", replace(device, "A: 18 0 2047 0 0 0\n", "") + events,
         "missing axis ABS_PRESSURE"},
        {"range without the capability", DeviceLines(noY) + "A: 01 0 9499 0 0 100\n" + events,
         "missing axis ABS_Y"},
        {"no pen", DeviceLines(noPen) + events, "BTN_TOOL_PEN"},
        {"axis code beyond the table", replace(device, "A: 00", "A: 7f 0 1 0 0 0\nA: 00") + events,
         "axis code out of range"},
        {"empty pressure range", DeviceLines(flatPressure) + events, "unusable range"},
        {"reversed x range", DeviceLines(reversed) + events, "unusable range"},
        {"pressure above its maximum", device + replace(events, "0018 0900", "0018 5000"),
         "ABS_PRESSURE value 5000 out of its range 0..2047"},
        {"x below its minimum", device + replace(events, "0000 7600", "0000 -001"),
         "ABS_X value -1 out of its range"},
        {"event the device lacks", device + replace(events, "0003 0018 0900", "0003 0002 0900"),
         "does not have (ABS_Z)"},
        {"unknown event type", device + replace(events, "0003 0018 0900", "0020 0000 0900"),
         "unknown event type"},
        {"key value out of range", device + replace(events, "0001 014a 0001", "0001 014a 0007"),
         "BTN_TOUCH value 7 out of range"},
        {"time going backwards", device + replace(events, "E: 0.015000", "E: 0.001000"),
         "time goes backwards"},
        {"malformed event", device + replace(events, "E: 0.015000", "E: zz"), "malformed event"},
        {"event with trailing text", device + events + "E: 0.020000 0000 0000 0000 junk\n",
         "malformed event"},
        {"event with a huge time", device + events + "E: 99999999999999.000000 0000 0000 0000\n",
         "malformed event"},
        {"no device name", replace(device, "N: ", "# N: ") + events, "device name (N:)"},
        {"device name not first", replace(device, "N: ", "I: 0003 056a 0357 0110\nN: ") + events,
         "device name (N:)"},
        {"empty file", "", "no device name"},
        {"binary data", std::string("\x00\x01\x02 garbage\n", 13), "binary data"},
        {"plain text", "hello tablet\n", "unknown line"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = WriteRecording(dir, c.text);
        testing::internal::CaptureStderr();
        {
            LoadedDriver driver(path);
            ASSERT_TRUE(driver.Loaded());
            EXPECT_EQ(driver.Info(0, 0, nullptr), 0u);
            EXPECT_EQ(driver.Info(wt::WTI_DEVICES, wt::DVC_NAME, nullptr), 0u);
        }
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("libwintab32: " + path), std::string::npos) << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
    }
}

TEST(WintabDriver, RefusesRecordingsItCannotRead) {
    TempDir dir;
    std::string big = dir.File("big.rec");
    WriteFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), 65 << 20), 0);  // sparse: nothing is written
    const std::pair<std::string, const char*> cases[] = {
        {dir.File("missing.rec"), "No such file"},
        {dir.Path(), "not a regular file"},
        {big, "larger than 64 MiB"},
    };
    for (const auto& [path, says] : cases) {
        SCOPED_TRACE(path);
        testing::internal::CaptureStderr();
        {
            LoadedDriver driver(path);
            EXPECT_EQ(driver.Info(0, 0, nullptr), 0u);
        }
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(says), std::string::npos) << err;
    }
}
