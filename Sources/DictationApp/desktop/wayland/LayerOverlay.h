#pragma once

#include "desktop/Overlay.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class WaylandConnection;
struct wl_buffer;
struct wl_compositor;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

// The overlay as a surface on the compositor's overlay layer (wlroots' layer shell: sway, KDE,
// Hyprland): anchored to the bottom, above every window, taking neither the keyboard nor the
// pointer. Main thread only.
class LayerOverlay final : public Overlay {
  public:
    static bool isOffered(const WaylandConnection& connection);
    // Nothing when the compositor offers no layer shell.
    static std::unique_ptr<LayerOverlay> make(std::shared_ptr<WaylandConnection> connection);
    ~LayerOverlay() override;
    LayerOverlay(const LayerOverlay&) = delete;
    LayerOverlay& operator=(const LayerOverlay&) = delete;

    void show(std::span<const std::uint32_t> pixels, int width, int height, int scale,
              int bottom) override;
    void hide() override;

    // The compositor has placed the surface and it shows the latest picture.
    bool isShowing() const { return configured_ && attached_; }

  private:
    explicit LayerOverlay(std::shared_ptr<WaylandConnection> connection);
    void createSurface(int width, int height, int scale, int bottom);
    void destroySurface();
    void attach();

    struct Buffer;
    friend struct LayerEvents;

    std::shared_ptr<WaylandConnection> connection_;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    zwlr_layer_shell_v1* shell_ = nullptr;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    bool configured_ = false;
    bool attached_ = false;
    bool closed_ = false;
    // The picture waiting for the compositor's first configure, or the one shown.
    std::vector<std::uint32_t> pixels_;
    int width_ = 0;
    int height_ = 0;
    int scale_ = 1;
    int bottom_ = 0;
};
