#pragma once
// The Wintab interface of the pen-tablet driver: its four entry points, the
// context and axis records and the constants, shared by the utility and by
// the driver (libwintab32) that implements it. Records have the standard field
// order with fixed 32-bit fields and 16-bit wide characters; the entry points
// have C linkage and are looked up by name at run time.

#include <cstddef>
#include <cstdint>

#include "platform/WindowHandle.h"

namespace platform::wintab {

using WCHAR = char16_t;
using WTPKT = std::uint32_t;  // a mask of PK_* bits
using FIX32 = std::uint32_t;  // 16.16 fixed point
using BOOL = std::int32_t;

struct ContextTag;
using HCTX = ContextTag*;  // an opaque context handle; never dereferenced

inline constexpr int LCNAMELEN = 40;

struct LOGCONTEXTW {
    WCHAR lcName[LCNAMELEN];
    std::uint32_t lcOptions;
    std::uint32_t lcStatus;
    std::uint32_t lcLocks;
    std::uint32_t lcMsgBase;
    std::uint32_t lcDevice;
    std::uint32_t lcPktRate;
    WTPKT lcPktData;
    WTPKT lcPktMode;
    WTPKT lcMoveMask;
    std::uint32_t lcBtnDnMask;
    std::uint32_t lcBtnUpMask;
    std::int32_t lcInOrgX;
    std::int32_t lcInOrgY;
    std::int32_t lcInOrgZ;
    std::int32_t lcInExtX;
    std::int32_t lcInExtY;
    std::int32_t lcInExtZ;
    std::int32_t lcOutOrgX;
    std::int32_t lcOutOrgY;
    std::int32_t lcOutOrgZ;
    std::int32_t lcOutExtX;
    std::int32_t lcOutExtY;
    std::int32_t lcOutExtZ;
    FIX32 lcSensX;
    FIX32 lcSensY;
    FIX32 lcSensZ;
    BOOL lcSysMode;
    std::int32_t lcSysOrgX;
    std::int32_t lcSysOrgY;
    std::int32_t lcSysExtX;
    std::int32_t lcSysExtY;
    FIX32 lcSysSensX;
    FIX32 lcSysSensY;
};
static_assert(sizeof(LOGCONTEXTW) == 212);
static_assert(offsetof(LOGCONTEXTW, lcOptions) == 80);
static_assert(offsetof(LOGCONTEXTW, lcInOrgX) == 124);
static_assert(offsetof(LOGCONTEXTW, lcSysSensY) == 208);

struct AXIS {
    std::int32_t axMin;
    std::int32_t axMax;
    std::uint32_t axUnits;  // TU_*
    FIX32 axResolution;     // units per axUnits
};
static_assert(sizeof(AXIS) == 16);

struct ORIENTATION {
    std::int32_t orAzimuth;   // tenths of a degree, clockwise from the top of the tablet
    std::int32_t orAltitude;  // tenths of a degree above the tablet; 900 is upright
    std::int32_t orTwist;
};

struct ROTATION {
    std::int32_t roPitch;
    std::int32_t roRoll;
    std::int32_t roYaw;
};

// Information categories.
inline constexpr std::uint32_t WTI_INTERFACE = 1;
inline constexpr std::uint32_t WTI_STATUS = 2;
inline constexpr std::uint32_t WTI_DEFCONTEXT = 3;
inline constexpr std::uint32_t WTI_DEFSYSCTX = 4;
inline constexpr std::uint32_t WTI_DEVICES = 100;  // + device number
inline constexpr std::uint32_t WTI_CURSORS = 200;

// WTI_INTERFACE indexes.
inline constexpr std::uint32_t IFC_WINTABID = 1;
inline constexpr std::uint32_t IFC_SPECVERSION = 2;
inline constexpr std::uint32_t IFC_IMPLVERSION = 3;
inline constexpr std::uint32_t IFC_NDEVICES = 4;
inline constexpr std::uint32_t IFC_NCURSORS = 5;
inline constexpr std::uint32_t IFC_NCONTEXTS = 6;
inline constexpr std::uint32_t IFC_CTXOPTIONS = 7;

// WTI_DEVICES indexes.
inline constexpr std::uint32_t DVC_NAME = 1;
inline constexpr std::uint32_t DVC_HARDWARE = 2;
inline constexpr std::uint32_t DVC_NCSRTYPES = 3;
inline constexpr std::uint32_t DVC_FIRSTCSR = 4;
inline constexpr std::uint32_t DVC_PKTRATE = 5;
inline constexpr std::uint32_t DVC_PKTDATA = 6;
inline constexpr std::uint32_t DVC_PKTMODE = 7;
inline constexpr std::uint32_t DVC_CSRDATA = 8;
inline constexpr std::uint32_t DVC_XMARGIN = 9;
inline constexpr std::uint32_t DVC_YMARGIN = 10;
inline constexpr std::uint32_t DVC_ZMARGIN = 11;
inline constexpr std::uint32_t DVC_X = 12;
inline constexpr std::uint32_t DVC_Y = 13;
inline constexpr std::uint32_t DVC_Z = 14;
inline constexpr std::uint32_t DVC_NPRESSURE = 15;
inline constexpr std::uint32_t DVC_TPRESSURE = 16;
inline constexpr std::uint32_t DVC_ORIENTATION = 17;
inline constexpr std::uint32_t DVC_ROTATION = 18;
inline constexpr std::uint32_t DVC_PNPID = 19;

// Context options and status.
inline constexpr std::uint32_t CXO_SYSTEM = 0x0001;
inline constexpr std::uint32_t CXO_PEN = 0x0002;
inline constexpr std::uint32_t CXO_MESSAGES = 0x0004;
inline constexpr std::uint32_t CXS_DISABLED = 0x0001;

// Packet fields; a packet lays out the requested ones in the order of their bits.
inline constexpr WTPKT PK_CONTEXT = 0x0001;  // HCTX
inline constexpr WTPKT PK_STATUS = 0x0002;
inline constexpr WTPKT PK_TIME = 0x0004;
inline constexpr WTPKT PK_CHANGED = 0x0008;
inline constexpr WTPKT PK_SERIAL_NUMBER = 0x0010;
inline constexpr WTPKT PK_CURSOR = 0x0020;
inline constexpr WTPKT PK_BUTTONS = 0x0040;
inline constexpr WTPKT PK_X = 0x0080;
inline constexpr WTPKT PK_Y = 0x0100;
inline constexpr WTPKT PK_Z = 0x0200;
inline constexpr WTPKT PK_NORMAL_PRESSURE = 0x0400;
inline constexpr WTPKT PK_TANGENT_PRESSURE = 0x0800;
inline constexpr WTPKT PK_ORIENTATION = 0x1000;
inline constexpr WTPKT PK_ROTATION = 0x2000;

// pkStatus bits.
inline constexpr std::uint32_t TPS_PROXIMITY = 0x0001;  // the cursor is out of range
inline constexpr std::uint32_t TPS_QUEUE_ERR = 0x0002;  // packets were lost before this one
inline constexpr std::uint32_t TPS_MARGIN = 0x0004;
inline constexpr std::uint32_t TPS_GRAB = 0x0008;
inline constexpr std::uint32_t TPS_INVERT = 0x0010;  // the eraser end is in use

// Relative button events (high word of pkButtons in relative mode).
inline constexpr std::uint32_t TBN_NONE = 0;
inline constexpr std::uint32_t TBN_UP = 1;
inline constexpr std::uint32_t TBN_DOWN = 2;

// Axis units.
inline constexpr std::uint32_t TU_NONE = 0;
inline constexpr std::uint32_t TU_INCHES = 1;
inline constexpr std::uint32_t TU_CENTIMETERS = 2;
inline constexpr std::uint32_t TU_CIRCLE = 3;

// Messages: a context posts them at its message base plus these offsets.
inline constexpr std::uint32_t WT_DEFBASE = 0x7FF0;
inline constexpr std::uint32_t WT_PACKET_OFFSET = 0;
inline constexpr std::uint32_t WT_PACKET = WT_DEFBASE + WT_PACKET_OFFSET;

extern "C" {
// The size in bytes of the item, written to lpOutput when that is not null;
// 0 for an unknown item. WTInfoW(0, 0, nullptr) is 0 when there is no tablet.
typedef std::uint32_t WTInfoWProc(std::uint32_t wCategory, std::uint32_t nIndex, void* lpOutput);
// Opens a context that posts its messages to hWnd; null when refused.
typedef HCTX WTOpenWProc(HWND hWnd, LOGCONTEXTW* lpLogCtx, BOOL fEnable);
// Copies the queued packet with that serial number to lpPkt (when not null)
// and drops it and every older one; 0 when no such packet is queued.
typedef BOOL WTPacketProc(HCTX hCtx, std::uint32_t wSerial, void* lpPkt);
typedef BOOL WTCloseProc(HCTX hCtx);
}

inline constexpr const char* kLibraryName = "Wintab32.dll";

}  // namespace platform::wintab
