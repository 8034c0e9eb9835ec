// Window handles and messages posted to them from other threads.

#include "platform/WindowMessages.h"

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "tests/drivers/DriverFixture.h"

using platform::HWND;
using platform::PostMessage;
using platform::WindowHandle;
using platform::WindowMessage;
using tablettest::MessageWindow;

TEST(WindowMessages, HandlesAreStablePerWindow) {
    QObject a;
    QObject b;
    HWND ha = WindowHandle(&a);
    ASSERT_NE(ha, nullptr);
    EXPECT_EQ(WindowHandle(&a), ha);
    EXPECT_NE(WindowHandle(&b), ha);
    EXPECT_EQ(platform::WindowFromHandle(ha), &a);
    EXPECT_EQ(WindowHandle(nullptr), nullptr);
}

TEST(WindowMessages, PostsFromOtherThreadsArriveInOrderOnTheWindowsThread) {
    MessageWindow window;
    constexpr int kCount = 500;
    std::thread poster([&] {
        for (int i = 0; i < kCount; ++i)
            ASSERT_TRUE(PostMessage(window.handle, 0x7FF0, platform::WPARAM(i), -i));
    });
    poster.join();
    ASSERT_TRUE(window.WaitForMessages(kCount));
    ASSERT_EQ(window.messages.size(), std::size_t(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(window.messages[i].Msg, 0x7FF0u);
        EXPECT_EQ(window.messages[i].WParam, platform::WPARAM(i));
        EXPECT_EQ(window.messages[i].LParam, -i);
        EXPECT_TRUE(window.onOwnThread[i]);
    }
}

TEST(WindowMessages, ArriveAsEventsOfTheWindow) {
    // A window that handles the event itself rather than through a handler.
    struct Receiver : QObject {
        bool event(QEvent* e) override {
            if (e->type() == platform::WindowMessageEvent::EventType()) {
                got.push_back(static_cast<platform::WindowMessageEvent*>(e)->Message());
                return true;
            }
            return QObject::event(e);
        }
        std::vector<WindowMessage> got;
    } receiver;
    ASSERT_TRUE(PostMessage(WindowHandle(&receiver), 42, 1, 2));
    ASSERT_TRUE(tablettest::WaitUntil([&] { return !receiver.got.empty(); }));
    EXPECT_EQ(receiver.got[0].Msg, 42u);
    EXPECT_EQ(receiver.got[0].LParam, 2);
}

TEST(WindowMessages, PostingToAGoneWindowFailsHarmlessly) {
    auto window = std::make_unique<QObject>();
    HWND handle = WindowHandle(window.get());
    ASSERT_TRUE(PostMessage(handle, 1, 0, 0));  // pending when the window goes
    window.reset();
    EXPECT_EQ(platform::WindowFromHandle(handle), nullptr);
    EXPECT_FALSE(PostMessage(handle, 1, 0, 0));
    QCoreApplication::processEvents();

    // A new window never inherits a gone window's handle.
    QObject next;
    EXPECT_NE(WindowHandle(&next), handle);
    EXPECT_FALSE(PostMessage(handle, 1, 0, 0));

    EXPECT_FALSE(PostMessage(nullptr, 1, 0, 0));
    platform::WindowPort foreign = {0x1234, sizeof(platform::WindowPort), nullptr};
    EXPECT_FALSE(PostMessage(&foreign, 1, 0, 0));
    EXPECT_EQ(platform::WindowFromHandle(&foreign), nullptr);
}

TEST(WindowMessages, WindowDestroyedWhileAnotherThreadPosts) {
    std::atomic<bool> stop = false;
    std::atomic<HWND> target = nullptr;
    std::thread poster([&] {
        while (!stop) {
            if (HWND h = target.load())
                PostMessage(h, 7, 0, 0);
        }
    });
    for (int i = 0; i < 200; ++i) {
        auto window = std::make_unique<QObject>();
        target = WindowHandle(window.get());
        QCoreApplication::processEvents();
        window.reset();
    }
    stop = true;
    poster.join();
    QCoreApplication::processEvents();
}
