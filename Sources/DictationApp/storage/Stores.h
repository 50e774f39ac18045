#pragma once

#include "JSONFile.h"
#include "Notes.h"
#include "Snippets.h"
#include "platform/Clock.h"

#include <QObject>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace StoreErrors {
// What the user is shown after a store's own sentence.
std::string userText(const std::exception& error);
// The error's type, for log lines that must not quote file contents.
std::string typeName(const std::exception& error);
} // namespace StoreErrors

// The observable half of ListStore: Qt's meta-object system takes no templates.
class ListStoreBase : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<std::string> problem READ problem NOTIFY problemChanged)

  public:
    const std::optional<std::string>& problem() const { return problem_; }
    // False after a failed read: the store then drops every change.
    bool isLoaded() const { return isLoaded_; }

  signals:
    void itemsChanged();
    void problemChanged();

  protected:
    ListStoreBase(std::string fileName, QObject* parent);
    // Logs "couldn't <verb> <file>: <type>" and shows "Couldn't <verb> these: <description>".
    void fail(std::string_view verb, const std::exception& error);
    void setProblem(std::optional<std::string> problem);

    bool isLoaded_ = false;

  private:
    std::string fileName_;
    std::optional<std::string> problem_;
};

// A user-edited list kept in one JSON array file. Lives on the main thread; `copy` may be read
// from any thread.
template <typename Element> class ListStore : public ListStoreBase {
  public:
    explicit ListStore(std::filesystem::path url, QObject* parent = nullptr)
        : ListStoreBase(url.filename().string(), parent), file_(std::move(url)) {
        try {
            set(file_.load().value_or(std::vector<Element>{}));
            isLoaded_ = true;
        } catch (const std::exception& error) {
            fail("read", error);
        }
    }

    const std::vector<Element>& items() const { return items_; }

    // A snapshot of items for other threads.
    std::vector<Element> copy() const {
        std::lock_guard guard(lock_);
        return copy_;
    }

    // Shows the new list and writes the file. Dropped when the file could not be read, so that
    // file is never overwritten.
    void save(std::vector<Element> list) {
        if (!isLoaded_) {
            return;
        }
        set(std::move(list));
        try {
            file_.save(items_);
            setProblem(std::nullopt);
        } catch (const std::exception& error) {
            fail("save", error);
        }
    }

  private:
    void set(std::vector<Element> list) {
        {
            std::lock_guard guard(lock_);
            copy_ = list;
        }
        items_ = std::move(list);
        emit itemsChanged();
    }

    JSONFile<std::vector<Element>> file_;
    std::vector<Element> items_;
    mutable std::mutex lock_;
    std::vector<Element> copy_;
};

class SnippetStore : public ListStore<Snippet> {
  public:
    explicit SnippetStore(std::filesystem::path url, QObject* parent = nullptr)
        : ListStore(std::move(url), parent) {}

    // Adds a snippet, or changes the one with `editing` as id. True when it went through and
    // the form may be cleared.
    bool addOrChange(std::string_view phrase, std::string text,
                     const std::optional<std::string>& editing = std::nullopt);
};

class NoteStore : public ListStore<Note> {
  public:
    NoteStore(std::filesystem::path url, const Clock& clock, QObject* parent = nullptr)
        : ListStore(std::move(url), parent), clock_(clock) {}

    // The note to open for editing: a new empty one, or the empty one already there. Nothing
    // when the notes could not be read.
    std::optional<std::string> addNote();
    // Gives the note a new text and the current time, in its place; nothing for the same text.
    void editNote(std::string_view id, std::string text);
    void deleteNote(std::string_view id);

  private:
    const Clock& clock_;
};

// The vocabulary, one term per line in a text file the speech engine reads for every use.
class WordStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<std::string> terms READ terms NOTIFY termsChanged)
    Q_PROPERTY(std::optional<std::string> problem READ problem NOTIFY problemChanged)

  public:
    explicit WordStore(std::filesystem::path url, QObject* parent = nullptr);

    const std::vector<std::string>& terms() const { return terms_; }
    const std::optional<std::string>& problem() const { return problem_; }
    bool isLoaded() const { return isLoaded_; }

    void load();
    // Writes the terms, one per line; nothing happens until the file was read.
    void save(const std::vector<std::string>& list);
    // Saves the list with `term` added (voice tuning proposes terms one at a time).
    void add(std::string_view term);

  signals:
    void termsChanged();
    void problemChanged();

  private:
    void setProblem(std::optional<std::string> problem);

    std::filesystem::path url_;
    std::vector<std::string> terms_;
    std::optional<std::string> problem_;
    bool isLoaded_ = false;
};
