#include "Notes.h"

#include "Text.h"

#include <algorithm>

Note Note::editing(std::string newText, Timestamp when) const {
    return Note{id, when, std::move(newText)};
}

std::string Note::title() const {
    for (const auto line : Text::lines(text)) {
        std::string trimmed = Text::trimmedSpaces(line);
        if (!trimmed.empty()) {
            return trimmed;
        }
    }
    return "New note";
}

void to_json(nlohmann::ordered_json& json, const Note& note) {
    json = nlohmann::ordered_json::object();
    json["id"] = note.id;
    json["date"] = Dates::toReferenceSeconds(note.date);
    json["text"] = note.text;
}

void from_json(const nlohmann::ordered_json& json, Note& note) {
    const auto& id = json.at("id").get_ref<const std::string&>();
    if (!Uuid::isValid(id)) {
        throw nlohmann::ordered_json::other_error::create(501, "note id is not a UUID", &json);
    }
    const auto& date = json.at("date");
    if (!date.is_number()) {
        throw nlohmann::ordered_json::type_error::create(302, "note date is not a number", &date);
    }
    Note read;
    read.id = Uuid::canonical(id);
    read.date = Dates::fromReferenceSeconds(date.get<double>());
    read.text = json.at("text").get<std::string>();
    note = std::move(read);
}

namespace Notes {

Added addingEmpty(const std::vector<Note>& list, Timestamp now) {
    const auto empty =
        std::find_if(list.begin(), list.end(), [](const Note& note) { return note.text.empty(); });
    if (empty != list.end()) {
        return {std::nullopt, empty->id};
    }
    Note fresh;
    fresh.date = now;
    std::vector<Note> added;
    added.reserve(list.size() + 1);
    added.push_back(fresh);
    added.insert(added.end(), list.begin(), list.end());
    return {std::move(added), fresh.id};
}

std::optional<std::vector<Note>> editing(std::vector<Note> list, std::string_view id,
                                         std::string text, Timestamp now) {
    const auto note =
        std::find_if(list.begin(), list.end(), [&](const Note& n) { return n.id == id; });
    if (note == list.end() || note->text == text) {
        return std::nullopt;
    }
    *note = note->editing(std::move(text), now);
    return list;
}

std::vector<Note> deleting(std::vector<Note> list, std::string_view id) {
    std::erase_if(list, [&](const Note& note) { return note.id == id; });
    return list;
}

} // namespace Notes
