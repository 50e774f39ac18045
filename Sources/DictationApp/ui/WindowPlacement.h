#pragma once

#include <QSize>

class QWidget;

// Where the program's own windows go on the screen: inside the area the panels leave free,
// whatever the screen's size and scale, and back in front when the user asks for them.
namespace WindowPlacement {

// What a title bar and borders take, before the window manager has said: the frame the
// window gets once shown is checked again by `keepInside`.
inline constexpr int frameAllowance = 48;

// Sizes `window` to `wanted`, no larger than the free area of the screen it is on (the
// primary one before it is shown) less the frame, and centres it there.
void fit(QWidget& window, QSize wanted);
// Moves and, if need be, shrinks a shown window so that its frame lies inside the free area.
void keepInside(QWidget& window);
// Shows `window`, restored if it was minimised (a maximised one stays so), raised and active.
void bringForward(QWidget& window);

} // namespace WindowPlacement
