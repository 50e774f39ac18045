#include "speech/SpeechEngine.h"

#include "Text.h"
#include "Vocabulary.h"
#include "WavEncoder.h"

#include <fstream>
#include <sstream>
#include <vector>

std::string SpeechEngine::vocabularyPrompt(const std::filesystem::path& words) {
    std::ifstream in(words, std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) {
        return {};
    }
    return Vocabulary::prompt(Text::validUTF8(contents.str())).value_or("");
}

void SpeechEngine::warmUp() {
    const std::vector<float> second(16'000, 0.0f);
    (void)preview(WavEncoder::encode(second), "");
}
