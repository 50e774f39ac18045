#include "desktop/wayland/LayerOverlay.h"

#include "Files.h"
#include "desktop/wayland/WaylandConnection.h"
#include "platform/Log.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

// A picture handed to the compositor; it lives until the compositor lets go of it.
struct LayerOverlay::Buffer {
    wl_buffer* buffer = nullptr;
    void* memory = MAP_FAILED;
    std::size_t size = 0;

    ~Buffer() {
        if (buffer) {
            wl_buffer_destroy(buffer);
        }
        if (memory != MAP_FAILED) {
            ::munmap(memory, size);
        }
    }
};

struct LayerEvents {
    static void configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial,
                          std::uint32_t, std::uint32_t) {
        auto* overlay = static_cast<LayerOverlay*>(data);
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        overlay->configured_ = true;
        overlay->attach();
    }
    static void closed(void* data, zwlr_layer_surface_v1*) {
        auto* overlay = static_cast<LayerOverlay*>(data);
        overlay->closed_ = true;
        overlay->attached_ = false;
    }
    static constexpr zwlr_layer_surface_v1_listener layerListener{&configure, &closed};

    static void released(void* data, wl_buffer*) {
        delete static_cast<LayerOverlay::Buffer*>(data);
    }
    static constexpr wl_buffer_listener bufferListener{&released};
};

bool LayerOverlay::isOffered(const WaylandConnection& connection) {
    return connection.global(zwlr_layer_shell_v1_interface.name) &&
           connection.global(wl_compositor_interface.name) &&
           connection.global(wl_shm_interface.name);
}

std::unique_ptr<LayerOverlay> LayerOverlay::make(std::shared_ptr<WaylandConnection> connection) {
    if (!connection || !isOffered(*connection)) {
        return nullptr;
    }
    return std::unique_ptr<LayerOverlay>(new LayerOverlay(std::move(connection)));
}

LayerOverlay::LayerOverlay(std::shared_ptr<WaylandConnection> connection)
    : connection_(std::move(connection)) {
    // Version 3 for the buffer scale of sharp pictures on a scaled output.
    compositor_ = static_cast<wl_compositor*>(connection_->bind(wl_compositor_interface, 4));
    shm_ = static_cast<wl_shm*>(connection_->bind(wl_shm_interface, 1));
    shell_ = static_cast<zwlr_layer_shell_v1*>(connection_->bind(zwlr_layer_shell_v1_interface, 1));
}

LayerOverlay::~LayerOverlay() {
    destroySurface();
    if (shell_) {
        zwlr_layer_shell_v1_destroy(shell_);
    }
    if (shm_) {
        wl_shm_destroy(shm_);
    }
    if (compositor_) {
        wl_compositor_destroy(compositor_);
    }
    connection_->flush();
}

void LayerOverlay::show(std::span<const std::uint32_t> pixels, int width, int height, int scale,
                        int bottom) {
    if (width <= 0 || height <= 0 || scale <= 0 ||
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        return;
    }
    pixels_.assign(pixels.begin(), pixels.end());
    // A new size or place is a new surface; the compositor decides where it goes.
    if (!layer_ || closed_ || width != width_ || height != height_ || scale != scale_ ||
        bottom != bottom_) {
        destroySurface();
        createSurface(width, height, scale, bottom);
        return;
    }
    attach();
}

void LayerOverlay::hide() {
    destroySurface();
}

void LayerOverlay::createSurface(int width, int height, int scale, int bottom) {
    width_ = width;
    height_ = height;
    scale_ = scale;
    bottom_ = bottom;
    closed_ = false;
    surface_ = wl_compositor_create_surface(compositor_);
    // No input region: the pointer goes to the window below.
    wl_region* nothing = wl_compositor_create_region(compositor_);
    wl_surface_set_input_region(surface_, nothing);
    wl_region_destroy(nothing);
    if (wl_surface_get_version(surface_) >= 3) {
        wl_surface_set_buffer_scale(surface_, scale);
    }
    layer_ = zwlr_layer_shell_v1_get_layer_surface(shell_, surface_, nullptr,
                                                   ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "pill");
    zwlr_layer_surface_v1_add_listener(layer_, &LayerEvents::layerListener, this);
    zwlr_layer_surface_v1_set_size(layer_, static_cast<std::uint32_t>(width / scale),
                                   static_cast<std::uint32_t>(height / scale));
    zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM);
    zwlr_layer_surface_v1_set_margin(layer_, 0, 0, bottom, 0);
    // Never the keyboard: the dictation types into the window that has it.
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer_, 0);
    // The first commit has no picture; the compositor answers with a configure.
    wl_surface_commit(surface_);
    connection_->flush();
}

void LayerOverlay::destroySurface() {
    if (layer_) {
        zwlr_layer_surface_v1_destroy(layer_);
        layer_ = nullptr;
    }
    if (surface_) {
        wl_surface_destroy(surface_);
        surface_ = nullptr;
    }
    configured_ = false;
    attached_ = false;
    connection_->flush();
}

void LayerOverlay::attach() {
    if (!configured_ || !surface_ || pixels_.empty()) {
        return;
    }
    auto buffer = std::make_unique<Buffer>();
    const int stride = width_ * 4;
    buffer->size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height_);
    const Files::Descriptor fd(memfd_create("parlwick-overlay", MFD_CLOEXEC));
    if (!fd.isOpen() || ::ftruncate(fd.get(), static_cast<off_t>(buffer->size)) != 0) {
        log(std::string("could not make the overlay's picture: ") + std::strerror(errno));
        return;
    }
    buffer->memory = ::mmap(nullptr, buffer->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (buffer->memory == MAP_FAILED) {
        log(std::string("could not map the overlay's picture: ") + std::strerror(errno));
        return;
    }
    std::memcpy(buffer->memory, pixels_.data(), buffer->size);
    wl_shm_pool* pool = wl_shm_create_pool(shm_, fd.get(), static_cast<std::int32_t>(buffer->size));
    buffer->buffer =
        wl_shm_pool_create_buffer(pool, 0, width_, height_, stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    wl_buffer_add_listener(buffer->buffer, &LayerEvents::bufferListener, buffer.get());
    wl_surface_attach(surface_, buffer->buffer, 0, 0);
    wl_surface_damage(surface_, 0, 0, width_, height_);
    wl_surface_commit(surface_);
    // The compositor's release event frees it.
    buffer.release();
    attached_ = true;
    connection_->flush();
}
