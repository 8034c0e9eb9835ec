#include "platform/WindowMessages.h"

#include <QCoreApplication>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace {

struct Port : WindowPort {
    QObject* target = nullptr;  // null once the window is gone
};

// Every handle ever made, alive or not. Handles are never freed: a driver may
// still hold one after its window is gone and must then fail to post, not
// touch freed memory. The table itself is never destroyed either, so that a
// driver thread still running at exit finds it intact.
struct PortTable {
    std::mutex mutex;
    std::vector<std::unique_ptr<Port>> ports;
    std::unordered_map<QObject*, Port*> byWindow;
    std::unordered_map<const WindowPort*, Port*> byHandle;
};

PortTable& Table() {
    static PortTable* table = new PortTable;
    return *table;
}

extern "C" std::int32_t PostToPort(WindowPort* window, std::uint32_t message, WPARAM wParam,
                                   LPARAM lParam) {
    PortTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.byHandle.find(window);
    if (it == table.byHandle.end() || !it->second->target)
        return 0;
    // Posting under the lock: the window cannot be destroyed meanwhile, since
    // its destruction takes the lock first (see WindowHandle).
    QCoreApplication::postEvent(it->second->target,
                                new WindowMessageEvent(WindowMessage{message, wParam, lParam, 0}));
    return 1;
}

class HandlerFilter : public QObject {
  public:
    HandlerFilter(QObject* window, WindowMessageHandler handler)
        : QObject(window), handler_(std::move(handler)) {
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == WindowMessageEvent::EventType() && handler_) {
            handler_(static_cast<WindowMessageEvent*>(event)->Message());
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    WindowMessageHandler handler_;
};

}  // namespace

WindowMessageEvent::WindowMessageEvent(const WindowMessage& message)
    : QEvent(EventType()), message_(message) {}

QEvent::Type WindowMessageEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

HWND WindowHandle(QObject* window) {
    if (!window)
        return nullptr;
    PortTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.byWindow.find(window);
    if (it != table.byWindow.end())
        return it->second;

    auto port = std::make_unique<Port>();
    port->magic = kWindowPortMagic;
    port->size = sizeof(WindowPort);
    port->post = &PostToPort;
    port->target = window;
    Port* raw = port.get();
    table.ports.push_back(std::move(port));
    table.byWindow.emplace(window, raw);
    table.byHandle.emplace(raw, raw);
    // Runs on the destroying thread before QObject drops its posted events;
    // after it no poster can reach the window any more.
    QObject::connect(window, &QObject::destroyed, [raw, window] {
        PortTable& t = Table();
        std::lock_guard lock(t.mutex);
        raw->target = nullptr;
        t.byWindow.erase(window);
    });
    return raw;
}

QObject* WindowFromHandle(HWND handle) {
    PortTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.byHandle.find(handle);
    return it == table.byHandle.end() ? nullptr : it->second->target;
}

QObject* InstallMessageHandler(QObject* window, WindowMessageHandler handler) {
    if (!window)
        return nullptr;
    return new HandlerFilter(window, std::move(handler));
}

}  // namespace platform
