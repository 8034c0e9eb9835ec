// libwintab32: the Wintab entry points over the live (evdev) or replay back
// end. Contexts, their packet queues and the report assembly of each device
// live here; the back ends only deliver input events.
//
// Locking: `control_` serialises opening, closing and taking on the back end
// (and is held while a back-end thread is joined); `state_` guards contexts
// and queues and is the only lock a back-end thread takes. Messages are
// posted after `state_` is released.

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "drivers/Device.h"
#include "drivers/Packets.h"
#include "platform/Wintab.h"

namespace wintab32 {

namespace {

constexpr std::size_t kQueueSize = 64;
constexpr std::size_t kMaxContexts = 64;

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    std::size_t i = 0;
    auto cont = [&](std::size_t k) {
        return k < text.size() && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80;
    };
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c < 0xE0 && cont(i + 1)) {
            cp = (c & 0x1Fu) << 6 | (text[i + 1] & 0x3F);
            len = 2;
        } else if (c >= 0xE0 && c < 0xF0 && cont(i + 1) && cont(i + 2)) {
            cp = (c & 0x0Fu) << 12 | (text[i + 1] & 0x3F) << 6 | (text[i + 2] & 0x3F);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))
                cp = 0xFFFD;
        } else if (c >= 0xF0 && c < 0xF5 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            cp = (c & 0x07u) << 18 | (text[i + 1] & 0x3F) << 12 | (text[i + 2] & 0x3F) << 6 |
                 (text[i + 3] & 0x3F);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF)
                cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += len;
    }
    return out;
}

struct QueuedPacket {
    std::uint32_t serial;
    PacketBytes bytes;
};

struct Context {
    std::uint32_t id = 0;
    wt::LOGCONTEXTW lc = {};
    platform::HWND window = nullptr;
    bool enabled = true;
    PacketLayout layout;
    bool hasLast = false;
    PacketValues last;  // the absolute values of the last packet queued
    std::uint32_t nextSerial = 1;
    std::deque<QueuedPacket> queue;
};

struct PendingPost {
    platform::HWND window;
    std::uint32_t message;
    std::uint32_t serial;
    wt::HCTX context;
};

wt::HCTX HandleOf(std::uint32_t id) {
    return reinterpret_cast<wt::HCTX>(static_cast<std::uintptr_t>(id));
}
std::uint32_t IdOf(wt::HCTX handle) {
    std::uintptr_t v = reinterpret_cast<std::uintptr_t>(handle);
    return v > UINT32_MAX ? 0 : static_cast<std::uint32_t>(v);
}

template <class T>
std::vector<std::uint8_t> Bytes(const T& value) {
    std::vector<std::uint8_t> out(sizeof(T));
    std::memcpy(out.data(), &value, sizeof(T));
    return out;
}

std::vector<std::uint8_t> Text(const std::u16string& text) {
    std::vector<std::uint8_t> out((text.size() + 1) * sizeof(char16_t), 0);
    std::memcpy(out.data(), text.data(), text.size() * sizeof(char16_t));
    return out;
}

class Driver : public EventSink {
  public:
    ~Driver() override {
        std::lock_guard control(control_);
        if (!backend_)
            return;
        for (std::size_t d = 0; d < openCount_.size(); ++d) {
            if (openCount_[d] > 0)
                backend_->Stop(d);
        }
        backend_.reset();
    }

    std::uint32_t Info(std::uint32_t category, std::uint32_t index, void* out) {
        std::vector<std::uint8_t> item;
        {
            std::lock_guard control(control_);
            TakeOnBackend();
            if (Devices().empty())
                return 0;  // no tablet: no Wintab service
            if (category == 0)
                return LargestItem();
            if (!Item(category, index, &item))
                return 0;
        }
        if (out)
            std::memcpy(out, item.data(), item.size());
        return static_cast<std::uint32_t>(item.size());
    }

    wt::HCTX Open(platform::HWND window, const wt::LOGCONTEXTW* lc, wt::BOOL enable) {
        if (!lc || !window || window->magic != platform::kWindowPortMagic)
            return nullptr;
        std::lock_guard control(control_);
        TakeOnBackend();
        if (lc->lcDevice >= Devices().size())
            return nullptr;
        std::uint32_t device = lc->lcDevice;
        std::uint32_t id = 0;
        {
            std::lock_guard state(state_);
            if (contexts_.size() >= kMaxContexts || nextId_ == 0)
                return nullptr;
            id = nextId_++;
            Context& c = contexts_[id];
            c.id = id;
            c.lc = *lc;
            c.lc.lcPktData &= kSupportedFields;
            c.lc.lcPktMode &= kRelativeFields;
            c.lc.lcStatus = enable ? 0 : wt::CXS_DISABLED;
            c.window = window;
            c.enabled = enable != 0;
            c.layout = ComputeLayout(c.lc.lcPktData);
            if (openCount_[device] == 0)
                assemblers_[device] = ReportAssembler();
        }
        if (openCount_[device]++ == 0 && !backend_->Start(device, this)) {
            --openCount_[device];
            std::lock_guard state(state_);
            contexts_.erase(id);
            return nullptr;
        }
        return HandleOf(id);
    }

    wt::BOOL Packet(wt::HCTX handle, std::uint32_t serial, void* out) {
        std::lock_guard state(state_);
        auto it = contexts_.find(IdOf(handle));
        if (it == contexts_.end())
            return 0;
        std::deque<QueuedPacket>& queue = it->second.queue;
        for (std::size_t i = 0; i < queue.size(); ++i) {
            if (queue[i].serial != serial)
                continue;
            if (out)
                std::memcpy(out, queue[i].bytes.data(), it->second.layout.size);
            queue.erase(queue.begin(), queue.begin() + std::ptrdiff_t(i) + 1);
            return 1;
        }
        return 0;
    }

    wt::BOOL Close(wt::HCTX handle) {
        std::lock_guard control(control_);
        std::uint32_t device = 0;
        {
            std::lock_guard state(state_);
            auto it = contexts_.find(IdOf(handle));
            if (it == contexts_.end())
                return 0;
            device = it->second.lc.lcDevice;
            contexts_.erase(it);
        }
        if (--openCount_[device] == 0)
            backend_->Stop(device);
        return 1;
    }

    void OnEvent(std::size_t device, const input_event& event) override {
        std::vector<PendingPost> posts;
        {
            std::lock_guard state(state_);
            if (device >= assemblers_.size() || !assemblers_[device].Feed(event))
                return;
            const PenState& pen = assemblers_[device].State();
            for (auto& [id, c] : contexts_) {
                if (c.lc.lcDevice != device || !c.enabled)
                    continue;
                if (!QueuePacket(Devices()[device], pen, &c))
                    continue;
                if (c.lc.lcOptions & wt::CXO_MESSAGES) {
                    posts.push_back({c.window, c.lc.lcMsgBase + wt::WT_PACKET_OFFSET,
                                     c.queue.back().serial, HandleOf(id)});
                }
            }
        }
        for (const PendingPost& p : posts) {
            platform::PostMessage(p.window, p.message, p.serial,
                                  reinterpret_cast<platform::LPARAM>(p.context));
        }
    }

  private:
    const std::vector<DeviceInfo>& Devices() const { return backend_->Devices(); }

    void TakeOnBackend() {
        if (backend_)
            return;
        const char* replay = std::getenv("VELSERIN_WINTAB_REPLAY");
        if (replay && *replay) {
            backend_ = MakeReplayBackend(replay);
        } else {
            const char* folder = std::getenv("VELSERIN_WINTAB_INPUT_DIR");
            backend_ = MakeEvdevBackend(folder && *folder ? folder : "/dev/input");
        }
        assemblers_.assign(Devices().size(), ReportAssembler());
        openCount_.assign(Devices().size(), 0);
    }

    // Builds the report's packet for a context and queues it; false when the
    // context's masks leave this report out.
    bool QueuePacket(const DeviceInfo& device, const PenState& pen, Context* c) {
        PacketValues v = ReportValues(device, pen, c->lc);
        PacketValues previous = c->hasLast ? c->last : v;
        wt::WTPKT changed = c->hasLast ? ChangedFields(v, c->last) : 0;
        // A report that moved nothing the context watches, pressed or
        // released no button it watches and did not change the status is
        // left out; a report that changed nothing at all still counts.
        constexpr wt::WTPKT kMotion = wt::PK_CURSOR | wt::PK_X | wt::PK_Y | wt::PK_Z |
                                      wt::PK_NORMAL_PRESSURE | wt::PK_TANGENT_PRESSURE |
                                      wt::PK_ORIENTATION | wt::PK_ROTATION;
        std::uint32_t pressed = v.buttons & ~previous.buttons;
        std::uint32_t released = previous.buttons & ~v.buttons;
        bool buttonEvent =
            (pressed & c->lc.lcBtnDnMask) != 0 || (released & c->lc.lcBtnUpMask) != 0;
        bool moved = (changed & kMotion & c->lc.lcMoveMask) != 0;
        bool status = (changed & wt::PK_STATUS) != 0;
        bool anything = (changed & (kMotion | wt::PK_BUTTONS)) != 0;
        if (anything && !moved && !buttonEvent && !status)
            return false;

        v.context = HandleOf(c->id);
        v.serial = c->nextSerial++;
        if (c->nextSerial == 0)
            c->nextSerial = 1;
        v.changed = (changed | wt::PK_SERIAL_NUMBER) & c->lc.lcPktData;
        if (c->queue.size() >= kQueueSize) {
            // The oldest packet goes; the one after it, now the oldest, tells
            // whoever reads it that packets before it were lost.
            c->queue.pop_front();
            if (c->lc.lcPktData & wt::PK_STATUS) {
                std::uint8_t* status =
                    c->queue.front().bytes.data() + c->layout.offsets[1];  // PK_STATUS is bit 1
                std::uint32_t bits;
                std::memcpy(&bits, status, sizeof bits);
                bits |= wt::TPS_QUEUE_ERR;
                std::memcpy(status, &bits, sizeof bits);
            }
        }
        QueuedPacket packet;
        packet.serial = v.serial;
        WritePacket(c->layout, c->lc.lcPktData, c->lc.lcPktMode, v, previous, &packet.bytes);
        c->queue.push_back(packet);
        c->last = v;
        c->hasLast = true;
        return true;
    }

    std::uint32_t LargestItem() {
        std::size_t largest = sizeof(wt::LOGCONTEXTW);
        std::vector<std::uint8_t> item;
        for (std::uint32_t d = 0; d < Devices().size(); ++d) {
            for (std::uint32_t i = 1; i <= wt::DVC_PNPID; ++i) {
                if (Item(wt::WTI_DEVICES + d, i, &item))
                    largest = std::max(largest, item.size());
            }
        }
        for (std::uint32_t i = 1; i <= wt::IFC_CTXOPTIONS; ++i) {
            if (Item(wt::WTI_INTERFACE, i, &item))
                largest = std::max(largest, item.size());
        }
        return static_cast<std::uint32_t>(largest);
    }

    bool Item(std::uint32_t category, std::uint32_t index, std::vector<std::uint8_t>* out) {
        const std::vector<DeviceInfo>& devices = Devices();
        if (category == wt::WTI_INTERFACE) {
            switch (index) {
                case wt::IFC_WINTABID:
                    *out = Text(u"libwintab32 for Linux");
                    return true;
                case wt::IFC_SPECVERSION:
                    *out = Bytes(std::uint16_t(0x0104));
                    return true;
                case wt::IFC_IMPLVERSION:
                    *out = Bytes(std::uint16_t(0x0100));
                    return true;
                case wt::IFC_NDEVICES:
                    *out = Bytes(std::uint32_t(devices.size()));
                    return true;
                case wt::IFC_NCURSORS:
                    *out = Bytes(std::uint32_t(3 * devices.size()));
                    return true;
                case wt::IFC_NCONTEXTS:
                    *out = Bytes(std::uint32_t(kMaxContexts));
                    return true;
                case wt::IFC_CTXOPTIONS:
                    *out = Bytes(std::uint32_t(wt::CXO_SYSTEM | wt::CXO_PEN | wt::CXO_MESSAGES));
                    return true;
                default:
                    return false;
            }
        }
        if (category == wt::WTI_DEFCONTEXT || category == wt::WTI_DEFSYSCTX) {
            wt::LOGCONTEXTW lc = DefaultContext(devices[0], 0, category == wt::WTI_DEFSYSCTX);
            std::vector<std::uint8_t> all = Bytes(lc);
            if (index == 0) {
                *out = std::move(all);
                return true;
            }
            // Single fields in their record order: the name, then 4-byte fields.
            if (index == 1) {
                *out = Text(std::u16string(lc.lcName));
                return true;
            }
            std::size_t offset = offsetof(wt::LOGCONTEXTW, lcOptions) + std::size_t(index - 2) * 4;
            if (offset + 4 > sizeof lc)
                return false;
            out->assign(all.begin() + std::ptrdiff_t(offset),
                        all.begin() + std::ptrdiff_t(offset + 4));
            return true;
        }
        if (category < wt::WTI_DEVICES || category - wt::WTI_DEVICES >= devices.size())
            return false;
        const DeviceInfo& dev = devices[category - wt::WTI_DEVICES];
        auto axis = [](std::int32_t min, std::int32_t max, std::uint32_t units,
                       std::int64_t resolution) {
            return wt::AXIS{min, max, units,
                            static_cast<wt::FIX32>(std::clamp<std::int64_t>(resolution, 0, 0x7FFF))
                                << 16};
        };
        switch (index) {
            case wt::DVC_NAME:
                *out = Text(Utf8ToUtf16(dev.name));
                return true;
            case wt::DVC_HARDWARE:
                *out = Bytes(std::uint32_t(0));
                return true;
            case wt::DVC_NCSRTYPES:
                *out = Bytes(std::uint32_t(3));
                return true;
            case wt::DVC_FIRSTCSR:
                *out = Bytes(std::uint32_t(3 * (category - wt::WTI_DEVICES)));
                return true;
            case wt::DVC_PKTRATE:
                *out = Bytes(std::uint32_t(100));
                return true;
            case wt::DVC_PKTDATA:
                *out = Bytes(kSupportedFields);
                return true;
            case wt::DVC_PKTMODE:
                *out = Bytes(kRelativeFields);
                return true;
            case wt::DVC_CSRDATA:
                *out = Bytes(wt::WTPKT(0));
                return true;
            case wt::DVC_XMARGIN:
            case wt::DVC_YMARGIN:
            case wt::DVC_ZMARGIN:
                *out = Bytes(std::int32_t(0));
                return true;
            // The input space: lines per centimetre from the device's units per mm.
            case wt::DVC_X:
                *out = Bytes(axis(0, std::int32_t(dev.x.Span() - 1), wt::TU_CENTIMETERS,
                                  std::int64_t(dev.x.resolution) * 10));
                return true;
            case wt::DVC_Y:
                *out = Bytes(axis(0, std::int32_t(dev.y.Span() - 1), wt::TU_CENTIMETERS,
                                  std::int64_t(dev.y.resolution) * 10));
                return true;
            case wt::DVC_Z:
            case wt::DVC_TPRESSURE:
                *out = Bytes(wt::AXIS{});
                return true;
            case wt::DVC_NPRESSURE:
                *out = Bytes(axis(dev.pressure.minimum, dev.pressure.maximum, wt::TU_NONE, 0));
                return true;
            case wt::DVC_ORIENTATION: {
                wt::AXIS axes[3] = {};
                if (dev.tiltX.present) {
                    axes[0] = axis(0, 3599, wt::TU_CIRCLE, 3600);
                    axes[1] = axis(0, 900, wt::TU_CIRCLE, 3600);
                }
                out->resize(sizeof axes);
                std::memcpy(out->data(), axes, sizeof axes);
                return true;
            }
            case wt::DVC_ROTATION: {
                wt::AXIS axes[3] = {};
                out->resize(sizeof axes);
                std::memcpy(out->data(), axes, sizeof axes);
                return true;
            }
            default:
                return false;
        }
    }

    std::mutex control_;
    std::mutex state_;
    std::unique_ptr<Backend> backend_;
    std::vector<ReportAssembler> assemblers_;
    std::vector<int> openCount_;
    std::map<std::uint32_t, Context> contexts_;
    std::uint32_t nextId_ = 1;
};

// Destroyed when the library is unloaded, which stops every back-end thread.
Driver driver;

}  // namespace

}  // namespace wintab32

namespace wt = platform::wintab;

#define WINTAB_EXPORT extern "C" __attribute__((visibility("default")))

// No exception crosses the C interface: a failure is the call's failure result.
WINTAB_EXPORT std::uint32_t WTInfoW(std::uint32_t category, std::uint32_t index, void* output) {
    try {
        return wintab32::driver.Info(category, index, output);
    } catch (...) {
        return 0;
    }
}

WINTAB_EXPORT wt::HCTX WTOpenW(platform::HWND window, wt::LOGCONTEXTW* context, wt::BOOL enable) {
    try {
        return wintab32::driver.Open(window, context, enable);
    } catch (...) {
        return nullptr;
    }
}

WINTAB_EXPORT wt::BOOL WTPacket(wt::HCTX context, std::uint32_t serial, void* packet) {
    try {
        return wintab32::driver.Packet(context, serial, packet);
    } catch (...) {
        return 0;
    }
}

WINTAB_EXPORT wt::BOOL WTClose(wt::HCTX context) {
    try {
        return wintab32::driver.Close(context);
    } catch (...) {
        return 0;
    }
}

static_assert(std::is_same_v<decltype(&WTInfoW), wt::WTInfoWProc*>);
static_assert(std::is_same_v<decltype(&WTOpenW), wt::WTOpenWProc*>);
static_assert(std::is_same_v<decltype(&WTPacket), wt::WTPacketProc*>);
static_assert(std::is_same_v<decltype(&WTClose), wt::WTCloseProc*>);
