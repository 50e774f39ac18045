#include "FakeClipboard.h"
#include "FakeFocusProbe.h"
#include "FakeKeySynthesizer.h"
#include "FakeWindowProbe.h"
#include "LogCapture.h"
#include "ManualScheduler.h"
#include "dictation/Paster.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace {

class PasterTest : public ::testing::Test {
  protected:
    ManualScheduler clock;
    FakeClipboard clipboard{clock};
    FakeKeySynthesizer keys{clock};
    FakeFocusProbe focus;
    FakeWindowProbe windows;
    Paster paster{clipboard, keys, focus, windows, clock};
    const ClipboardContents users{{{"text/plain", "user's"}}};

    std::vector<double> chordTimes() const {
        std::vector<double> times;
        for (const auto& [t, chord] : keys.chords) {
            times.push_back(t);
        }
        return times;
    }
};

TEST_F(PasterTest, APasteThatArrivesIsNeitherTypedNorLeftOnTheClipboard) {
    paster.paste("hello", false);
    EXPECT_EQ(keys.chords, (std::vector<std::pair<double, PasteChord>>{{0, PasteChord::ctrlV}}));
    EXPECT_EQ(clipboard.contents->formats.at(0).second, "hello");
    EXPECT_EQ(clipboard.contents->formats.at(1),
              (std::pair<std::string, std::string>{"x-kde-passwordManagerHint", "secret"}));
    EXPECT_EQ(clipboard.lastTarget, 0x400007u);
    clock.advanceTo(0.01);
    clipboard.fetch();
    focus.fields[1] = {10, 10};
    clock.advanceTo(3);
    EXPECT_TRUE(keys.typed.empty());
    EXPECT_EQ(clipboard.restores,
              (std::vector<std::pair<double, ClipboardContents>>{{0.5, users}}));
    EXPECT_EQ(clock.pending(), 0u);
}

TEST_F(PasterTest, AnUnchangedFieldIsCheckedTwiceThenTyped) {
    LogCapture log;
    paster.paste("typed instead", false);
    clock.advanceTo(0.79);
    EXPECT_TRUE(keys.typed.empty());
    clock.advanceTo(0.8);
    EXPECT_EQ(keys.typed, (std::vector<std::pair<double, std::string>>{{0.8, "typed instead"}}));
    EXPECT_TRUE(log.contains("paste didn't arrive, typing instead\n")) << log.text();
}

TEST_F(PasterTest, AFieldShowingThePasteLateStillCountsAtTheSecondCheck) {
    paster.paste("slow", false);
    clock.advanceTo(0.5);
    focus.fields[1] = {9, 9};
    clock.advanceTo(3);
    EXPECT_TRUE(keys.typed.empty());
}

TEST_F(PasterTest, ATargetThatFetchedThePasteButShowsItLateIsNotTypedInto) {
    const struct {
        const char* name;
        bool targetKnown;
        bool typed;
    } cases[] = {
        {"the target fetched it", true, false},
        // Without a known target any reader counts, a clipboard history as well.
        {"some program fetched it", false, true},
    };
    for (const auto& c : cases) {
        ManualScheduler time;
        FakeClipboard board(time);
        FakeKeySynthesizer synth(time);
        FakeFocusProbe probe;
        FakeWindowProbe front;
        if (!c.targetKnown) {
            front.front.reset();
        }
        Paster p(board, synth, probe, front, time);
        p.paste("late", false);
        time.advanceTo(0.6);
        board.fetch();
        time.advanceTo(3);
        EXPECT_EQ(!synth.typed.empty(), c.typed) << c.name;
    }
}

TEST_F(PasterTest, TheCheckStopsWhenTheUserMovesOnOrTheFieldGoes) {
    struct Change {
        const char* name;
        std::function<void(FakeFocusProbe&)> apply;
    };
    const std::vector<Change> changes{
        {"focus left", [](FakeFocusProbe& f) { f.focused.reset(); }},
        {"another field",
         [](FakeFocusProbe& f) {
             f.focused = 2, f.fields[2] = {5, 5};
         }},
        {"field unreadable", [](FakeFocusProbe& f) { f.fields.erase(1); }},
        {"caret moved only", [](FakeFocusProbe& f) { f.fields[1].caret = 0; }},
        {"caret gone", [](FakeFocusProbe& f) { f.fields[1].caret.reset(); }},
    };
    for (const auto& change : changes) {
        ManualScheduler time;
        FakeClipboard board(time);
        FakeKeySynthesizer synth(time);
        FakeFocusProbe probe;
        Paster p(board, synth, probe, windows, time);
        p.paste("text", false);
        time.advanceTo(0.1);
        change.apply(probe);
        time.advanceTo(3);
        EXPECT_TRUE(synth.typed.empty()) << change.name;
    }
}

TEST_F(PasterTest, WithoutAFieldStateThePasteGoesUnchecked) {
    focus.fields.clear();
    paster.paste("unchecked", false);
    clock.advanceTo(3);
    EXPECT_EQ(chordTimes(), std::vector<double>{0});
    EXPECT_TRUE(keys.typed.empty());
    EXPECT_EQ(focus.queries, 1);

    focus.focused.reset();
    paster.paste("no field", false);
    clock.advanceTo(6);
    EXPECT_EQ(keys.chords.size(), 2u);
    EXPECT_TRUE(keys.typed.empty());
}

TEST_F(PasterTest, APasswordIsTypedAndTheClipboardIsNeverTouched) {
    paster.paste("hunter2", true);
    clock.advanceTo(3);
    ASSERT_EQ(keys.typed.size(), 1u);
    EXPECT_EQ(keys.typed[0].second, "hunter2");
    EXPECT_TRUE(keys.chords.empty());
    EXPECT_EQ(clipboard.writes, 0u) << "a password never goes on the clipboard";
    EXPECT_TRUE(clipboard.restores.empty());
    EXPECT_EQ(focus.queries, 0) << "nothing to check: typing arrives or fails by itself";
}

TEST_F(PasterTest, TheClipboardComesBackOnlyAfterTheTargetFetchedIt) {
    struct Case {
        const char* name;
        std::optional<double> fetchAt;
        double restoredAt;
    };
    const std::vector<Case> cases{
        {"fetched at once", 0.005, 0.5},
        {"fetched late", 0.7, 0.7},
        {"never fetched", std::nullopt, Paster::restoreLimit},
    };
    for (const auto& c : cases) {
        ManualScheduler time;
        FakeClipboard board(time);
        FakeKeySynthesizer synth(time);
        FakeFocusProbe probe;
        probe.fields[1] = {0, 0};
        Paster p(board, synth, probe, windows, time);
        p.paste("text", false);
        if (c.fetchAt) {
            time.advanceTo(*c.fetchAt);
            probe.fields[1] = {4, 4};
            board.fetch();
        }
        time.advanceTo(5);
        ASSERT_EQ(board.restores.size(), 1u) << c.name;
        EXPECT_DOUBLE_EQ(board.restores[0].first, c.restoredAt) << c.name;
    }
}

TEST_F(PasterTest, ACopyOfTheUsersDuringThePasteStays) {
    paster.paste("dictated", false);
    clock.advanceTo(0.2);
    clipboard.copyElsewhere("copied meanwhile");
    clock.advanceTo(3);
    EXPECT_TRUE(clipboard.restores.empty());
    EXPECT_EQ(clipboard.contents->formats.at(0).second, "copied meanwhile");
}

TEST_F(PasterTest, AnEmptyClipboardIsPutBackEmptyAndAnUnreadableOneIsLeft) {
    clipboard.contents = ClipboardContents{};
    paster.paste("first", false);
    clipboard.fetch();
    clock.advanceTo(3);
    ASSERT_EQ(clipboard.restores.size(), 1u);
    EXPECT_TRUE(clipboard.restores[0].second.empty());

    clipboard.answers = false;
    LogCapture log;
    paster.paste("second", false);
    clipboard.fetch();
    clock.advanceTo(6);
    EXPECT_EQ(clipboard.restores.size(), 1u);
    EXPECT_TRUE(log.contains("clipboard owner did not answer")) << log.text();
}

int occurrences(const std::string& text, const std::string& piece) {
    int count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(PasterTest, APasswordThatCannotBeTypedIsNotInsertedAtAll) {
    LogCapture log;
    // A modifier held past the limit, then typing that fails outright.
    keys.heldFor = 1'000'000;
    paster.paste("hunter3", true);
    clock.advanceTo(40);
    keys.heldFor = 0;
    keys.typingFails = true;
    paster.paste("hunter4", true);
    clock.advanceTo(45);
    EXPECT_TRUE(keys.typed.empty());
    EXPECT_TRUE(keys.chords.empty());
    EXPECT_EQ(clipboard.writes, 0u);
    EXPECT_EQ(occurrences(log.text(), "password not typed: "), 2) << log.text();
    EXPECT_EQ(log.text().find("hunter"), std::string::npos);
}

TEST_F(PasterTest, OverlappingPastesGiveBackTheUsersClipboardNotTheEarlierDictation) {
    paster.paste("one", false);
    clipboard.fetch();
    clock.advanceTo(0.2);
    paster.paste("two", false);
    clipboard.fetch();
    clock.advanceTo(5);
    ASSERT_EQ(clipboard.restores.size(), 1u);
    EXPECT_EQ(clipboard.restores[0], (std::pair<double, ClipboardContents>{0.7, users}));
}

TEST_F(PasterTest, TheChordWaitsForTheUsersModifiersAndTimingStartsThere) {
    keys.heldFor = 4;
    paster.paste("later", false);
    clipboard.fetch();
    clock.advanceTo(5);
    ASSERT_EQ(keys.chords.size(), 1u);
    EXPECT_NEAR(keys.chords[0].first, 4 * Paster::modifierPoll, 1e-9);
    ASSERT_EQ(clipboard.restores.size(), 1u);
    EXPECT_NEAR(clipboard.restores[0].first, 4 * Paster::modifierPoll + 0.5, 1e-9);
}

TEST_F(PasterTest, AModifierNeverReleasedLeavesTheDictationOnTheClipboard) {
    keys.heldFor = 1'000'000;
    LogCapture log;
    paster.paste("for a paste by hand", false);
    clock.advanceTo(Paster::modifierWaitLimit + 5);
    EXPECT_TRUE(keys.chords.empty());
    EXPECT_TRUE(clipboard.restores.empty());
    EXPECT_EQ(clipboard.contents->formats.at(0).second, "for a paste by hand");
    EXPECT_TRUE(log.contains("paste not sent: retry: a modifier is still held (Shift_L)"))
        << log.text();
    EXPECT_EQ(clock.pending(), 0u);

    // A secret is not left behind.
    paster.paste("hunter2", true);
    clock.advanceTo(2 * Paster::modifierWaitLimit + 10);
    EXPECT_EQ(clipboard.contents->formats.at(0).second, "for a paste by hand");
}

TEST_F(PasterTest, TerminalsGetCtrlShiftVOrTypedText) {
    windows.front->windowClass = "Gnome-terminal";
    focus.focused.reset();
    paster.paste("ls", false);
    clock.advanceTo(3);
    EXPECT_EQ(keys.chords.at(0).second, PasteChord::ctrlShiftV);

    windows.front->windowClass = "XTerm";
    const auto writes = clipboard.writes;
    paster.paste("pwd", false);
    clock.advanceTo(6);
    EXPECT_EQ(keys.typed, (std::vector<std::pair<double, std::string>>{{3, "pwd"}}));
    EXPECT_EQ(clipboard.writes, writes) << "typing leaves the clipboard alone";
}

TEST_F(PasterTest, NothingHappensWithoutKeysOrText) {
    LogCapture log;
    paster.paste("", false);
    keys.available = false;
    paster.paste("text", false);
    EXPECT_EQ(clipboard.writes, 0u);
    EXPECT_TRUE(log.contains("cannot paste: no X display")) << log.text();

    // Without a clipboard the text is typed.
    keys.available = true;
    clipboard.available = false;
    paster.paste("typed", false);
    EXPECT_EQ(keys.typed.size(), 1u);
}

} // namespace
