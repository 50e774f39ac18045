#include "SpokenCommands.h"

#include "Regex.h"
#include "Text.h"

#include <algorithm>
#include <array>
#include <unicode/utf8.h>

namespace SpokenCommands {

namespace {

struct Command {
    // The phrase alone, cheap to find; the full pattern is only tried next to it.
    Regex phrase;
    Regex pattern;
    std::string_view replacement;
};

Command command(std::string_view phrase, std::string_view replacement) {
    // A sentence end said just before the command stays (group 1); a comma, semicolon or colon
    // before it and punctuation and spaces after it go.
    std::string pattern(
        R"((?i)([.!?])?[,;:]?\s*(?<!\b(?:a|an|the|this|that|our|your|my|each|every|one|another|their|his|her|its)\s)\b)");
    pattern += phrase;
    pattern += R"(\b[,;:.!?]*\s*)";
    return {Regex("(?i)\\b" + std::string(phrase) + "\\b"), Regex(pattern), replacement};
}

const std::array<Command, 3>& commands() {
    static const std::array<Command, 3> all{{
        command("new paragraph", "\n\n"),
        command("new line", "\n"),
        command("next line", "\n"),
    }};
    return all;
}

const Regex& backticks() {
    static const Regex pattern(
        R"((?i)\bback[ -]?ticks?\b[,.]?\s*(.+?)[,.]?\s*\bback[ -]?ticks?\b)");
    return pattern;
}

bool isOneOf(std::string_view characters, char c) {
    return characters.find(c) != std::string_view::npos;
}

// The leftmost place where a match of a command pattern that says its phrase at `phrase` can
// start: back over white space, then one of ",;:", then one of ".!?".
std::size_t earliestStart(std::string_view text, std::size_t phrase) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto start = static_cast<int32_t>(phrase);
    while (start > 0) {
        int32_t previous = start;
        UChar32 c;
        U8_PREV(bytes, 0, previous, c);
        if (c < 0 || !Text::isWhitespace(static_cast<char32_t>(c))) {
            break;
        }
        start = previous;
    }
    if (start > 0 && isOneOf(",;:", text[static_cast<std::size_t>(start) - 1])) {
        --start;
    }
    if (start > 0 && isOneOf(".!?", text[static_cast<std::size_t>(start) - 1])) {
        --start;
    }
    return static_cast<std::size_t>(start);
}

// Every match of the command's pattern replaced, exactly as a replace-all over the whole text
// would, but trying the costly pattern only in front of each spoken phrase: a long dictation
// with no command in it costs a quick scan.
std::optional<std::string> carryOut(std::string_view text, const Command& command) {
    const RegexText subject(text);
    const auto phrases = command.phrase.matches(subject);
    if (!phrases) {
        return std::nullopt;
    }
    if (phrases->empty()) {
        return std::string(text);
    }
    std::string out;
    std::size_t copied = 0;
    for (const auto& phrase : *phrases) {
        // Nothing between the previous match and this window can start a match.
        std::size_t start = std::max(copied, earliestStart(text, phrase.start()));
        while (start <= phrase.start()) {
            bool failed = false;
            const auto match = command.pattern.matchAt(subject, start, failed);
            if (failed) {
                return std::nullopt;
            }
            if (match) {
                out.append(text.substr(copied, match->start() - copied));
                out.append(match->group(1));
                out.append(command.replacement);
                copied = match->end();
                break;
            }
            int32_t next = static_cast<int32_t>(start);
            U8_FWD_1(reinterpret_cast<const uint8_t*>(text.data()), next,
                     static_cast<int32_t>(text.size()));
            start = static_cast<std::size_t>(next);
        }
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace

std::string apply(std::string_view text) {
    std::string result(text);
    for (const auto& command : commands()) {
        auto next = carryOut(result, command);
        if (!next) {
            return std::string(text);
        }
        result = std::move(*next);
    }
    auto coded = backticks().tryReplacingAll(result, [](const RegexMatch& match) {
        std::string code(1, '`');
        code.append(match.group(1));
        code += '`';
        return code;
    });
    return coded ? std::move(*coded) : std::string(text);
}

} // namespace SpokenCommands
