#pragma once

#include "desktop/Clipboard.h"
#include "desktop/FocusProbe.h"
#include "desktop/KeyListener.h"
#include "desktop/KeySynthesizer.h"
#include "desktop/SyntheticEvents.h"
#include "desktop/WindowProbe.h"

#include <memory>

// The desktop facilities the dictation flow uses, each behind its own interface so another
// backend (or a test's fakes) can stand in. The key listener and the synthesiser share the
// record of keys the program sends itself.
struct Desktop {
    std::unique_ptr<SyntheticEvents> synthetic = std::make_unique<SyntheticEvents>();
    std::unique_ptr<KeyListener> keys;
    std::unique_ptr<KeySynthesizer> synthesizer;
    std::unique_ptr<WindowProbe> windows;
    std::unique_ptr<FocusProbe> focus;
    std::unique_ptr<Clipboard> clipboard;
};
