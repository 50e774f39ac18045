#include "desktop/DesktopEntries.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace DesktopEntries {

namespace {

struct Entry {
    std::string id;
    std::string startupWMClass;
    std::string executable;
    // By locale ("" for the plain Name).
    std::map<std::string, std::string> names;
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The program an Exec line starts, by file name ("env VAR=x foo --bar" starts foo).
std::string programOf(const std::string& exec) {
    std::istringstream words(exec);
    std::string word;
    while (words >> word) {
        word.erase(std::remove(word.begin(), word.end(), '"'), word.end());
        const std::string name = std::filesystem::path(word).filename().string();
        if (name == "env" || word.find('=') != std::string::npos) {
            continue;
        }
        return name;
    }
    return {};
}

std::optional<Entry> parse(const std::filesystem::path& file, std::string id) {
    std::ifstream in(file);
    if (!in) {
        return std::nullopt;
    }
    Entry entry;
    entry.id = std::move(id);
    std::string line;
    bool inMain = false;
    bool application = false;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (inMain) {
                break;
            }
            inMain = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMain || equals == std::string::npos) {
            continue;
        }
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (key == "Hidden" && value == "true") {
            return std::nullopt;
        }
        if (key == "Type") {
            application = value == "Application";
        } else if (key == "StartupWMClass") {
            entry.startupWMClass = value;
        } else if (key == "Exec") {
            entry.executable = programOf(value);
        } else if (key == "Name") {
            entry.names[""] = value;
        } else if (key.starts_with("Name[") && key.ends_with("]")) {
            entry.names[key.substr(5, key.size() - 6)] = value;
        }
    }
    if (!application || !entry.names.contains("")) {
        return std::nullopt;
    }
    return entry;
}

// Every entry, each id once (the first folder's wins), in folder order.
std::vector<Entry> load(const std::vector<std::filesystem::path>& folders) {
    std::vector<Entry> entries;
    std::set<std::string> seen;
    for (const auto& folder : folders) {
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(folder, error), end;
        std::vector<std::filesystem::path> files;
        for (; !error && it != end; it.increment(error)) {
            if (it->path().extension() == ".desktop") {
                files.push_back(it->path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            // The id is the path inside the folder with '-' for '/', without ".desktop".
            std::string id = file.lexically_relative(folder).replace_extension().string();
            std::replace(id.begin(), id.end(), '/', '-');
            if (!seen.insert(id).second) {
                continue;
            }
            if (auto entry = parse(file, std::move(id))) {
                entries.push_back(std::move(*entry));
            }
        }
    }
    return entries;
}

// Reading every entry takes a while; do it again only when a folder changed.
const std::vector<Entry>& cached(const std::vector<std::filesystem::path>& folders) {
    static std::vector<std::filesystem::path> lastFolders;
    static std::vector<std::filesystem::file_time_type> lastTimes;
    static std::vector<Entry> entries;
    std::vector<std::filesystem::file_time_type> times;
    for (const auto& folder : folders) {
        std::error_code error;
        times.push_back(std::filesystem::last_write_time(folder, error));
    }
    if (folders != lastFolders || times != lastTimes) {
        entries = load(folders);
        lastFolders = folders;
        lastTimes = times;
    }
    return entries;
}

// "de_DE.UTF-8@euro" gives de_DE@euro, de_DE, de@euro, de.
std::vector<std::string> languages() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = std::getenv(name);
        if (value && *value) {
            break;
        }
    }
    if (!value || !*value) {
        return {};
    }
    std::string locale = value;
    std::string modifier;
    if (const auto at = locale.find('@'); at != std::string::npos) {
        modifier = locale.substr(at);
        locale.erase(at);
    }
    if (const auto dot = locale.find('.'); dot != std::string::npos) {
        locale.erase(dot);
    }
    const std::string language = locale.substr(0, locale.find('_'));
    std::vector<std::string> tries;
    for (const std::string& candidate :
         {locale + modifier, locale, language + modifier, language}) {
        if (!candidate.empty() && std::find(tries.begin(), tries.end(), candidate) == tries.end()) {
            tries.push_back(candidate);
        }
    }
    return tries;
}

std::string nameOf(const Entry& entry) {
    for (const auto& language : languages()) {
        if (const auto found = entry.names.find(language); found != entry.names.end()) {
            return found->second;
        }
    }
    return entry.names.at("");
}

// Programs that run other programs: the interpreter's own entry ("Python") would name every
// script's window.
bool isInterpreter(const std::string& executable) {
    static const std::vector<std::string> names{"python", "perl", "ruby", "node", "java", "sh",
                                                "bash",   "gjs",  "mono", "env",  "wine"};
    std::string stem = executable;
    while (!stem.empty() &&
           (std::isdigit(static_cast<unsigned char>(stem.back())) || stem.back() == '.')) {
        stem.pop_back();
    }
    return std::find(names.begin(), names.end(), stem) != names.end();
}

} // namespace

std::vector<std::filesystem::path> folders() {
    std::vector<std::filesystem::path> result;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome) {
        result.emplace_back(std::filesystem::path(dataHome) / "applications");
    } else if (home && *home) {
        result.emplace_back(std::filesystem::path(home) / ".local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream dirs(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty()) {
            result.emplace_back(std::filesystem::path(dir) / "applications");
        }
    }
    return result;
}

std::optional<std::string> displayName(const Program& program,
                                       const std::vector<std::filesystem::path>& folders) {
    const auto& entries = cached(folders);
    const std::string instance = lower(program.instance);
    const std::string className = lower(program.className);
    const auto isWindowName = [&](const std::string& name) {
        const std::string lowered = lower(name);
        return !lowered.empty() && (lowered == className || lowered == instance);
    };
    const std::vector<std::function<bool(const Entry&)>> rules{
        [&](const Entry& e) { return isWindowName(e.startupWMClass); },
        [&](const Entry& e) {
            // "org.gnome.Calculator" also names a window of class "gnome-calculator" poorly,
            // but one of class "Calculator" well: the last part counts too.
            const std::string id = lower(e.id);
            const auto dot = id.rfind('.');
            return isWindowName(id) ||
                   (dot != std::string::npos && isWindowName(id.substr(dot + 1)));
        },
        [&](const Entry& e) {
            return !program.executable.empty() && !isInterpreter(program.executable) &&
                   e.executable == program.executable;
        },
    };
    for (const auto& rule : rules) {
        const auto found = std::find_if(entries.begin(), entries.end(), rule);
        if (found != entries.end()) {
            return nameOf(*found);
        }
    }
    return std::nullopt;
}

std::string nameOr(const Program& program, const std::string& fallback) {
    return displayName(program, folders()).value_or(fallback);
}

std::string executableOf(std::int64_t pid) {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    return error ? std::string() : exe.filename().string();
}

} // namespace DesktopEntries
