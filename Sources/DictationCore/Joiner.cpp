#include "Joiner.h"

std::string Joiner::join(std::string_view text, std::string_view app, Timestamp at) {
    const bool continues = lastApp && *lastApp == app && at - lastDate < maxGap;
    lastApp = std::string(app);
    lastDate = at;
    std::string joined = continues ? " " : "";
    joined += text;
    return joined;
}
