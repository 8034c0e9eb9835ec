#pragma once
// Posted window messages: a window (any QObject, usually a top-level widget)
// gets a handle that a message can be posted to from any thread; the message
// arrives as a WindowMessageEvent on the window's own thread, in the order
// posted. The tablet driver posts its packet messages this way.
//
//     HWND handle = platform::WindowHandle(dialog);
//     platform::InstallMessageHandler(dialog, [&](platform::WindowMessage& m) {
//         if (m.Msg == tablet.PacketMessage()) tablet.ReadPacket(m);
//     });

#include <QEvent>
#include <QObject>
#include <cstdint>
#include <functional>

#include "platform/WindowHandle.h"

namespace platform {

struct WindowMessage {
    std::uint32_t Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

class WindowMessageEvent : public QEvent {
  public:
    explicit WindowMessageEvent(const WindowMessage& message);
    // The event type, registered with Qt once.
    static QEvent::Type EventType();
    WindowMessage& Message() { return message_; }
    const WindowMessage& Message() const { return message_; }

  private:
    WindowMessage message_;
};

// The window's handle, made at the first request and the same afterwards.
// Must be called on the window's thread. Null for a null window.
HWND WindowHandle(QObject* window);
// The window a handle belongs to; null once that window is gone or for a
// handle that is not one of ours.
QObject* WindowFromHandle(HWND handle);

using WindowMessageHandler = std::function<void(WindowMessage&)>;

// Calls handler on the window's thread for every message posted to the
// window. The handler lives as long as the window (a child object of it) or
// until the returned object is deleted.
QObject* InstallMessageHandler(QObject* window, WindowMessageHandler handler);

}  // namespace platform
