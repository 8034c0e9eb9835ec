#pragma once
// The built driver, loaded as the utility loads it, and a window that keeps
// the messages posted to it.

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "platform/WindowMessages.h"
#include "platform/Wintab.h"
#include "tests/common/TestSupport.h"

namespace tablettest {

inline const char* DriverPath() {
    return VELSERIN_BINARY_DIR "/bin/libwintab32.so";
}

// Spins the event loop until done() or the time is up.
inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class LoadedDriver {
  public:
    // recording: the $VELSERIN_WINTAB_REPLAY the driver sees when it starts.
    explicit LoadedDriver(const std::string& recording)
        : library_("VELSERIN_WINTAB", std::string(DriverPath())),
          replay_("VELSERIN_WINTAB_REPLAY", recording) {
        module = platform::LoadLibrary(platform::wintab::kLibraryName);
        using namespace platform::wintab;
        Info = platform::GetProcAddressAs<WTInfoWProc>(module, "WTInfoW");
        Open = platform::GetProcAddressAs<WTOpenWProc>(module, "WTOpenW");
        Packet = platform::GetProcAddressAs<WTPacketProc>(module, "WTPacket");
        Close = platform::GetProcAddressAs<WTCloseProc>(module, "WTClose");
    }
    ~LoadedDriver() { platform::FreeLibrary(module); }
    LoadedDriver(const LoadedDriver&) = delete;
    LoadedDriver& operator=(const LoadedDriver&) = delete;

    bool Loaded() const { return module && Info && Open && Packet && Close; }

    platform::wintab::LOGCONTEXTW DefaultContext() {
        platform::wintab::LOGCONTEXTW lc = {};
        Info(platform::wintab::WTI_DEFCONTEXT, 0, &lc);
        return lc;
    }

    platform::HMODULE module = nullptr;
    platform::wintab::WTInfoWProc* Info = nullptr;
    platform::wintab::WTOpenWProc* Open = nullptr;
    platform::wintab::WTPacketProc* Packet = nullptr;
    platform::wintab::WTCloseProc* Close = nullptr;

  private:
    testsupport::ScopedEnv library_;
    testsupport::ScopedEnv replay_;
};

// Keeps every message posted to it and whether it arrived on its own thread.
class MessageWindow {
  public:
    MessageWindow() {
        handle = platform::WindowHandle(&object);
        platform::InstallMessageHandler(&object, [this](platform::WindowMessage& m) {
            messages.push_back(m);
            onOwnThread.push_back(QThread::currentThread() == object.thread());
        });
    }
    bool WaitForMessages(std::size_t count, int milliseconds = 5000) {
        return WaitUntil([&] { return messages.size() >= count; }, milliseconds);
    }

    QObject object;
    platform::HWND handle = nullptr;
    std::vector<platform::WindowMessage> messages;
    std::vector<bool> onOwnThread;
};

}  // namespace tablettest
