#pragma once

#include "HotKey.h"
#include "ui/LiveVoice.h"

#include <string>

// What the windows and the status line show of dictation: the record key, the status text,
// whether dictation is ready, and the live voice.
struct SharedState {
    explicit SharedState(HotKey key) : key(key) {}

    HotKey key;
    std::string status;
    bool isReady = false;
    LiveVoice voice;
};
