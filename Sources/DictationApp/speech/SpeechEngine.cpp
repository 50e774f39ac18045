#include "speech/SpeechEngine.h"

#include "platform/Paths.h"
#include "Text.h"
#include "Vocabulary.h"

#include <fstream>
#include <sstream>

std::string SpeechEngine::vocabularyPrompt() {
    std::ifstream in(Paths::vocabulary(), std::ios::binary);
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
