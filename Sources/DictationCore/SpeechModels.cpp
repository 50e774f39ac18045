#include "SpeechModels.h"

#include <algorithm>

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
        if (!model.englishOnly || language == "en") {
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

} // namespace SpeechModels
