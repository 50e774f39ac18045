#include "desktop/wayland/ForeignToplevels.h"

#include "desktop/DesktopEntries.h"
#include "desktop/wayland/WaylandConnection.h"
#include "platform/Log.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <cstring>
#include <map>
#include <utility>
#include <wayland-client.h>

namespace {

struct Toplevel {
    std::uint64_t id = 0;
    std::string title;
    std::string appId;
    bool activated = false;
    // What arrives before `done` applies together.
    std::optional<std::string> pendingTitle;
    std::optional<std::string> pendingAppId;
    std::optional<bool> pendingActivated;
};

} // namespace

struct ForeignToplevels::Impl {
    std::shared_ptr<WaylandConnection> connection;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    std::map<zwlr_foreign_toplevel_handle_v1*, Toplevel> toplevels;
    std::uint64_t lastId = 0;

    ~Impl() {
        for (auto& [handle, toplevel] : toplevels) {
            zwlr_foreign_toplevel_handle_v1_destroy(handle);
        }
        if (manager) {
            zwlr_foreign_toplevel_manager_v1_stop(manager);
            zwlr_foreign_toplevel_manager_v1_destroy(manager);
        }
        connection->flush();
    }

    static Toplevel& of(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        return static_cast<Impl*>(data)->toplevels[handle];
    }

    static void title(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* text) {
        of(data, handle).pendingTitle = text;
    }
    static void appId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* text) {
        of(data, handle).pendingAppId = text;
    }
    static void outputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void outputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void state(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
        bool activated = false;
        const auto* values = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
            activated |= values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        }
        of(data, handle).pendingActivated = activated;
    }
    static void done(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        Toplevel& toplevel = of(data, handle);
        if (toplevel.pendingTitle) {
            toplevel.title = *std::exchange(toplevel.pendingTitle, std::nullopt);
        }
        if (toplevel.pendingAppId) {
            toplevel.appId = *std::exchange(toplevel.pendingAppId, std::nullopt);
        }
        if (toplevel.pendingActivated) {
            toplevel.activated = *std::exchange(toplevel.pendingActivated, std::nullopt);
        }
    }
    static void closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        static_cast<Impl*>(data)->toplevels.erase(handle);
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
    }
    static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

    static constexpr zwlr_foreign_toplevel_handle_v1_listener handleListener{
        &title, &appId, &outputEnter, &outputLeave, &state, &done, &closed, &parent};

    static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                         zwlr_foreign_toplevel_handle_v1* handle) {
        auto* self = static_cast<Impl*>(data);
        self->toplevels[handle].id = ++self->lastId;
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, self);
    }
    static void finished(void* data, zwlr_foreign_toplevel_manager_v1*) {
        auto* self = static_cast<Impl*>(data);
        log("window probe: the compositor stopped reporting windows");
        zwlr_foreign_toplevel_manager_v1_destroy(self->manager);
        self->manager = nullptr;
    }

    static constexpr zwlr_foreign_toplevel_manager_v1_listener managerListener{&toplevel,
                                                                               &finished};

    const Toplevel* active() const {
        for (const auto& [handle, toplevel] : toplevels) {
            if (toplevel.activated) {
                return &toplevel;
            }
        }
        return nullptr;
    }
};

std::unique_ptr<ForeignToplevels>
ForeignToplevels::make(std::shared_ptr<WaylandConnection> connection) {
    auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        connection->bind(zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (!manager) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->connection = std::move(connection);
    impl->manager = manager;
    zwlr_foreign_toplevel_manager_v1_add_listener(manager, &Impl::managerListener, impl.get());
    // The windows that exist now, then each one's details.
    impl->connection->roundtrip();
    impl->connection->roundtrip();
    return std::unique_ptr<ForeignToplevels>(new ForeignToplevels(std::move(impl)));
}

bool ForeignToplevels::isOffered(const WaylandConnection& connection) {
    return connection.global(zwlr_foreign_toplevel_manager_v1_interface.name) != nullptr;
}

ForeignToplevels::ForeignToplevels(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ForeignToplevels::~ForeignToplevels() = default;

bool ForeignToplevels::isAvailable() const {
    return impl_->manager != nullptr;
}

std::optional<FrontWindow> ForeignToplevels::frontmost() {
    // Focus may have moved since the last turn of the main loop.
    impl_->connection->roundtrip();
    const Toplevel* active = impl_->active();
    if (!active) {
        return std::nullopt;
    }
    FrontWindow front;
    front.id = active->id;
    front.windowClass = active->appId;
    // An app id is the desktop entry's file name by convention, or the old window class.
    DesktopEntries::Program program;
    program.instance = active->appId;
    program.className = active->appId;
    front.appName = DesktopEntries::nameOr(program, active->appId);
    return front;
}

std::optional<std::string> ForeignToplevels::title(const FrontWindow& window) {
    for (const auto& [handle, toplevel] : impl_->toplevels) {
        if (toplevel.id == window.id) {
            if (toplevel.title.empty()) {
                return std::nullopt;
            }
            return toplevel.title;
        }
    }
    return std::nullopt;
}
