#include "desktop/x11/X11Clipboard.h"

#include "platform/Log.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <xcb/xcb.h>

// After Qt: Xlib's macros would break Qt's headers.
#include "desktop/x11/X11Display.h"

#include <X11/Xatom.h>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <set>

namespace {

// Targets that say something about the selection rather than fetch it. Leaving them out of a
// snapshot also keeps TARGETS from being offered twice after a restore.
bool isMetaTarget(const std::string& name) {
    return name == "TARGETS" || name == "MULTIPLE" || name == "TIMESTAMP" || name == "SAVE_TARGETS";
}

xcb_atom_t intern(xcb_connection_t* connection, const char* name) {
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

} // namespace

struct X11Clipboard::Impl : QAbstractNativeEventFilter {
    QClipboard* clipboard = nullptr;
    xcb_connection_t* connection = nullptr;
    uint32_t resourceMask = 0;
    xcb_atom_t clipboardAtom = XCB_ATOM_NONE;
    std::set<xcb_atom_t> metaAtoms;
    QObject context;

    std::uint64_t lastWrite = 0;
    std::uint64_t changes = 0;
    std::uint64_t changesAtWrite = 0;
    // The paste target's X client (its resource id base); 0 lets any reader count.
    uint32_t targetClient = 0;
    std::set<std::uint64_t> fetched;
    std::function<void(std::uint64_t)> onFetched;

    // A connection of our own to ask another owner for its targets with a time limit.
    X11::DisplayHandle probe;

    Impl() {
        auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection()) {
            log("clipboard unavailable: the application does not run on X11");
            return;
        }
        clipboard = QGuiApplication::clipboard();
        connection = x11->connection();
        resourceMask = xcb_get_setup(connection)->resource_id_mask;
        clipboardAtom = intern(connection, "CLIPBOARD");
        for (const char* name : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"}) {
            // MULTIPLE carries real conversions, so a request for it is a fetch.
            if (std::string(name) != "MULTIPLE") {
                metaAtoms.insert(intern(connection, name));
            }
        }
        QObject::connect(clipboard, &QClipboard::changed, &context, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard) {
                ++changes;
            }
        });
        qApp->installNativeEventFilter(this);
    }

    ~Impl() override {
        if (qApp && connection) {
            qApp->removeNativeEventFilter(this);
        }
    }

    bool ownsOurWrite() const {
        return clipboard && clipboard->ownsClipboard() && changes == changesAtWrite;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") {
            return false;
        }
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_SELECTION_REQUEST) {
            return false;
        }
        const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
        if (request->selection != clipboardAtom || metaAtoms.contains(request->target) ||
            !ownsOurWrite()) {
            return false;
        }
        if (targetClient != 0 && (request->requestor & ~resourceMask) != targetClient) {
            return false; // a clipboard history or another reader, not the paste
        }
        // Qt serves the request once this filter returns; tell the paster after that.
        const std::uint64_t write = lastWrite;
        QTimer::singleShot(0, &context, [this, write] {
            if (fetched.insert(write).second && onFetched) {
                onFetched(write);
            }
        });
        return false;
    }

    // Whether the clipboard's owner answers a request for its targets in time.
    bool ownerAnswers() {
        std::string why;
        if (probe && X11::isBroken(probe.get())) {
            probe.reset();
        }
        if (!probe) {
            probe = X11::open(why);
        }
        if (!probe) {
            return false;
        }
        Display* d = probe.get();
        X11::dropPendingEvents(d);
        const Atom selection = XInternAtom(d, "CLIPBOARD", False);
        if (XGetSelectionOwner(d, selection) == None) {
            return true;
        }
        const Atom targets = XInternAtom(d, "TARGETS", False);
        const Atom property = XInternAtom(d, "PARLWICK_PROBE", False);
        XSetWindowAttributes attributes{};
        const Window window = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, InputOnly,
                                            CopyFromParent, 0, &attributes);
        XConvertSelection(d, selection, targets, property, window, CurrentTime);
        XFlush(d);
        bool answered = false;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(ownerAnswerMs);
        while (!answered) {
            while (!answered && XPending(d) > 0) {
                XEvent event;
                XNextEvent(d, &event);
                answered = event.type == SelectionNotify && event.xselection.requestor == window;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (answered || left.count() <= 0) {
                break;
            }
            pollfd fd{ConnectionNumber(d), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()));
        }
        X11::ErrorTrap trap(d);
        XDestroyWindow(d, window);
        trap.sync();
        return answered;
    }
};

X11Clipboard::X11Clipboard() : impl_(std::make_unique<Impl>()) {}

X11Clipboard::~X11Clipboard() = default;

bool X11Clipboard::isAvailable() const {
    return impl_->clipboard != nullptr;
}

std::optional<ClipboardContents> X11Clipboard::snapshot() {
    QClipboard* clipboard = impl_->clipboard;
    if (!clipboard) {
        return std::nullopt;
    }
    // Qt waits seconds for an owner that never answers; find out quickly first.
    if (!clipboard->ownsClipboard() && !impl_->ownerAnswers()) {
        return std::nullopt;
    }
    ClipboardContents contents;
    const QMimeData* data = clipboard->mimeData(QClipboard::Clipboard);
    if (!data) {
        return contents;
    }
    for (const QString& format : data->formats()) {
        const std::string name = format.toStdString();
        if (isMetaTarget(name)) {
            continue;
        }
        const QByteArray bytes = data->data(format);
        contents.formats.emplace_back(name, bytes.toStdString());
    }
    return contents;
}

std::uint64_t X11Clipboard::writeText(const std::string& text, std::uint64_t target) {
    QClipboard* clipboard = impl_->clipboard;
    if (!clipboard) {
        return 0;
    }
    auto data = std::make_unique<QMimeData>();
    data->setText(QString::fromStdString(text));
    data->setData(concealedType, concealedValue);
    impl_->targetClient = static_cast<uint32_t>(target) & ~impl_->resourceMask;
    const std::uint64_t write = ++impl_->lastWrite;
    clipboard->setMimeData(data.release(), QClipboard::Clipboard);
    // Qt reports its own change at once: whatever changes later is somebody else's.
    impl_->changesAtWrite = impl_->changes;
    return write;
}

bool X11Clipboard::holds(std::uint64_t write) const {
    return write == impl_->lastWrite && impl_->ownsOurWrite();
}

bool X11Clipboard::wasFetched(std::uint64_t write) const {
    return impl_->fetched.contains(write);
}

void X11Clipboard::setFetchedHandler(std::function<void(std::uint64_t)> handler) {
    impl_->onFetched = std::move(handler);
}

void X11Clipboard::restore(const ClipboardContents& contents) {
    QClipboard* clipboard = impl_->clipboard;
    if (!clipboard) {
        return;
    }
    if (contents.empty()) {
        clipboard->clear(QClipboard::Clipboard);
        return;
    }
    auto data = std::make_unique<QMimeData>();
    for (const auto& [format, bytes] : contents.formats) {
        data->setData(QString::fromStdString(format),
                      QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }
    clipboard->setMimeData(data.release(), QClipboard::Clipboard);
}
