#include "HttpServers.h"
#include "LogCapture.h"
#include "ManualScheduler.h"
#include "PostedWork.h"
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "models/ModelDownloader.h"
#include "platform/Log.h"

#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>

namespace fs = std::filesystem;
using Model = ModelDownloader::Model;

namespace {

const std::string vadName = "ggml-silero-v5.1.2.bin";
const std::string speechName = "ggml-large-v3-turbo-q5_0.bin";

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xff);
    }
    return bytes;
}

// Worked out by the system's own tool, not by the code under test.
std::string sha256Of(const fs::path& file) {
    const ProcessResult result = runProcess({"/usr/bin/sha256sum", file.string()});
    return result.out.substr(0, 64);
}

// Where a model's address puts it under a served folder.
fs::path servedAt(const fs::path& root, const Model& model, const std::string& base) {
    return root / model.url.substr(base.size() + 1);
}

bool isThere(const fs::path& file) {
    struct stat info {};
    return ::lstat(file.c_str(), &info) == 0;
}

// The same files from the server's rate-limited copy, so a test can act while one is on its way.
void slowDown(std::vector<Model>& models, const WebServer& server) {
    for (auto& model : models) {
        model.url.insert(server.address().size(), "/slow");
    }
}

// nginx logs a request once it is done with it, a moment after the client has the last byte.
std::vector<std::string> requestsOnceLogged(const WebServer& server, std::size_t count) {
    eventually([&] { return server.requests().size() >= count; }, 5);
    return server.requests();
}

class ModelDownloads : public ::testing::Test {
  protected:
    // The two model files of a few megabytes, served by `root` at the addresses under `base`;
    // `files` holds what is served.
    std::vector<Model> serve(const fs::path& root, const std::string& base,
                             std::size_t speechSize = 3 << 20) {
        std::vector<Model> models = ModelDownloader::required(base);
        const std::size_t sizes[] = {1 << 20, speechSize};
        for (std::size_t i = 0; i < models.size(); ++i) {
            const fs::path file = servedAt(root, models[i], base);
            served.push_back(randomBytes(sizes[i], static_cast<unsigned>(i + 7)));
            writeAll(file, served.back());
            fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read | fs::perms::others_read);
            models[i].sha256 = sha256Of(file);
        }
        return models;
    }

    void make(std::vector<Model> models, DownloadOptions options = quick()) {
        downloader = std::make_unique<ModelDownloader>(folder, std::move(models), scheduler,
                                                       posted.deliver(), options);
        downloader->onProgress = [this](int percent) { progress.push_back(percent); };
        downloader->onFinish = [this](const std::optional<std::string>& error) {
            finished.push_back(error);
        };
        downloader->onRetry = [this](const std::string& reason) { retries.push_back(reason); };
    }

    static DownloadOptions quick() {
        DownloadOptions options;
        options.limits.connectSeconds = 5;
        options.limits.stallSeconds = 2;
        return options;
    }

    bool finishes(double seconds = 30) {
        return posted.runUntil([this] { return !finished.empty(); }, seconds);
    }
    bool retriesOnce(double seconds = 30) {
        const std::size_t before = retries.size();
        return posted.runUntil([&] { return retries.size() > before; }, seconds);
    }

    std::vector<std::string> filesIn(const fs::path& where) const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(where, error)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir home;
    const fs::path folder = home / "support" / "models";
    std::vector<std::string> served;
    ManualScheduler scheduler;
    PostedWork posted;
    std::vector<int> progress;
    std::vector<std::optional<std::string>> finished;
    std::vector<std::string> retries;
    std::unique_ptr<ModelDownloader> downloader;
};

TEST(ModelList, NamesDigestsAndAddressesAreFixedAndFollowTheBase) {
    const auto models = ModelDownloader::required("https://mirror.example/models/");
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(models[0].name, vadName);
    EXPECT_EQ(models[0].sha256, "29940d98d42b91fbd05ce489f3ecf7c72f0a42f027e4875919a28fb4c04ea2cf");
    EXPECT_EQ(models[0].url,
              "https://mirror.example/models/ggml-org/whisper-vad/resolve/main/" + vadName);
    EXPECT_EQ(models[1].name, speechName);
    EXPECT_EQ(models[1].sha256, "394221709cd5ad1f40c46e6031ca61bce88931e6e088c188294c6d5a55ffa7e2");
    EXPECT_TRUE(models[1].url.ends_with("/resolve/main/" + speechName));
    EXPECT_TRUE(models[1].url.starts_with("https://mirror.example/models/"));
}

TEST(ModelList, EachCatalogModelIsFetchedFromItsFolderAndBoundedByItsSize) {
    for (const auto& speech : SpeechModels::catalog) {
        const auto models = ModelDownloader::required("https://mirror.example/models", speech);
        ASSERT_EQ(models.size(), 2u);
        EXPECT_EQ(models[0].name, vadName) << "the speech check's model comes first";
        EXPECT_EQ(models[1].name, speech.file);
        EXPECT_EQ(models[1].url,
                  "https://mirror.example/models/ggerganov/whisper.cpp/resolve/main/" +
                      std::string(speech.file));
        EXPECT_EQ(models[1].sha256, speech.sha256);
        EXPECT_EQ(models[1].maximumBytes, speech.bytes) << speech.file;
    }
}

TEST_F(ModelDownloads, BothFilesPresentFinishAtOnceWithoutARequest) {
    WebServer server;
    auto models = serve(server.root(), server.address());
    writeAll(folder / vadName, "mine");
    writeAll(folder / speechName, "mine too");
    make(models);

    EXPECT_TRUE(downloader->missing().empty());
    downloader->start();

    ASSERT_EQ(finished.size(), 1u) << "finished before start() returned";
    EXPECT_EQ(finished[0], std::nullopt);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(readAll(folder / vadName), "mine");
}

TEST_F(ModelDownloads, OnlyTheMissingSpeechModelIsFetchedWithProgressFromZero) {
    WebServer server;
    auto models = serve(server.root(), server.address());
    writeAll(folder / vadName, "already here");
    make(models);
    ASSERT_EQ(downloader->missing(), std::vector<Model>{models[1]});

    downloader->start();
    ASSERT_TRUE(finishes());

    EXPECT_EQ(finished, std::vector<std::optional<std::string>>{std::nullopt});
    EXPECT_EQ(readAll(folder / speechName), served[1]);
    EXPECT_EQ(readAll(folder / vadName), "already here");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    const auto requests = requestsOnceLogged(server, 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("/" + speechName + " - 200"), std::string::npos) << requests[0];
    EXPECT_EQ(filesIn(folder), (std::vector<std::string>{speechName, vadName}));
    EXPECT_EQ(modeOf(folder / speechName), 0600u);
}

TEST_F(ModelDownloads, BothFilesComeInOrderWithProgressPerFile) {
    WebServer server;
    make(serve(server.root(), server.address()));

    downloader->start();
    ASSERT_TRUE(finishes());

    EXPECT_EQ(finished[0], std::nullopt);
    EXPECT_EQ(readAll(folder / vadName), served[0]);
    EXPECT_EQ(readAll(folder / speechName), served[1]);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(home / "support"), 0700u);
    EXPECT_EQ(std::count(progress.begin(), progress.end(), 0), 2) << "each file starts at 0";
    EXPECT_EQ(std::count(progress.begin(), progress.end(), 100), 2);
    const auto requests = requestsOnceLogged(server, 2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find(vadName), std::string::npos);
    EXPECT_NE(requests[1].find(speechName), std::string::npos);
}

TEST_F(ModelDownloads, StartingAgainWhileAFileIsOnItsWayStartsNoSecondTransfer) {
    WebServer server(1 << 20);
    auto models = serve(server.root(), server.address());
    slowDown(models, server);
    make(models);
    downloader->start();
    ASSERT_TRUE(posted.runUntil([&] { return !progress.empty(); }, 30));
    downloader->start();
    downloader->start();
    ASSERT_TRUE(finishes());
    posted.runUntil([] { return false; }, 0.5); // nothing more may come

    EXPECT_EQ(finished, std::vector<std::optional<std::string>>{std::nullopt});
    EXPECT_EQ(readAll(folder / vadName), served[0]);
    EXPECT_EQ(readAll(folder / speechName), served[1]);
    EXPECT_EQ(requestsOnceLogged(server, 3).size(), 2u);
}

TEST_F(ModelDownloads, AnUnknownLengthGivesNoProgressButIsStillChecked) {
    TempDir source;
    writeAll(source / "file", randomBytes(2 << 20, 3));
    ScriptedServer server(ScriptedServer::Mode::noLength, source / "file");
    auto models = ModelDownloader::required(server.address());
    models[0].sha256 = sha256Of(source / "file");
    models[1].sha256 = std::string(64, '0');
    make(models);

    downloader->start();
    ASSERT_TRUE(finishes());

    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(readAll(folder / vadName), readAll(source / "file"));
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0], "process: " + speechName + " did not download correctly");
}

TEST_F(ModelDownloads, AFilePastTheCatalogsSizeIsCutOffThereAndFails) {
    TempDir source;
    writeAll(source / "file", "unused");
    for (const auto mode : {ScriptedServer::Mode::endless, ScriptedServer::Mode::hugeLength}) {
        ScriptedServer server(mode, source / "file");
        auto models = ModelDownloader::required(server.address());
        models[0].maximumBytes = 1 << 20;
        make(models);
        finished.clear();
        downloader->start();
        ASSERT_TRUE(finishes());
        ASSERT_EQ(finished.size(), 1u);
        EXPECT_EQ(finished[0], "process: " + vadName + " did not download correctly");
        const auto part = folder / (vadName + ".part");
        EXPECT_LE(std::filesystem::exists(part) ? std::filesystem::file_size(part) : 0, 1u << 20);
        EXPECT_FALSE(std::filesystem::exists(folder / vadName));
    }
}

TEST_F(ModelDownloads, OneWrongByteFailsTheRunAndLeavesNothingOfThatName) {
    WebServer server;
    auto models = serve(server.root(), server.address());
    std::string altered = served[1];
    altered[altered.size() / 2] ^= 0x01;
    writeAll(servedAt(server.root(), models[1], server.address()), altered);
    make(models);

    downloader->start();
    ASSERT_TRUE(finishes());

    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0], "process: ggml-large-v3-turbo-q5_0.bin did not download correctly");
    // The file fetched before the failure stays; nothing of the wrong one does.
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{vadName});

    // Fixed on the server, the next start fetches only what is still missing.
    writeAll(servedAt(server.root(), models[1], server.address()), served[1]);
    finished.clear();
    downloader->start();
    ASSERT_TRUE(finishes());
    EXPECT_EQ(finished[0], std::nullopt);
    EXPECT_EQ(readAll(folder / speechName), served[1]);
    const auto requests = requestsOnceLogged(server, 3);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[2].find(speechName + " - 200"), std::string::npos) << requests[2];
}

TEST_F(ModelDownloads, ADropMidTransferIsLoggedOnceAndResumedFromTheBytesOnDisk) {
    TempDir source;
    const std::string bytes = randomBytes(3 << 20, 5);
    writeAll(source / "file", bytes);
    const std::size_t cut = 1'000'000;
    ScriptedServer server(ScriptedServer::Mode::dropAfter, source / "file", cut);
    auto models = ModelDownloader::required(server.address());
    models[0].sha256 = sha256Of(source / "file");
    models.pop_back();
    LogCapture captured;
    Log log("test", std::nullopt);
    make(models);

    downloader->start();
    ASSERT_TRUE(retriesOnce());
    EXPECT_EQ(fs::file_size(folder / (vadName + ".part")), cut);
    EXPECT_TRUE(finished.empty()) << "an interruption never ends a run";
    EXPECT_EQ(scheduler.pending(), 1u);

    scheduler.advanceBy(4.9);
    EXPECT_EQ(server.requests().size(), 1u) << "the retry waits five seconds";
    scheduler.advanceBy(0.1);
    ASSERT_TRUE(finishes());

    EXPECT_EQ(finished[0], std::nullopt);
    EXPECT_EQ(readAll(folder / vadName), bytes);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("bytes=1000000-"), std::string::npos) << requests[1];
    const std::string text = captured.text();
    const auto first = text.find("download interrupted, retrying: ");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("download interrupted, retrying: ", first + 1), std::string::npos) << text;
}

TEST_F(ModelDownloads, ATransferStoppedByQuittingResumesWithARangeFromTheRealServer) {
    WebServer server(512 * 1024);
    auto models = serve(server.root(), server.address(), 4 << 20);
    // Fetch from the rate-limited copy so the quit lands mid-way.
    auto slow = models;
    slowDown(slow, server);
    writeAll(folder / vadName, "present");
    make(slow);
    downloader->start();
    ASSERT_TRUE(posted.runUntil([&] { return !progress.empty() && progress.back() >= 20; }, 30));
    downloader.reset();

    const auto part = folder / (speechName + ".part");
    const auto kept = fs::file_size(part);
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, served[1].size());
    EXPECT_FALSE(isThere(folder / speechName));

    progress.clear();
    make(models);
    downloader->start();
    ASSERT_TRUE(finishes());
    EXPECT_EQ(finished[0], std::nullopt);
    EXPECT_EQ(readAll(folder / speechName), served[1]);
    EXPECT_FALSE(isThere(part));
    EXPECT_GE(progress.front(), 20) << "progress counts the bytes already on disk";
    const auto requests = requestsOnceLogged(server, 2);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_NE(requests.back().find("bytes=" + std::to_string(kept) + "- 206"), std::string::npos)
        << requests.back();
}

TEST_F(ModelDownloads, AServerThatIgnoresTheRangeRestartsTheFileInsteadOfAppending) {
    TempDir source;
    const std::string bytes = randomBytes(2 << 20, 9);
    writeAll(source / "file", bytes);
    ScriptedServer server(ScriptedServer::Mode::ignoresRange, source / "file");
    auto models = ModelDownloader::required(server.address());
    models[0].sha256 = sha256Of(source / "file");
    models.pop_back();
    writeAll(folder / (vadName + ".part"), bytes.substr(0, 700'000));
    make(models);

    downloader->start();
    ASSERT_TRUE(finishes());

    EXPECT_EQ(finished[0], std::nullopt);
    EXPECT_EQ(readAll(folder / vadName), bytes);
    EXPECT_NE(server.requests().at(0).find("bytes=700000-"), std::string::npos);
}

TEST_F(ModelDownloads, TransportTroubleIsRetriedWithoutEndAndNeverFailsTheRun) {
    TempDir source;
    writeAll(source / "file", "x");
    // A server that accepts and never answers, then one that is not there at all.
    ScriptedServer silent(ScriptedServer::Mode::silent, source / "file");
    auto models = ModelDownloader::required(silent.address());
    models.pop_back();
    make(models);
    downloader->start();
    ASSERT_TRUE(retriesOnce());

    std::string closed;
    {
        ScriptedServer gone(ScriptedServer::Mode::notFound, source / "file");
        closed = gone.address();
    }
    auto unreachable = ModelDownloader::required(closed);
    unreachable.pop_back();
    make(unreachable);
    downloader->start();
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_TRUE(retriesOnce());
        scheduler.advanceBy(5);
    }
    EXPECT_TRUE(finished.empty());
    EXPECT_FALSE(isThere(folder / vadName));
}

TEST_F(ModelDownloads, RefusalsFailTheRunWithTheFilesName) {
    TempDir source;
    writeAll(source / "file", "the real file");
    const std::string expected = "process: " + vadName + " did not download correctly";
    for (const auto mode : {ScriptedServer::Mode::notFound, ScriptedServer::Mode::errorPage}) {
        ScriptedServer server(mode, source / "file");
        auto models = ModelDownloader::required(server.address());
        models[0].sha256 = sha256Of(source / "file");
        finished.clear();
        make(models);
        downloader->start();
        ASSERT_TRUE(finishes());
        EXPECT_EQ(finished[0], expected);
        EXPECT_FALSE(isThere(folder / vadName));
        EXPECT_TRUE(retries.empty()) << "a refusal is not retried";
    }
}

TEST_F(ModelDownloads, ARedirectAwayFromHttpsIsRefused) {
    TempDir source;
    writeAll(source / "file", "x");
    ScriptedServer server(ScriptedServer::Mode::redirect, source / "file", 0,
                          "http://example.com/" + vadName);
    auto models = ModelDownloader::required(server.address());
    LogCapture captured;
    Log log("test", std::nullopt);
    make(models);

    downloader->start();
    ASSERT_TRUE(finishes());

    EXPECT_EQ(finished[0], "process: " + vadName + " did not download correctly");
    EXPECT_NE(captured.text().find("plain http to another computer"), std::string::npos);
    EXPECT_FALSE(isThere(folder / vadName));
}

TEST_F(ModelDownloads, AnAddressThatIsNotAllowedFailsInsteadOfFinishing) {
    for (const std::string base : {"::not a url::", "http://example.com", "ftp://127.0.0.1"}) {
        finished.clear();
        make(ModelDownloader::required(base));
        downloader->start();
        ASSERT_EQ(finished.size(), 1u) << base;
        ASSERT_TRUE(finished[0].has_value()) << base;
        EXPECT_TRUE(finished[0]->starts_with("process: ")) << *finished[0];
    }
    EXPECT_FALSE(isThere(folder));
}

TEST_F(ModelDownloads, AModelsFolderThatCannotBeCreatedFailsTheRun) {
    WebServer server;
    auto models = serve(server.root(), server.address());
    writeAll(home / "support", "a file where the folder should be");
    make(models);

    downloader->start();
    ASSERT_TRUE(finishes());

    ASSERT_TRUE(finished[0].has_value());
    EXPECT_NE(finished[0]->find("Not a directory"), std::string::npos) << *finished[0];
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(ModelDownloads, AFileThatAppearsInTheWayKeepsItsPlaceAndFailsTheRun) {
    WebServer server(1 << 20);
    auto models = serve(server.root(), server.address());
    slowDown(models, server);
    models.erase(models.begin());
    make(models);
    downloader->onProgress = [this](int percent) {
        if (progress.empty()) {
            writeAll(folder / speechName, "put here by someone else");
        }
        progress.push_back(percent);
    };

    downloader->start();
    ASSERT_TRUE(finishes());

    ASSERT_TRUE(finished[0].has_value());
    EXPECT_NE(finished[0]->find("File exists"), std::string::npos) << *finished[0];
    EXPECT_EQ(readAll(folder / speechName), "put here by someone else");
    EXPECT_EQ(filesIn(folder), std::vector<std::string>{speechName});
}

TEST_F(ModelDownloads, AFullDiskFailsTheRunWithTheSystemsWordsAndNoFileUnderTheName) {
    WebServer server;
    auto models = serve(server.root(), server.address());
    models.erase(models.begin());
    // A file-size limit stands in for a disk that fills up mid-transfer.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1 << 20, RLIM_INFINITY};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    make(models);

    downloader->start();
    ASSERT_TRUE(finishes());

    ASSERT_TRUE(finished[0].has_value());
    EXPECT_EQ(*finished[0], "couldn't save " + speechName + ".part: File too large");
    EXPECT_FALSE(isThere(folder / speechName));
}

TEST_F(ModelDownloads, TwoCopiesOfTheProgramNeverWriteOneFile) {
    WebServer server(1 << 20);
    auto models = serve(server.root(), server.address());
    slowDown(models, server);
    models.erase(models.begin());
    make(models);
    ModelDownloader second(folder, models, scheduler, posted.deliver(), quick());
    std::vector<std::optional<std::string>> secondFinished;
    second.onFinish = [&](const std::optional<std::string>& error) {
        secondFinished.push_back(error);
    };
    std::vector<std::string> secondRetries;
    second.onRetry = [&](const std::string& reason) { secondRetries.push_back(reason); };

    downloader->start();
    ASSERT_TRUE(posted.runUntil([&] { return !progress.empty(); }, 30));
    second.start();
    ASSERT_TRUE(posted.runUntil([&] { return !secondRetries.empty(); }, 30));
    EXPECT_NE(secondRetries[0].find("under way"), std::string::npos) << secondRetries[0];

    ASSERT_TRUE(finishes());
    scheduler.advanceBy(5);
    ASSERT_TRUE(posted.runUntil([&] { return !secondFinished.empty(); }, 30));
    EXPECT_EQ(finished[0], std::nullopt);
    EXPECT_EQ(secondFinished[0], std::nullopt);
    EXPECT_EQ(readAll(folder / speechName), served[1]);
    EXPECT_EQ(requestsOnceLogged(server, 2).size(), 1u);
}

} // namespace
