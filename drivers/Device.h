#pragma once
// What the driver knows of a pen tablet, the pen's state as its reports leave
// it, and the back ends that deliver a tablet's input events: the live one
// (evdev) and the replay of a recording. Both feed the same report assembly.

#include <linux/input.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wintab32 {

struct AxisRange {
    bool present = false;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t resolution = 0;  // units per mm (per radian for tilt); 0 when unknown

    // The number of distinct values.
    std::int64_t Span() const { return std::int64_t(maximum) - minimum + 1; }
    // A range a context can map: more than one value, and a span that an
    // extent field holds.
    bool Usable() const { return present && maximum > minimum && Span() <= INT32_MAX; }
};

struct DeviceInfo {
    std::string name;  // UTF-8
    std::string node;  // /dev/input/eventN, or the recording's path
    AxisRange x, y, pressure, tiltX, tiltY;
};

// Buttons as Wintab numbers them: 0 the tip, then the barrel switches.
inline constexpr std::uint32_t kButtonTip = 1u << 0;
inline constexpr std::uint32_t kButtonStylus = 1u << 1;
inline constexpr std::uint32_t kButtonStylus2 = 1u << 2;
inline constexpr std::uint32_t kButtonStylus3 = 1u << 3;

// Tools in proximity (the BTN_TOOL_* keys held).
inline constexpr std::uint32_t kToolPen = 1u << 0;  // pen, brush, pencil, airbrush
inline constexpr std::uint32_t kToolRubber = 1u << 1;
inline constexpr std::uint32_t kToolPuck = 1u << 2;  // mouse, lens

struct PenState {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t pressure = 0;
    std::int32_t tiltX = 0;
    std::int32_t tiltY = 0;
    std::uint32_t buttons = 0;
    std::uint32_t tools = 0;
    std::uint32_t cursor = 1;  // the last tool in proximity: 0 puck, 1 pen, 2 eraser
    std::uint32_t timeMs = 0;  // of the report, in milliseconds
};

// Gathers evdev events into reports: each SYN_REPORT completes one. After a
// SYN_DROPPED, events are discarded up to and including the next SYN_REPORT,
// as the evdev protocol asks.
class ReportAssembler {
  public:
    // True when the event completes a report; State() then holds it.
    bool Feed(const input_event& event);
    const PenState& State() const { return state_; }

  private:
    PenState state_;
    bool dropping_ = false;
};

// True for a key code that is one of the tools a pen tablet reports.
bool IsToolKey(unsigned code);

class EventSink {
  public:
    virtual ~EventSink() = default;
    // Called on the back end's thread (and, for the state a device is in when
    // it starts, on the thread that starts it).
    virtual void OnEvent(std::size_t device, const input_event& event) = 0;
};

class Backend {
  public:
    virtual ~Backend() = default;
    virtual const std::vector<DeviceInfo>& Devices() const = 0;
    // Starts delivering the device's events to sink on a thread of its own.
    virtual bool Start(std::size_t device, EventSink* sink) = 0;
    // Stops and joins that thread: sink is not called for the device afterwards.
    virtual void Stop(std::size_t device) = 0;
};

// The pen tablets among the event nodes of a folder (normally /dev/input).
std::unique_ptr<Backend> MakeEvdevBackend(const std::string& folder);
// One device played from a recording in the evemu-record format; no device
// (and a message on stderr) when the recording is refused.
std::unique_ptr<Backend> MakeReplayBackend(const std::string& recording);

}  // namespace wintab32
