#include "ui/Motion.h"

namespace {
bool reducedMotion = false;
} // namespace

bool Motion::reduced() {
    return reducedMotion;
}

void Motion::setReduced(bool reduced) {
    reducedMotion = reduced;
}
