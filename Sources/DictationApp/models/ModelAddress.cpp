#include "models/ModelAddress.h"

std::string ModelAddress::base(const Paths& paths) {
    if (const auto& bundle = paths.bundle(); bundle && bundle->modelsAddress) {
        return *bundle->modelsAddress;
    }
    return std::string(publicHost);
}
