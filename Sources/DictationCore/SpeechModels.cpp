#include "SpeechModels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace SpeechModels {

const Model& standard() {
    return catalog.front();
}

const Model* find(std::string_view file) {
    const auto found = std::find_if(catalog.begin(), catalog.end(),
                                    [&](const Model& m) { return m.file == file; });
    return found == catalog.end() ? nullptr : &*found;
}

std::vector<const Model*> candidates(std::string_view language) {
    std::vector<const Model*> found;
    for (const Model& model : catalog) {
        if (model.fits(language)) {
            found.push_back(&model);
        }
    }
    return found;
}

const Model& choose(std::span<const Timing> timings, std::string_view language) {
    const auto measured = [&](const Model& model) -> std::optional<double> {
        const auto timing = std::find_if(timings.begin(), timings.end(),
                                         [&](const Timing& t) { return t.file == model.file; });
        return timing == timings.end() ? std::nullopt : timing->seconds;
    };
    const auto models = candidates(language);
    const Model* fastest = nullptr;
    std::optional<double> best;
    for (const Model* model : models) {
        const auto seconds = measured(*model);
        if (!seconds) {
            continue;
        }
        if (*seconds <= targetSeconds) {
            return *model;
        }
        if (!best || *seconds < *best) {
            fastest = model;
            best = seconds;
        }
    }
    if (fastest) {
        return *fastest;
    }
    return std::find(models.begin(), models.end(), &standard()) != models.end() ? standard()
                                                                                : *models.front();
}

std::string encodeTimings(std::span<const Timing> timings) {
    std::string text;
    for (const Timing& timing : timings) {
        if (!find(timing.file)) {
            continue;
        }
        char seconds[32] = "-";
        if (timing.seconds && std::isfinite(*timing.seconds) && *timing.seconds >= 0) {
            std::snprintf(seconds, sizeof seconds, "%.2f", *timing.seconds);
        }
        text += (text.empty() ? "" : ",") + std::string(timing.file) + "=" + seconds;
    }
    return text;
}

std::vector<Timing> decodeTimings(std::string_view text) {
    std::vector<Timing> timings;
    while (!text.empty()) {
        const auto end = text.find(',');
        const std::string_view pair = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto equals = pair.find('=');
        const Model* model =
            equals == std::string_view::npos ? nullptr : find(pair.substr(0, equals));
        if (!model) {
            continue;
        }
        const std::string value(pair.substr(equals + 1));
        Timing timing{model->file, std::nullopt};
        char* rest = nullptr;
        const double seconds = std::strtod(value.c_str(), &rest);
        if (!value.empty() && rest && *rest == '\0' && std::isfinite(seconds) && seconds >= 0) {
            timing.seconds = seconds;
        }
        timings.push_back(timing);
    }
    return timings;
}

} // namespace SpeechModels
