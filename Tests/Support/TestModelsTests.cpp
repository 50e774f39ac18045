// The generated whisper models held to what whisper.cpp expects of each real shape, checked on
// their description alone: real-size files are made only by make-test-models, never here. The
// speech suites run the written tiny model in the real whisper-server.
#include "TestModels.h"
#include "TestSupport.h"

#include <array>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;
using TestModels::WhisperModel;
using TestModels::WhisperTensor;

struct RealShape {
    const char* name;
    std::array<std::int32_t, 11> header;
    std::int32_t endOfText, noTimestamps;
};

// The released models' hyper-parameters and their vocabularies' special-token ids.
const RealShape realShapes[] = {
    {"turbo", {51866, 1500, 1280, 20, 32, 448, 1280, 20, 4, 128, 1}, 50257, 50364},
    {"small.en", {51864, 1500, 768, 12, 12, 448, 768, 12, 12, 80, 1}, 50256, 50362},
    {"small", {51865, 1500, 768, 12, 12, 448, 768, 12, 12, 80, 1}, 50257, 50363},
    {"base.en", {51864, 1500, 512, 8, 6, 448, 512, 8, 6, 80, 1}, 50256, 50362},
};

struct Layout {
    std::vector<std::int32_t> shape;
    bool half;
    bool operator==(const Layout&) const = default;
};

// The tensors whisper.cpp's loader creates for a header, with the type an f16 file holds.
std::map<std::string, Layout> loaderTensors(const std::array<std::int32_t, 11>& h) {
    const std::int32_t vocabulary = h[0], state = h[2], mels = h[9];
    std::map<std::string, Layout> t;
    t["encoder.positional_embedding"] = {{state, h[1]}, false};
    t["encoder.conv1.weight"] = {{3, mels, state}, true};
    t["encoder.conv2.weight"] = {{3, state, state}, true};
    t["encoder.conv1.bias"] = t["encoder.conv2.bias"] = {{1, state}, false};
    t["encoder.ln_post.weight"] = t["encoder.ln_post.bias"] = {{state}, false};
    t["decoder.positional_embedding"] = {{state, h[5]}, false};
    t["decoder.token_embedding.weight"] = {{state, vocabulary}, true};
    t["decoder.ln.weight"] = t["decoder.ln.bias"] = {{state}, false};
    auto layer = [&](const std::string& prefix, bool cross) {
        t[prefix + "mlp.0.weight"] = {{state, 4 * state}, true};
        t[prefix + "mlp.0.bias"] = {{4 * state}, false};
        t[prefix + "mlp.2.weight"] = {{4 * state, state}, true};
        t[prefix + "mlp.2.bias"] = {{state}, false};
        for (std::string attention : {"attn", "cross_attn"}) {
            if (attention == "cross_attn" && !cross) {
                continue;
            }
            for (const char* part : {"query", "key", "value", "out"}) {
                t[prefix + attention + "." + part + ".weight"] = {{state, state}, true};
            }
            for (const char* part : {"query", "value", "out"}) {
                t[prefix + attention + "." + part + ".bias"] = {{state}, false};
            }
        }
        for (const char* norm : {"attn_ln", "mlp_ln", "cross_attn_ln"}) {
            if (cross || norm != std::string("cross_attn_ln")) {
                t[prefix + norm + ".weight"] = t[prefix + norm + ".bias"] = {{state}, false};
            }
        }
    };
    for (int i = 0; i < h[4]; ++i) {
        layer("encoder.blocks." + std::to_string(i) + ".", false);
    }
    for (int i = 0; i < h[8]; ++i) {
        layer("decoder.blocks." + std::to_string(i) + ".", true);
    }
    return t;
}

// Follows the crafted path the way the decoder computes it: a token's one-hot code, the first
// layer's hidden unit for that code, the code the second layer adds for that unit, its token.
std::vector<std::size_t> path(const WhisperModel& model, std::size_t token, std::size_t steps) {
    std::map<std::string, const WhisperTensor*> set;
    for (const auto& tensor : model.tensors) {
        if (!tensor.values.empty()) {
            set[tensor.name] = &tensor;
        }
    }
    const std::string embedding = "decoder.token_embedding.weight",
                      up = "decoder.blocks.0.mlp.0.weight", down = "decoder.blocks.0.mlp.2.weight";
    // Attention and the later layers must add nothing for the path to hold.
    EXPECT_EQ(set.size(), 3u);
    const auto state = static_cast<std::size_t>(model.header[2]), hidden = 4 * state;
    std::map<std::size_t, std::size_t> codeOf, tokenOf, unitOf, nextOf;
    for (const auto& [index, value] : set.at(embedding)->values) {
        codeOf[index / state] = index % state;
        tokenOf[index % state] = index / state;
    }
    for (const auto& [index, value] : set.at(up)->values) {
        unitOf[index % state] = index / state;
    }
    for (const auto& [index, value] : set.at(down)->values) {
        if (value > 0) {
            nextOf[index % hidden] = index / hidden;
        }
    }
    std::vector<std::size_t> answer;
    // End of text's code has no unit: the path stops there.
    while (answer.size() < steps && codeOf.contains(token) && unitOf.contains(codeOf[token])) {
        const auto unit = unitOf[codeOf[token]];
        token = nextOf.contains(unit) ? tokenOf[nextOf[unit]] : 0;
        answer.push_back(token);
    }
    return answer;
}

TEST(WhisperShapes, EachHasTheReleasedHeaderAndEveryTensorTheLoaderCreates) {
    for (const auto& real : realShapes) {
        SCOPED_TRACE(real.name);
        const auto model = TestModels::describeWhisper(TestModels::passage(42),
                                                       TestModels::whisperShape(real.name).value());
        EXPECT_EQ(model.header, std::vector<std::int32_t>(real.header.begin(), real.header.end()));
        std::map<std::string, Layout> written;
        for (const auto& tensor : model.tensors) {
            EXPECT_TRUE(written.emplace(tensor.name, Layout{tensor.shape, tensor.half}).second)
                << tensor.name << " written twice";
        }
        EXPECT_EQ(written, loaderTensors(real.header));
    }
}

TEST(WhisperShapes, TheDecoderPathRunsFromNoTimestampsThroughTheWordsToEndOfText) {
    std::vector<std::size_t> expected;
    for (std::size_t word = 1; word <= 42; ++word) {
        expected.push_back(word);
    }
    for (const auto& real : realShapes) {
        SCOPED_TRACE(real.name);
        const auto model = TestModels::describeWhisper(TestModels::passage(42),
                                                       TestModels::whisperShape(real.name).value());
        expected.push_back(static_cast<std::size_t>(real.endOfText));
        EXPECT_EQ(path(model, static_cast<std::size_t>(real.noTimestamps), 50), expected);
        expected.pop_back();

        // q5_0 and q8_0 scale each run of 32 in a row by its largest value, which they keep
        // exactly; a smaller value beside it would be rounded.
        for (const auto& tensor : model.tensors) {
            std::map<std::size_t, int> perRun;
            for (const auto& entry : tensor.values) {
                EXPECT_EQ(++perRun[entry.first / 32], 1) << tensor.name << " " << entry.first;
            }
        }
    }
}

TEST(WhisperModels, QuantizeRunsTheToolAndKeepsOnlyItsFinishedOutput) {
    struct Case {
        const char* script;  // empty: no tool at all
        const char* failure; // empty: it succeeds
    };
    const Case cases[] = {
        {"[ \"$3\" = q8_0 ] && cp \"$1\" \"$2\"", ""},
        {"echo partial > \"$2\"; echo 'unknown type' >&2; exit 3",
         "fake-quantize exited with status 3: unknown type"},
        {"", "fake-quantize exited with status 127"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        TempDir dir;
        const auto tool = dir / "fake-quantize", input = dir / "in.bin", output = dir / "out.bin";
        if (*c.script) {
            std::ofstream(tool) << "#!/bin/sh\n" << c.script << "\n";
            fs::permissions(tool, fs::perms::owner_all);
        }
        std::ofstream(input) << "model";
        std::string failure;
        try {
            TestModels::quantizeWhisper(tool, input, output, "q8_0");
        } catch (const std::runtime_error& error) {
            failure = error.what();
        }
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(fs::exists(input), !failure.empty()) << "the f16 input goes only on success";
        EXPECT_EQ(fs::exists(output) ? readAll(output) : "", failure.empty() ? "model" : "");
    }
}

TEST(WhisperModels, RefuseWhatTheToolsCouldNotLoad) {
    const std::string longWord(128, 'a');
    const std::vector<std::pair<std::string, TestModels::WhisperShape>> refused = {
        {"", {}},
        {TestModels::passage(62) + " more", {}},
        {"a " + longWord, {}},
        {"hello", {.vocabulary = 51867}},
        {"hello", {.state = 100, .audioHeads = 3}},
        {TestModels::passage(42), {.state = 32}},
        {"hello", {.textLayers = 0}},
    };
    for (const auto& [sentence, shape] : refused) {
        EXPECT_THROW(TestModels::describeWhisper(sentence, shape), std::invalid_argument)
            << sentence.substr(0, 30) << " state " << shape.state;
    }
    EXPECT_FALSE(TestModels::whisperShape("large"));
    for (int words : {12, 42}) {
        const auto text = TestModels::passage(words);
        EXPECT_EQ(TestModels::describeWhisper(text).tokens.size(), words + 1u) << text;
        EXPECT_EQ(text.back(), '.') << text;
    }
    EXPECT_THROW(TestModels::passage(63), std::invalid_argument);
}

} // namespace
