#pragma once

#include "platform/MainThread.h"
#include "speech/SpeechEngine.h"

#include <QObject>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class WordStore;

// What a tune run found: the words of the read sentences, how many were wrong before and after
// the chosen words, and those words in the order chosen.
struct TuneResult {
    int words = 0;
    int before = 0;
    int after = 0;
    std::vector<std::string> added;

    bool operator==(const TuneResult&) const = default;
    // The text shown after the run.
    std::string summary() const;
};

// The user's reading of 30 fixed sentences (NN.wav and NN.txt in a private folder) and the tune
// run over it. Lives on the main thread, where every published field changes; the run works on
// its own thread with copies and reports back through `deliver`.
class VoiceTest : public QObject {
    Q_OBJECT

  public:
    static constexpr int sentenceCount = 30;
    static constexpr int minimumRecordings = 5;
    // Each tried word costs a pass over every recording.
    static constexpr int maximumTries = 12;
    static const std::array<std::string_view, sentenceCount> sentences;

    // How far a run is, in transcriptions: done of at most `total`.
    struct Progress {
        int done = 0;
        int total = 0;
        bool operator==(const Progress&) const = default;
    };

    // `engine` is shared with the run, which may outlive a stopped request by one transcription.
    VoiceTest(std::filesystem::path folder, std::shared_ptr<SpeechEngine> engine,
              Deliver deliver = mainThread(), QObject* parent = nullptr);
    // Stops a run and waits for its current transcription; its result is dropped.
    ~VoiceTest() override;
    VoiceTest(const VoiceTest&) = delete;
    VoiceTest& operator=(const VoiceTest&) = delete;

    // Makes the folder private and counts the recordings there from 01.wav on.
    void open();
    // Keeps a finished recording for the next sentence; a 31st is ignored.
    void save(std::vector<float> samples);
    // The next recording replaces the last one.
    void redoPrevious();
    // Starts a run over the recordings with `words`' list, unless one runs or the list could
    // not be read. The chosen words are added to the list as it is when the run ends.
    void tune(WordStore& words);
    // Ends the run at its next transcription, changing nothing.
    void stop();

    int index() const { return index_; }
    const std::string& status() const { return status_; }
    bool isTuning() const { return isTuning_; }
    const std::optional<TuneResult>& result() const { return result_; }
    const Progress& progress() const { return progress_; }
    // "Checking 37 of 414…" while a run works, else empty.
    std::string progressText() const;
    // The sentence to read next; empty once all are recorded.
    std::string_view sentence() const;
    const std::filesystem::path& folder() const { return folder_; }
    // NN.wav or NN.txt for sentence n (1...30).
    std::filesystem::path file(int n, std::string_view extension) const;

    // One transcription of a recording, primed with `words` the way dictation primes it.
    static std::string transcribe(SpeechEngine& engine, const std::string& wav,
                                  const std::vector<std::string>& words);

  signals:
    void indexChanged();
    void statusChanged();
    void tuningChanged();
    void resultChanged();
    void progressChanged();

  private:
    // What a run needs, all copies: it shares nothing with the main thread.
    struct Run;
    struct Outcome;

    static Outcome search(const Run& run, std::stop_token stop,
                          const std::function<void(Progress)>& report);
    void finish(Outcome outcome, WordStore* words);
    void setIndex(int index);
    void setStatus(std::string status);
    void setTuning(bool tuning);
    void setProgress(Progress progress);

    std::filesystem::path folder_;
    std::shared_ptr<SpeechEngine> engine_;
    Inbox inbox_;
    int index_ = 0;
    std::string status_;
    bool isTuning_ = false;
    std::optional<TuneResult> result_;
    Progress progress_;
    std::jthread worker_;
};
