#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct wl_display;
struct wl_interface;
struct wl_registry;
struct wl_seat;
class QSocketNotifier;

// A connection of our own to the Wayland compositor, apart from the one Qt may hold: the
// globals it offers, the seat, and its events dispatched from the Qt main loop. Main thread
// only; the backends built on it share it.
class WaylandConnection {
  public:
    struct Global {
        std::uint32_t name = 0;
        std::string interface;
        std::uint32_t version = 0;
    };

    // Nothing, with `why` set, when no compositor answers.
    static std::shared_ptr<WaylandConnection> open(std::string& why);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    // The first seat; null when the compositor offers none.
    wl_seat* seat() const { return seat_; }
    const std::vector<Global>& globals() const { return globals_; }
    const Global* global(std::string_view interface) const;
    // Binds the global named like `interface`, at the highest version both sides know; null
    // when it is not offered.
    void* bind(const wl_interface& interface, std::uint32_t newest) const;
    std::uint32_t boundVersion(const wl_interface& interface, std::uint32_t newest) const;

    // Dispatches events whenever the compositor sends some, from now on. Needs the Qt
    // application object.
    void watch();
    // Sends what is queued; false when the connection is broken.
    bool flush();
    // Waits until the compositor has handled every request sent so far, dispatching events
    // meanwhile; false when the connection is broken.
    bool roundtrip();
    // Dispatches what has arrived, without waiting.
    void dispatchPending();
    bool broken() const;

  private:
    explicit WaylandConnection(wl_display* display);
    void onReadable();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::vector<Global> globals_;
    std::unique_ptr<QSocketNotifier> notifier_;

    friend struct RegistryEvents;
};
