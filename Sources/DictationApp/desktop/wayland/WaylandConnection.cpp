#include "desktop/wayland/WaylandConnection.h"

#include "platform/Log.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <wayland-client.h>

struct RegistryEvents {
    static void global(void* data, wl_registry*, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        auto* connection = static_cast<WaylandConnection*>(data);
        connection->globals_.push_back({name, interface, version});
    }
    static void globalRemove(void* data, wl_registry*, std::uint32_t name) {
        auto* connection = static_cast<WaylandConnection*>(data);
        std::erase_if(connection->globals_,
                      [name](const WaylandConnection::Global& g) { return g.name == name; });
    }
};

namespace {
const wl_registry_listener registryListener{&RegistryEvents::global, &RegistryEvents::globalRemove};
} // namespace

std::shared_ptr<WaylandConnection> WaylandConnection::open(std::string& why) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        why = std::string("no wayland compositor answers: ") + std::strerror(errno);
        return nullptr;
    }
    std::shared_ptr<WaylandConnection> connection(new WaylandConnection(display));
    connection->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(connection->registry_, &registryListener, connection.get());
    if (!connection->roundtrip()) {
        why = "the wayland compositor closed the connection";
        return nullptr;
    }
    // Version 5 is the oldest that has release; nothing newer is used.
    connection->seat_ = static_cast<wl_seat*>(connection->bind(wl_seat_interface, 5));
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : display_(display) {}

WaylandConnection::~WaylandConnection() {
    notifier_.reset();
    if (seat_) {
        if (wl_seat_get_version(seat_) >= WL_SEAT_RELEASE_SINCE_VERSION) {
            wl_seat_release(seat_);
        } else {
            wl_seat_destroy(seat_);
        }
    }
    if (registry_) {
        wl_registry_destroy(registry_);
    }
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

const WaylandConnection::Global* WaylandConnection::global(std::string_view interface) const {
    const auto found = std::find_if(globals_.begin(), globals_.end(),
                                    [&](const Global& g) { return g.interface == interface; });
    return found == globals_.end() ? nullptr : &*found;
}

std::uint32_t WaylandConnection::boundVersion(const wl_interface& interface,
                                              std::uint32_t newest) const {
    const Global* offered = global(interface.name);
    if (!offered) {
        return 0;
    }
    return std::min({offered->version, newest, static_cast<std::uint32_t>(interface.version)});
}

void* WaylandConnection::bind(const wl_interface& interface, std::uint32_t newest) const {
    const Global* offered = global(interface.name);
    if (!offered) {
        return nullptr;
    }
    return wl_registry_bind(registry_, offered->name, &interface, boundVersion(interface, newest));
}

void WaylandConnection::watch() {
    if (notifier_) {
        return;
    }
    notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { onReadable(); });
    flush();
}

void WaylandConnection::onReadable() {
    if (wl_display_prepare_read(display_) == 0) {
        if (wl_display_read_events(display_) != 0) {
            log(std::string("wayland connection lost: ") + std::strerror(errno));
            notifier_->setEnabled(false);
            return;
        }
    }
    dispatchPending();
}

void WaylandConnection::dispatchPending() {
    if (wl_display_dispatch_pending(display_) < 0 && notifier_) {
        notifier_->setEnabled(false);
    }
    flush();
}

bool WaylandConnection::flush() {
    while (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
            return false;
        }
        // The socket is full: the compositor is behind; wait for it to read.
        wl_display_roundtrip(display_);
    }
    return !broken();
}

bool WaylandConnection::roundtrip() {
    return wl_display_roundtrip(display_) >= 0;
}

bool WaylandConnection::broken() const {
    return wl_display_get_error(display_) != 0;
}
