#include "Snippets.h"

#include "Text.h"

#include <algorithm>

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
