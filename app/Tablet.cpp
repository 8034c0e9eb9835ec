#include "app/Tablet.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/Registry.h"
#include "platform/SystemInfo.h"

namespace wt = platform::wintab;

namespace {

// No Wintab item is anywhere near this; a driver that says otherwise is not
// trusted with an allocation.
constexpr std::uint32_t kMaxInfoSize = 1u << 20;

// Asks the driver for an item's size first and then for the item, so that
// nothing it writes can overrun the buffer. Empty when it has no such item.
std::vector<std::uint8_t> QueryInfo(wt::WTInfoWProc* info, std::uint32_t category,
                                    std::uint32_t index) {
    if (!info)
        throw std::runtime_error("WTInfoW is missing");
    std::uint32_t size = info(category, index, nullptr);
    if (size == 0)
        return {};
    if (size > kMaxInfoSize)
        throw std::runtime_error("Wintab item too large");
    // Zeroed, with room for a terminating NUL that a driver may leave out.
    std::vector<std::uint8_t> buffer(size + sizeof(char16_t), 0);
    std::uint32_t got = info(category, index, buffer.data());
    if (got == 0)
        return {};
    buffer.resize(std::min(got, size) + sizeof(char16_t));
    return buffer;
}

// The integer a settings text holds, as the utility's other settings read:
// leading blanks, a sign, decimal digits or a '$' / "0x" hexadecimal number,
// nothing after it, within 32 bits.
bool ParseInteger(const std::string& text, std::int32_t* out) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return false;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i])))
        return false;
    const char* start = text.c_str() + i;
    char* end = nullptr;
    errno = 0;
    unsigned long long magnitude = std::strtoull(start, &end, base);
    if (errno != 0 || *end != '\0' || end == start)
        return false;
    long long value;
    if (base == 16) {
        if (magnitude > 0xFFFFFFFFull)
            return false;
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
        if (negative)
            value = -value;
    } else {
        if (magnitude > 0x80000000ull)
            return false;
        value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    }
    if (value < INT32_MIN || value > INT32_MAX)
        return false;
    *out = static_cast<std::int32_t>(value);
    return true;
}

// SM_CXSCREEN / SM_CYSCREEN: the primary screen in Qt's logical pixels.
void ScreenSize(std::int32_t* width, std::int32_t* height) {
    *width = *height = 0;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        *width = screen->size().width();
        *height = screen->size().height();
    }
}

}  // namespace

TTablet::TTablet() {
    FContext = nullptr;
    FLibrary = platform::LoadLibrary(wt::kLibraryName);
    if (!FLibrary)
        return;
    FWTInfo = platform::GetProcAddressAs<wt::WTInfoWProc>(FLibrary, "WTInfoW");
    FWTOpen = platform::GetProcAddressAs<wt::WTOpenWProc>(FLibrary, "WTOpenW");
    FWTClose = platform::GetProcAddressAs<wt::WTCloseProc>(FLibrary, "WTClose");
    FWTPacket = platform::GetProcAddressAs<wt::WTPacketProc>(FLibrary, "WTPacket");
}

TTablet::~TTablet() {
    if (!FLibrary)
        return;
    if (FContext && FWTClose)
        FWTClose(FContext);
    platform::FreeLibrary(FLibrary);
}

bool TTablet::Open(platform::HWND window, const std::string& keyPath) {
    if (!FLibrary)
        return false;
    try {
        return OpenSteps(window, keyPath);
    } catch (...) {
        return false;  // what was done stays done: an opened context stays open
    }
}

bool TTablet::OpenSteps(platform::HWND window, const std::string& keyPath) {
    if (!FWTInfo)
        throw std::runtime_error("WTInfoW is missing");
    if (FWTInfo(0, 0, nullptr) == 0)
        return false;  // no Wintab service

    std::vector<std::uint8_t> bytes = QueryInfo(FWTInfo, wt::WTI_DEFCONTEXT, 0);
    if (bytes.size() < sizeof(wt::LOGCONTEXTW))
        throw std::runtime_error("no default context");
    wt::LOGCONTEXTW lc;
    std::memcpy(&lc, bytes.data(), sizeof lc);

    std::int32_t width = 0;
    std::int32_t height = 0;
    ScreenSize(&width, &height);
    lc.lcOptions |= wt::CXO_SYSTEM | wt::CXO_MESSAGES;
    lc.lcPktData = kTabletPacketData;
    lc.lcPktMode = 0;
    lc.lcMoveMask = kTabletPacketData;
    lc.lcBtnUpMask = lc.lcBtnDnMask;
    lc.lcOutOrgX = 0;
    lc.lcOutOrgY = 0;
    lc.lcOutExtX = width;
    // Turned over: packet y is a screen y, growing downwards.
    lc.lcOutExtY = -height;

    if (!FWTOpen)
        throw std::runtime_error("WTOpenW is missing");
    if (FContext && FWTClose)
        FWTClose(FContext);  // a second Open replaces the context
    FContext = FWTOpen(window, &lc, 1);
    FPacketMessage = FContext ? lc.lcMsgBase + wt::WT_PACKET_OFFSET : 0;

    wt::AXIS pressure = {};
    bytes = QueryInfo(FWTInfo, wt::WTI_DEVICES, wt::DVC_NPRESSURE);
    if (bytes.size() >= sizeof pressure)
        std::memcpy(&pressure, bytes.data(), sizeof pressure);
    std::int64_t range = std::int64_t(pressure.axMax) - pressure.axMin;
    FMaxPressure = static_cast<std::int32_t>(std::clamp<std::int64_t>(range, INT32_MIN, INT32_MAX));

    if (!keyPath.empty()) {
        namespace reg = platform::registry;
        std::string text = std::to_string(static_cast<std::uint32_t>(FMaxPressure));
        reg::Value value;
        std::string key = keyPath + "\\Common";
        if (reg::QueryValue(reg::Root::CurrentUser, key, "MaxNPressure", &value) ==
            reg::Lookup::Found) {
            if (!value.IsString())
                throw std::runtime_error("MaxNPressure is not a string");
            text = value.Text();
        }
        std::int32_t stored = 0;
        if (!ParseInteger(text, &stored))
            throw std::runtime_error("MaxNPressure is not a number");
        FMaxPressure = stored;
    }
    return true;
}

bool TTablet::IsOpen() const {
    return FLibrary && FContext;
}

std::uint32_t TTablet::PacketMessage() const {
    return IsOpen() ? FPacketMessage : 0;
}

std::uint32_t TTablet::ReadPacket(const platform::WindowMessage& message) {
    if (!FLibrary || !FContext || !FWTPacket)
        return 0;
    // Only our own context's packets have our record's layout; another
    // context's could be larger than the buffer.
    auto context = reinterpret_cast<wt::HCTX>(message.LParam);
    if (context != FContext)
        return 0;
    try {
        TTabletPacket packet = {};
        if (!FWTPacket(context, static_cast<std::uint32_t>(message.WParam), &packet))
            return 0;

        FPrevCursor = FCursor;
        FPrevButtons = FButtons;
        FPrevX = FX;
        FPrevY = FY;
        FPrevPressure = FPressure;
        FPrevOrientation = FOrientation;

        FCursor = packet.pkCursor;
        FButtons = packet.pkButtons & 0xFFFF;
        FX = packet.pkX;
        FY = packet.pkY;
        FPressure = packet.pkNormalPressure;
        FOrientation = {packet.pkOrientation.orAzimuth, packet.pkOrientation.orAltitude,
                        packet.pkOrientation.orTwist};

        std::uint32_t changed = 0;
        if (FCursor != FPrevCursor)
            changed |= wt::PK_CURSOR;
        if (FButtons != FPrevButtons)
            changed |= wt::PK_BUTTONS;
        if (FX != FPrevX)
            changed |= wt::PK_X;
        if (FY != FPrevY)
            changed |= wt::PK_Y;
        if (FPressure != FPrevPressure)
            changed |= wt::PK_NORMAL_PRESSURE;
        if (!(FOrientation == FPrevOrientation))
            changed |= wt::PK_ORIENTATION;
        return changed;
    } catch (...) {
        return 0;
    }
}

std::string TTablet::GetDeviceName() {
    try {
        if (!FLibrary)
            throw std::runtime_error("no Wintab library");
        std::vector<std::uint8_t> bytes = QueryInfo(FWTInfo, wt::WTI_DEVICES, wt::DVC_NAME);
        std::u16string name;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            char16_t c;
            std::memcpy(&c, bytes.data() + i, sizeof c);
            if (c == 0)
                break;
            name.push_back(c);
        }
        return platform::Utf16ToUtf8(name);
    } catch (...) {
        return "0";
    }
}
