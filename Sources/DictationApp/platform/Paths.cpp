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

const std::string_view Paths::AppBundleID = PARLWICK_BUNDLE_ID;

namespace {

fs::path homeFolder() {
    if (const char* value = std::getenv("HOME"); value && *value) {
        return value;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        return entry->pw_dir;
    }
    return "/";
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback.
fs::path xdg(const char* variable, const fs::path& home, const char* fallback) {
    if (const char* value = std::getenv(variable); value && *value == '/') {
        return value;
    }
    return home / fallback;
}

fs::path runningExecutable() {
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : path;
}

fs::path currentFolder() {
    std::error_code error;
    fs::path cwd = fs::current_path(error);
    return error ? fs::path(".") : cwd;
}

} // namespace

Paths::Homes Paths::Homes::fromEnvironment() {
    const fs::path home = homeFolder();
    return {home, xdg("XDG_DATA_HOME", home, ".local/share"),
            xdg("XDG_CONFIG_HOME", home, ".config"), xdg("XDG_STATE_HOME", home, ".local/state"),
            xdg("XDG_CACHE_HOME", home, ".cache")};
}

Paths::Homes Paths::Homes::under(const fs::path& root) {
    return {root / "home", root / "data", root / "config", root / "state", root / "cache"};
}

Paths::Paths(fs::path executable, std::optional<Bundle> bundle, Homes homes,
             fs::path workingDirectory)
    : executable_(std::move(executable)), bundle_(std::move(bundle)), homes_(std::move(homes)),
      workingDirectory_(std::move(workingDirectory)),
      appName_(bundle_ && bundle_->name ? *bundle_->name : "Dictation"),
      support_(homes_.data / AppBundleID) {}

Paths Paths::forThisProcess() {
    fs::path executable = runningExecutable();
    auto bundle = bundleFor(executable);
    return Paths(std::move(executable), std::move(bundle), Homes::fromEnvironment(),
                 currentFolder());
}

std::optional<Paths::Bundle> Paths::bundleFor(const fs::path& executable) {
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
    Bundle result{prefix, identifier->get<std::string>(), {}, {}, {}, {}, {}, {}};
    const auto text = [&](const char* key) -> std::optional<std::string> {
        const auto value = info.find(key);
        if (value == info.end() || !value->is_string()) {
            return std::nullopt;
        }
        return value->get<std::string>();
    };
    result.name = text("CFBundleName");
    result.modelsAddress = text("ModelsBaseURL");
    result.version = text("CFBundleShortVersionString");
    result.supportAddress = text("SupportIssuesURL");
    result.updateFeed = text("SUFeedURL");
    result.updateKey = text("SUPublicEDKey");
    return result;
}

fs::path Paths::models() const {
    return (isApp() ? support_ : workingDirectory_) / "models";
}

fs::path Paths::runs() const {
    return (isApp() ? support_ : workingDirectory_) / "runs.csv";
}

fs::path Paths::settings() const {
    return homes_.config / AppBundleID / "settings.ini";
}

fs::path Paths::autostart() const {
    return homes_.config / "autostart" / (std::string(AppBundleID) + ".desktop");
}

fs::path Paths::crashes() const {
    return homes_.state / AppBundleID / "crashes";
}

fs::path Paths::cache() const {
    return homes_.cache / AppBundleID;
}

std::string Paths::searchPath(const char* inheritedPath, const fs::path& home,
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

void Paths::extendSearchPath(const fs::path& home) {
    std::vector<std::string> versions;
    std::error_code error;
    for (fs::directory_iterator it(home / ".nvm/versions/node", error), end; !error && it != end;
         it.increment(error)) {
        versions.push_back(it->path().filename());
    }
    ::setenv("PATH", searchPath(std::getenv("PATH"), home, std::move(versions)).c_str(), 1);
}

std::string Paths::tool(std::string_view name) const {
    if (bundle_) {
        const fs::path candidate = bundle_->prefix / "libexec" / "parlwick" / name;
        std::error_code error;
        if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return std::string(name);
}
