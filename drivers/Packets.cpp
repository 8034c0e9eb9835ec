#include "drivers/Packets.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace wintab32 {

namespace {

struct FieldShape {
    std::size_t size;
    std::size_t align;
};

// In the order of the PK_* bits, from bit 0.
constexpr FieldShape kShapes[14] = {
    {sizeof(wt::HCTX), alignof(wt::HCTX)},  // PK_CONTEXT
    {4, 4},                                 // PK_STATUS
    {4, 4},                                 // PK_TIME
    {4, 4},                                 // PK_CHANGED
    {4, 4},                                 // PK_SERIAL_NUMBER
    {4, 4},                                 // PK_CURSOR
    {4, 4},                                 // PK_BUTTONS
    {4, 4},                                 // PK_X
    {4, 4},                                 // PK_Y
    {4, 4},                                 // PK_Z
    {4, 4},                                 // PK_NORMAL_PRESSURE
    {4, 4},                                 // PK_TANGENT_PRESSURE
    {sizeof(wt::ORIENTATION), 4},           // PK_ORIENTATION
    {sizeof(wt::ROTATION), 4},              // PK_ROTATION
};

std::int32_t Clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

template <class T>
void Put(PacketBytes* out, std::size_t offset, const T& value) {
    std::memcpy(out->data() + offset, &value, sizeof(T));
}

// Tenths of a degree, from the tilt of the pen: azimuth clockwise from the
// top of the tablet, altitude above its surface (900 upright).
void Orientation(const DeviceInfo& device, const PenState& state, wt::ORIENTATION* out) {
    *out = {};
    if (!device.tiltX.present || !device.tiltY.present)
        return;
    auto radians = [](const AxisRange& axis, std::int32_t value) {
        // Tilt resolution is in units per radian; without one, units are degrees.
        return axis.resolution > 0 ? double(value) / axis.resolution : double(value) * M_PI / 180;
    };
    double ax = std::clamp(radians(device.tiltX, state.tiltX), -1.5, 1.5);
    double ay = std::clamp(radians(device.tiltY, state.tiltY), -1.5, 1.5);
    // The direction the pen's top leans to, with y growing towards the user.
    double dx = std::tan(ax);
    double dy = std::tan(ay);
    double lean = std::hypot(dx, dy);
    double altitude = std::atan2(1.0, lean) * 1800 / M_PI;
    double azimuth = lean > 0 ? std::atan2(dx, -dy) * 1800 / M_PI : 0;
    if (azimuth < 0)
        azimuth += 3600;
    out->orAzimuth = static_cast<std::int32_t>(std::lround(azimuth)) % 3600;
    out->orAltitude = static_cast<std::int32_t>(std::lround(altitude));
}

}  // namespace

PacketLayout ComputeLayout(wt::WTPKT fields) {
    PacketLayout layout;
    std::size_t offset = 0;
    std::size_t maxAlign = 1;
    for (int bit = 0; bit < 14; ++bit) {
        if (!(fields & (1u << bit)))
            continue;
        const FieldShape& shape = kShapes[bit];
        offset = (offset + shape.align - 1) / shape.align * shape.align;
        layout.offsets[bit] = offset;
        offset += shape.size;
        maxAlign = std::max(maxAlign, shape.align);
    }
    layout.size = (offset + maxAlign - 1) / maxAlign * maxAlign;
    return layout;
}

void WritePacket(const PacketLayout& layout, wt::WTPKT fields, wt::WTPKT mode,
                 const PacketValues& v, const PacketValues& previous, PacketBytes* out) {
    out->fill(0);
    auto rel = [&](wt::WTPKT bit) { return (mode & bit) != 0; };
    auto at = [&](wt::WTPKT bit) { return layout.offsets[__builtin_ctz(bit)]; };
    if (fields & wt::PK_CONTEXT)
        Put(out, at(wt::PK_CONTEXT), v.context);
    if (fields & wt::PK_STATUS)
        Put(out, at(wt::PK_STATUS), v.status);
    if (fields & wt::PK_TIME)
        Put(out, at(wt::PK_TIME), v.time);
    if (fields & wt::PK_CHANGED)
        Put(out, at(wt::PK_CHANGED), v.changed);
    if (fields & wt::PK_SERIAL_NUMBER)
        Put(out, at(wt::PK_SERIAL_NUMBER), v.serial);
    if (fields & wt::PK_CURSOR)
        Put(out, at(wt::PK_CURSOR), v.cursor);
    if (fields & wt::PK_BUTTONS) {
        std::uint32_t buttons = v.buttons;
        if (rel(wt::PK_BUTTONS)) {
            // The lowest button that went up or down: its number in the low
            // word, TBN_UP or TBN_DOWN in the high word.
            std::uint32_t flips = v.buttons ^ previous.buttons;
            buttons = wt::TBN_NONE << 16;
            if (flips) {
                unsigned number = __builtin_ctz(flips);
                bool down = (v.buttons >> number) & 1;
                buttons = ((down ? wt::TBN_DOWN : wt::TBN_UP) << 16) | number;
            }
        }
        Put(out, at(wt::PK_BUTTONS), buttons);
    }
    auto coord = [&](wt::WTPKT bit, std::int32_t now, std::int32_t before) {
        std::int32_t value = rel(bit) ? Clamp32(std::int64_t(now) - before) : now;
        Put(out, at(bit), value);
    };
    if (fields & wt::PK_X)
        coord(wt::PK_X, v.x, previous.x);
    if (fields & wt::PK_Y)
        coord(wt::PK_Y, v.y, previous.y);
    if (fields & wt::PK_Z)
        coord(wt::PK_Z, v.z, previous.z);
    auto press = [&](wt::WTPKT bit, std::uint32_t now, std::uint32_t before) {
        std::uint32_t value = rel(bit) ? now - before : now;  // two's complement difference
        Put(out, at(bit), value);
    };
    if (fields & wt::PK_NORMAL_PRESSURE)
        press(wt::PK_NORMAL_PRESSURE, v.normalPressure, previous.normalPressure);
    if (fields & wt::PK_TANGENT_PRESSURE)
        press(wt::PK_TANGENT_PRESSURE, v.tangentPressure, previous.tangentPressure);
    if (fields & wt::PK_ORIENTATION)
        Put(out, at(wt::PK_ORIENTATION), v.orientation);
    if (fields & wt::PK_ROTATION)
        Put(out, at(wt::PK_ROTATION), v.rotation);
}

std::int32_t MapAxis(std::int64_t in, std::int32_t inOrg, std::int32_t inExt, std::int32_t outOrg,
                     std::int32_t outExt) {
    if (inExt == 0 || outExt == 0)
        return outOrg;
    std::int64_t inSpan = std::abs(std::int64_t(inExt));
    std::int64_t outSpan = std::abs(std::int64_t(outExt));
    std::int64_t t = std::clamp<std::int64_t>(in - inOrg, 0, inSpan - 1);
    if ((inExt < 0) != (outExt < 0))
        t = inSpan - 1 - t;
    // t < 2^32 and outSpan <= 2^31: the product fits in 64 bits.
    return Clamp32(std::int64_t(outOrg) + t * outSpan / inSpan);
}

std::int64_t InputX(const DeviceInfo& device, std::int32_t x) {
    return std::clamp<std::int64_t>(x, device.x.minimum, device.x.maximum) - device.x.minimum;
}

std::int64_t InputY(const DeviceInfo& device, std::int32_t y) {
    // evdev's y grows towards the user; the input space's y grows upwards.
    return device.y.maximum - std::clamp<std::int64_t>(y, device.y.minimum, device.y.maximum);
}

PacketValues ReportValues(const DeviceInfo& device, const PenState& state,
                          const wt::LOGCONTEXTW& c) {
    PacketValues v;
    v.time = state.timeMs;
    if (state.tools == 0)
        v.status |= wt::TPS_PROXIMITY;
    if (state.tools & kToolRubber)
        v.status |= wt::TPS_INVERT;
    v.cursor = state.cursor;
    v.buttons = state.buttons;
    v.x = MapAxis(InputX(device, state.x), c.lcInOrgX, c.lcInExtX, c.lcOutOrgX, c.lcOutExtX);
    v.y = MapAxis(InputY(device, state.y), c.lcInOrgY, c.lcInExtY, c.lcOutOrgY, c.lcOutExtY);
    v.z = 0;
    v.normalPressure = static_cast<std::uint32_t>(
        std::clamp(state.pressure, device.pressure.minimum, device.pressure.maximum));
    Orientation(device, state, &v.orientation);
    return v;
}

wt::WTPKT ChangedFields(const PacketValues& a, const PacketValues& b) {
    wt::WTPKT changed = 0;
    if (a.status != b.status)
        changed |= wt::PK_STATUS;
    if (a.time != b.time)
        changed |= wt::PK_TIME;
    if (a.cursor != b.cursor)
        changed |= wt::PK_CURSOR;
    if (a.buttons != b.buttons)
        changed |= wt::PK_BUTTONS;
    if (a.x != b.x)
        changed |= wt::PK_X;
    if (a.y != b.y)
        changed |= wt::PK_Y;
    if (a.z != b.z)
        changed |= wt::PK_Z;
    if (a.normalPressure != b.normalPressure)
        changed |= wt::PK_NORMAL_PRESSURE;
    if (a.tangentPressure != b.tangentPressure)
        changed |= wt::PK_TANGENT_PRESSURE;
    if (std::memcmp(&a.orientation, &b.orientation, sizeof a.orientation) != 0)
        changed |= wt::PK_ORIENTATION;
    if (std::memcmp(&a.rotation, &b.rotation, sizeof a.rotation) != 0)
        changed |= wt::PK_ROTATION;
    return changed;
}

wt::LOGCONTEXTW DefaultContext(const DeviceInfo& device, std::uint32_t index, bool system) {
    wt::LOGCONTEXTW lc{};
    const char* name = system ? "Default System Context" : "Default Digitizing Context";
    for (int i = 0; name[i] && i < wt::LCNAMELEN - 1; ++i)
        lc.lcName[i] = wt::WCHAR(name[i]);
    lc.lcOptions = system ? wt::CXO_SYSTEM : 0;
    lc.lcMsgBase = wt::WT_DEFBASE;
    lc.lcDevice = index;
    lc.lcPktRate = 100;
    lc.lcPktData = kSupportedFields;
    lc.lcPktMode = 0;
    lc.lcMoveMask = kSupportedFields;
    lc.lcBtnDnMask = 0xFFFFFFFF;
    lc.lcBtnUpMask = 0xFFFFFFFF;
    // Axis spans are checked to fit when a device is taken on.
    lc.lcInExtX = static_cast<std::int32_t>(device.x.Span());
    lc.lcInExtY = static_cast<std::int32_t>(device.y.Span());
    lc.lcOutExtX = lc.lcInExtX;
    lc.lcOutExtY = lc.lcInExtY;
    lc.lcSensX = lc.lcSensY = lc.lcSensZ = 0x10000;
    lc.lcSysSensX = lc.lcSysSensY = 0x10000;
    return lc;
}

}  // namespace wintab32
