#include "LogCapture.h"
#include "ManualScheduler.h"
#include "dictation/Paster.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace {

class FakeClipboard : public Clipboard {
  public:
    explicit FakeClipboard(ManualScheduler& clock) : clock_(clock) {}

    bool available = true;
    std::optional<ClipboardContents> contents = ClipboardContents{{{"text/plain", "user's"}}};
    bool answers = true;
    std::uint64_t owner = 0; // our write number while we own it, 0 when someone else does
    std::uint64_t lastTarget = 0;
    std::set<std::uint64_t> fetchedWrites;
    std::vector<std::pair<double, ClipboardContents>> restores;
    std::function<void(std::uint64_t)> handler;
    std::uint64_t writes = 0;

    bool isAvailable() const override { return available; }
    std::optional<ClipboardContents> snapshot() override {
        return answers ? contents : std::nullopt;
    }
    std::uint64_t writeText(const std::string& text, std::uint64_t target) override {
        contents = ClipboardContents{{{"text/plain", text}, {concealedType, concealedValue}}};
        lastTarget = target;
        owner = ++writes;
        return owner;
    }
    bool holds(std::uint64_t write) const override { return owner == write; }
    bool wasFetched(std::uint64_t write) const override { return fetchedWrites.contains(write); }
    void setFetchedHandler(std::function<void(std::uint64_t)> h) override {
        handler = std::move(h);
    }
    void restore(const ClipboardContents& c) override {
        restores.emplace_back(clock_.now, c);
        contents = c;
        owner = 0;
    }

    // The paste target fetched the latest write.
    void fetch() {
        fetchedWrites.insert(writes);
        handler(writes);
    }
    // Another program took the clipboard.
    void copyElsewhere(const std::string& text) {
        contents = ClipboardContents{{{"text/plain", text}}};
        owner = 0;
    }

  private:
    ManualScheduler& clock_;
};

class FakeKeys : public KeySynthesizer {
  public:
    explicit FakeKeys(ManualScheduler& clock) : clock_(clock) {}

    bool available = true;
    int heldFor = 0; // answers retry this many more times
    std::vector<std::pair<double, PasteChord>> chords;
    std::vector<std::pair<double, std::string>> typed;

    bool isAvailable() const override { return available; }
    std::string unavailableReason() const override { return "no X display"; }
    SynthesisResult sendPasteChord(PasteChord chord) override {
        if (heldFor > 0) {
            --heldFor;
            return SynthesisResult::retry("a modifier is still held (Shift_L)");
        }
        chords.emplace_back(clock_.now, chord);
        return SynthesisResult::ok();
    }
    SynthesisResult type(const std::string& text,
                         std::function<void(SynthesisResult)> done) override {
        if (heldFor > 0) {
            --heldFor;
            return SynthesisResult::retry("a modifier is still held (Shift_L)");
        }
        typed.emplace_back(clock_.now, text);
        done(SynthesisResult::ok());
        return SynthesisResult::ok();
    }

  private:
    ManualScheduler& clock_;
};

struct FakeElement : FocusedElement {
    explicit FakeElement(int id) : id(id) {}
    int id;
    bool isSame(const FocusedElement& other) const override {
        const auto* e = dynamic_cast<const FakeElement*>(&other);
        return e && e->id == id;
    }
};

class FakeFocus : public FocusProbe {
  public:
    std::optional<int> focused = 1;
    std::map<int, FieldState> fields{{1, {5, 5}}};
    std::set<int> secure;
    int queries = 0;

    bool isAvailable() const override { return true; }
    std::shared_ptr<const FocusedElement> focusedElement() override {
        ++queries;
        return focused ? std::make_shared<FakeElement>(*focused) : nullptr;
    }
    bool isSecure(const FocusedElement& e) override {
        return secure.contains(dynamic_cast<const FakeElement&>(e).id);
    }
    std::optional<FieldState> state(const FocusedElement& e) override {
        const auto found = fields.find(dynamic_cast<const FakeElement&>(e).id);
        return found == fields.end() ? std::nullopt : std::optional(found->second);
    }
};

class FakeWindows : public WindowProbe {
  public:
    std::optional<FrontWindow> front = FrontWindow{0x400007, "Editor", "Gedit", 42};
    bool grabbed = false;

    bool isAvailable() const override { return true; }
    std::optional<FrontWindow> frontmost() override { return front; }
    std::optional<std::string> title(const FrontWindow&) override { return "a title"; }
    bool isKeyboardGrabbed() override { return grabbed; }
};

class PasterTest : public ::testing::Test {
  protected:
    ManualScheduler clock;
    FakeClipboard clipboard{clock};
    FakeKeys keys{clock};
    FakeFocus focus;
    FakeWindows windows;
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

TEST_F(PasterTest, TheCheckStopsWhenTheUserMovesOnOrTheFieldGoes) {
    struct Change {
        const char* name;
        std::function<void(FakeFocus&)> apply;
    };
    const std::vector<Change> changes{
        {"focus left", [](FakeFocus& f) { f.focused.reset(); }},
        {"another field",
         [](FakeFocus& f) {
             f.focused = 2, f.fields[2] = {5, 5};
         }},
        {"field unreadable", [](FakeFocus& f) { f.fields.erase(1); }},
        {"caret moved only", [](FakeFocus& f) { f.fields[1].caret = 0; }},
        {"caret gone", [](FakeFocus& f) { f.fields[1].caret.reset(); }},
    };
    for (const auto& change : changes) {
        ManualScheduler time;
        FakeClipboard board(time);
        FakeKeys synth(time);
        FakeFocus probe;
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

TEST_F(PasterTest, APasswordFieldIsPastedWithoutAnyCheckOrTyping) {
    paster.paste("hunter2", true);
    clock.advanceTo(3);
    EXPECT_EQ(focus.queries, 0);
    EXPECT_EQ(keys.chords.size(), 1u);
    EXPECT_TRUE(keys.typed.empty());
    EXPECT_EQ(clipboard.restores.size(), 1u) << "the secret must not stay on the clipboard";
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
        FakeKeys synth(time);
        FakeFocus probe;
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
