#include "Snippets.h"

#include "Regex.h"
#include "Text.h"

#include <algorithm>
#include <list>
#include <memory>
#include <mutex>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

Snippet Snippet::make(std::string_view phrase, std::string text) {
    Snippet snippet;
    snippet.phrase = Text::collapsedSpaces(phrase);
    snippet.text = std::move(text);
    return snippet;
}

bool Snippet::isValid() const {
    return !phrase.empty() && !Text::trimmed(text).empty();
}

void to_json(nlohmann::ordered_json& json, const Snippet& snippet) {
    json = {{"id", snippet.id}, {"phrase", snippet.phrase}, {"text", snippet.text}};
}

void from_json(const nlohmann::ordered_json& json, Snippet& snippet) {
    const auto& id = json.at("id").get_ref<const std::string&>();
    if (!Uuid::isValid(id)) {
        throw nlohmann::ordered_json::other_error::create(501, "snippet id is not a UUID", &json);
    }
    snippet.id = Uuid::canonical(id);
    json.at("phrase").get_to(snippet.phrase);
    json.at("text").get_to(snippet.text);
}

namespace Snippets {

bool EdgeSet::contains(char32_t c) const {
    return Text::isWhitespace(c) || u_ispunct(static_cast<UChar32>(c));
}

std::string trimmingEdges(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !edges.contains(static_cast<char32_t>(c))) {
            break;
        }
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !edges.contains(static_cast<char32_t>(c))) {
            break;
        }
        end = previous;
    }
    return std::string(
        text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

namespace {

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char byte : text) {
        count += (byte & 0xC0) != 0x80;
    }
    return count;
}

// One alternative per snippet: the phrase taken literally, any white space between its words.
std::string alternative(std::string_view phrase) {
    std::string pattern = "(";
    for (char c : Regex::escaped(phrase)) {
        if (c == ' ') {
            pattern += "\\s+";
        } else {
            pattern += c;
        }
    }
    return pattern + ")";
}

// Compiling the expression costs far more than running it, and the snippet list seldom changes
// between dictations, so the last few expressions are kept.
std::shared_ptr<const Regex> compiled(const std::string& pattern) {
    constexpr std::size_t kept = 8;
    static std::mutex mutex;
    static std::list<std::pair<std::string, std::shared_ptr<const Regex>>> recent;
    {
        std::lock_guard lock(mutex);
        const auto found = std::find_if(recent.begin(), recent.end(),
                                        [&](const auto& entry) { return entry.first == pattern; });
        if (found != recent.end()) {
            recent.splice(recent.begin(), recent, found);
            return found->second;
        }
    }
    auto expression = std::make_shared<const Regex>(pattern, Regex::caseInsensitive);
    std::lock_guard lock(mutex);
    recent.emplace_front(pattern, expression);
    if (recent.size() > kept) {
        recent.pop_back();
    }
    return expression;
}

} // namespace

std::string expand(std::string_view text, const std::vector<Snippet>& snippets) {
    std::vector<const Snippet*> usable;
    for (const auto& snippet : snippets) {
        if (snippet.isValid()) {
            usable.push_back(&snippet);
        }
    }
    if (usable.empty()) {
        return std::string(text);
    }
    std::stable_sort(usable.begin(), usable.end(), [](const Snippet* a, const Snippet* b) {
        return characterCount(a->phrase) > characterCount(b->phrase);
    });

    const std::string whole = trimmingEdges(text);
    for (const Snippet* snippet : usable) {
        const std::string phrase = trimmingEdges(snippet->phrase);
        // A phrase of nothing but punctuation would otherwise stand for an empty dictation.
        if (!phrase.empty() && Text::equalsIgnoringCase(whole, phrase)) {
            return snippet->text;
        }
    }

    std::string pattern = "(?<![\\p{L}\\p{N}])(?:";
    for (std::size_t i = 0; i < usable.size(); ++i) {
        if (i > 0) {
            pattern += '|';
        }
        pattern += alternative(usable[i]->phrase);
    }
    pattern += ")(?![\\p{L}\\p{N}])";
    return compiled(pattern)->replacingAll(
        text, [&](const RegexMatch& match) -> std::optional<std::string> {
            for (std::size_t group = 1; group <= usable.size(); ++group) {
                if (match.matched(group)) {
                    return usable[group - 1]->text;
                }
            }
            return std::nullopt;
        });
}

std::vector<Snippet> adding(const Snippet& snippet, std::vector<Snippet> list) {
    if (!snippet.isValid()) {
        return list;
    }
    std::erase_if(list, [&](const Snippet& old) {
        return old.id == snippet.id || Text::equalsIgnoringCase(old.phrase, snippet.phrase);
    });
    list.insert(list.begin(), snippet);
    return list;
}

} // namespace Snippets
