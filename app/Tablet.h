#pragma once
// The pen-tablet reader: loads the Wintab library at run time (the utility
// runs without one), opens a system context on a window so that the driver
// posts one WT_PACKET message per pen packet to it, and keeps the last two
// packets' cursor, buttons, position, pressure and orientation.
//
// Use, on the window's thread:
//     TTablet tablet;
//     if (tablet.Open(platform::WindowHandle(window), keyPath) && tablet.IsOpen()) ...
//     // for each message m posted to the window with m.Msg == tablet.PacketMessage():
//     std::uint32_t changed = tablet.ReadPacket(m);  // PK_* bits of what changed
//     ... tablet.FPressure, tablet.FX, tablet.FY, tablet.FMaxPressure, tablet.GetDeviceName()

#include <cstdint>
#include <string>

#include "platform/DynamicLibrary.h"
#include "platform/WindowMessages.h"
#include "platform/Wintab.h"

struct TTabletOrientation {
    std::int32_t Azimuth = 0;
    std::int32_t Altitude = 0;
    std::int32_t Twist = 0;
    friend bool operator==(const TTabletOrientation&, const TTabletOrientation&) = default;
};

// The packet record the reader asks for: the fields of kTabletPacketData in
// the order of their bits.
struct TTabletPacket {
    std::uint32_t pkCursor;
    std::uint32_t pkButtons;
    std::int32_t pkX;
    std::int32_t pkY;
    std::uint32_t pkNormalPressure;
    platform::wintab::ORIENTATION pkOrientation;
};
static_assert(sizeof(TTabletPacket) == 32);

inline constexpr platform::wintab::WTPKT kTabletPacketData =
    platform::wintab::PK_CURSOR | platform::wintab::PK_BUTTONS | platform::wintab::PK_X |
    platform::wintab::PK_Y | platform::wintab::PK_NORMAL_PRESSURE |
    platform::wintab::PK_ORIENTATION;  // 0x15E0
static_assert(kTabletPacketData == 0x15E0);

class TTablet {
  public:
    TTablet();
    virtual ~TTablet();
    TTablet(const TTablet&) = delete;
    TTablet& operator=(const TTablet&) = delete;

    // Opens the context on the window. keyPath, when given, is a key under
    // HKEY_CURRENT_USER whose "Common"/"MaxNPressure" replaces FMaxPressure.
    // True when every step got through; IsOpen tells whether a context is open.
    bool Open(platform::HWND window, const std::string& keyPath = std::string());
    bool IsOpen() const;
    // Reads the packet a WT_PACKET message names (WParam its serial number,
    // LParam the context) and returns the PK_* bits of the values that
    // changed; 0 when nothing was read, and then nothing changes.
    std::uint32_t ReadPacket(const platform::WindowMessage& message);
    // The device's name, whole; "0" when the driver cannot be asked.
    std::string GetDeviceName();
    // The message number of WT_PACKET for the open context; 0 when none is open.
    std::uint32_t PacketMessage() const;

    std::int32_t FMaxPressure = 0;
    std::uint32_t FPrevCursor = 0;
    std::uint32_t FCursor = 0;
    std::uint32_t FPrevButtons = 0;  // the low 16 bits of pkButtons
    std::uint32_t FButtons = 0;
    std::int32_t FPrevX = 0;
    std::int32_t FPrevY = 0;
    std::int32_t FX = 0;  // screen pixels, y growing downwards
    std::int32_t FY = 0;
    std::uint32_t FPrevPressure = 0;
    std::uint32_t FPressure = 0;
    TTabletOrientation FPrevOrientation;
    TTabletOrientation FOrientation;

  private:
    bool OpenSteps(platform::HWND window, const std::string& keyPath);

    platform::HMODULE FLibrary = nullptr;
    platform::wintab::HCTX FContext = nullptr;
    platform::wintab::WTInfoWProc* FWTInfo = nullptr;
    platform::wintab::WTOpenWProc* FWTOpen = nullptr;
    platform::wintab::WTCloseProc* FWTClose = nullptr;
    platform::wintab::WTPacketProc* FWTPacket = nullptr;
    std::uint32_t FPacketMessage = 0;
};
