#include "storage/Stores.h"

#include "FileError.h"
#include "Text.h"
#include "Vocabulary.h"
#include "platform/AppError.h"
#include "platform/Log.h"

#include <cxxabi.h>
#include <memory>
#include <typeinfo>

namespace StoreErrors {

std::string userText(const std::exception& error) {
    if (const auto* app = dynamic_cast<const AppError*>(&error)) {
        return app->text();
    }
    return error.what();
}

std::string typeName(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> readable(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && readable ? readable.get() : mangled;
}

} // namespace StoreErrors

ListStoreBase::ListStoreBase(std::string fileName, QObject* parent)
    : QObject(parent), fileName_(std::move(fileName)) {}

void ListStoreBase::fail(std::string_view verb, const std::exception& error) {
    // The description may quote the file, which holds the user's own words: only the type goes
    // to the log.
    log("couldn't " + std::string(verb) + " " + fileName_ + ": " + StoreErrors::typeName(error));
    setProblem("Couldn't " + std::string(verb) + " these: " + StoreErrors::userText(error));
}

void ListStoreBase::setProblem(std::optional<std::string> problem) {
    if (problem_ != problem) {
        problem_ = std::move(problem);
        emit problemChanged();
    }
}

bool SnippetStore::addOrChange(std::string_view phrase, std::string text,
                               const std::optional<std::string>& editing) {
    Snippet snippet = Snippet::make(phrase, std::move(text));
    if (editing) {
        snippet.id = *editing;
    }
    if (!snippet.isValid()) {
        return false; // keep the form so the user can finish it
    }
    save(Snippets::adding(snippet, items()));
    return isLoaded() && !problem();
}

std::optional<std::string> NoteStore::addNote() {
    if (!isLoaded()) {
        return std::nullopt;
    }
    auto added = Notes::addingEmpty(items(), clock_.now());
    if (added.list) {
        save(std::move(*added.list));
    }
    return added.id;
}

void NoteStore::editNote(std::string_view id, std::string text) {
    if (auto edited = Notes::editing(items(), id, std::move(text), clock_.now())) {
        save(std::move(*edited));
    }
}

void NoteStore::deleteNote(std::string_view id) {
    save(Notes::deleting(items(), id));
}

WordStore::WordStore(std::filesystem::path url, QObject* parent)
    : QObject(parent), url_(std::move(url)) {
    load();
}

void WordStore::load() {
    try {
        const auto bytes = Files::readIfPresent(url_);
        if (bytes) {
            // Rewriting a file in another encoding would mangle it: treat it as unreadable.
            if (Text::validUTF8(*bytes) != *bytes) {
                throw FileError("couldn't read " + url_.filename().string() + ": not UTF-8 text");
            }
            terms_ = Vocabulary::unique(*bytes);
            emit termsChanged();
        }
        isLoaded_ = true;
        setProblem(std::nullopt);
    } catch (const std::exception& error) {
        log("couldn't read " + url_.filename().string() + ": " + StoreErrors::typeName(error));
        setProblem("Couldn't read your words: " + StoreErrors::userText(error));
    }
}

void WordStore::save(const std::vector<std::string>& list) {
    if (!isLoaded_) {
        return;
    }
    std::string text;
    for (const auto& term : list) {
        text += term;
        text += '\n';
    }
    if (list.empty()) {
        text = "\n";
    }
    try {
        Files::replaceAtomically(url_, text);
    } catch (const std::exception& error) {
        log("couldn't save " + url_.filename().string() + ": " + StoreErrors::typeName(error));
        setProblem("Couldn't save: " + StoreErrors::userText(error));
        return;
    }
    terms_ = list;
    emit termsChanged();
    setProblem(std::nullopt);
}

void WordStore::add(std::string_view term) {
    save(Vocabulary::adding(term, terms_));
}

void WordStore::setProblem(std::optional<std::string> problem) {
    if (problem_ != problem) {
        problem_ = std::move(problem);
        emit problemChanged();
    }
}
