#pragma once

#include "dictation/RecordKeyMonitor.h"

#include <string>
#include <vector>

// Stands in for the controller: writes down every call the record key makes.
struct RecordKeyCalls : RecordKeyTarget {
    std::vector<std::string> made;
    bool handsFree = false;

    void keyDown() override { made.push_back("down"); }
    void keyUp() override { made.push_back("up"); }
    void cancel() override { made.push_back("cancel"); }
    void toggle() override { made.push_back("toggle"); }
    void userActed() override { made.push_back("acted"); }
    bool isHandsFree() const override { return handsFree; }
};
