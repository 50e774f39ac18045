#include "platform/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <pwd.h>
#include <unicode/coll.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Paths {

const std::string_view AppBundleID = PARLWICK_BUNDLE_ID;

namespace {

fs::path home() {
    if (const char* value = std::getenv("HOME"); value && *value) {
        return value;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return "/";
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback.
fs::path xdg(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && *value == '/') {
        return value;
    }
    return home() / fallback;
}

const std::optional<Bundle>& bundle() {
    static const std::optional<Bundle> value = bundleFor(executable());
    return value;
}

fs::path workingDirectory() {
    std::error_code error;
    fs::path cwd = fs::current_path(error);
    return error ? fs::path(".") : cwd;
}

} // namespace

std::optional<Bundle> bundleFor(const fs::path& executable) {
    if (!executable.is_absolute()) {
        return std::nullopt;
    }
    const fs::path prefix = executable.parent_path().parent_path();
    std::ifstream file(prefix / "share" / "parlwick" / "bundle.json");
    if (!file) {
        return std::nullopt;
    }
    const auto info = nlohmann::json::parse(file, nullptr, false);
    if (!info.is_object()) {
        return std::nullopt;
    }
    const auto identifier = info.find("CFBundleIdentifier");
    if (identifier == info.end() || !identifier->is_string() ||
        identifier->get<std::string>().empty()) {
        return std::nullopt;
    }
    Bundle result{prefix, identifier->get<std::string>(), std::nullopt};
    if (const auto name = info.find("CFBundleName"); name != info.end() && name->is_string()) {
        result.name = name->get<std::string>();
    }
    return result;
}

const fs::path& executable() {
    static const fs::path value = [] {
        std::error_code error;
        fs::path path = fs::read_symlink("/proc/self/exe", error);
        return error ? fs::path() : path;
    }();
    return value;
}

bool isApp() {
    return bundle().has_value();
}

const std::string& appName() {
    static const std::string value = isApp() && bundle()->name ? *bundle()->name : "Dictation";
    return value;
}

const fs::path& support() {
    static const fs::path value = xdg("XDG_DATA_HOME", ".local/share") / AppBundleID;
    return value;
}

#define PARLWICK_SUPPORT_FILE(function, name)                                                      \
    const fs::path& function() {                                                                   \
        static const fs::path value = support() / name;                                            \
        return value;                                                                              \
    }
PARLWICK_SUPPORT_FILE(history, "history.jsonl")
PARLWICK_SUPPORT_FILE(totals, "totals.json")
PARLWICK_SUPPORT_FILE(snippets, "snippets.json")
PARLWICK_SUPPORT_FILE(notes, "notes.json")
PARLWICK_SUPPORT_FILE(vocabulary, "words.txt")
PARLWICK_SUPPORT_FILE(log, "log.txt")
PARLWICK_SUPPORT_FILE(recordings, "recordings")
PARLWICK_SUPPORT_FILE(voiceTest, "voice-test")
#undef PARLWICK_SUPPORT_FILE

const fs::path& models() {
    static const fs::path value = (isApp() ? support() : workingDirectory()) / "models";
    return value;
}

const fs::path& runs() {
    static const fs::path value = (isApp() ? support() : workingDirectory()) / "runs.csv";
    return value;
}

const fs::path& settings() {
    static const fs::path value = xdg("XDG_CONFIG_HOME", ".config") / AppBundleID / "settings.ini";
    return value;
}

const fs::path& autostart() {
    static const fs::path value =
        xdg("XDG_CONFIG_HOME", ".config") / "autostart" / (std::string(AppBundleID) + ".desktop");
    return value;
}

const fs::path& crashes() {
    static const fs::path value = xdg("XDG_STATE_HOME", ".local/state") / AppBundleID / "crashes";
    return value;
}

std::string searchPath(const char* inheritedPath, const fs::path& home,
                       std::vector<std::string> nodeVersions) {
    // Digit runs compare by value, so "v20.1.0" sorts above "v9.0.0".
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale::getRoot(), status));
    if (U_SUCCESS(status)) {
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        std::sort(nodeVersions.begin(), nodeVersions.end(), [&](const auto& a, const auto& b) {
            UErrorCode error = U_ZERO_ERROR;
            return collator->compareUTF8(b, a, error) == UCOL_LESS;
        });
    }

    const fs::path nodeRoot = home / ".nvm/versions/node";
    std::vector<std::string> entries{inheritedPath ? inheritedPath
                                                   : "/usr/bin:/bin:/usr/sbin:/sbin",
                                     home / ".local/bin", home / ".claude/local"};
    for (const auto& version : nodeVersions) {
        entries.push_back(nodeRoot / version / "bin");
    }
    entries.emplace_back("/opt/homebrew/bin");
    entries.emplace_back("/usr/local/bin");

    std::string joined = entries.front();
    for (std::size_t i = 1; i < entries.size(); ++i) {
        joined += ":" + entries[i];
    }
    return joined;
}

void extendSearchPath() {
    const fs::path user = home();
    std::vector<std::string> versions;
    std::error_code error;
    for (fs::directory_iterator it(user / ".nvm/versions/node", error), end; !error && it != end;
         it.increment(error)) {
        versions.push_back(it->path().filename());
    }
    ::setenv("PATH", searchPath(std::getenv("PATH"), user, std::move(versions)).c_str(), 1);
}

std::string tool(std::string_view name) {
    if (isApp()) {
        const fs::path candidate = bundle()->prefix / "libexec" / "parlwick" / name;
        if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate)) {
            return candidate;
        }
    }
    return std::string(name);
}

} // namespace Paths
