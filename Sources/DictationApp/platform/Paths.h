#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every place the program keeps or looks for files. main works them out once from the process's
// environment and hands them to whatever needs one; tests make their own under a folder.
class Paths {
  public:
    // The reverse-DNS name of the per-user folders. Built in, so the app, the connector server an
    // AI app starts and a binary run from the build tree all share one support folder.
    static const std::string_view AppBundleID;

    // An installed tree: the folder holding bin/, share/ and libexec/, and what its
    // share/parlwick/bundle.json says.
    struct Bundle {
        std::filesystem::path prefix;
        std::string identifier;
        std::optional<std::string> name;
        std::optional<std::string> modelsAddress;  // "ModelsBaseURL": where the models come from
        std::optional<std::string> version;        // "CFBundleShortVersionString"
        std::optional<std::string> supportAddress; // "SupportIssuesURL": where reports are filed
        std::optional<std::string> updateFeed;     // "SUFeedURL": the appcast of new releases
        std::optional<std::string> updateKey;      // "SUPublicEDKey": the releases' signing key
        bool operator==(const Bundle&) const = default;
    };

    // The user's base folders.
    struct Homes {
        std::filesystem::path home;
        std::filesystem::path data;   // $XDG_DATA_HOME, else ~/.local/share
        std::filesystem::path config; // $XDG_CONFIG_HOME, else ~/.config
        std::filesystem::path state;  // $XDG_STATE_HOME, else ~/.local/state
        std::filesystem::path cache;  // $XDG_CACHE_HOME, else ~/.cache

        // From HOME (else the account's home folder) and the XDG variables that hold absolute
        // paths.
        static Homes fromEnvironment();
        // Each base folder under `root`, for tests.
        static Homes under(const std::filesystem::path& root);
    };

    Paths(std::filesystem::path executable, std::optional<Bundle> bundle, Homes homes,
          std::filesystem::path workingDirectory);

    // The running executable, its installed tree (if any), the environment and the working
    // folder of this process.
    static Paths forThisProcess();

    // True when the executable belongs to an installed tree whose bundle.json carries a bundle
    // identifier.
    bool isApp() const { return bundle_.has_value(); }
    const std::optional<Bundle>& bundle() const { return bundle_; }
    // The bundle's "CFBundleName", else "Dictation".
    const std::string& appName() const { return appName_; }
    const std::filesystem::path& executable() const { return executable_; }
    const Homes& homes() const { return homes_; }

    const std::filesystem::path& support() const { return support_; } // data/<AppBundleID>
    std::filesystem::path history() const { return support_ / "history.jsonl"; }
    std::filesystem::path totals() const { return support_ / "totals.json"; }
    std::filesystem::path snippets() const { return support_ / "snippets.json"; }
    std::filesystem::path notes() const { return support_ / "notes.json"; }
    std::filesystem::path vocabulary() const { return support_ / "words.txt"; }
    std::filesystem::path log() const { return support_ / "log.txt"; }
    std::filesystem::path recordings() const { return support_ / "recordings"; }
    std::filesystem::path voiceTest() const { return support_ / "voice-test"; }
    // The working folder's "models" and "runs.csv" outside app mode.
    std::filesystem::path models() const;
    std::filesystem::path runs() const;

    std::filesystem::path settings() const;  // config/<AppBundleID>/settings.ini
    std::filesystem::path autostart() const; // config/autostart/<AppBundleID>.desktop
    std::filesystem::path crashes() const;   // state/<AppBundleID>/crashes
    std::filesystem::path cache() const;     // cache/<AppBundleID>

    // The bundle's libexec/parlwick/<name> when the user may execute it, else `name` unchanged
    // for the search path to resolve.
    std::string tool(std::string_view name) const;

    // What share/parlwick/bundle.json beside `executable`'s bin/ folder makes of it.
    static std::optional<Bundle> bundleFor(const std::filesystem::path& executable);
    // Puts the per-user and package-manager tool folders after the inherited PATH.
    static void extendSearchPath(const std::filesystem::path& home);
    static std::string searchPath(const char* inheritedPath, const std::filesystem::path& home,
                                  std::vector<std::string> nodeVersions);

  private:
    std::filesystem::path executable_;
    std::optional<Bundle> bundle_;
    Homes homes_;
    std::filesystem::path workingDirectory_;
    std::string appName_;
    std::filesystem::path support_;
};
