#include "desktop/evdev/EvdevKeyListener.h"

#include "Files.h"
#include "desktop/evdev/EvdevDecoder.h"
#include "platform/Log.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <map>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

struct EvdevFree {
    void operator()(libevdev* device) const { libevdev_free(device); }
};
using EvdevHandle = std::unique_ptr<libevdev, EvdevFree>;

bool isEventNode(const std::string& name) {
    return name.starts_with("event");
}

bool hasKey(const libevdev* device, unsigned code) {
    return libevdev_has_event_code(device, EV_KEY, code) != 0;
}

// A keyboard has letters or one of the record keys; power buttons and headsets have neither.
bool isKeyboard(const libevdev* device) {
    for (unsigned code : {KEY_A, KEY_ESC, KEY_RIGHTALT, KEY_RIGHTCTRL, KEY_RIGHTMETA, KEY_FN}) {
        if (hasKey(device, code)) {
            return true;
        }
    }
    return false;
}

} // namespace

struct EvdevKeyListener::Impl {
    struct Device {
        Files::Descriptor fd;
        EvdevHandle evdev;
        EvdevDecoder decoder;
        std::unique_ptr<QSocketNotifier> notifier;

        Device(Files::Descriptor file, EvdevHandle handle)
            : fd(std::move(file)), evdev(std::move(handle)),
              decoder([raw = evdev.get()](unsigned code) {
                  int value = 0;
                  return libevdev_fetch_event_value(raw, EV_KEY, code, &value) != 0 && value != 0;
              }) {}
    };

    struct Opened {
        std::unique_ptr<Device> device;
        // Why the node is of no use, as an errno value; 0 with a device.
        int error = 0;
        bool keyboard = false;
    };

    std::filesystem::path folder;
    std::string why;
    bool available = false;
    std::map<std::string, std::unique_ptr<Device>> devices;
    std::function<void(const KeyEvent&)> sink;
    Files::Descriptor inotify;
    std::unique_ptr<QSocketNotifier> inotifyNotifier;

    explicit Impl(std::filesystem::path inputFolder) : folder(std::move(inputFolder)) { scan(); }

    static Opened open(const std::string& path) {
        Opened opened;
        // Never EVIOCGRAB: the keys must reach the compositor as before. O_NOCTTY: a terminal
        // under an event node's name must not become ours.
        Files::Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (!fd.isOpen()) {
            opened.error = errno;
            return opened;
        }
        struct stat status {};
        if (fstat(fd.get(), &status) != 0 || !S_ISCHR(status.st_mode)) {
            opened.error = ENODEV;
            return opened;
        }
        libevdev* raw = nullptr;
        if (const int rc = libevdev_new_from_fd(fd.get(), &raw); rc < 0) {
            opened.error = -rc;
            return opened;
        }
        EvdevHandle evdev(raw);
        opened.keyboard = isKeyboard(raw);
        if (!opened.keyboard && !hasKey(raw, BTN_LEFT)) {
            opened.error = ENODEV;
            return opened;
        }
        opened.device = std::make_unique<Device>(std::move(fd), std::move(evdev));
        return opened;
    }

    void scan() {
        const std::string prefix = "no readable keyboard in " + folder.string() + " (";
        std::error_code error;
        std::filesystem::directory_iterator entries(folder, error);
        if (error) {
            why = prefix + (error == std::errc::no_such_file_or_directory
                                ? "the folder is missing)"
                                : "the folder cannot be listed)");
            return;
        }
        int nodes = 0;
        int denied = 0;
        int keyboards = 0;
        // Incremented with an error code: a folder that changes while listed must not throw.
        for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
            const std::filesystem::directory_entry& entry = *entries;
            const std::string name = entry.path().filename().string();
            if (!isEventNode(name)) {
                continue;
            }
            ++nodes;
            Opened opened = open(entry.path().string());
            if (opened.error == EACCES || opened.error == EPERM) {
                ++denied;
            }
            if (opened.device) {
                keyboards += opened.keyboard ? 1 : 0;
                devices[entry.path().string()] = std::move(opened.device);
            }
        }
        if (keyboards > 0) {
            available = true;
            return;
        }
        devices.clear();
        if (nodes == 0) {
            why = prefix + "no input devices)";
        } else if (denied > 0) {
            why = prefix + "not in the input group)";
        } else {
            why = prefix + "no device there has keys)";
        }
    }

    void listen(const std::string& path, Device& device) {
        device.notifier = std::make_unique<QSocketNotifier>(device.fd.get(), QSocketNotifier::Read);
        QObject::connect(device.notifier.get(), &QSocketNotifier::activated, device.notifier.get(),
                         [this, path] { read(path); });
    }

    void read(const std::string& path) {
        const auto found = devices.find(path);
        if (found == devices.end()) {
            return;
        }
        Device& device = *found->second;
        input_event event{};
        for (;;) {
            int rc = libevdev_next_event(device.evdev.get(), LIBEVDEV_READ_FLAG_NORMAL, &event);
            if (rc == LIBEVDEV_READ_STATUS_SUCCESS) {
                deliver(device.decoder.feed(event.type, event.code, event.value));
                continue;
            }
            if (rc == LIBEVDEV_READ_STATUS_SYNC) {
                log("evdev listener: input events were dropped, reading the key state again");
                device.decoder.feed(event.type, event.code, event.value);
                // libevdev has read the state already; its delta ends with the report that
                // makes the decoder compare.
                while ((rc = libevdev_next_event(device.evdev.get(), LIBEVDEV_READ_FLAG_SYNC,
                                                 &event)) == LIBEVDEV_READ_STATUS_SYNC) {
                    resynced(device.decoder.feed(event.type, event.code, event.value));
                }
                if (device.decoder.awaitingResync()) {
                    resynced(device.decoder.resync());
                }
                if (rc == -EAGAIN) {
                    continue;
                }
            }
            if (rc == -EAGAIN) {
                return;
            }
            log(rc == -ENODEV ? "evdev listener: a device went away"
                              : "evdev listener: reading a device failed, dropping it");
            drop(path);
            return;
        }
    }

    void resynced(const std::vector<KeyEvent>& events) {
        if (!events.empty()) {
            log("evdev listener: modifier keys changed while events were dropped");
        }
        deliver(events);
    }

    void deliver(const std::vector<KeyEvent>& events) {
        for (const KeyEvent& event : events) {
            if (sink) {
                sink(event);
            }
        }
    }

    void drop(const std::string& path) {
        const auto found = devices.find(path);
        if (found == devices.end()) {
            return;
        }
        // Dropped from inside the notifier's own signal: Qt deletes it once that returns.
        if (QSocketNotifier* notifier = found->second->notifier.release()) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        devices.erase(found);
    }

    void watch() {
        inotify = Files::Descriptor(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!inotify.isOpen() || inotify_add_watch(inotify.get(), folder.c_str(),
                                                   IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO |
                                                       IN_MOVED_FROM) < 0) {
            log("evdev listener: cannot watch " + folder.string() +
                " for new devices; keyboards plugged in later go unheard");
            inotify = Files::Descriptor();
            return;
        }
        inotifyNotifier = std::make_unique<QSocketNotifier>(inotify.get(), QSocketNotifier::Read);
        QObject::connect(inotifyNotifier.get(), &QSocketNotifier::activated, inotifyNotifier.get(),
                         [this] { hotplug(); });
    }

    void hotplug() {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = Files::readSome(inotify.get(), buffer, sizeof buffer);
            if (length <= 0) {
                return;
            }
            for (ssize_t at = 0; at < length;) {
                const auto* change = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + change->len);
                if ((change->mask & IN_Q_OVERFLOW) != 0) {
                    rescan();
                    continue;
                }
                if (change->len == 0 || !isEventNode(change->name)) {
                    continue;
                }
                changed((folder / change->name).string(), change->mask);
            }
        }
    }

    void changed(const std::string& path, std::uint32_t mask) {
        // A node created under a name we still read is a new device: the old one is gone.
        if ((mask & (IN_DELETE | IN_MOVED_FROM | IN_CREATE | IN_MOVED_TO)) != 0) {
            drop(path);
        }
        // udev widens the permissions after the node appears: IN_ATTRIB tries again.
        if ((mask & (IN_DELETE | IN_MOVED_FROM)) == 0) {
            add(path);
        }
    }

    // Nodes that appeared before the watch began, or while its queue overflowed.
    void rescan() {
        std::error_code error;
        std::filesystem::directory_iterator entries(folder, error);
        for (; !error && entries != std::filesystem::directory_iterator();
             entries.increment(error)) {
            if (isEventNode(entries->path().filename().string())) {
                add(entries->path().string());
            }
        }
    }

    void add(const std::string& path) {
        if (devices.contains(path)) {
            return;
        }
        Opened opened = open(path);
        if (!opened.device) {
            return;
        }
        Device& device = *opened.device;
        devices[path] = std::move(opened.device);
        listen(path, device);
        log("evdev listener: reading a new input device");
    }
};

EvdevKeyListener::EvdevKeyListener(std::filesystem::path folder)
    : impl_(std::make_unique<Impl>(std::move(folder))) {}

EvdevKeyListener::~EvdevKeyListener() = default;

bool EvdevKeyListener::isAvailable() const {
    return impl_->available;
}

std::string EvdevKeyListener::unavailableReason() const {
    return impl_->why;
}

std::size_t EvdevKeyListener::deviceCount() const {
    return impl_->devices.size();
}

void EvdevKeyListener::start(std::function<void(const KeyEvent&)> sink) {
    if (!impl_->available || impl_->sink) {
        return;
    }
    impl_->sink = std::move(sink);
    for (auto& [path, device] : impl_->devices) {
        impl_->listen(path, *device);
    }
    impl_->watch();
    impl_->rescan();
    log("evdev listener: reading " + std::to_string(impl_->devices.size()) + " input devices");
}

std::string EvdevKeyListener::accessHelp() {
    return "To hear the record key on any desktop, Parlwick reads the keyboard straight from "
           "/dev/input, which only members of the input group may do. To allow it, run\n"
           "    sudo usermod -aG input $USER\n"
           "and log out and back in, or add a udev rule that gives your user read access to "
           "the keyboards. Be aware: every program you run can then read every key you type, "
           "passwords included.";
}
