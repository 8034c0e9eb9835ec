#pragma once
// Wintab packets: the values of one pen report seen through a context (its
// position mapped from the input to the output extent), and their layout in
// the packet record the context asked for.

#include <array>
#include <cstddef>
#include <cstdint>

#include "drivers/Device.h"
#include "platform/Wintab.h"

namespace wintab32 {

namespace wt = platform::wintab;

// Every field this driver fills.
inline constexpr wt::WTPKT kSupportedFields = 0x3FFF;
// The fields that can be reported relative to the previous packet.
inline constexpr wt::WTPKT kRelativeFields = wt::PK_BUTTONS | wt::PK_X | wt::PK_Y | wt::PK_Z |
                                             wt::PK_NORMAL_PRESSURE | wt::PK_TANGENT_PRESSURE;

struct PacketValues {
    wt::HCTX context = nullptr;
    std::uint32_t status = 0;
    std::uint32_t time = 0;
    wt::WTPKT changed = 0;
    std::uint32_t serial = 0;
    std::uint32_t cursor = 0;
    std::uint32_t buttons = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;
    std::uint32_t normalPressure = 0;
    std::uint32_t tangentPressure = 0;
    wt::ORIENTATION orientation = {};
    wt::ROTATION rotation = {};
};

// The largest record: every field, 8-byte aligned.
inline constexpr std::size_t kMaxPacketSize = 80;
using PacketBytes = std::array<std::uint8_t, kMaxPacketSize>;

// Fields are laid out in the order of their bits, each at its natural
// alignment, the whole rounded to the largest alignment, as a C compiler lays
// out the matching record.
struct PacketLayout {
    std::size_t offsets[14] = {};
    std::size_t size = 0;
};
PacketLayout ComputeLayout(wt::WTPKT fields);
// Writes the fields the context asks for; in relative mode (`mode`) the
// relative fields hold the difference from `previous`.
void WritePacket(const PacketLayout& layout, wt::WTPKT fields, wt::WTPKT mode,
                 const PacketValues& values, const PacketValues& previous, PacketBytes* out);

// Maps a coordinate from an input extent to an output extent. Values outside
// the input extent are held at its edges; extents of opposite signs turn the
// axis over; a zero extent maps everything to the output origin.
std::int32_t MapAxis(std::int64_t in, std::int32_t inOrg, std::int32_t inExt, std::int32_t outOrg,
                     std::int32_t outExt);

// The device coordinates of a report in the driver's input space: origin at
// the tablet's lower left corner, y growing upwards.
std::int64_t InputX(const DeviceInfo& device, std::int32_t x);
std::int64_t InputY(const DeviceInfo& device, std::int32_t y);

// The absolute values of a report in a context (no serial, changes or time base).
PacketValues ReportValues(const DeviceInfo& device, const PenState& state,
                          const wt::LOGCONTEXTW& context);
// The fields that differ between two packets' absolute values.
wt::WTPKT ChangedFields(const PacketValues& a, const PacketValues& b);

// The default context of a device: the whole tablet in its own units.
wt::LOGCONTEXTW DefaultContext(const DeviceInfo& device, std::uint32_t index, bool system);

}  // namespace wintab32
