#include "desktop/wayland/DataControlClipboard.h"

#include "Files.h"
#include "desktop/wayland/WaylandConnection.h"
#include "ext-data-control-v1-client-protocol.h"
#include "platform/Log.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QObject>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <set>
#include <unistd.h>

namespace {

// The two protocols differ only in their names.
struct Ext {
    using Manager = ext_data_control_manager_v1;
    using Device = ext_data_control_device_v1;
    using Source = ext_data_control_source_v1;
    using Offer = ext_data_control_offer_v1;
    using DeviceListener = ext_data_control_device_v1_listener;
    using SourceListener = ext_data_control_source_v1_listener;
    using OfferListener = ext_data_control_offer_v1_listener;
    static constexpr const wl_interface& manager = ext_data_control_manager_v1_interface;
    static constexpr std::uint32_t version = 1;
    static constexpr auto getDevice = &ext_data_control_manager_v1_get_data_device;
    static constexpr auto createSource = &ext_data_control_manager_v1_create_data_source;
    static constexpr auto destroyManager = &ext_data_control_manager_v1_destroy;
    static constexpr auto setSelection = &ext_data_control_device_v1_set_selection;
    static constexpr auto destroyDevice = &ext_data_control_device_v1_destroy;
    static constexpr auto addDeviceListener = &ext_data_control_device_v1_add_listener;
    static constexpr auto offer = &ext_data_control_source_v1_offer;
    static constexpr auto destroySource = &ext_data_control_source_v1_destroy;
    static constexpr auto addSourceListener = &ext_data_control_source_v1_add_listener;
    static constexpr auto receive = &ext_data_control_offer_v1_receive;
    static constexpr auto destroyOffer = &ext_data_control_offer_v1_destroy;
    static constexpr auto addOfferListener = &ext_data_control_offer_v1_add_listener;
};

struct Wlr {
    using Manager = zwlr_data_control_manager_v1;
    using Device = zwlr_data_control_device_v1;
    using Source = zwlr_data_control_source_v1;
    using Offer = zwlr_data_control_offer_v1;
    using DeviceListener = zwlr_data_control_device_v1_listener;
    using SourceListener = zwlr_data_control_source_v1_listener;
    using OfferListener = zwlr_data_control_offer_v1_listener;
    static constexpr const wl_interface& manager = zwlr_data_control_manager_v1_interface;
    static constexpr std::uint32_t version = 2;
    static constexpr auto getDevice = &zwlr_data_control_manager_v1_get_data_device;
    static constexpr auto createSource = &zwlr_data_control_manager_v1_create_data_source;
    static constexpr auto destroyManager = &zwlr_data_control_manager_v1_destroy;
    static constexpr auto setSelection = &zwlr_data_control_device_v1_set_selection;
    static constexpr auto destroyDevice = &zwlr_data_control_device_v1_destroy;
    static constexpr auto addDeviceListener = &zwlr_data_control_device_v1_add_listener;
    static constexpr auto offer = &zwlr_data_control_source_v1_offer;
    static constexpr auto destroySource = &zwlr_data_control_source_v1_destroy;
    static constexpr auto addSourceListener = &zwlr_data_control_source_v1_add_listener;
    static constexpr auto receive = &zwlr_data_control_offer_v1_receive;
    static constexpr auto destroyOffer = &zwlr_data_control_offer_v1_destroy;
    static constexpr auto addOfferListener = &zwlr_data_control_offer_v1_add_listener;
};

// What a paste reads: the types programs ask for text by, on Wayland and through Xwayland.
const char* const textTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING",
                                 "TEXT"};

bool isTextType(const std::string& type) {
    for (const char* text : textTypes) {
        if (type == text) {
            return true;
        }
    }
    return false;
}

// Writes all of `bytes` to a reader that may be slow, giving up after a while so a reader
// that never reads cannot hold the main thread.
void serve(Files::Descriptor fd, const std::string& bytes) {
    // The compositor hands over a blocking pipe: without this a reader that never reads would
    // block the write past any deadline.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    // A full pipe waits for room until the deadline.
    Files::writeAll(fd.get(), bytes, [&](int out, const void* data, std::size_t size) {
        for (;;) {
            const ssize_t n = ::write(out, data, size);
            pollfd room{out, POLLOUT, 0};
            if (n >= 0 || errno != EAGAIN || Files::pollUntil(&room, 1, deadline) <= 0) {
                return n;
            }
        }
    });
}

template <class P> class Control final : public DataControlClipboard {
  public:
    Control(std::shared_ptr<WaylandConnection> connection, typename P::Manager* manager)
        : connection_(std::move(connection)), manager_(manager) {
        device_ = P::getDevice(manager_, connection_->seat());
        P::addDeviceListener(device_, &deviceListener, this);
        // The current selection arrives now.
        connection_->roundtrip();
    }

    ~Control() override {
        for (auto& [source, served] : sources_) {
            P::destroySource(source);
        }
        for (auto& [offer, types] : offers_) {
            P::destroyOffer(offer);
        }
        if (device_) {
            P::destroyDevice(device_);
        }
        P::destroyManager(manager_);
        connection_->flush();
    }

    bool isAvailable() const override { return device_ != nullptr; }

    std::optional<ClipboardContents> snapshot() override {
        if (!device_ || !connection_->roundtrip()) {
            return std::nullopt;
        }
        if (ours_) {
            return sources_.at(ours_).contents;
        }
        ClipboardContents contents;
        if (!selection_) {
            return contents;
        }
        const auto started = std::chrono::steady_clock::now();
        for (const std::string& type : offers_.at(selection_)) {
            const int budget = contents.formats.empty() ? ownerAnswerMs : snapshotMs;
            auto bytes = read(selection_, type, started + std::chrono::milliseconds(budget));
            if (!bytes) {
                return std::nullopt;
            }
            contents.formats.emplace_back(type, std::move(*bytes));
        }
        return contents;
    }

    std::uint64_t writeText(const std::string& text, std::uint64_t) override {
        if (!device_) {
            return 0;
        }
        ClipboardContents contents;
        for (const char* type : textTypes) {
            contents.formats.emplace_back(type, text);
        }
        contents.formats.emplace_back(concealedType, concealedValue);
        const std::uint64_t write = ++lastWrite_;
        set(contents, write);
        return write;
    }

    bool holds(std::uint64_t write) const override {
        return ours_ && write != 0 && sources_.at(ours_).write == write;
    }

    bool wasFetched(std::uint64_t write) const override { return fetched_.contains(write); }

    void setFetchedHandler(std::function<void(std::uint64_t)> handler) override {
        onFetched_ = std::move(handler);
    }

    void restore(const ClipboardContents& contents) override {
        if (!device_) {
            return;
        }
        if (contents.empty()) {
            P::setSelection(device_, nullptr);
            ours_ = nullptr;
            connection_->flush();
            return;
        }
        set(contents, 0);
    }

  private:
    struct Served {
        ClipboardContents contents;
        std::uint64_t write = 0;
    };

    void set(const ClipboardContents& contents, std::uint64_t write) {
        auto* source = P::createSource(manager_);
        P::addSourceListener(source, &sourceListener, this);
        for (const auto& [type, bytes] : contents.formats) {
            P::offer(source, type.c_str());
        }
        sources_[source] = {contents, write};
        P::setSelection(device_, source);
        ours_ = source;
        connection_->flush();
    }

    std::optional<std::string> read(typename P::Offer* offer, const std::string& type,
                                    std::chrono::steady_clock::time_point deadline) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return std::nullopt;
        }
        const Files::Descriptor in(ends[0]);
        {
            // Ours closed once the compositor has its copy, so the owner's close ends the read.
            const Files::Descriptor out(ends[1]);
            P::receive(offer, type.c_str(), out.get());
            if (!connection_->flush()) {
                return std::nullopt;
            }
        }
        std::string bytes;
        char buffer[65536];
        for (;;) {
            pollfd ready{in.get(), POLLIN, 0};
            if (Files::pollUntil(&ready, 1, deadline) <= 0) {
                log("clipboard owner did not answer in time");
                return std::nullopt;
            }
            const ssize_t n = Files::readSome(in.get(), buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }

    // MARK: events

    static void dataOffer(void* data, typename P::Device*, typename P::Offer* offer) {
        auto* self = static_cast<Control*>(data);
        self->offers_[offer];
        P::addOfferListener(offer, &offerListener, self);
    }

    static void selection(void* data, typename P::Device*, typename P::Offer* offer) {
        auto* self = static_cast<Control*>(data);
        if (self->selection_ && self->selection_ != offer) {
            self->dropOffer(self->selection_);
        }
        self->selection_ = offer;
        // Our own source is announced back to us as an offer too; only a source of another
        // program ends our ownership, and that one comes with `cancelled`.
    }

    static void primarySelection(void* data, typename P::Device*, typename P::Offer* offer) {
        auto* self = static_cast<Control*>(data);
        if (offer && offer != self->selection_) {
            self->dropOffer(offer);
        }
    }

    static void finished(void* data, typename P::Device*) {
        auto* self = static_cast<Control*>(data);
        log("clipboard unavailable: the compositor ended data control");
        P::destroyDevice(self->device_);
        self->device_ = nullptr;
    }

    static void offerType(void* data, typename P::Offer* offer, const char* type) {
        auto* self = static_cast<Control*>(data);
        self->offers_[offer].emplace_back(type);
    }

    static void send(void* data, typename P::Source* source, const char* type, int fd) {
        auto* self = static_cast<Control*>(data);
        Files::Descriptor reader(fd);
        const auto found = self->sources_.find(source);
        if (found == self->sources_.end()) {
            return;
        }
        const Served& served = found->second;
        for (const auto& [offered, bytes] : served.contents.formats) {
            if (offered == type) {
                serve(std::move(reader), bytes);
                break;
            }
        }
        const std::uint64_t write = served.write;
        if (write != 0 && isTextType(type) && self->fetched_.insert(write).second) {
            QTimer::singleShot(0, &self->context_, [self, write] {
                if (self->onFetched_) {
                    self->onFetched_(write);
                }
            });
        }
    }

    static void cancelled(void* data, typename P::Source* source) {
        auto* self = static_cast<Control*>(data);
        if (self->ours_ == source) {
            self->ours_ = nullptr;
        }
        self->sources_.erase(source);
        P::destroySource(source);
    }

    void dropOffer(typename P::Offer* offer) {
        offers_.erase(offer);
        P::destroyOffer(offer);
    }

    static constexpr typename P::DeviceListener deviceListener{&dataOffer, &selection, &finished,
                                                               &primarySelection};
    static constexpr typename P::SourceListener sourceListener{&send, &cancelled};
    static constexpr typename P::OfferListener offerListener{&offerType};

    std::shared_ptr<WaylandConnection> connection_;
    typename P::Manager* manager_ = nullptr;
    typename P::Device* device_ = nullptr;
    std::map<typename P::Offer*, std::vector<std::string>> offers_;
    typename P::Offer* selection_ = nullptr;
    std::map<typename P::Source*, Served> sources_;
    typename P::Source* ours_ = nullptr;
    std::uint64_t lastWrite_ = 0;
    std::set<std::uint64_t> fetched_;
    std::function<void(std::uint64_t)> onFetched_;
    QObject context_;
};

template <class P>
std::unique_ptr<DataControlClipboard> makeWith(std::shared_ptr<WaylandConnection> connection) {
    auto* manager = static_cast<typename P::Manager*>(connection->bind(P::manager, P::version));
    if (!manager) {
        return nullptr;
    }
    return std::make_unique<Control<P>>(std::move(connection), manager);
}

} // namespace

std::unique_ptr<DataControlClipboard>
DataControlClipboard::make(std::shared_ptr<WaylandConnection> connection) {
    if (!connection->seat()) {
        return nullptr;
    }
    if (auto clipboard = makeWith<Ext>(connection)) {
        return clipboard;
    }
    return makeWith<Wlr>(std::move(connection));
}

std::string DataControlClipboard::offered(const WaylandConnection& connection) {
    for (const wl_interface* manager : {&Ext::manager, &Wlr::manager}) {
        if (connection.seat() && connection.global(manager->name)) {
            return manager->name;
        }
    }
    return {};
}
