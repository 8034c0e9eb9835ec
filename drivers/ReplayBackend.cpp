// The replay back end: a recording made with evemu-record, read with libevemu,
// presented as one tablet whose events are played with their recorded timing
// from the moment the first context on it opens.

#include <evemu.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>

#include "drivers/Device.h"

namespace wintab32 {

namespace {

// Larger recordings are refused rather than read into memory: at 200 reports
// a second this is still about half an hour of pen use without a pause.
constexpr std::size_t kMaxRecordingSize = 64u << 20;

struct FileCloser {
    void operator()(FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
struct EvemuDeleter {
    void operator()(evemu_device* d) const {
        if (d)
            evemu_delete(d);
    }
};

std::string Shorten(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string out(text.substr(0, kShown));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    }
    if (text.size() > kShown)
        out += "...";
    return out;
}

std::string CodeName(unsigned type, unsigned code) {
    const char* name = libevdev_event_code_get_name(type, code);
    if (name)
        return name;
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%x/0x%x", type, code);
    return buf;
}

bool ReadWhole(const std::string& path, std::string* data, std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = "not a regular file";
        return false;
    }
    if (std::uint64_t(st.st_size) > kMaxRecordingSize) {
        ::close(fd);
        *error = "larger than " + std::to_string(kMaxRecordingSize >> 20) + " MiB";
        return false;
    }
    data->clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        if (data->size() + std::size_t(n) > kMaxRecordingSize) {
            *error = "larger than " + std::to_string(kMaxRecordingSize >> 20) + " MiB";
            ::close(fd);
            return false;
        }
        data->append(buf, std::size_t(n));
    }
    ::close(fd);
    return true;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHex(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "E: <seconds>.<microseconds> <type> <code> <value>", then at most a comment:
// the shape evemu-record writes. libevemu reads the numbers; a line of
// another shape never reaches it.
bool IsEventLine(std::string_view line) {
    std::size_t i = 2;
    auto blanks = [&] {
        std::size_t from = i;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        return i > from;
    };
    auto run = [&](bool (*accept)(char), std::size_t most) {
        std::size_t from = i;
        while (i < line.size() && accept(line[i]) && i - from < most)
            ++i;
        return i > from && (i >= line.size() || !accept(line[i]));
    };
    if (!blanks() || !run(IsDigit, 12) || i >= line.size() || line[i++] != '.' ||
        !run(IsDigit, 6) || !blanks() || !run(IsHex, 4) || !blanks() || !run(IsHex, 4) || !blanks())
        return false;
    if (i < line.size() && line[i] == '-')
        ++i;
    if (!run(IsDigit, 10))
        return false;
    blanks();
    return i >= line.size() || line[i] == '#';
}

// What libevemu skips or takes without a word: lines it does not know, device
// lines among the events, axis codes beyond the table, events of another
// shape. Returns the line numbers of the events and the axis codes that have
// a range line.
bool CheckLines(const std::string& text, std::vector<int>* eventLines, std::set<unsigned>* axes,
                std::string* error) {
    static const char* const kTags[] = {"N:", "I:", "P:", "B:", "A:", "L:", "S:", "E:"};
    bool inEvents = false;
    bool named = false;
    int number = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        std::string where = "line " + std::to_string(number) + ": ";
        std::string_view tag = line.substr(0, 2);
        bool known = false;
        for (const char* k : kTags)
            known = known || tag == k;
        if (!known) {
            *error = where + "unknown line \"" + Shorten(line) + "\"";
            return false;
        }
        if (!named && tag != "N:") {
            *error = where + "the recording does not begin with the device name (N:)";
            return false;
        }
        named = true;
        if (tag == "E:") {
            if (!IsEventLine(line)) {
                *error = where + "malformed event \"" + Shorten(line) + "\"";
                return false;
            }
            inEvents = true;
            eventLines->push_back(number);
        } else if (inEvents) {
            *error = where + "a device line among the events";
            return false;
        } else if (tag == "A:") {
            std::string rest(line.substr(2));
            char* stop = nullptr;
            errno = 0;
            unsigned long code = std::strtoul(rest.c_str(), &stop, 16);
            if (stop == rest.c_str() || errno != 0 || code > ABS_MAX) {
                *error = where + "axis code out of range in \"" + Shorten(line) + "\"";
                return false;
            }
            axes->insert(static_cast<unsigned>(code));
        }
    }
    if (!named) {
        *error = "no device name (N:); not a recording in the evemu-record format";
        return false;
    }
    return true;
}

bool TakeAxis(evemu_device* dev, const std::set<unsigned>& axes, unsigned code, AxisRange* out) {
    if (!evemu_has_event(dev, EV_ABS, int(code)) || !axes.count(code))
        return false;
    out->present = true;
    out->minimum = evemu_get_abs_minimum(dev, int(code));
    out->maximum = evemu_get_abs_maximum(dev, int(code));
    out->resolution = evemu_get_abs_resolution(dev, int(code));
    return true;
}

std::string CheckEvent(evemu_device* dev, const DeviceInfo& info, const input_event& ev,
                       const input_event* before) {
    if (ev.input_event_sec < 0 || ev.input_event_usec < 0 || ev.input_event_usec > 999999)
        return "time out of range";
    if (before && (ev.input_event_sec < before->input_event_sec ||
                   (ev.input_event_sec == before->input_event_sec &&
                    ev.input_event_usec < before->input_event_usec)))
        return "time goes backwards";
    int max = libevdev_event_type_get_max(ev.type);
    if (max < 0)
        return "unknown event type " + std::to_string(ev.type);
    if (ev.code > max)
        return "event code " + std::to_string(ev.code) + " out of range";
    if (ev.type == EV_SYN)
        return {};
    if (!evemu_has_event(dev, ev.type, ev.code))
        return "an event the device does not have (" + CodeName(ev.type, ev.code) + ")";
    auto range = [&](const AxisRange& axis) -> std::string {
        if (!axis.present || (ev.value >= axis.minimum && ev.value <= axis.maximum))
            return {};
        return CodeName(ev.type, ev.code) + " value " + std::to_string(ev.value) +
               " out of its range " + std::to_string(axis.minimum) + ".." +
               std::to_string(axis.maximum);
    };
    if (ev.type == EV_ABS) {
        switch (ev.code) {
            case ABS_X:
                return range(info.x);
            case ABS_Y:
                return range(info.y);
            case ABS_PRESSURE:
                return range(info.pressure);
            case ABS_TILT_X:
                return range(info.tiltX);
            case ABS_TILT_Y:
                return range(info.tiltY);
            default:
                return {};
        }
    }
    if (ev.type == EV_KEY && (ev.value < 0 || ev.value > 2))
        return CodeName(ev.type, ev.code) + " value " + std::to_string(ev.value) + " out of range";
    return {};
}

bool LoadRecording(const std::string& path, DeviceInfo* device, std::vector<input_event>* events,
                   std::string* error) {
    std::string text;
    if (!ReadWhole(path, &text, error))
        return false;
    if (text.find('\0') != std::string::npos) {
        *error = "binary data; not a recording in the evemu-record text format";
        return false;
    }
    std::vector<int> eventLines;
    std::set<unsigned> axes;
    if (!CheckLines(text, &eventLines, &axes, error))
        return false;

    std::unique_ptr<FILE, FileCloser> file(::fmemopen(text.data(), text.size(), "r"));
    std::unique_ptr<evemu_device, EvemuDeleter> dev(evemu_new(nullptr));
    if (!file || !dev) {
        *error = "out of memory";
        return false;
    }
    if (evemu_read(dev.get(), file.get()) <= 0) {
        *error = "not a device description in the evemu-record format";
        return false;
    }
    DeviceInfo info;
    info.node = path;
    const char* name = evemu_get_name(dev.get());
    info.name = name ? name : "";
    if (info.name.empty()) {
        *error = "the device has no name";
        return false;
    }
    struct Required {
        unsigned code;
        AxisRange* axis;
    } required[] = {{ABS_X, &info.x}, {ABS_Y, &info.y}, {ABS_PRESSURE, &info.pressure}};
    for (const Required& r : required) {
        if (!TakeAxis(dev.get(), axes, r.code, r.axis)) {
            *error = "missing axis " + CodeName(EV_ABS, r.code);
            return false;
        }
        if (!r.axis->Usable()) {
            *error = "axis " + CodeName(EV_ABS, r.code) + " has the unusable range " +
                     std::to_string(r.axis->minimum) + ".." + std::to_string(r.axis->maximum);
            return false;
        }
    }
    if (!evemu_has_event(dev.get(), EV_KEY, BTN_TOOL_PEN)) {
        *error = "not a pen tablet: no BTN_TOOL_PEN";
        return false;
    }
    // Tilt is optional; a tilt axis without a usable range is left out.
    if (!TakeAxis(dev.get(), axes, ABS_TILT_X, &info.tiltX) || !info.tiltX.Usable() ||
        !TakeAxis(dev.get(), axes, ABS_TILT_Y, &info.tiltY) || !info.tiltY.Usable()) {
        info.tiltX = info.tiltY = AxisRange();
    }

    events->clear();
    events->reserve(eventLines.size());
    for (std::size_t i = 0;; ++i) {
        input_event ev = {};
        int r = evemu_read_event(file.get(), &ev);
        if (r == 0 && i == eventLines.size())
            break;
        if (r <= 0 || i >= eventLines.size()) {
            int line = i < eventLines.size() ? eventLines[i]
                       : eventLines.empty()  ? 0
                                             : eventLines.back();
            *error = "line " + std::to_string(line) + ": malformed event";
            return false;
        }
        std::string problem =
            CheckEvent(dev.get(), info, ev, events->empty() ? nullptr : &events->back());
        if (!problem.empty()) {
            *error = "line " + std::to_string(eventLines[i]) + ": " + problem;
            return false;
        }
        events->push_back(ev);
    }
    *device = std::move(info);
    return true;
}

std::int64_t Micros(const input_event& ev) {
    // Capped so that a recording with an absurd gap cannot overflow the clock.
    std::int64_t sec = std::min<std::int64_t>(ev.input_event_sec, 1'000'000'000);
    return sec * 1'000'000 + ev.input_event_usec;
}

class ReplayBackend : public Backend {
  public:
    explicit ReplayBackend(const std::string& recording) {
        DeviceInfo device;
        std::string error;
        if (LoadRecording(recording, &device, &events_, &error)) {
            devices_.push_back(std::move(device));
        } else {
            events_.clear();
            std::fprintf(stderr, "libwintab32: %s: %s; the recording is not played\n",
                         recording.c_str(), error.c_str());
        }
    }
    ~ReplayBackend() override { Stop(0); }

    const std::vector<DeviceInfo>& Devices() const override { return devices_; }

    bool Start(std::size_t device, EventSink* sink) override {
        if (device >= devices_.size() || thread_.joinable())
            return false;
        stop_ = false;
        thread_ = std::thread([this, sink] { Play(sink); });
        return true;
    }

    void Stop(std::size_t) override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    void Play(EventSink* sink) {
        if (events_.empty())
            return;
        auto start = std::chrono::steady_clock::now();
        std::int64_t first = Micros(events_.front());
        for (const input_event& ev : events_) {
            auto due = start + std::chrono::microseconds(Micros(ev) - first);
            {
                std::unique_lock lock(mutex_);
                if (wake_.wait_until(lock, due, [this] { return stop_; }))
                    return;
            }
            sink->OnEvent(0, ev);
        }
    }

    std::vector<DeviceInfo> devices_;
    std::vector<input_event> events_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
};

}  // namespace

std::unique_ptr<Backend> MakeReplayBackend(const std::string& recording) {
    return std::make_unique<ReplayBackend>(recording);
}

}  // namespace wintab32
