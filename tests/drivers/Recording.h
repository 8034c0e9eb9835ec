#pragma once
// Builds recordings in the evemu-record text format for the tablet tests:
// the device lines (name, ids, capability bitmaps, axis ranges) and then the
// timed events, as evemu-record writes them.

#include <linux/input.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tablettest {

struct AbsAxis {
    unsigned code;
    int minimum;
    int maximum;
    int resolution;
};

struct TabletModel {
    std::string name = "Ostrevin Test Tablet Pen";
    std::vector<AbsAxis> axes = {
        {ABS_X, 0, 15199, 100}, {ABS_Y, 0, 9499, 100}, {ABS_PRESSURE, 0, 2047, 0}};
    std::set<unsigned> keys = {BTN_TOUCH, BTN_STYLUS, BTN_STYLUS2, BTN_TOOL_PEN, BTN_TOOL_RUBBER};
    std::set<unsigned> misc = {MSC_SERIAL};
};

// One "B:" bitmap: 8 bytes a line, as many lines as the type's codes need.
inline std::string BitmapLines(unsigned type, const std::set<unsigned>& codes, unsigned maxCode) {
    std::vector<std::uint8_t> bytes((maxCode + 1 + 63) / 64 * 8, 0);
    for (unsigned c : codes)
        bytes[c / 8] |= std::uint8_t(1u << (c % 8));
    std::string out;
    char buf[8];
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        std::snprintf(buf, sizeof buf, "B: %02x", type);
        out += buf;
        for (std::size_t k = 0; k < 8; ++k) {
            std::snprintf(buf, sizeof buf, " %02x", bytes[i + k]);
            out += buf;
        }
        out += "\n";
    }
    return out;
}

inline std::string DeviceLines(const TabletModel& model) {
    std::set<unsigned> abs;
    for (const AbsAxis& a : model.axes)
        abs.insert(a.code);
    std::set<unsigned> types = {EV_SYN};
    if (!model.keys.empty())
        types.insert(EV_KEY);
    if (!abs.empty())
        types.insert(EV_ABS);
    if (!model.misc.empty())
        types.insert(EV_MSC);

    std::string out = "# EVEMU 1.3\n";
    out += "# Input device name: \"" + model.name + "\"\n";
    out += "N: " + model.name + "\n";
    out += "I: 0003 056a 0357 0110\n";
    out += "P: 00 00 00 00 00 00 00 00\n";
    out += BitmapLines(EV_SYN, types, EV_MAX);
    out += BitmapLines(EV_KEY, model.keys, KEY_MAX);
    out += BitmapLines(EV_ABS, abs, ABS_MAX);
    out += BitmapLines(EV_MSC, model.misc, MSC_MAX);
    char buf[96];
    for (const AbsAxis& a : model.axes) {
        std::snprintf(buf, sizeof buf, "A: %02x %d %d 0 0 %d\n", a.code, a.minimum, a.maximum,
                      a.resolution);
        out += buf;
    }
    out += "################################\n";
    out += "#      Waiting for events      #\n";
    out += "################################\n";
    return out;
}

// Events with times in microseconds from the start of the recording.
class EventLines {
  public:
    EventLines& Event(std::int64_t micros, unsigned type, unsigned code, int value) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "E: %lld.%06lld %04x %04x %04d\n",
                      static_cast<long long>(micros / 1000000),
                      static_cast<long long>(micros % 1000000), type, code, value);
        text_ += buf;
        return *this;
    }
    EventLines& Sync(std::int64_t micros) { return Event(micros, EV_SYN, SYN_REPORT, 0); }
    // One report: the values given (a code -> value map of EV_ABS and EV_KEY
    // events, in code order) and its SYN_REPORT.
    EventLines& Report(std::int64_t micros, const std::map<unsigned, int>& abs,
                       const std::map<unsigned, int>& keys = {}) {
        for (auto [code, value] : keys)
            Event(micros, EV_KEY, code, value);
        for (auto [code, value] : abs)
            Event(micros, EV_ABS, code, value);
        return Sync(micros);
    }
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

}  // namespace tablettest
