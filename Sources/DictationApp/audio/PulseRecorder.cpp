#include "audio/PulseRecorder.h"

#include "platform/AppError.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <pulse/pulseaudio.h>
#include <stdexcept>

namespace {

constexpr auto connectLimit = std::chrono::seconds(3);
constexpr auto streamLimit = std::chrono::seconds(3);

class LoopLock {
  public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) {
        pa_threaded_mainloop_lock(loop_);
    }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

} // namespace

struct PulseRecorder::Audio {
    explicit Audio(PulseRecorder& owner) : owner(owner), loop(pa_threaded_mainloop_new()) {
        if (!loop) {
            throw std::runtime_error("could not make the audio thread");
        }
        if (pa_threaded_mainloop_start(loop) < 0) {
            pa_threaded_mainloop_free(loop);
            throw std::runtime_error("could not start the audio thread");
        }
    }

    ~Audio() {
        {
            LoopLock lock(loop);
            closeStream();
            closeContext();
        }
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    Audio(const Audio&) = delete;
    Audio& operator=(const Audio&) = delete;

    // Everything below runs with the loop locked.

    // Waits on the loop's condition until `done` holds or `limit` passes; a timer wakes the
    // wait so a silent server cannot hang the caller.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        bool expired = false;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        timeval when{};
        pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(limit.count()) * 1000);
        struct Wake {
            pa_threaded_mainloop* loop;
            bool* expired;
        } wake{loop, &expired};
        pa_time_event* timer = api->time_new(
            api, &when,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
                auto* w = static_cast<Wake*>(data);
                *w->expired = true;
                pa_threaded_mainloop_signal(w->loop, 0);
            },
            &wake);
        while (!done() && !expired) {
            pa_threaded_mainloop_wait(loop);
        }
        api->time_free(timer);
        return done();
    }

    // Waits for a query whose callback sets `replied`.
    bool wait(pa_operation* operation) {
        if (!operation) {
            return false;
        }
        // A server that dies mid-query fails the context; stop waiting then, not at the limit.
        const bool finished =
            waitUntil([&] { return replied || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); },
                      connectLimit);
        if (!finished || !replied) {
            pa_operation_cancel(operation);
        }
        pa_operation_unref(operation);
        return finished && replied;
    }

    bool isReady() const { return context && pa_context_get_state(context) == PA_CONTEXT_READY; }

    std::string lastError() const {
        return pa_strerror(context ? pa_context_errno(context) : PA_ERR_CONNECTIONREFUSED);
    }

    void connect() {
        if (context && pa_context_get_state(context) == PA_CONTEXT_READY) {
            return;
        }
        closeContext();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), owner.clientName_.c_str());
        if (!context) {
            throw AppError::audio("audio server unavailable: could not make a client");
        }
        wasReady = false;
        pa_context_set_state_callback(context, &Audio::contextState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            const std::string error = lastError();
            closeContext();
            throw AppError::audio("audio server unavailable: " + error);
        }
        const bool settled = waitUntil(
            [&] {
                return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ||
                       pa_context_get_state(context) == PA_CONTEXT_READY;
            },
            connectLimit);
        if (!settled || pa_context_get_state(context) != PA_CONTEXT_READY) {
            const std::string error = settled ? lastError() : "timed out";
            closeContext();
            throw AppError::audio("audio server unavailable: " + error);
        }
        subscribed = false;
    }

    // The default source, unless there is none or it only mirrors an output.
    std::string defaultMicrophone() {
        replied = false;
        pendingName.clear();
        pendingDescription.clear();
        auto* serverInfo = pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* data) {
                auto* self = static_cast<Audio*>(data);
                if (info && info->default_source_name) {
                    self->pendingName = info->default_source_name;
                }
                self->replied = true;
                pa_threaded_mainloop_signal(self->loop, 0);
            },
            this);
        if (!wait(serverInfo) || pendingName.empty()) {
            return {};
        }
        replied = false;
        pendingMonitor = true;
        auto* sourceInfo = pa_context_get_source_info_by_name(
            context, pendingName.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* self = static_cast<Audio*>(data);
                if (eol == 0 && info) {
                    self->pendingMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
                    self->pendingDescription = info->description ? info->description : "";
                    return;
                }
                self->replied = true;
                pa_threaded_mainloop_signal(self->loop, 0);
            },
            this);
        if (!wait(sourceInfo) || pendingMonitor) {
            return {};
        }
        return pendingName;
    }

    void openStream() {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, 16000, 1};
        stream = pa_stream_new(context, "Dictation", &format, nullptr);
        if (!stream) {
            throw AppError::audio("could not record: " + lastError());
        }
        pa_stream_set_state_callback(stream, &Audio::streamState, this);
        pa_stream_set_read_callback(stream, &Audio::readable, this);
        pa_buffer_attr attributes;
        std::memset(&attributes, 0xff, sizeof attributes);
        attributes.fragsize = blockFrames * sizeof(float);
        if (pa_stream_connect_record(stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY) < 0) {
            const std::string error = lastError();
            closeStream();
            throw AppError::audio("could not record: " + error);
        }
        const bool settled = waitUntil(
            [&] {
                return pa_stream_get_state(stream) != PA_STREAM_CREATING &&
                       pa_stream_get_state(stream) != PA_STREAM_UNCONNECTED;
            },
            streamLimit);
        if (!settled || pa_stream_get_state(stream) != PA_STREAM_READY) {
            const std::string error = settled ? lastError() : "timed out";
            closeStream();
            throw AppError::audio("could not record: " + error);
        }
        recordingSource = pa_stream_get_device_index(stream);
    }

    void subscribe() {
        if (subscribed) {
            return;
        }
        pa_context_set_subscribe_callback(context, &Audio::changed, this);
        if (auto* operation =
                pa_context_subscribe(context,
                                     static_cast<pa_subscription_mask_t>(
                                         PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE),
                                     nullptr, nullptr)) {
            pa_operation_unref(operation);
            subscribed = true;
        }
    }

    // Takes whatever the server has delivered.
    void drain() {
        while (stream && pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            // A hole (data == nullptr) carries no samples.
            if (data) {
                owner.append({static_cast<const float*>(data), bytes / sizeof(float)});
            }
            pa_stream_drop(stream);
        }
    }

    void closeStream() {
        if (!stream) {
            return;
        }
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }

    void closeContext() {
        closeStream();
        if (!context) {
            return;
        }
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
        subscribed = false;
    }

    static void contextState(pa_context* context, void* data) {
        auto* self = static_cast<Audio*>(data);
        const auto state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) {
            self->wasReady = true;
        } else if (!PA_CONTEXT_IS_GOOD(state) && self->wasReady) {
            // The server went away: the stream is gone with it.
            self->wasReady = false;
            self->owner.interrupted();
        }
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void streamState(pa_stream* stream, void* data) {
        auto* self = static_cast<Audio*>(data);
        if (pa_stream_get_state(stream) == PA_STREAM_FAILED && self->context &&
            pa_context_get_state(self->context) == PA_CONTEXT_READY) {
            self->owner.interrupted();
        }
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void readable(pa_stream*, std::size_t, void* data) {
        static_cast<Audio*>(data)->drain();
    }

    static void changed(pa_context* context, pa_subscription_event_type_t event,
                        std::uint32_t index, void* data) {
        auto* self = static_cast<Audio*>(data);
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && type == PA_SUBSCRIPTION_EVENT_NEW) {
            // A microphone plugged in; a new output's monitor is no microphone.
            if (auto* operation = pa_context_get_source_info_by_index(
                    context, index,
                    [](pa_context*, const pa_source_info* info, int eol, void* data) {
                        if (eol == 0 && info && info->monitor_of_sink == PA_INVALID_INDEX) {
                            static_cast<Audio*>(data)->owner.interrupted();
                        }
                    },
                    self)) {
                pa_operation_unref(operation);
            }
        } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE &&
                   type == PA_SUBSCRIPTION_EVENT_REMOVE) {
            if (index == self->recordingSource) {
                self->owner.interrupted();
            }
        } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            // The server changes for many reasons; only a new default source matters.
            if (auto* operation = pa_context_get_server_info(
                    context,
                    [](pa_context*, const pa_server_info* info, void* data) {
                        auto* self = static_cast<Audio*>(data);
                        const std::string name =
                            info && info->default_source_name ? info->default_source_name : "";
                        if (name != self->defaultSource) {
                            self->defaultSource = name;
                            self->owner.interrupted();
                        }
                    },
                    self)) {
                pa_operation_unref(operation);
            }
        }
    }

    PulseRecorder& owner;
    pa_threaded_mainloop* loop;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    bool subscribed = false;
    bool wasReady = false;
    std::string defaultSource;
    std::uint32_t recordingSource = PA_INVALID_INDEX;
    // Query results, written by the callbacks.
    bool replied = false;
    std::string pendingName;
    std::string pendingDescription;
    bool pendingMonitor = true;
};

PulseRecorder::PulseRecorder(std::string clientName, std::shared_ptr<const Clock> clock,
                             Deliver deliver)
    : clientName_(std::move(clientName)), clock_(std::move(clock)), inbox_(std::move(deliver)),
      post_(inbox_.post()), audio_(std::make_unique<Audio>(*this)) {}

PulseRecorder::~PulseRecorder() {
    inbox_.close();
    audio_.reset();
}

void PulseRecorder::start() {
    LoopLock lock(audio_->loop);
    audio_->closeStream();
    audio_->connect();
    const std::string microphone = audio_->defaultMicrophone();
    if (microphone.empty()) {
        throw AppError::audio("no usable microphone");
    }
    audio_->defaultSource = microphone;
    {
        std::lock_guard guard(bufferLock_);
        buffered_.clear();
    }
    audio_->openStream();
    {
        std::lock_guard guard(bufferLock_);
        startedAt_ = clock_->uptime();
    }
    audio_->subscribe();
}

std::string PulseRecorder::missingMicrophone() {
    try {
        LoopLock lock(audio_->loop);
        audio_->connect();
        if (!audio_->defaultMicrophone().empty()) {
            return "";
        }
        return audio_->isReady() ? "no usable microphone"
                                 : "audio server unavailable: connection lost";
    } catch (const std::exception& error) {
        return error.what();
    }
}

PulseRecorder::Microphone PulseRecorder::microphone() {
    try {
        LoopLock lock(audio_->loop);
        audio_->connect();
        microphoneName_.clear();
        if (!audio_->defaultMicrophone().empty()) {
            microphoneName_ = audio_->pendingDescription;
            return Microphone::ready;
        }
        // A connection that was ready a moment ago can be lost during the query.
        return audio_->isReady() ? Microphone::noInput : Microphone::noServer;
    } catch (const std::exception&) {
        return Microphone::noServer;
    }
}

Recorder::Recording PulseRecorder::stop() {
    {
        LoopLock lock(audio_->loop);
        audio_->drain();
        audio_->closeStream();
    }
    std::lock_guard guard(bufferLock_);
    Recording recording{buffered_, 0};
    if (startedAt_) {
        recording.seconds = clock_->uptime() - *startedAt_;
    }
    startedAt_.reset();
    return recording;
}

std::vector<float> PulseRecorder::snapshot(std::optional<double> last) const {
    std::lock_guard guard(bufferLock_);
    return lastSamples(buffered_, last);
}

std::optional<double> PulseRecorder::startedAt() const {
    std::lock_guard guard(bufferLock_);
    return startedAt_;
}

void PulseRecorder::append(std::span<const float> block) {
    {
        std::lock_guard guard(bufferLock_);
        buffered_.insert(buffered_.end(), block.begin(), block.end());
    }
    post_([this, value = level(block)] { onLevel(value); });
}

void PulseRecorder::interrupted() {
    post_([this] { onInterrupted(); });
}
