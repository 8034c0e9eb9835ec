#pragma once
// A window handle as a plain C record, so that code without any widget kit -
// the tablet driver in particular - can post a message to a window from any
// thread. The handle carries the function that posts to it: a driver loaded
// into a host calls back into that host's window layer without linking it.
//
// Handles are made by platform::WindowHandle (WindowMessages.h). A handle
// stays valid memory for the life of the process; once its window is gone,
// posting to it fails harmlessly, as posting to a destroyed window does.

#include <cstdint>

namespace platform {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct WindowPort;
using HWND = WindowPort*;

extern "C" {
// Queues the message for the window's thread; non-zero when it was queued.
typedef std::int32_t WindowPostProc(WindowPort* window, std::uint32_t message, WPARAM wParam,
                                    LPARAM lParam);
}

inline constexpr std::uint32_t kWindowPortMagic = 0x57504F52;  // "WPOR"

struct WindowPort {
    std::uint32_t magic;  // kWindowPortMagic
    std::uint32_t size;   // sizeof(WindowPort), for later growth
    WindowPostProc* post;
};

// Posts a message to a window; false for a null or foreign handle and for a
// window that no longer exists. Safe from any thread.
inline bool PostMessage(HWND window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
    if (!window || window->magic != kWindowPortMagic || !window->post)
        return false;
    return window->post(window, message, wParam, lParam) != 0;
}

}  // namespace platform
