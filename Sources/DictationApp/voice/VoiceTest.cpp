#include "voice/VoiceTest.h"

#include "Files.h"
#include "Text.h"
#include "Vocabulary.h"
#include "VoiceScore.h"
#include "WavEncoder.h"
#include "platform/Log.h"
#include "storage/Stores.h"

#include <QPointer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

const std::array<std::string_view, VoiceTest::sentenceCount> VoiceTest::sentences{
    "Can you send me the latest draft before lunch?",
    "I think we should ship the fix on Thursday.",
    "Let's move the meeting to three thirty on Friday.",
    "The numbers in the pricing page look wrong.",
    "Thanks for the quick reply, I really appreciate it.",
    "Please review my pull request when you get a chance.",
    "The build failed because the test database was empty.",
    "Add a filter so people can search by company.",
    "What would it take to make this work offline?",
    "I'll follow up with Sarah and Brian tomorrow morning.",
    "We need a stronger opening line for the newsletter.",
    "Rewrite this paragraph so it sounds more like me.",
    "The customer asked about security and data storage.",
    "Schedule a call with the product team next week.",
    "Show me every account that hasn't replied in thirty days.",
    "Split this function into smaller pieces and add tests.",
    "Our revenue grew twenty percent compared with last year.",
    "Could you explain why the first version was slower?",
    "Remember to update the design system before we launch.",
    "Three things matter most: speed, quality and trust.",
    "I'd rather start small and improve it every week.",
    "Please book a train to Boston for Wednesday evening.",
    "The research paper compares several robot learning methods.",
    "Make the button bigger and move it to the right.",
    "She said the proposal was clear but a little too long.",
    "Does the application still work without an internet connection?",
    "Create a spreadsheet with names, titles and email addresses.",
    "My biggest question is whether people will pay for this.",
    "Stop the server, clear the cache and try again.",
    "Great work, let's talk about the next step on Monday.",
};

std::string TuneResult::summary() const {
    const auto number = [](int n) { return std::to_string(n); };
    if (before == 0) {
        return "It heard all " + number(words) + " words right. Nothing to fix.";
    }
    if (added.empty()) {
        return number(before) + " of " + number(words) +
               " words were wrong, and no added word fixed them. Nothing was changed.";
    }
    std::string list;
    for (const auto& word : added) {
        list += (list.empty() ? "" : ", ") + word;
    }
    return "Wrong words went from " + number(before) + " to " + number(after) + " of " +
           number(words) + ". Added " + list + " to Words.";
}

namespace {

// A run that was asked to stop, at a transcription boundary.
struct Stopped {};

// The error's type without its namespaces, for the log.
std::string unqualified(const std::exception& error) {
    const std::string name = StoreErrors::typeName(error);
    const auto colons = name.rfind("::");
    return colons == std::string::npos ? name : name.substr(colons + 2);
}

} // namespace

struct VoiceTest::Run {
    std::vector<std::filesystem::path> recordings; // for sentences 1...n; missing ones skipped
    std::vector<std::string> words;
    std::shared_ptr<SpeechEngine> engine;
};

struct VoiceTest::Outcome {
    std::optional<TuneResult> result; // nothing when stopped or failed
    std::string failure;              // the failure's type name
    int transcriptions = 0;
    double seconds = 0;
};

VoiceTest::VoiceTest(std::filesystem::path folder, std::shared_ptr<SpeechEngine> engine,
                     Deliver deliver, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), engine_(std::move(engine)),
      inbox_(std::move(deliver)) {}

VoiceTest::~VoiceTest() {
    inbox_.close();
    worker_.request_stop();
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::filesystem::path VoiceTest::file(int n, std::string_view extension) const {
    char name[16];
    std::snprintf(name, sizeof name, "%02d.", n);
    return folder_ / (name + std::string(extension));
}

std::string_view VoiceTest::sentence() const {
    return index_ < sentenceCount ? sentences[static_cast<std::size_t>(index_)] : "";
}

std::string VoiceTest::progressText() const {
    if (!isTuning_ || progress_.total == 0) {
        return {};
    }
    return "Checking " + std::to_string(std::min(progress_.done + 1, progress_.total)) + " of " +
           std::to_string(progress_.total) + "…";
}

void VoiceTest::open() {
    try {
        Files::createPrivateFolder(folder_);
    } catch (const std::exception& error) {
        log("couldn't make the voice folder: " + StoreErrors::typeName(error));
        setStatus("Couldn't make the folder: " + StoreErrors::userText(error));
    }
    int count = 0;
    std::error_code ignored;
    while (count < sentenceCount && std::filesystem::exists(file(count + 1, "wav"), ignored)) {
        ++count;
    }
    setIndex(count);
}

void VoiceTest::save(std::vector<float> samples) {
    if (index_ >= sentenceCount) {
        return;
    }
    const int n = index_ + 1;
    try {
        Files::createPrivateFolder(folder_);
        Files::replaceAtomically(file(n, "wav"), WavEncoder::encode(samples));
        Files::replaceAtomically(file(n, "txt"), sentences[static_cast<std::size_t>(index_)]);
    } catch (const std::exception& error) {
        log("couldn't save a voice recording: " + StoreErrors::typeName(error));
        setStatus("Couldn't save: " + StoreErrors::userText(error));
        return;
    }
    setStatus({});
    setIndex(n);
}

void VoiceTest::redoPrevious() {
    if (index_ >= 1 && !isTuning_) {
        setIndex(index_ - 1);
    }
}

void VoiceTest::tune(WordStore& words) {
    if (isTuning_ || words.problem()) {
        return;
    }
    setTuning(true);
    if (result_) {
        result_.reset();
        emit resultChanged();
    }
    setStatus({});
    setProgress({});

    Run run{{}, words.terms(), engine_};
    for (int k = 1; k <= index_; ++k) {
        run.recordings.push_back(file(k, "wav"));
    }
    const Deliver post = inbox_.post();
    QPointer<WordStore> store(&words);
    const auto report = [this, post](Progress progress) {
        post([this, progress] { setProgress(progress); });
    };
    // Assigning joins the last run's thread, which has delivered its result already.
    worker_ = std::jthread([this, post, store, report, run = std::move(run)](std::stop_token stop) {
        Outcome outcome = search(run, std::move(stop), report);
        post([this, store, outcome = std::move(outcome)]() mutable {
            finish(std::move(outcome), store.data());
        });
    });
}

void VoiceTest::stop() {
    worker_.request_stop();
}

std::string VoiceTest::transcribe(SpeechEngine& engine, const std::string& wav,
                                  const std::vector<std::string>& words) {
    std::string lines;
    for (const auto& word : words) {
        lines += word + "\n";
    }
    return engine.attempt(wav, Vocabulary::prompt(lines).value_or(""));
}

VoiceTest::Outcome VoiceTest::search(const Run& run, std::stop_token stop,
                                     const std::function<void(Progress)>& report) {
    struct Sample {
        std::string wav;
        std::string_view sentence;
    };
    const auto started = std::chrono::steady_clock::now();
    Outcome outcome;
    Progress progress;
    const auto heard = [&](const Sample& sample, const std::vector<std::string>& words) {
        if (stop.stop_requested()) {
            throw Stopped{};
        }
        report(progress);
        std::string text = transcribe(*run.engine, sample.wav, words);
        ++outcome.transcriptions;
        ++progress.done;
        return text;
    };
    try {
        std::vector<Sample> samples;
        for (std::size_t k = 0; k < run.recordings.size(); ++k) {
            if (auto wav = Files::readIfPresent(run.recordings[k])) {
                samples.push_back({std::move(*wav), sentences[k]});
            }
        }
        const int n = static_cast<int>(samples.size());
        progress.total = n + maximumTries * (n + 2);

        std::vector<std::pair<std::size_t, std::string>> pairs;
        int before = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const std::string text = heard(samples[i], run.words);
            before += VoiceScore::errors(samples[i].sentence, text);
            for (auto& candidate : VoiceScore::candidates(samples[i].sentence, text)) {
                pairs.emplace_back(i, std::move(candidate));
            }
        }

        const int tries = std::min(maximumTries, static_cast<int>(pairs.size()));
        progress.total = n + tries * (n + 2);
        int best = before;
        std::vector<std::string> added;
        for (int t = 0; t < tries; ++t) {
            const auto& [i, candidate] = pairs[static_cast<std::size_t>(t)];
            const int end = progress.done + n + 2; // where this try's share of work ends
            std::vector<std::string> current = run.words;
            current.insert(current.end(), added.begin(), added.end());
            const auto extended = Vocabulary::adding(candidate, current);
            const Sample& own = samples[i];
            if (extended.size() > current.size() &&
                VoiceScore::errors(own.sentence, heard(own, extended)) <
                    VoiceScore::errors(own.sentence, heard(own, current))) {
                int total = 0;
                for (const auto& sample : samples) {
                    total += VoiceScore::errors(sample.sentence, heard(sample, extended));
                }
                if (total < best) {
                    added.push_back(candidate);
                    best = total;
                }
            }
            progress.done = end;
        }

        int words = 0;
        for (const auto& sample : samples) {
            words += VoiceScore::wordCount(sample.sentence);
        }
        outcome.result = TuneResult{words, before, best, std::move(added)};
    } catch (const Stopped&) {
        outcome = Outcome{};
    } catch (const std::exception& error) {
        outcome.failure = unqualified(error);
    } catch (...) {
        outcome.failure = "unknown error";
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return outcome;
}

void VoiceTest::finish(Outcome outcome, WordStore* words) {
    setTuning(false);
    setProgress({});
    if (!outcome.failure.empty()) {
        log("tuning failed: " + outcome.failure);
        setStatus("Couldn't check your recordings.");
        return;
    }
    if (!outcome.result) {
        log("tuning stopped");
        return;
    }
    log("tuning done: " + std::to_string(outcome.transcriptions) + " transcriptions in " +
        Text::fixed(outcome.seconds, 2) + " s");
    if (!words) {
        return;
    }
    // The user may have changed the list while the run worked: add to the list as it is now.
    if (!outcome.result->added.empty()) {
        std::vector<std::string> list = words->terms();
        for (const auto& word : outcome.result->added) {
            list = Vocabulary::adding(word, std::move(list));
        }
        words->save(list);
    }
    if (words->problem()) {
        setStatus(*words->problem());
        return;
    }
    result_ = std::move(outcome.result);
    emit resultChanged();
}

void VoiceTest::setIndex(int index) {
    if (index_ != index) {
        index_ = index;
        emit indexChanged();
    }
}

void VoiceTest::setStatus(std::string status) {
    if (status_ != status) {
        status_ = std::move(status);
        emit statusChanged();
    }
}

void VoiceTest::setTuning(bool tuning) {
    if (isTuning_ != tuning) {
        isTuning_ = tuning;
        emit tuningChanged();
    }
}

void VoiceTest::setProgress(Progress progress) {
    if (progress_ != progress) {
        progress_ = progress;
        emit progressChanged();
    }
}
