#include "app/Entry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QTimer>
#include <QWidget>
#include <stdexcept>

#include "platform/Messages.h"
#include "platform/NamedMutex.h"
#include "tests/common/TestSupport.h"

using platform::MessageKind;
using platform::RecordingMessageSink;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

class EntryTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.Path()};
    RecordingMessageSink messages;
    platform::ScopedMessageSink sink{&messages};
    int formsCreated = 0;

    // A main form that closes itself as soon as the loop runs.
    velserin::MainFormFactory ClosingForm() {
        return [this] {
            ++formsCreated;
            auto w = std::make_unique<QWidget>();
            w->setAttribute(Qt::WA_QuitOnClose, true);
            QWidget* raw = w.get();
            QTimer::singleShot(0, raw, [raw] { raw->close(); });
            return w;
        };
    }
};

}  // namespace

TEST_F(EntryTest, NormalRunHoldsTheMutexOnlyWhileTheFormIsOpen) {
    bool heldDuringRun = false;
    auto factory = [&] {
        heldDuringRun =
            platform::ProbeNamedMutex(velserin::kConfigurationMutex) == platform::MutexProbe::Held;
        return ClosingForm()();
    };
    EXPECT_EQ(velserin::RunUtility(factory), 0);
    EXPECT_EQ(formsCreated, 1);
    EXPECT_TRUE(heldDuringRun);
    EXPECT_TRUE(messages.entries.empty());
    EXPECT_EQ(platform::ProbeNamedMutex(velserin::kConfigurationMutex),
              platform::MutexProbe::Absent);
}

TEST_F(EntryTest, SecondCopyIsRefusedAndCreatesNothing) {
    platform::NamedMutex::Result r;
    auto first = platform::NamedMutex::Create(velserin::kConfigurationMutex, &r);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(velserin::RunUtility(ClosingForm()), 0);
    EXPECT_EQ(formsCreated, 0);
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].kind, MessageKind::Message);
    EXPECT_EQ(messages.entries[0].text, "Application Already Running.");
    EXPECT_EQ(platform::ApplicationTitle(), "VelSerin Design CAD System Configuration");
}

TEST_F(EntryTest, RefusedWhileTheDesignProgramRunsThenRunsAfterIt) {
    pid_t peer = testsupport::HoldPosixLockInChild(dir.File("VelSerinDesignCAD.lock"));
    ASSERT_GT(peer, 0);
    EXPECT_EQ(velserin::RunUtility(ClosingForm()), 0);
    EXPECT_EQ(formsCreated, 0);
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].text, "After Close VelSerin Application, try again!");
    // Our own mutex was released before leaving.
    EXPECT_EQ(platform::ProbeNamedMutex(velserin::kConfigurationMutex),
              platform::MutexProbe::Absent);

    testsupport::KillChild(peer);
    messages.entries.clear();
    EXPECT_EQ(velserin::RunUtility(ClosingForm()), 0);
    EXPECT_EQ(formsCreated, 1);
    EXPECT_TRUE(messages.entries.empty());
}

TEST_F(EntryTest, ExceptionsFromTheFormAreShownAndTheExitCodeIsZero) {
    struct Case {
        std::function<void()> raise;
        std::string shown;
    } cases[] = {
        {[] { throw std::runtime_error("Cannot create /nowhere/Ostrevin"); },
         "Cannot create /nowhere/Ostrevin"},
        {[] { throw 42; }, ""},
    };
    for (const Case& c : cases) {
        messages.entries.clear();
        int rc = velserin::RunUtility([&]() -> std::unique_ptr<QWidget> {
            c.raise();
            return nullptr;
        });
        EXPECT_EQ(rc, 0);
        ASSERT_EQ(messages.entries.size(), 1u);
        EXPECT_EQ(messages.entries[0].kind, MessageKind::Exception);
        EXPECT_EQ(messages.entries[0].text, c.shown);
        EXPECT_EQ(platform::ProbeNamedMutex(velserin::kConfigurationMutex),
                  platform::MutexProbe::Absent);
    }
}
