#include "SpokenCommands.h"

#include "Regex.h"

#include <array>

namespace SpokenCommands {

namespace {

struct Command {
    Regex pattern;
    std::string_view replacement;
};

// A sentence end said just before the command stays (group 1); a comma, semicolon or colon
// before it and punctuation and spaces after it go.
std::string commandPattern(std::string_view phrase) {
    std::string pattern(
        R"((?i)([.!?])?[,;:]?\s*(?<!\b(?:a|an|the|this|that|our|your|my|each|every|one|another|their|his|her|its)\s)\b)");
    pattern += phrase;
    pattern += R"(\b[,;:.!?]*\s*)";
    return pattern;
}

const std::array<Command, 3>& commands() {
    static const std::array<Command, 3> all{{
        {Regex(commandPattern("new paragraph")), "\n\n"},
        {Regex(commandPattern("new line")), "\n"},
        {Regex(commandPattern("next line")), "\n"},
    }};
    return all;
}

const Regex& backticks() {
    static const Regex pattern(
        R"((?i)\bback[ -]?ticks?\b[,.]?\s*(.+?)[,.]?\s*\bback[ -]?ticks?\b)");
    return pattern;
}

} // namespace

std::string apply(std::string_view text) {
    std::string result(text);
    for (const auto& command : commands()) {
        auto next = command.pattern.tryReplacingAll(result, [&](const RegexMatch& match) {
            return std::string(match.group(1)) + std::string(command.replacement);
        });
        if (!next) {
            return std::string(text);
        }
        result = std::move(*next);
    }
    auto coded = backticks().tryReplacingAll(
        result, [](const RegexMatch& match) { return "`" + std::string(match.group(1)) + "`"; });
    return coded ? std::move(*coded) : std::string(text);
}

} // namespace SpokenCommands
