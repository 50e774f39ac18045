// Random request lines with a fixed seed, nested up to a million levels deep and up to 64 MB
// long. A line within the nesting bound gets the reply a reading of the whole document calls
// for; a deeper one gets the parse error; none brings the process down.
#include "Connector.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>

namespace {

using Json = nlohmann::json;

const std::string parseError =
    R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})";

// A JSON text and how many containers deep it goes.
struct Piece {
    std::string text;
    int depth = 0;
};

class Generator {
  public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    std::size_t below(std::size_t n) { return random_() % n; }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }

    // Levels for a hole: mostly shallow, often around the bound, now and then very deep.
    std::size_t levels() {
        switch (below(16)) {
        case 0:
        case 1:
            return Connector::maxDepth - 3 + below(6);
        case 2:
            return std::array<std::size_t, 4>{1000, 70000, 140000, 1000000}[below(4)];
        case 3:
        case 4:
            return below(Connector::maxDepth * 2);
        default:
            return below(4);
        }
    }

    // Arrays and objects mixed at random around a scalar; a deep one repeats a random pattern.
    Piece nested(std::size_t levels) {
        std::array<bool, 64> objects{};
        for (auto& object : objects) {
            object = chance(50);
        }
        const auto opening = [&](std::size_t count) {
            std::string text;
            for (std::size_t i = 0; i < count; ++i) {
                text += objects[i] ? R"({"k":)" : "[";
            }
            return text;
        };
        const auto closing = [&](std::size_t count) {
            std::string text;
            for (std::size_t i = count; i-- > 0;) {
                text += objects[i] ? '}' : ']';
            }
            return text;
        };
        const std::size_t blocks = levels / objects.size(), rest = levels % objects.size();
        const std::string open = opening(objects.size()), close = closing(objects.size());
        std::string text;
        text.reserve(blocks * (open.size() + close.size()) + 200);
        for (std::size_t i = 0; i < blocks; ++i) {
            text += open;
        }
        text += opening(rest) + scalar() + closing(rest);
        for (std::size_t i = 0; i < blocks; ++i) {
            text += close;
        }
        return {std::move(text), static_cast<int>(levels)};
    }

    std::string scalar() {
        static const std::vector<std::string> scalars = {"0",
                                                         "-0",
                                                         "7",
                                                         "-3",
                                                         "1.5",
                                                         "1e2",
                                                         "-0.0",
                                                         "true",
                                                         "null",
                                                         "\"x\"",
                                                         "\"\\u00e9/\"",
                                                         "18446744073709551616",
                                                         "\"\"",
                                                         "\"search_notes\"",
                                                         "\"2024-11-05\"",
                                                         "123456789012345678901234567890"};
        return scalars[below(scalars.size())];
    }

    Piece value(const std::vector<std::string>& choices) {
        if (chance(25)) {
            return nested(levels());
        }
        return {choices[below(choices.size())], 0};
    }

    using Members = std::vector<std::pair<std::string, std::vector<std::string>>>;

    // An object of some of `members`, in random order, some of them twice, and perhaps one
    // made by `inner` under the name `innerName`.
    Piece object(const Members& members, const char* innerName = nullptr,
                 const std::function<Piece()>& inner = nullptr) {
        std::vector<Piece> parts;
        const auto add = [&](const std::string& name, Piece v) {
            parts.push_back({"\"" + name + "\":" + v.text, v.depth});
        };
        for (const auto& [name, choices] : members) {
            for (int copies = chance(10) ? 2 : 1; copies > 0; --copies) {
                if (chance(80)) {
                    add(name, value(choices));
                }
            }
        }
        for (int copies = !inner ? 0 : chance(10) ? 2 : 1; copies > 0; --copies) {
            if (chance(90)) {
                add(innerName, inner());
            }
        }
        if (chance(20)) {
            add("other", nested(levels()));
        }
        std::shuffle(parts.begin(), parts.end(), random_);
        Piece out{"{", 0};
        for (std::size_t i = 0; i < parts.size(); ++i) {
            out.text += (i ? "," : "") + parts[i].text;
            out.depth = std::max(out.depth, parts[i].depth);
        }
        out.text += "}";
        out.depth += 1;
        return out;
    }

    Piece request() {
        const auto arguments = [this]() -> Piece {
            if (chance(15)) {
                return value({"[]", "5", "\"q\""});
            }
            return object({{"query", {"\"\"", "\"  MILK \"", "\"zzz\"", "3", "\"\\t\""}},
                           {"limit", {"0", "-5", "1", "500", "\"7\"", "2.0", "1e400"}}});
        };
        const auto params = [&]() -> Piece {
            if (chance(15)) {
                return value({"[]", "null", "\"p\""});
            }
            return object({{"name", {"\"search_notes\"", "\"search_dictations\"", "\"rm\"", "1"}},
                           {"protocolVersion", {"\"2024-11-05\"", "\"1999\"", "5"}}},
                          "arguments", arguments);
        };
        Piece line = object({{"jsonrpc", {"\"2.0\""}},
                             {"id",
                              {"1", "-0", "1.50", "\"a\"", "null", "[1]", "{}", "true",
                               "123456789012345678901234567890"}},
                             {"method",
                              {"\"ping\"", "\"tools/list\"", "\"tools/call\"", "\"tools/call\"",
                               "\"initialize\"", "\"nope\"", "5"}}},
                            "params", params);
        if (chance(5)) {
            line.text.resize(below(line.text.size()));
        }
        return line;
    }

  private:
    std::mt19937 random_;
};

class ConnectorFuzz : public testing::Test {
  protected:
    Connector connector{[] {
                            Dictation d;
                            d.id = Uuid::generate();
                            d.app = "Mail";
                            d.outcome = Outcome::typed;
                            d.text = "buy milk";
                            return std::vector<Dictation>{d};
                        },
                        [] {
                            Note n;
                            n.id = Uuid::generate();
                            n.text = "milk and eggs";
                            return std::vector<Note>{n, n, n};
                        }};

    // What a reading of the whole document gives; only for lines within the bound.
    void expectLikeAWholeDocument(const std::string& line, const std::optional<std::string>& got) {
        const Json document = Json::parse(line, nullptr, false);
        if (document.is_discarded() || !document.is_object() || !document.contains("method") ||
            !document["method"].is_string()) {
            EXPECT_EQ(got, parseError) << line;
            return;
        }
        if (!document.contains("id")) {
            EXPECT_EQ(got, std::nullopt) << line;
            return;
        }
        const Json& id = document["id"];
        if (!id.is_string() && !id.is_number() && !id.is_null()) {
            EXPECT_EQ(got, parseError) << line;
            return;
        }
        ASSERT_TRUE(got) << line;
        const Json reply = Json::parse(*got);
        EXPECT_EQ(reply["id"], id) << line;
        EXPECT_EQ(reply["jsonrpc"], "2.0");
        const std::string& method = document["method"].get_ref<const std::string&>();
        const Json params = document.contains("params") && document["params"].is_object()
                                ? document["params"]
                                : Json::object();
        if (method == "ping") {
            EXPECT_EQ(reply["result"], Json::object()) << line;
        } else if (method == "initialize") {
            const Json asked = params.value("protocolVersion", Json());
            EXPECT_EQ(reply["result"]["protocolVersion"],
                      asked == "2024-11-05" ? "2024-11-05" : "2025-06-18")
                << line;
        } else if (method == "tools/list") {
            EXPECT_EQ(reply["result"]["tools"].size(), 2u) << line;
        } else if (method == "tools/call") {
            const Json name = params.value("name", Json());
            if (name != "search_notes" && name != "search_dictations") {
                EXPECT_EQ(reply["error"]["code"], -32602) << line;
                return;
            }
            // The same call written plainly gets the same answer.
            const Json arguments = params.contains("arguments") && params["arguments"].is_object()
                                       ? params["arguments"]
                                       : Json::object();
            Json plain = {{"id", id}, {"method", "tools/call"}, {"params", {{"name", name}}}};
            for (const char* key : {"query", "limit"}) {
                if (arguments.contains(key)) {
                    plain["params"]["arguments"][key] = arguments[key];
                }
            }
            EXPECT_EQ(reply["result"], Json::parse(*connector.reply(plain.dump()))["result"])
                << line;
        } else {
            EXPECT_EQ(reply["error"]["code"], -32601) << line;
        }
    }

    // `padding` is the length of an unused member the request gets, which changes nothing.
    void fuzz(std::uint32_t seed, int lines,
              const std::function<std::size_t(Generator&)>& padding) {
        Generator generator(seed);
        int deep = 0, shallow = 0, deepest = 0;
        for (int i = 0; i < lines; ++i) {
            const Piece line = generator.request();
            deepest = std::max(deepest, line.depth);
            std::string sent = line.text;
            if (const std::size_t length = padding(generator); length > 0 && sent.size() > 1) {
                sent.insert(1, R"("pad":")" + std::string(length, 'p') + "\"" +
                                   (sent[1] == '}' ? "" : ","));
            }
            const auto got = connector.reply(sent);
            if (line.depth > Connector::maxDepth) {
                ++deep;
                ASSERT_EQ(got, parseError) << line.depth << " deep: " << line.text.substr(0, 200);
            } else {
                ++shallow;
                expectLikeAWholeDocument(line.text, got);
            }
            if (HasFailure()) {
                return;
            }
        }
        if (lines >= 100) {
            EXPECT_GT(deep, lines / 20) << "the generator reaches past the bound";
            EXPECT_GT(shallow, lines / 20) << "the generator stays within the bound too";
            EXPECT_GT(deepest, 1000000) << "the generator goes a million levels deep";
        }
    }
};

TEST_F(ConnectorFuzz, RandomRequestsAnswerAsTheWholeDocumentSays) {
    fuzz(20261208, 2000, [](Generator&) { return std::size_t{0}; });
}

// Up to the 4 MB the server passes on; longer lines are its to refuse.
TEST_F(ConnectorFuzz, RandomRequestsWithLongMembers) {
    fuzz(4194304, 8, [](Generator& g) { return g.below(std::size_t{4} << 20); });
}

} // namespace
