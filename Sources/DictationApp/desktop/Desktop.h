#pragma once

#include "desktop/Clipboard.h"
#include "desktop/FocusProbe.h"
#include "desktop/KeyListener.h"
#include "desktop/KeySynthesizer.h"
#include "desktop/Overlay.h"
#include "desktop/SyntheticEvents.h"
#include "desktop/WindowProbe.h"

#include <functional>
#include <memory>
#include <string>

// The desktop facilities the dictation flow uses, each behind its own interface so another
// backend (or a test's fakes) can stand in. The key listener and the synthesiser share the
// record of keys the program sends itself.
struct Desktop {
    std::unique_ptr<SyntheticEvents> synthetic = std::make_unique<SyntheticEvents>();
    std::unique_ptr<KeyListener> keys;
    std::unique_ptr<KeySynthesizer> synthesizer;
    // Before the windows, which may ask it (members go in reverse order).
    std::unique_ptr<FocusProbe> focus;
    std::unique_ptr<WindowProbe> windows;
    std::unique_ptr<Clipboard> clipboard;
    // Where the pill shows when the program's own windows cannot float (Wayland without
    // Xwayland); none elsewhere.
    std::unique_ptr<Overlay> overlay;
    // For setup: how the record key is heard where that is not simply the key itself (a
    // desktop shortcut, a compositor binding); empty otherwise. Main thread only.
    std::function<std::string()> recordKeyNote = [] { return std::string(); };
};
