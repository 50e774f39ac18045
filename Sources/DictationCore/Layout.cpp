#include "Layout.h"

#include "EmailLayout.h"
#include "Graphemes.h"
#include "Lists.h"
#include "Paragraphs.h"
#include "Regex.h"
#include "SpokenCommands.h"
#include "Text.h"

namespace Layout {

namespace {

const Regex& listLine() {
    static const Regex pattern(R"(^\d+\. )");
    return pattern;
}

const Regex& spacesAroundLineBreaks() {
    static const Regex pattern(R"([ \t]*\n[ \t]*)");
    return pattern;
}

const Regex& blankLineRuns() {
    static const Regex pattern(R"(\n{3,})");
    return pattern;
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t found; (found = text.find(separator, start)) != std::string_view::npos;
         start = found + separator.size()) {
        pieces.push_back(text.substr(start, found - start));
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string joined(const std::vector<std::string>& pieces, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            out += separator;
        }
        out += pieces[i];
    }
    return out;
}

} // namespace

std::string format(std::string_view text, WritingContext writing) {
    const std::string trimmed = Text::trimmed(text);
    if (trimmed.empty()) {
        return std::string(text);
    }
    const std::string commanded = SpokenCommands::apply(trimmed);
    std::vector<std::string> listed;
    for (const auto& block : blocks(commanded)) {
        listed.push_back(Lists::apply(block));
    }
    std::string laidOut = joined(listed, "\n\n");
    switch (writing) {
    case WritingContext::email:
        laidOut = EmailLayout::apply(laidOut);
        break;
    case WritingContext::document:
        laidOut = Paragraphs::apply(laidOut, std::nullopt);
        break;
    case WritingContext::chat:
    case WritingContext::prompt:
    case WritingContext::other:
        break;
    }
    const bool closeSentences =
        writing == WritingContext::email || writing == WritingContext::document;
    return tidy(laidOut, closeSentences, writing == WritingContext::document);
}

std::vector<std::string> blocks(std::string_view text) {
    std::vector<std::string> result;
    for (const auto piece : split(text, "\n\n")) {
        std::string block = Text::trimmed(piece, U" \t", false);
        if (!block.empty()) {
            result.push_back(std::move(block));
        }
    }
    return result;
}

std::string tidy(std::string_view text, bool closeSentences, bool closeEnd) {
    const std::string spaced =
        blankLineRuns().replacingAll(spacesAroundLineBreaks().replacingAll(text, "\n"), "\n\n");
    const auto lines = split(spaced, "\n");
    std::vector<std::string> tidied;
    tidied.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = capitalizeFirstLetter(lines[i]);
        const bool endsParagraph = i + 1 < lines.size() ? lines[i + 1].empty() : closeEnd;
        if (closeSentences && endsParagraph && !isListLine(line) && endsInLetterOrDigit(line)) {
            line += '.';
        }
        tidied.push_back(std::move(line));
    }
    return Text::trimmed(joined(tidied, "\n"));
}

std::string capitalizeFirstLetter(std::string_view line) {
    Graphemes characters(line);
    std::size_t first = 0;
    while (first < line.size() && !Graphemes::isLetter(characters.characterAt(first))) {
        first = characters.following(first);
    }
    if (first >= line.size()) {
        return std::string(line);
    }
    const std::size_t firstEnd = characters.following(first);
    for (std::size_t next = firstEnd; next < line.size();) {
        const std::string_view character = characters.characterAt(next);
        if (!Graphemes::isLetter(character)) {
            break;
        }
        if (Graphemes::isUppercase(character)) {
            return std::string(line);
        }
        next += character.size();
    }
    std::string out(line.substr(0, first));
    out += Graphemes::uppercased(line.substr(first, firstEnd - first));
    out += line.substr(firstEnd);
    return out;
}

bool isListLine(std::string_view line) {
    return line.starts_with("- ") || listLine().isMatch(line);
}

bool endsInLetterOrDigit(std::string_view text) {
    Graphemes characters(text);
    const std::string_view last = characters.characterBefore(text.size());
    return Graphemes::isLetter(last) || Graphemes::isNumber(last);
}

} // namespace Layout
