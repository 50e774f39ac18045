#pragma once

#include <cstdint>
#include <span>

// A picture shown over every window at the bottom of the screen, never taking the keyboard
// focus or the pointer: the pill where the program's own windows cannot float (Wayland).
class Overlay {
  public:
    virtual ~Overlay() = default;
    // Shows or replaces the picture: `pixels` are premultiplied ARGB, `width` by `height`,
    // row after row, at `scale` device pixels per point; `bottom` points above the bottom.
    virtual void show(std::span<const std::uint32_t> pixels, int width, int height, int scale,
                      int bottom) = 0;
    virtual void hide() = 0;
};
