#include "EmailLayout.h"

#include "Cleanup.h"
#include "Layout.h"
#include "Paragraphs.h"
#include "Regex.h"
#include "Text.h"

#include <vector>

namespace EmailLayout {

namespace {

constexpr std::size_t bodySentencesPerParagraph = 3;
// A greeting or closing is only split off when enough words remain for a message.
constexpr int minWordsAfterGreeting = 6;
constexpr int minWordsBeforeClosing = 3;

const Regex& greeting() {
    static const Regex pattern(
        R"(^(?i:(hi|hello|hey|dear|good morning|good afternoon|good evening|morning|hiya|greetings))((?:\s+(?!(?:I|Thanks|Thank|Just|So|Can|Could|Hope|We|Please|The|This|Quick|Sorry|Happy|Great|Good)\b)[A-Z][\p{L}'’-]*){1,2}|\s+(?i:all|everyone|team|folks|guys|there|both|y'all|everybody))?\s*[,.!:—–-]?\s+)");
    return pattern;
}

const Regex& signOff() {
    static const Regex pattern(
        R"((?:^|(?<=[.!?,\n]))\s*((?i:thanks so much|thank you so much|many thanks|thanks again|thanks a lot|thank you|thanks|best regards|kind regards|warm regards|all the best|best wishes|best|regards|cheers|talk soon|speak soon|warmly|sincerely|take care))(?:[,.!]?\s+([A-Z][\p{L}'’-]*(?:\s+[A-Z][\p{L}'’-]*)?))?\s*([.!]?)\s*$)");
    return pattern;
}

// The last line of the text that has something on it.
std::string_view lastNonEmptyLine(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0) {
        const std::size_t newline = text.rfind('\n', end - 1);
        const std::size_t start = newline == std::string_view::npos ? 0 : newline + 1;
        if (start < end) {
            return text.substr(start, end - start);
        }
        if (newline == std::string_view::npos) {
            break;
        }
        end = newline;
    }
    return {};
}

} // namespace

std::string apply(std::string_view text) {
    std::string greetingLine;
    std::string body(text);
    if (const auto found = greeting().firstMatch(text)) {
        const std::string_view after = text.substr(found->end());
        if (Cleanup::wordCount(after) >= minWordsAfterGreeting) {
            greetingLine =
                Layout::capitalizeFirstLetter(Text::trimmed(found->group(), U",.!:—–-", true)) +
                ",";
            body = std::string(after);
        }
    }

    std::string closing;
    if (auto parts = signOffParts(body);
        parts && Cleanup::wordCount(parts->body) >= minWordsBeforeClosing) {
        body = std::move(parts->body);
        closing = std::move(parts->closing);
    }

    body = Paragraphs::apply(body, bodySentencesPerParagraph);
    if (!Layout::isListLine(lastNonEmptyLine(body)) && Layout::endsInLetterOrDigit(body)) {
        body += '.';
    }

    std::string out;
    for (const std::string* part : {&greetingLine, &body, &closing}) {
        if (part->empty()) {
            continue;
        }
        if (!out.empty()) {
            out += "\n\n";
        }
        out += *part;
    }
    return out;
}

std::optional<SignOff> signOffParts(std::string_view text) {
    const auto found = signOff().firstMatch(text);
    if (!found) {
        return std::nullopt;
    }
    SignOff parts;
    parts.closing = Layout::capitalizeFirstLetter(found->group(1));
    if (found->matched(2)) {
        parts.closing += ",\n" + std::string(found->group(2));
    } else {
        parts.closing += found->group(3) == "!" ? "!" : ",";
    }
    parts.body = Text::trimmed(text.substr(0, found->start()));
    if (parts.body.ends_with(',')) {
        parts.body.back() = '.';
    }
    return parts;
}

} // namespace EmailLayout
