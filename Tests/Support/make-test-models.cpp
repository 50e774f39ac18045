// Writes the generated models; prints nothing but errors.
//   make-test-models whisper FILE [SENTENCE | --words N] [--shape NAME] [--quantize TYPE]
//                    [--quantize-tool PATH]
//   make-test-models vad FILE
#include "AudioTools.h"
#include "TestModels.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: make-test-models whisper FILE [SENTENCE | --words N] [--shape NAME]\n"
    "                        [--quantize TYPE] [--quantize-tool PATH]\n"
    "       make-test-models vad FILE\n"
    "shapes: tiny (default), turbo, small.en, small, base.en; TYPE: q5_0, q8_0, ...\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void makeWhisper(const std::filesystem::path& file, const std::vector<std::string>& arguments) {
    std::optional<std::string> sentence;
    int words = 0;
    TestModels::WhisperShape shape;
    std::string quantize, tool;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!argument.starts_with("--")) {
            if (sentence) {
                throw UsageError("one sentence only");
            }
            sentence = argument;
            continue;
        }
        if (i + 1 == arguments.size()) {
            throw UsageError(argument + " needs a value");
        }
        const std::string& value = arguments[++i];
        if (argument == "--words") {
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), words);
            if (error != std::errc() || end != value.data() + value.size() || words < 1) {
                throw UsageError("--words needs a positive number");
            }
        } else if (argument == "--shape") {
            const auto named = TestModels::whisperShape(value);
            if (!named) {
                throw UsageError("unknown shape " + value);
            }
            shape = *named;
        } else if (argument == "--quantize") {
            quantize = value;
        } else if (argument == "--quantize-tool") {
            tool = value;
        } else {
            throw UsageError("unknown option " + argument);
        }
    }
    if (sentence.has_value() == (words > 0)) {
        throw UsageError("give a sentence or --words");
    }
    if (!sentence) {
        sentence = TestModels::passage(words);
    }
    if (quantize.empty()) {
        TestModels::writeWhisper(file, *sentence, shape);
        return;
    }
    if (tool.empty()) {
        tool = findProgram("whisper-quantize");
        if (tool.empty()) {
            throw std::runtime_error("whisper-quantize is not on PATH; give --quantize-tool");
        }
    }
    auto f16 = file;
    f16 += ".f16";
    try {
        TestModels::writeWhisper(f16, *sentence, shape);
        TestModels::quantizeWhisper(tool, f16, file, quantize);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(f16, ignored);
        throw;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        if (arguments.size() >= 3 && arguments[0] == "whisper") {
            makeWhisper(arguments[1], {arguments.begin() + 2, arguments.end()});
            return 0;
        }
        if (arguments.size() == 2 && arguments[0] == "vad") {
            TestModels::writeVoiceActivity(arguments[1]);
            return 0;
        }
    } catch (const UsageError& error) {
        std::fprintf(stderr, "make-test-models: %s\n%s", error.what(), usage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-test-models: %s\n", error.what());
        return 1;
    }
    std::fputs(usage, stderr);
    return 2;
}
