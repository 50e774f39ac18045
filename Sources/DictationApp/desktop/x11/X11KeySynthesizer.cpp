#include "desktop/x11/X11KeySynthesizer.h"

#include "desktop/TypedKeysyms.h"
#include "platform/Log.h"

#include <QObject>
#include <QTimer>

// After Qt: Xlib's macros would break Qt's headers.
#include "desktop/x11/X11Display.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <optional>
#include <vector>

namespace {

// The keyboard mapping as the core protocol shows it: for each keycode from `first`, `perCode`
// keysyms, the first two groups' two levels leading.
struct Keymap {
    int first = 0;
    int last = 0;
    int perCode = 0;
    X11::XPtr<KeySym> syms;

    KeySym at(int code, int index) const {
        if (code < first || code > last || index >= perCode) {
            return NoSymbol;
        }
        return syms.get()[(code - first) * perCode + index];
    }
    bool isFree(int code) const {
        for (int i = 0; i < perCode; ++i) {
            if (at(code, i) != NoSymbol) {
                return false;
            }
        }
        return true;
    }
};

} // namespace

struct X11KeySynthesizer::Impl {
    SyntheticEvents& synthetic;
    X11::DisplayHandle display;
    std::string why;
    QObject context;
    // A free keycode lent to "v" for layouts without a Latin v, and when it goes back.
    int vSpare = 0;
    QTimer vSpareRelease;
    bool typing = false;
    // The keycodes typing has lent to characters, given back at the end.
    std::vector<int> typingKeys;

    explicit Impl(SyntheticEvents& events) : synthetic(events) {
        display = X11::open(why);
        if (!display) {
            return;
        }
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        if (!XTestQueryExtension(display.get(), &event, &error, &major, &minor)) {
            why = "the X server has no XTEST extension";
            display.reset();
            return;
        }
        major = XkbMajorVersion;
        minor = XkbMinorVersion;
        int opcode = 0;
        if (!XkbQueryExtension(display.get(), &opcode, &event, &error, &major, &minor)) {
            why = "the X server has no XKEYBOARD extension";
            display.reset();
            return;
        }
        vSpareRelease.setSingleShot(true);
        vSpareRelease.setInterval(2000);
        QObject::connect(&vSpareRelease, &QTimer::timeout, &context, [this] { releaseVSpare(); });
    }

    ~Impl() {
        if (display && vSpare) {
            unmap(vSpare, 1);
        }
        for (int key : display ? typingKeys : std::vector<int>{}) {
            unmap(key, 1);
        }
    }

    // The keymap is read fresh for every use, so mapping changes need no handling.
    void dropEvents() { X11::dropPendingEvents(display.get()); }

    Keymap keymap() {
        Keymap map;
        XDisplayKeycodes(display.get(), &map.first, &map.last);
        map.syms.reset(XGetKeyboardMapping(display.get(), static_cast<KeyCode>(map.first),
                                           map.last - map.first + 1, &map.perCode));
        if (!map.syms) {
            map.perCode = 0;
        }
        return map;
    }

    int group() {
        XkbStateRec state{};
        return XkbGetState(display.get(), XkbUseCoreKbd, &state) == Success ? state.group : 0;
    }

    // The keycode that gives `sym` unshifted in the active group, 0 when none does.
    static int keycodeFor(const Keymap& map, KeySym sym, int activeGroup) {
        const int index = activeGroup < 2 ? activeGroup * 2 : 0;
        for (int code = map.first; code <= map.last; ++code) {
            if (map.at(code, index) == sym) {
                return code;
            }
        }
        return 0;
    }

    // Unmapped keycodes, highest first, at most `limit`, leaving out `reserved`.
    static std::vector<int> spares(const Keymap& map, int limit, int reserved) {
        std::vector<int> free;
        for (int code = map.last; code >= map.first && static_cast<int>(free.size()) < limit;
             --code) {
            if (code != reserved && map.isFree(code)) {
                free.push_back(code);
            }
        }
        return free;
    }

    // The user's modifier still down, by keysym name; nothing when none is. Locks don't count.
    std::optional<std::string> heldModifier() {
        char keys[32] = {};
        XQueryKeymap(display.get(), keys);
        XModifierKeymap* raw = XGetModifierMapping(display.get());
        if (!raw) {
            return std::nullopt;
        }
        const int perModifier = raw->max_keypermod;
        std::optional<std::string> held;
        for (int modifier = 0; modifier < 8 && !held; ++modifier) {
            if (modifier == LockMapIndex) {
                continue;
            }
            for (int i = 0; i < perModifier; ++i) {
                const KeyCode code = raw->modifiermap[modifier * perModifier + i];
                if (code == 0 || !(keys[code / 8] & (1 << (code % 8)))) {
                    continue;
                }
                const KeySym sym = XkbKeycodeToKeysym(display.get(), code, 0, 0);
                if (sym == XK_Num_Lock || sym == XK_Caps_Lock || sym == XK_Shift_Lock ||
                    sym == XK_Scroll_Lock) {
                    continue;
                }
                const char* name = XKeysymToString(sym);
                held = name ? name : "keycode " + std::to_string(code);
                break;
            }
        }
        XFreeModifiermap(raw);
        return held;
    }

    // Two levels per keycode from `first` on.
    bool setLevels(int first, std::vector<KeySym> levels) {
        X11::ErrorTrap trap(display.get());
        XChangeKeyboardMapping(display.get(), first, 2, levels.data(),
                               static_cast<int>(levels.size() / 2));
        return trap.sync() == 0;
    }

    // Both levels alike, so Shift or Caps Lock cannot change the character.
    bool map(int first, const std::vector<KeySym>& syms) {
        std::vector<KeySym> levels;
        for (KeySym sym : syms) {
            levels.insert(levels.end(), {sym, sym});
        }
        return setLevels(first, std::move(levels));
    }

    void unmap(int first, int count) { map(first, std::vector<KeySym>(count, NoSymbol)); }

    void releaseVSpare() {
        if (vSpare) {
            unmap(vSpare, 1);
            vSpare = 0;
        }
    }

    // Presses and releases, each written down first; the X error, if any.
    int send(const std::vector<std::pair<int, bool>>& events) {
        X11::ErrorTrap trap(display.get());
        for (const auto& [code, press] : events) {
            synthetic.expect(static_cast<unsigned>(code), press);
            XTestFakeKeyEvent(display.get(), static_cast<unsigned>(code), press ? True : False,
                              CurrentTime);
        }
        return trap.sync();
    }

    SynthesisResult chord(PasteChord chord) {
        dropEvents();
        if (typing) {
            return SynthesisResult::retry("typing is in progress");
        }
        if (const auto held = heldModifier()) {
            return SynthesisResult::retry("a modifier is still held (" + *held + ")");
        }
        const Keymap layout = keymap();
        const int activeGroup = group();
        int control = keycodeFor(layout, XK_Control_L, activeGroup);
        control = control ? control : keycodeFor(layout, XK_Control_R, activeGroup);
        int shift = keycodeFor(layout, XK_Shift_L, activeGroup);
        shift = shift ? shift : keycodeFor(layout, XK_Shift_R, activeGroup);
        if (!control || (chord == PasteChord::ctrlShiftV && !shift)) {
            return SynthesisResult::failed("the keymap has no Ctrl or Shift key");
        }
        int v = keycodeFor(layout, XK_v, activeGroup);
        if (!v && vSpare && layout.at(vSpare, 0) == XK_v) {
            v = vSpare;
        }
        if (!v) {
            // A layout without a Latin v: lend a free keycode to it, and give the programs a
            // moment to read the new keymap before it is used.
            const auto free = spares(layout, 1, 0);
            if (free.empty()) {
                return SynthesisResult::failed("no free keycode for v");
            }
            if (!setLevels(free.front(), {XK_v, XK_V})) {
                return SynthesisResult::failed("mapping a keycode for v was refused");
            }
            vSpare = free.front();
            vSpareRelease.start();
            return SynthesisResult::retry("a keycode was just mapped for v");
        }
        if (v == vSpare) {
            vSpareRelease.start();
        }
        std::vector<std::pair<int, bool>> events{{control, true}};
        if (chord == PasteChord::ctrlShiftV) {
            events.emplace_back(shift, true);
        }
        events.insert(events.end(), {{v, true}, {v, false}});
        if (chord == PasteChord::ctrlShiftV) {
            events.emplace_back(shift, false);
        }
        events.emplace_back(control, false);
        if (const int error = send(events)) {
            return SynthesisResult::failed("the X server refused a key: " +
                                           X11::errorText(display.get(), error));
        }
        return SynthesisResult::ok();
    }

    struct Typing {
        std::vector<KeySym> syms;
        std::size_t next = 0;
        // The borrowed keycodes, what each types now and when it was last pressed.
        std::vector<int> keys;
        std::vector<KeySym> meaning;
        std::vector<std::uint64_t> lastUse;
        std::uint64_t presses = 0;
        std::function<void(SynthesisResult)> done;
    };

    SynthesisResult startTyping(const std::string& text,
                                std::function<void(SynthesisResult)> done) {
        dropEvents();
        if (typing) {
            return SynthesisResult::retry("typing is in progress");
        }
        if (const auto held = heldModifier()) {
            return SynthesisResult::retry("a modifier is still held (" + *held + ")");
        }
        auto job = std::make_shared<Typing>();
        for (const std::uint32_t sym : TypedKeysyms::forText(text)) {
            job->syms.push_back(sym);
        }
        job->keys = spares(keymap(), maxKeys, vSpare);
        job->meaning.assign(job->keys.size(), NoSymbol);
        job->lastUse.assign(job->keys.size(), 0);
        job->done = std::move(done);
        if (job->keys.empty()) {
            return SynthesisResult::failed("no free keycode to type with");
        }
        typing = true;
        typingKeys = job->keys;
        QTimer::singleShot(0, &context, [this, job] { typeStep(job); });
        return SynthesisResult::ok();
    }

    void finishTyping(const std::shared_ptr<Typing>& job, SynthesisResult result) {
        for (int key : job->keys) {
            unmap(key, 1);
        }
        typingKeys.clear();
        typing = false;
        job->done(std::move(result));
    }

    // Types the next characters up to the second one that needs a keymap change, then
    // pauses. A change takes the keycode used longest ago, so a program that reads the
    // keymap late still finds the recent keys meaning what they meant when pressed.
    void typeStep(const std::shared_ptr<Typing>& job) {
        dropEvents();
        if (job->next >= job->syms.size()) {
            QTimer::singleShot(releaseMs, &context,
                               [this, job] { finishTyping(job, SynthesisResult::ok()); });
            return;
        }
        bool remapped = false;
        int error = 0;
        for (; job->next < job->syms.size() && !error; ++job->next) {
            const KeySym sym = job->syms[job->next];
            auto slot = std::find(job->meaning.begin(), job->meaning.end(), sym);
            if (slot == job->meaning.end()) {
                if (remapped) {
                    break;
                }
                const auto oldest = std::min_element(job->lastUse.begin(), job->lastUse.end());
                slot = job->meaning.begin() + (oldest - job->lastUse.begin());
                const auto index = static_cast<std::size_t>(slot - job->meaning.begin());
                if (!map(job->keys[index], {sym})) {
                    error = BadValue;
                    break;
                }
                *slot = sym;
                remapped = true;
            }
            const auto index = static_cast<std::size_t>(slot - job->meaning.begin());
            job->lastUse[index] = ++job->presses;
            error = send({{job->keys[index], true}, {job->keys[index], false}});
        }
        if (error) {
            finishTyping(job, SynthesisResult::failed("the X server refused a key: " +
                                                      X11::errorText(display.get(), error)));
            return;
        }
        QTimer::singleShot(settleMs, Qt::PreciseTimer, &context, [this, job] { typeStep(job); });
    }
};

X11KeySynthesizer::X11KeySynthesizer(SyntheticEvents& synthetic)
    : impl_(std::make_unique<Impl>(synthetic)) {}

X11KeySynthesizer::~X11KeySynthesizer() = default;

bool X11KeySynthesizer::isAvailable() const {
    return impl_->display != nullptr;
}

std::string X11KeySynthesizer::unavailableReason() const {
    return impl_->why;
}

SynthesisResult X11KeySynthesizer::sendPasteChord(PasteChord chord) {
    if (!impl_->display) {
        return SynthesisResult::failed(impl_->why);
    }
    return impl_->chord(chord);
}

SynthesisResult X11KeySynthesizer::type(const std::string& text,
                                        std::function<void(SynthesisResult)> done) {
    if (!impl_->display) {
        return SynthesisResult::failed(impl_->why);
    }
    return impl_->startTyping(text, std::move(done));
}
