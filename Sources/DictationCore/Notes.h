#pragma once

#include "Dates.h"
#include "Uuid.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A scratchpad note.
struct Note {
    std::string id = Uuid::generate();
    Timestamp date; // created or last edited
    std::string text;

    bool operator==(const Note&) const = default;

    // The same note with a new text and date.
    Note editing(std::string newText, Timestamp when) const;
    // Its first line with more than spaces and tabs, trimmed; "New note" when there is none.
    std::string title() const;
};

// "id", "date" and "text", all required.
void to_json(nlohmann::ordered_json& json, const Note& note);
void from_json(const nlohmann::ordered_json& json, Note& note);

// The changes the notes screen makes to the list (newest first).
namespace Notes {

struct Added {
    std::optional<std::vector<Note>> list; // nothing: an empty note was there already
    std::string id;                        // the note to open
};
// A new empty note first, unless some note is still empty; that one is reused.
Added addingEmpty(const std::vector<Note>& list, Timestamp now);

// The note with `id` given `text` and `now`, in its place; nothing when there is no such note
// or its text is already `text`.
std::optional<std::vector<Note>> editing(std::vector<Note> list, std::string_view id,
                                         std::string text, Timestamp now);

std::vector<Note> deleting(std::vector<Note> list, std::string_view id);

} // namespace Notes
