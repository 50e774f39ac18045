#include "speech/VoiceActivityCheck.h"

#include "Files.h"
#include "SpeechCheck.h"
#include "Uuid.h"
#include "WavEncoder.h"
#include "platform/AppError.h"
#include "platform/Log.h"
#include "platform/Subprocess.h"

#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace VoiceActivityCheck {

namespace {

// A new private file in the temporary folder, removed when this goes out of scope.
class TemporaryWav {
  public:
    explicit TemporaryWav(const std::string& bytes)
        : path_(std::filesystem::temp_directory_path() /
                ("dictation-" + Uuid::generate() + ".wav")) {
        // Exclusive: a file already there (a link another user planted, say) is never written.
        if (!Files::writeNew(path_, bytes)) {
            throw FileError("couldn't write " + path_.filename().string() + ": it exists");
        }
        created_ = true;
    }
    ~TemporaryWav() {
        if (created_) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    TemporaryWav(const TemporaryWav&) = delete;
    TemporaryWav& operator=(const TemporaryWav&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    bool created_ = false;
};

} // namespace

SpeechTool SpeechTool::standard(const Paths& paths) {
    return {paths.tool(SpeechCheck::toolName), paths.models() / SpeechCheck::modelFile, 5};
}

bool isSilent(std::span<const float> samples, const SpeechTool& tool) {
    try {
        const TemporaryWav wav(WavEncoder::encode(samples));
        const std::string output =
            run(SpeechCheck::arguments(tool.program, wav.path().string(), tool.model.string()),
                std::nullopt, std::nullopt, tool.timeoutSeconds);
        if (const auto silent = SpeechCheck::isSilent(output)) {
            return *silent;
        }
        // Output without a result (a usage text, say) is a failed check, never speech.
        throw AppError::process(tool.program + " gave no result");
    } catch (const std::exception& error) {
        log(std::string("speech check failed, going by loudness: ") + error.what());
    }
    return SpeechCheck::isQuiet(samples);
}

void removeLeftovers(std::chrono::seconds age) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error);
    if (error) {
        return;
    }
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with("dictation-") || !name.ends_with(".wav")) {
            continue;
        }
        struct stat info {};
        std::error_code ignored;
        // Another user's files, and a check still running in another process, stay.
        if (::lstat(it->path().c_str(), &info) != 0 || info.st_uid != ::geteuid() ||
            !S_ISREG(info.st_mode) || now - it->last_write_time(ignored) < age) {
            continue;
        }
        fs::remove(it->path(), ignored);
    }
}

} // namespace VoiceActivityCheck
