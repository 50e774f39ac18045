#include "JSONFile.h"
#include "Notes.h"
#include "Records.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(Note, TitleIsTheFirstLineWithText) {
    struct Row {
        const char* text;
        const char* title;
    } rows[] = {
        {"Shopping\nmilk", "Shopping"},
        {"", "New note"},
        {"  \n\t\n   ", "New note"},
        {"\n   Second line first  \nthird", "Second line first"},
        {"\r\n\u2028\tAfter other breaks", "After other breaks"},
        {"\u3000Ideographic space trimmed\u3000", "Ideographic space trimmed"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ((Note{Uuid::generate(), {}, row.text}.title()), row.title) << row.text;
    }
}

TEST(Note, FileIsACompactArrayWithAllKeysRequired) {
    TempDir dir;
    const JSONFile<std::vector<Note>> file(dir / "notes.json");
    const std::vector<Note> notes{
        {"6B29FC40-CA47-4067-B31D-00DD010662DA", referenceDate(763000000.5), "first\nline two"},
    };
    file.save(notes);
    EXPECT_EQ(
        readAll(file.url()),
        R"([{"id":"6B29FC40-CA47-4067-B31D-00DD010662DA","date":763000000.5,"text":"first\nline two"}])");
    EXPECT_EQ(file.load(), notes);
    EXPECT_EQ(modeOf(file.url()), 0600u);

    writeAll(file.url(), R"([{"text":"x","date":1,"id":"6b29fc40-ca47-4067-b31d-00dd010662da"}])");
    EXPECT_EQ(file.load()->front().id, "6B29FC40-CA47-4067-B31D-00DD010662DA");
    for (const char* broken : {
             R"([{"id":"6B29FC40-CA47-4067-B31D-00DD010662DA","date":1}])",
             R"([{"id":"6B29FC40-CA47-4067-B31D-00DD010662DA","text":"x"}])",
             R"([{"date":1,"text":"x"}])",
             R"([{"id":"nope","date":1,"text":"x"}])",
             R"([{"id":"6B29FC40-CA47-4067-B31D-00DD010662DA","date":"1","text":"x"}])",
             R"({"id":"6B29FC40-CA47-4067-B31D-00DD010662DA","date":1,"text":"x"})",
         }) {
        writeAll(file.url(), broken);
        EXPECT_THROW(file.load(), FileError) << broken;
    }
}

TEST(Notes, AddingReusesAnEmptyNote) {
    const Timestamp now = referenceDate(800000000);
    const auto first = Notes::addingEmpty({}, now);
    ASSERT_TRUE(first.list);
    ASSERT_EQ(first.list->size(), 1u);
    EXPECT_EQ(first.list->front(), (Note{first.id, now, ""}));

    const auto again = Notes::addingEmpty(*first.list, now + std::chrono::seconds(5));
    EXPECT_EQ(again.list, std::nullopt) << "no second empty note";
    EXPECT_EQ(again.id, first.id);

    const std::vector<Note> written{{Uuid::generate(), now, "text"}};
    const auto added = Notes::addingEmpty(written, now);
    ASSERT_TRUE(added.list);
    EXPECT_EQ(added.list->size(), 2u);
    EXPECT_EQ(added.list->front().id, added.id) << "new notes go first";
    EXPECT_NE(added.id, written.front().id);
}

TEST(Notes, EditingChangesTextAndDateInPlaceOnlyWhenTheTextDiffers) {
    const Timestamp then = referenceDate(800000000), later = referenceDate(800000600);
    const std::vector<Note> list{{"A", then, "one"}, {"B", then, "two"}, {"C", then, "three"}};
    EXPECT_EQ(Notes::editing(list, "B", "two", later), std::nullopt);
    EXPECT_EQ(Notes::editing(list, "Z", "new", later), std::nullopt);
    EXPECT_EQ(Notes::editing(list, "B", "TWO", later),
              (std::vector<Note>{{"A", then, "one"}, {"B", later, "TWO"}, {"C", then, "three"}}));
    EXPECT_EQ(Notes::deleting(list, "A"),
              (std::vector<Note>{{"B", then, "two"}, {"C", then, "three"}}));
    EXPECT_EQ(Notes::deleting(list, "Z"), list);
}

} // namespace
