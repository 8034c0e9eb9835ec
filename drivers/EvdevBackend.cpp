// The live back end: the pen tablets among the evdev nodes, read with
// libevdev, each on a thread of its own while a context is open on it.

#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "drivers/Device.h"

namespace wintab32 {

namespace {

bool IsEventNode(const char* name, int* number) {
    if (std::strncmp(name, "event", 5) != 0 || !name[5])
        return false;
    char* end = nullptr;
    long n = std::strtol(name + 5, &end, 10);
    if (*end || n < 0 || n > 1 << 20)
        return false;
    *number = static_cast<int>(n);
    return true;
}

AxisRange Axis(libevdev* dev, unsigned code) {
    AxisRange axis;
    const input_absinfo* abs = libevdev_get_abs_info(dev, code);
    if (!abs || !libevdev_has_event_code(dev, EV_ABS, code))
        return axis;
    axis.present = true;
    axis.minimum = abs->minimum;
    axis.maximum = abs->maximum;
    axis.resolution = abs->resolution;
    return axis;
}

bool IsPenTablet(libevdev* dev) {
    return libevdev_has_event_code(dev, EV_ABS, ABS_X) &&
           libevdev_has_event_code(dev, EV_ABS, ABS_Y) &&
           libevdev_has_event_code(dev, EV_ABS, ABS_PRESSURE) &&
           libevdev_has_event_code(dev, EV_KEY, BTN_TOOL_PEN);
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A capability bitmap from sysfs: hexadecimal words of the kernel's long,
// the most significant first.
bool HasBit(const std::string& words, unsigned bit) {
    std::istringstream in(words);
    std::vector<std::string> parts;
    for (std::string w; in >> w;)
        parts.push_back(w);
    constexpr unsigned kBits = sizeof(long) * 8;
    std::size_t index = bit / kBits;
    if (index >= parts.size())
        return false;
    unsigned long word = std::strtoul(parts[parts.size() - 1 - index].c_str(), nullptr, 16);
    return (word >> (bit % kBits)) & 1;
}

// For a node we may not open: what sysfs, which everyone can read, says of
// it. Empty when it is no pen tablet.
std::string UnreadableTabletName(int number) {
    std::string base = "/sys/class/input/event" + std::to_string(number) + "/device/";
    std::string abs = ReadLine(base + "capabilities/abs");
    std::string key = ReadLine(base + "capabilities/key");
    if (!HasBit(abs, ABS_X) || !HasBit(abs, ABS_Y) || !HasBit(abs, ABS_PRESSURE) ||
        !HasBit(key, BTN_TOOL_PEN))
        return {};
    std::string name = ReadLine(base + "name");
    return name.empty() ? "a pen tablet" : name;
}

struct Running {
    int fd = -1;
    int wake = -1;
    libevdev* dev = nullptr;
    std::thread thread;
};

class EvdevBackend : public Backend {
  public:
    explicit EvdevBackend(const std::string& folder) {
        Enumerate(folder);
        running_.resize(devices_.size());
    }
    ~EvdevBackend() override {
        for (std::size_t i = 0; i < running_.size(); ++i)
            Stop(i);
    }

    const std::vector<DeviceInfo>& Devices() const override { return devices_; }

    bool Start(std::size_t device, EventSink* sink) override {
        if (device >= devices_.size() || running_[device].fd >= 0)
            return false;
        Running& r = running_[device];
        r.fd = ::open(devices_[device].node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (r.fd < 0) {
            std::fprintf(stderr, "libwintab32: cannot open %s: %s\n", devices_[device].node.c_str(),
                         std::strerror(errno));
            return false;
        }
        r.wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (r.wake < 0 || libevdev_new_from_fd(r.fd, &r.dev) < 0) {
            Release(&r);
            return false;
        }
        Prime(device, r.dev, sink);
        r.thread = std::thread([this, device, sink] { Read(device, sink); });
        return true;
    }

    void Stop(std::size_t device) override {
        if (device >= running_.size())
            return;
        Running& r = running_[device];
        if (r.thread.joinable()) {
            std::uint64_t one = 1;
            (void)!::write(r.wake, &one, sizeof one);
            r.thread.join();
        }
        Release(&r);
    }

  private:
    static void Release(Running* r) {
        if (r->dev)
            libevdev_free(r->dev);
        if (r->fd >= 0)
            ::close(r->fd);
        if (r->wake >= 0)
            ::close(r->wake);
        r->dev = nullptr;
        r->fd = r->wake = -1;
    }

    void Enumerate(const std::string& folder) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            return;
        std::vector<int> numbers;
        while (dirent* entry = ::readdir(dir)) {
            int n = 0;
            if (IsEventNode(entry->d_name, &n))
                numbers.push_back(n);
        }
        ::closedir(dir);
        std::sort(numbers.begin(), numbers.end());

        for (int n : numbers) {
            std::string node = folder + "/event" + std::to_string(n);
            int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                if (errno == EACCES || errno == EPERM) {
                    std::string name = UnreadableTabletName(n);
                    if (!name.empty()) {
                        std::fprintf(stderr,
                                     "libwintab32: cannot read the pen tablet \"%s\" (%s): %s; "
                                     "the user needs read access to it (see the README)\n",
                                     name.c_str(), node.c_str(), std::strerror(errno));
                    }
                }
                continue;
            }
            libevdev* dev = nullptr;
            if (libevdev_new_from_fd(fd, &dev) == 0) {
                if (IsPenTablet(dev)) {
                    DeviceInfo info;
                    info.node = node;
                    const char* name = libevdev_get_name(dev);
                    info.name = name ? name : "";
                    info.x = Axis(dev, ABS_X);
                    info.y = Axis(dev, ABS_Y);
                    info.pressure = Axis(dev, ABS_PRESSURE);
                    info.tiltX = Axis(dev, ABS_TILT_X);
                    info.tiltY = Axis(dev, ABS_TILT_Y);
                    if (!info.tiltX.Usable() || !info.tiltY.Usable())
                        info.tiltX = info.tiltY = AxisRange();
                    if (info.x.Usable() && info.y.Usable() && info.pressure.Usable())
                        devices_.push_back(std::move(info));
                }
                libevdev_free(dev);
            }
            ::close(fd);
        }
    }

    // The state the device is in when reading begins, without completing a report.
    static void Prime(std::size_t device, libevdev* dev, EventSink* sink) {
        auto feed = [&](unsigned type, unsigned code) {
            if (!libevdev_has_event_code(dev, type, code))
                return;
            input_event ev = {};
            ev.type = static_cast<std::uint16_t>(type);
            ev.code = static_cast<std::uint16_t>(code);
            ev.value = libevdev_get_event_value(dev, type, code);
            sink->OnEvent(device, ev);
        };
        for (unsigned code : {ABS_X, ABS_Y, ABS_PRESSURE, ABS_TILT_X, ABS_TILT_Y})
            feed(EV_ABS, code);
        for (unsigned code :
             {BTN_TOUCH, BTN_STYLUS, BTN_STYLUS2, BTN_TOOL_PEN, BTN_TOOL_RUBBER, BTN_TOOL_BRUSH,
              BTN_TOOL_PENCIL, BTN_TOOL_AIRBRUSH, BTN_TOOL_MOUSE, BTN_TOOL_LENS})
            feed(EV_KEY, code);
    }

    void Read(std::size_t device, EventSink* sink) {
        Running& r = running_[device];
        for (;;) {
            pollfd fds[2] = {{r.fd, POLLIN, 0}, {r.wake, POLLIN, 0}};
            int n = ::poll(fds, 2, -1);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents)
                return;
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
                return;  // unplugged
            for (;;) {
                input_event ev;
                int rc = libevdev_next_event(r.dev, LIBEVDEV_READ_FLAG_NORMAL, &ev);
                if (rc == LIBEVDEV_READ_STATUS_SUCCESS) {
                    sink->OnEvent(device, ev);
                } else if (rc == LIBEVDEV_READ_STATUS_SYNC) {
                    // Events were lost: libevdev hands out the device's state
                    // again, ending with a SYN_REPORT.
                    while (libevdev_next_event(r.dev, LIBEVDEV_READ_FLAG_SYNC, &ev) ==
                           LIBEVDEV_READ_STATUS_SYNC)
                        sink->OnEvent(device, ev);
                } else if (rc == -EAGAIN) {
                    break;
                } else {
                    return;  // the device is gone
                }
            }
        }
    }

    std::vector<DeviceInfo> devices_;
    std::vector<Running> running_;
};

}  // namespace

std::unique_ptr<Backend> MakeEvdevBackend(const std::string& folder) {
    return std::make_unique<EvdevBackend>(folder);
}

}  // namespace wintab32
