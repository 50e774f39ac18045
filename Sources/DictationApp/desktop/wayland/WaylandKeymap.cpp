#include "desktop/wayland/WaylandKeymap.h"

#include <xkbcommon/xkbcommon.h>

namespace WaylandKeymap {

namespace {

std::string name(Keysym sym) {
    char buffer[64];
    if (xkb_keysym_get_name(sym, buffer, sizeof buffer) > 0) {
        return buffer;
    }
    // Every keysym has a name; the numeric form is the keymap language's own fallback.
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", sym);
    return hex;
}

} // namespace

std::string text(const std::vector<Keysym>& typing) {
    std::vector<Keysym> keys{XKB_KEY_Control_L, XKB_KEY_Shift_L, XKB_KEY_v};
    keys.insert(keys.end(), typing.begin(), typing.end());
    std::string codes;
    std::string symbols;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string key = "<K" + std::to_string(i + 1) + ">";
        codes += "    " + key + " = " + std::to_string(i + 1 + 8) + ";\n";
        symbols += "    key " + key + " { [ " + name(keys[i]) + " ] };\n";
    }
    return "xkb_keymap {\n"
           "  xkb_keycodes \"parlwick\" {\n    minimum = 8;\n    maximum = 255;\n" +
           codes +
           "  };\n"
           "  xkb_types \"parlwick\" { include \"complete\" };\n"
           "  xkb_compatibility \"parlwick\" { include \"complete\" };\n"
           "  xkb_symbols \"parlwick\" {\n" +
           symbols +
           "    modifier_map Control { <K1> };\n"
           "    modifier_map Shift { <K2> };\n"
           "  };\n"
           "};\n";
}

} // namespace WaylandKeymap
