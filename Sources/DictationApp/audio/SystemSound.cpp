#include "audio/SystemSound.h"

#include "platform/Log.h"

#include <canberra.h>
#include <string>

namespace SystemSound {

void play(std::string_view event) {
    // One context for the process: it keeps its sound server connection between sounds.
    static ca_context* context = [] {
        ca_context* made = nullptr;
        if (const int error = ca_context_create(&made); error != CA_SUCCESS) {
            log(std::string("could not play sounds: ") + ca_strerror(error));
            return static_cast<ca_context*>(nullptr);
        }
        // The sound server only: without one, ALSA's fallback fills the log with its own errors.
        ca_context_set_driver(made, "pulse");
        return made;
    }();
    if (!context) {
        return;
    }
    static bool reported = false;
    const std::string id(event);
    const int error = ca_context_play(context, 0, CA_PROP_EVENT_ID, id.c_str(),
                                      CA_PROP_CANBERRA_CACHE_CONTROL, "volatile", nullptr);
    if (error != CA_SUCCESS && !reported) {
        reported = true;
        log(std::string("could not play sound: ") + ca_strerror(error));
    }
}

} // namespace SystemSound
