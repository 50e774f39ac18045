#include "speech/SpeechEngine.h"

#include "Files.h"
#include "Text.h"
#include "Vocabulary.h"
#include "WavEncoder.h"

#include <vector>

std::string SpeechEngine::vocabularyPrompt(const std::filesystem::path& words) {
    try {
        const auto contents = Files::readIfPresent(words, 0, Files::Links::refuse, 16 << 20);
        return contents ? Vocabulary::prompt(Text::validUTF8(*contents)).value_or("") : "";
    } catch (const std::exception&) {
        return {};
    }
}

void SpeechEngine::warmUp() {
    const std::vector<float> second(16'000, 0.0f);
    (void)preview(WavEncoder::encode(second), "");
}
