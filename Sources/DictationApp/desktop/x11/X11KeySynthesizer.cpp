#include "desktop/x11/X11KeySynthesizer.h"

#include "desktop/TypedKeysyms.h"
#include "platform/Log.h"

#include <QObject>
#include <QTimer>

// After Qt: Xlib's macros would break Qt's headers.
#include "desktop/x11/X11Display.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
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
    long pings = 0;

    explicit Impl(SyntheticEvents& events) : synthetic(events) {
        connect();
        vSpareRelease.setSingleShot(true);
        vSpareRelease.setInterval(2000);
        QObject::connect(&vSpareRelease, &QTimer::timeout, &context, [this] { releaseVSpare(); });
    }

    void connect() {
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
        }
    }

    // False while there is no connection; one the server dropped is replaced first. Keycodes
    // lent on it went with it: the server drops a client's requests, not its keymap changes,
    // so they stay mapped, harmlessly, on keys nobody has.
    bool connected() {
        if (display && X11::isBroken(display.get()) && !typing) {
            display.reset();
            vSpare = 0;
            typingKeys.clear();
            vSpareRelease.stop();
            connect();
            if (display) {
                log("x11 key synthesizer connected again");
            }
        }
        if (display && X11::isBroken(display.get())) {
            why = "the X connection was lost";
            return false;
        }
        return display != nullptr;
    }

    ~Impl() {
        if (display && vSpare) {
            unmap(vSpare, 1);
        }
        for (int key : display ? typingKeys : std::vector<int>{}) {
            unmap(key, 1);
        }
    }

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
        readEvents();
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

    // One character's key: a keycode of the layout (perhaps with Shift) or a lent one.
    struct Stroke {
        int code = 0;
        bool shift = false;
    };

    struct Typing {
        std::vector<KeySym> syms;
        // The layout's own key for each character; code 0 where a lent keycode types it.
        std::vector<Stroke> own;
        std::size_t next = 0;
        int shift = 0;
        // The lent keycodes, what each types now, and whether it was pressed since the
        // focused window last answered a ping.
        std::vector<int> keys;
        std::vector<KeySym> meaning;
        std::vector<bool> pressed;
        Window target = 0;
        std::function<void(SynthesisResult)> done;
    };

    Atom atom(const char* name) { return XInternAtom(display.get(), name, False); }

    // The focused window's top level when it answers pings (as GTK and Qt windows do); 0 when
    // nothing focused does.
    Window pingTarget() {
        X11::ErrorTrap trap(display.get());
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display.get(), &focus, &revert);
        const Atom ping = atom("_NET_WM_PING");
        const Window root = DefaultRootWindow(display.get());
        for (Window window = focus; window > PointerRoot && window != root;) {
            Atom* protocols = nullptr;
            int count = 0;
            if (XGetWMProtocols(display.get(), window, &protocols, &count)) {
                X11::XPtr<Atom> owned(protocols);
                if (std::find(protocols, protocols + count, ping) != protocols + count) {
                    return trap.sync() == 0 ? window : 0;
                }
            }
            Window parent = 0;
            Window top = 0;
            Window* children = nullptr;
            unsigned childCount = 0;
            if (!XQueryTree(display.get(), window, &top, &parent, &children, &childCount)) {
                break;
            }
            X11::XPtr<Window> owned(children);
            window = parent;
        }
        return 0;
    }

    // Reads this connection's events, which nobody else does: every client gets a
    // MappingNotify per keymap change. True when the answer to ping `token` was among them.
    bool readEvents(long token = 0) {
        const Atom protocols = atom("WM_PROTOCOLS");
        bool answered = false;
        while (XPending(display.get()) > 0) {
            XEvent event;
            XNextEvent(display.get(), &event);
            if (token && event.type == ClientMessage && event.xclient.message_type == protocols &&
                event.xclient.data.l[1] == token) {
                answered = true;
            }
        }
        return answered;
    }

    // Calls `then` once every key sent so far has been read by the focused window: a window
    // answers a ping only after the events before it.
    void barrier(const std::shared_ptr<Typing>& job, std::function<void()> then) {
        if (!job->target) {
            QTimer::singleShot(unansweredWaitMs, &context, std::move(then));
            return;
        }
        const Window root = DefaultRootWindow(display.get());
        const long token = ++pings;
        {
            X11::ErrorTrap trap(display.get());
            // GTK sends the answer to the root's substructure listeners, Qt to its structure's.
            XSelectInput(display.get(), root, SubstructureNotifyMask | StructureNotifyMask);
            XEvent ping{};
            ping.xclient.type = ClientMessage;
            ping.xclient.window = job->target;
            ping.xclient.message_type = atom("WM_PROTOCOLS");
            ping.xclient.format = 32;
            ping.xclient.data.l[0] = static_cast<long>(atom("_NET_WM_PING"));
            ping.xclient.data.l[1] = token;
            ping.xclient.data.l[2] = static_cast<long>(job->target);
            XSendEvent(display.get(), job->target, False, NoEventMask, &ping);
            if (trap.sync() != 0) {
                XSelectInput(display.get(), root, NoEventMask);
                job->target = 0; // the window is gone
                QTimer::singleShot(unansweredWaitMs, &context, std::move(then));
                return;
            }
        }
        awaitPong(job, token, 0, std::move(then));
    }

    void awaitPong(const std::shared_ptr<Typing>& job, long token, int waited,
                   std::function<void()> then) {
        const bool answered = readEvents(token);
        if (!answered && waited < pingLimitMs && !X11::isBroken(display.get())) {
            QTimer::singleShot(2, Qt::PreciseTimer, &context,
                               [this, job, token, waited, then = std::move(then)]() mutable {
                                   awaitPong(job, token, waited + 2, std::move(then));
                               });
            return;
        }
        XSelectInput(display.get(), DefaultRootWindow(display.get()), NoEventMask);
        if (!answered) {
            log("the focused window did not answer a ping, typing on");
        }
        then();
    }

    SynthesisResult startTyping(const std::string& text,
                                std::function<void(SynthesisResult)> done) {
        readEvents();
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
        const Keymap layout = keymap();
        XkbStateRec state{};
        XkbGetState(display.get(), XkbUseCoreKbd, &state);
        const bool capsLock = (state.mods & LockMask) != 0;
        job->shift = keycodeFor(layout, XK_Shift_L, state.group);
        job->shift = job->shift ? job->shift : keycodeFor(layout, XK_Shift_R, state.group);
        for (const KeySym sym : job->syms) {
            job->own.push_back(ownStroke(layout, sym, state.group, capsLock, job->shift));
        }
        job->keys = spares(layout, maxKeys, vSpare);
        job->meaning.assign(job->keys.size(), NoSymbol);
        job->pressed.assign(job->keys.size(), false);
        job->target = pingTarget();
        job->done = std::move(done);
        const bool needsLent = std::any_of(job->own.begin(), job->own.end(),
                                           [](const Stroke& stroke) { return stroke.code == 0; });
        if (needsLent && job->keys.empty()) {
            return SynthesisResult::failed("no free keycode to type with");
        }
        typing = true;
        typingKeys = job->keys;
        QTimer::singleShot(0, &context, [this, job] { typeStep(job); });
        return SynthesisResult::ok();
    }

    // The layout's own key for `sym` in the active group, unshifted or with Shift; none when
    // Caps Lock would turn a letter's case.
    static Stroke ownStroke(const Keymap& layout, KeySym sym, int activeGroup, bool capsLock,
                            int shift) {
        KeySym lower = 0;
        KeySym upper = 0;
        XConvertCase(sym, &lower, &upper);
        // The core keymap shows only the first two groups.
        if ((capsLock && lower != upper) || activeGroup >= 2) {
            return {};
        }
        const int index = activeGroup * 2;
        for (int code = layout.first; code <= layout.last; ++code) {
            if (layout.at(code, index) == sym) {
                return {code, false};
            }
        }
        for (int code = layout.first; shift && code <= layout.last; ++code) {
            if (layout.at(code, index + 1) == sym && layout.at(code, index) != NoSymbol) {
                return {code, true};
            }
        }
        return {};
    }

    void finishTyping(const std::shared_ptr<Typing>& job, SynthesisResult result) {
        for (int key : job->keys) {
            unmap(key, 1);
        }
        typingKeys.clear();
        typing = false;
        job->done(std::move(result));
    }

    // The lent keycode to map `sym` onto: one not pressed since the last ping, the one whose
    // character comes back last; -1 when every one was pressed since.
    int slotFor(const Typing& job) const {
        int best = -1;
        std::size_t bestNextUse = 0;
        for (std::size_t slot = 0; slot < job.keys.size(); ++slot) {
            if (job.pressed[slot]) {
                continue;
            }
            std::size_t nextUse = job.next + 1;
            while (nextUse < job.syms.size() && job.syms[nextUse] != job.meaning[slot]) {
                ++nextUse;
            }
            if (best < 0 || nextUse > bestNextUse) {
                best = static_cast<int>(slot);
                bestNextUse = nextUse;
            }
        }
        return best;
    }

    // Sends up to `chunk` characters. A character without a key of the layout goes to a lent
    // keycode mapped for it; when every lent keycode was pressed since the last ping, typing
    // waits for the focused window to answer a new one.
    void typeStep(const std::shared_ptr<Typing>& job) {
        readEvents();
        if (job->next >= job->syms.size()) {
            barrier(job, [this, job] { finishTyping(job, SynthesisResult::ok()); });
            return;
        }
        std::vector<std::pair<int, bool>> events;
        bool blocked = false;
        std::string refused;
        for (int sent = 0; sent < chunk && job->next < job->syms.size(); ++sent, ++job->next) {
            Stroke stroke = job->own[job->next];
            if (!stroke.code) {
                const KeySym sym = job->syms[job->next];
                auto slot =
                    static_cast<int>(std::find(job->meaning.begin(), job->meaning.end(), sym) -
                                     job->meaning.begin());
                if (slot == static_cast<int>(job->meaning.size())) {
                    slot = slotFor(*job);
                    if (slot < 0) {
                        blocked = true;
                        break;
                    }
                    // The keys so far go first: the new mapping must not reach them.
                    if (const int error = send(events)) {
                        refused = X11::errorText(display.get(), error);
                        break;
                    }
                    events.clear();
                    if (!map(job->keys[slot], {sym})) {
                        refused = "mapping a keycode was refused";
                        break;
                    }
                    job->meaning[slot] = sym;
                }
                job->pressed[slot] = true;
                stroke.code = job->keys[slot];
            }
            if (stroke.shift) {
                events.emplace_back(job->shift, true);
            }
            events.insert(events.end(), {{stroke.code, true}, {stroke.code, false}});
            if (stroke.shift) {
                events.emplace_back(job->shift, false);
            }
        }
        if (refused.empty()) {
            if (const int error = send(events)) {
                refused = X11::errorText(display.get(), error);
            }
        }
        if (X11::isBroken(display.get())) {
            finishTyping(job, SynthesisResult::failed("the X connection was lost"));
            return;
        }
        if (!refused.empty()) {
            finishTyping(job, SynthesisResult::failed("the X server refused a key: " + refused));
            return;
        }
        if (blocked) {
            barrier(job, [this, job] {
                job->pressed.assign(job->pressed.size(), false);
                typeStep(job);
            });
            return;
        }
        QTimer::singleShot(0, &context, [this, job] { typeStep(job); });
    }
};

X11KeySynthesizer::X11KeySynthesizer(SyntheticEvents& synthetic)
    : impl_(std::make_unique<Impl>(synthetic)) {}

X11KeySynthesizer::~X11KeySynthesizer() = default;

bool X11KeySynthesizer::isAvailable() const {
    return impl_->connected();
}

std::string X11KeySynthesizer::unavailableReason() const {
    return impl_->why;
}

SynthesisResult X11KeySynthesizer::sendPasteChord(PasteChord chord) {
    if (!impl_->connected()) {
        return SynthesisResult::failed(impl_->why);
    }
    return impl_->chord(chord);
}

SynthesisResult X11KeySynthesizer::type(const std::string& text,
                                        std::function<void(SynthesisResult)> done) {
    if (!impl_->connected()) {
        return SynthesisResult::failed(impl_->why);
    }
    return impl_->startTyping(text, std::move(done));
}
