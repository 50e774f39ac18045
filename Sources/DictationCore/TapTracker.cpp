#include "TapTracker.h"

bool TapTracker::tap(double at) {
    if (!lastTap || at - *lastTap > maxGap) {
        lastTap = at;
        return false;
    }
    lastTap.reset();
    return true;
}
