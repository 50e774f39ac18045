#include "desktop/x11/X11Desktop.h"

#include "desktop/x11/AtspiFocusProbe.h"
#include "desktop/x11/X11Clipboard.h"
#include "desktop/x11/X11KeyListener.h"
#include "desktop/x11/X11KeySynthesizer.h"
#include "desktop/x11/X11WindowProbe.h"

namespace X11Desktop {

Desktop make() {
    Desktop desktop;
    desktop.keys = std::make_unique<X11KeyListener>(*desktop.synthetic);
    desktop.synthesizer = std::make_unique<X11KeySynthesizer>(*desktop.synthetic);
    desktop.windows = std::make_unique<X11WindowProbe>();
    desktop.focus = std::make_unique<AtspiFocusProbe>();
    desktop.clipboard = std::make_unique<X11Clipboard>();
    return desktop;
}

std::unique_ptr<KeyListener> makeKeyListener(SyntheticEvents& synthetic) {
    return std::make_unique<X11KeyListener>(synthetic);
}

std::string missingAccess() {
    SyntheticEvents synthetic;
    if (X11KeyListener keys(synthetic); !keys.isAvailable()) {
        return keys.unavailableReason();
    }
    if (X11KeySynthesizer synthesizer(synthetic); !synthesizer.isAvailable()) {
        return synthesizer.unavailableReason();
    }
    return {};
}

} // namespace X11Desktop
