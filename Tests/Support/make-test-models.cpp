// Writes the small test models: make-test-models whisper FILE "sentence" | vad FILE
#include "TestModels.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    const std::string kind = argc > 2 ? argv[1] : "";
    try {
        if (kind == "whisper" && argc == 4) {
            TestModels::writeWhisper(argv[2], argv[3]);
            return 0;
        }
        if (kind == "vad" && argc == 3) {
            TestModels::writeVoiceActivity(argv[2]);
            return 0;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-test-models: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: make-test-models whisper FILE SENTENCE | vad FILE\n");
    return 2;
}
