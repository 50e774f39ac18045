#include "desktop/wayland/VirtualKeyboard.h"

#include "Files.h"
#include "desktop/TypedKeysyms.h"
#include "desktop/wayland/WaylandConnection.h"
#include "desktop/wayland/WaylandKeymap.h"
#include "platform/Log.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QObject>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <sys/mman.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace {

std::uint32_t milliseconds() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

struct VirtualKeyboard::Impl {
    std::shared_ptr<WaylandConnection> connection;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    std::string why;
    std::set<std::uint32_t> down;
    std::uint32_t modifiers = 0;
    // The keysyms the uploaded keymap types, in keycode order.
    std::vector<WaylandKeymap::Keysym> mapped;
    bool typing = false;
    QObject context;

    explicit Impl(std::shared_ptr<WaylandConnection> c) : connection(std::move(c)) {
        if (!connection) {
            why = "no wayland compositor answers";
            return;
        }
        if (!connection->seat()) {
            why = "the wayland compositor offers no seat";
            return;
        }
        manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            connection->bind(zwp_virtual_keyboard_manager_v1_interface, 1));
        if (!manager) {
            why = "the wayland compositor offers no virtual keyboard";
            return;
        }
        keyboard =
            zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, connection->seat());
        if (!upload({}) || !connection->roundtrip()) {
            why = "the wayland compositor refused a virtual keyboard";
            keyboard = nullptr;
        }
    }

    ~Impl() {
        releaseAll();
        if (keyboard) {
            zwp_virtual_keyboard_v1_destroy(keyboard);
        }
        if (manager) {
            zwp_virtual_keyboard_manager_v1_destroy(manager);
            connection->flush();
        }
    }

    bool upload(const std::vector<WaylandKeymap::Keysym>& typing) {
        const std::string keymap = WaylandKeymap::text(typing);
        const Files::Descriptor fd(
            memfd_create("parlwick-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING));
        if (!fd.isOpen()) {
            log(std::string("could not make a keymap: ") + std::strerror(errno));
            return false;
        }
        // The compositor maps it; the terminating NUL is part of the format.
        const std::string_view bytes(keymap.c_str(), keymap.size() + 1);
        const bool written = Files::writeAll(fd.get(), bytes);
        if (written) {
            zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd.get(),
                                           static_cast<std::uint32_t>(bytes.size()));
        }
        mapped = typing;
        return written && connection->flush();
    }

    void key(std::uint32_t code, bool press) {
        zwp_virtual_keyboard_v1_key(keyboard, milliseconds(), code,
                                    press ? WL_KEYBOARD_KEY_STATE_PRESSED
                                          : WL_KEYBOARD_KEY_STATE_RELEASED);
        if (press) {
            down.insert(code);
        } else {
            down.erase(code);
        }
    }

    void setModifiers(std::uint32_t mask) {
        modifiers = mask;
        zwp_virtual_keyboard_v1_modifiers(keyboard, mask, 0, 0, 0);
    }

    void releaseAll() {
        if (!keyboard || (down.empty() && modifiers == 0)) {
            return;
        }
        for (const std::uint32_t code : std::set(down)) {
            key(code, false);
        }
        setModifiers(0);
        connection->flush();
    }

    SynthesisResult sent(const char* what) {
        if (connection->flush()) {
            return SynthesisResult::ok();
        }
        down.clear();
        modifiers = 0;
        return SynthesisResult::failed(std::string("the wayland connection broke while ") + what);
    }

    SynthesisResult chord(PasteChord chord) {
        if (typing) {
            return SynthesisResult::retry("typing is in progress");
        }
        std::uint32_t mask = WaylandKeymap::controlMask;
        key(WaylandKeymap::controlKey, true);
        if (chord == PasteChord::ctrlShiftV) {
            key(WaylandKeymap::shiftKey, true);
            mask |= WaylandKeymap::shiftMask;
        }
        setModifiers(mask);
        key(WaylandKeymap::vKey, true);
        key(WaylandKeymap::vKey, false);
        if (chord == PasteChord::ctrlShiftV) {
            key(WaylandKeymap::shiftKey, false);
        }
        key(WaylandKeymap::controlKey, false);
        setModifiers(0);
        return sent("sending the paste chord");
    }

    struct Typing {
        std::vector<WaylandKeymap::Keysym> syms;
        std::size_t next = 0;
        std::function<void(SynthesisResult)> done;
    };

    SynthesisResult startTyping(const std::string& text,
                                std::function<void(SynthesisResult)> done) {
        if (typing) {
            return SynthesisResult::retry("typing is in progress");
        }
        auto job = std::make_shared<Typing>();
        job->syms = TypedKeysyms::forText(text);
        job->done = std::move(done);
        typing = true;
        QTimer::singleShot(0, &context, [this, job] { step(job); });
        return SynthesisResult::ok();
    }

    void finish(const std::shared_ptr<Typing>& job, SynthesisResult result) {
        releaseAll();
        typing = false;
        job->done(std::move(result));
    }

    // The keysyms from `next` on that fit one keymap with those already typed by it.
    std::vector<WaylandKeymap::Keysym> nextKeymap(const Typing& job) const {
        std::vector<WaylandKeymap::Keysym> keys;
        for (std::size_t i = job.next;
             i < job.syms.size() && keys.size() < WaylandKeymap::maxTypingKeys; ++i) {
            if (std::find(keys.begin(), keys.end(), job.syms[i]) == keys.end()) {
                keys.push_back(job.syms[i]);
            }
        }
        return keys;
    }

    void step(const std::shared_ptr<Typing>& job) {
        if (job->next >= job->syms.size()) {
            finish(job, SynthesisResult::ok());
            return;
        }
        const auto current = [&] {
            return std::find(mapped.begin(), mapped.end(), job->syms[job->next]);
        };
        if (current() == mapped.end()) {
            if (!upload(nextKeymap(*job))) {
                finish(job, SynthesisResult::failed("the wayland compositor took no keymap"));
                return;
            }
            QTimer::singleShot(keymapSettleMs, Qt::PreciseTimer, &context,
                               [this, job] { step(job); });
            return;
        }
        for (std::size_t n = 0; n < charactersPerTurn && job->next < job->syms.size(); ++n) {
            const auto slot = current();
            if (slot == mapped.end()) {
                break; // the next keymap first
            }
            const auto code =
                WaylandKeymap::firstTypingKey + static_cast<std::uint32_t>(slot - mapped.begin());
            key(code, true);
            key(code, false);
            ++job->next;
        }
        if (const auto result = sent("typing"); !result.isOk()) {
            finish(job, result);
            return;
        }
        QTimer::singleShot(turnMs, Qt::PreciseTimer, &context, [this, job] { step(job); });
    }
};

VirtualKeyboard::VirtualKeyboard(std::shared_ptr<WaylandConnection> connection)
    : impl_(std::make_unique<Impl>(std::move(connection))) {}

VirtualKeyboard::~VirtualKeyboard() = default;

bool VirtualKeyboard::isOffered(const WaylandConnection& connection) {
    return connection.seat() && connection.global(zwp_virtual_keyboard_manager_v1_interface.name);
}

bool VirtualKeyboard::isAvailable() const {
    return impl_->keyboard != nullptr;
}

std::string VirtualKeyboard::unavailableReason() const {
    return impl_->why;
}

SynthesisResult VirtualKeyboard::sendPasteChord(PasteChord chord) {
    if (!impl_->keyboard) {
        return SynthesisResult::failed(impl_->why);
    }
    return impl_->chord(chord);
}

SynthesisResult VirtualKeyboard::type(const std::string& text,
                                      std::function<void(SynthesisResult)> done) {
    if (!impl_->keyboard) {
        return SynthesisResult::failed(impl_->why);
    }
    return impl_->startTyping(text, std::move(done));
}
