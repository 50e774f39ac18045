// parlwick-clean: shows what a dictation will look like once cleaned, and why.
//
//   parlwick-clean [--app NAME] [--title TITLE] [--style STYLE] [--raw] [--secure]
//                  [--snippets FILE.json] [--explain]      one transcript on standard input
//                  [--model ENDPOINT [--model-name NAME]]
//   parlwick-clean --jsonl                                 one JSON request per line
#include "Cleanup.h"
#include "CleanupPipeline.h"
#include "FileError.h"
#include "JSONFile.h"
#include "LineReader.h"
#include "Text.h"
#include "cleanup/ChatModel.h"
#include "cleanup/OnDeviceCleaner.h"
#include "config/Settings.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int badUsageStatus = 2;
constexpr int failureStatus = 1;

const std::string usage =
    "usage: parlwick-clean [--app NAME] [--title TITLE] [--style polished|relaxed|lowercase]\n"
    "                      [--raw] [--secure] [--snippets FILE.json] [--explain]\n"
    "                      [--model ENDPOINT [--model-name NAME]]\n"
    "       parlwick-clean --jsonl\n"
    "\n"
    "Reads a transcript on standard input and prints the text that would be typed.\n"
    "  --app NAME         the app dictated into (default \"unknown app\")\n"
    "  --title TITLE      its window title, which tells what a browser tab is for\n"
    "  --style STYLE      the writing style (default: your setting for the app's group)\n"
    "  --raw              no cleanup, as with parlwick --raw\n"
    "  --secure           a password field: no layout, style or snippets\n"
    "  --snippets FILE    snippets from FILE (default: your own snippets)\n"
    "  --explain          print every stage with its name\n"
    "  --model ENDPOINT   ask the model server at ENDPOINT (OpenAI-compatible, such as\n"
    "                     http://localhost:11434/v1) for the edit the cleanup starts from;\n"
    "                     without it, the server in your settings if tidying with a model is on\n"
    "  --model-name NAME  the server's model to ask (default: your setting, else the first\n"
    "                     the server lists); the API key is always your setting's\n"
    "  --jsonl            read one JSON object per line, write one per line; uses none of\n"
    "                     your settings or files";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Arguments {
    std::string app = ScreenContext::unknownApp;
    std::optional<std::string> title;
    std::optional<WritingStyle> style;
    bool raw = false;
    bool secure = false;
    std::optional<std::string> snippets;
    bool explain = false;
    std::optional<std::string> model;
    std::optional<std::string> modelName;
    bool jsonl = false;
    bool help = false;
};

std::string styleChoices() {
    return "pick one of polished, relaxed or lowercase";
}

Arguments parse(const std::vector<std::string>& arguments) {
    Arguments parsed;
    int options = 0;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& flag = arguments[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= arguments.size() || arguments[i + 1].starts_with("--")) {
                throw UsageError(flag + " expects a value after it");
            }
            return arguments[++i];
        };
        ++options;
        if (flag == "--app") {
            parsed.app = value();
        } else if (flag == "--title") {
            parsed.title = value();
        } else if (flag == "--style") {
            const std::string name = value();
            parsed.style = WritingStyles::fromRawValue(name);
            if (!parsed.style) {
                throw UsageError(name + " is not a writing style; " + styleChoices());
            }
        } else if (flag == "--raw") {
            parsed.raw = true;
        } else if (flag == "--secure") {
            parsed.secure = true;
        } else if (flag == "--snippets") {
            parsed.snippets = value();
        } else if (flag == "--explain") {
            parsed.explain = true;
        } else if (flag == "--model") {
            parsed.model = value();
            if (const auto problem = ModelEndpoint::problem(*parsed.model)) {
                throw UsageError("--model " + *parsed.model + ": " + *problem);
            }
        } else if (flag == "--model-name") {
            parsed.modelName = value();
        } else if (flag == "--jsonl") {
            parsed.jsonl = true;
        } else if (flag == "-h" || flag == "--help") {
            parsed.help = true;
        } else {
            throw UsageError(flag + " is not a recognised option");
        }
    }
    if (parsed.jsonl && options > 1 && !parsed.help) {
        throw UsageError("--jsonl takes no other options");
    }
    if (parsed.modelName && !parsed.model && !parsed.help) {
        throw UsageError("--model-name goes with --model");
    }
    return parsed;
}

// ---- one transcript ----

std::vector<Snippet> loadSnippets(const std::optional<std::string>& file, const Paths& paths) {
    if (file) {
        if (!std::filesystem::exists(*file)) {
            throw FileError("couldn't read " + *file + ": no such file");
        }
        return JSONFile<std::vector<Snippet>>(*file).load().value_or(std::vector<Snippet>{});
    }
    // No snippets file yet is no snippets.
    return JSONFile<std::vector<Snippet>>(paths.snippets()).load().value_or(std::vector<Snippet>{});
}

// "name      value", continuation lines lined up under the value.
void printStage(std::string_view name, std::string_view value) {
    constexpr std::size_t column = 10;
    std::string line(name);
    line.resize(column, ' ');
    for (char c : value) {
        line += c;
        if (c == '\n') {
            line.append(column, ' ');
        }
    }
    std::cout << line << '\n';
}

std::string_view yesNo(bool value) {
    return value ? "yes" : "no";
}

struct NoModelListed : ModelFailure {
    using ModelFailure::ModelFailure;
};

// A model server's model, by name or else the first it lists. The list is asked within the
// edit's own time limit, so the tool never waits longer for an edit than the app does.
class ServerModel : public OnDeviceCleaner::Model {
  public:
    static constexpr std::chrono::milliseconds listLimit{2000};

    explicit ServerModel(ChatModel::Setup setup) : setup_(std::move(setup)) {}

    bool isAvailable() const override { return !ModelEndpoint::problem(setup_.endpoint); }

    std::string respond(const OnDeviceCleaner::Request& request,
                        OnDeviceCleaner::Deadline deadline) override {
        ChatModel::Setup setup = setup_;
        if (setup.model.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const auto models = ChatModel::listModels(setup, std::min(listLimit, left));
            if (models.empty()) {
                throw NoModelListed("the model server lists no models");
            }
            setup.model = models.front();
        }
        return ChatModel(std::move(setup)).respond(request, deadline);
    }

  private:
    ChatModel::Setup setup_;
};

// The server named on the command line, or the app's own choice. The key is only ever read
// from the settings, so it never shows in the process list.
std::optional<ChatModel::Setup> modelSetup(const Arguments& arguments,
                                           const SettingsFile& settings) {
    if (!arguments.model) {
        return ChatModel::chosen(settings);
    }
    return ChatModel::Setup{
        *arguments.model,
        arguments.modelName ? *arguments.modelName
                            : settings.get(SettingKeys::modelName).value_or(""),
        settings.get(SettingKeys::modelApiKey).value_or(""),
    };
}

int cleanOne(const Arguments& arguments, const Paths& paths) {
    const std::string transcript = Text::validUTF8(
        std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()));
    const ScreenContext context(arguments.app, WritingContexts::of(arguments.app, arguments.title));
    const AppGroup group = AppGroups::of(context.appName, context.writing);
    const SettingsFile settings(paths.settings());
    const WritingStyle style =
        arguments.style ? *arguments.style : settings.get(SettingKeys::style(group));
    const auto snippets = loadSnippets(arguments.snippets, paths);
    const auto setup = modelSetup(arguments, settings);

    const auto edit = [&](const std::string& heard) {
        if (!setup) {
            return OnDeviceCleaner().clean(heard);
        }
        if (!ModelEndpoint::isOnThisComputer(setup->endpoint)) {
            std::cerr << "parlwick-clean: the dictation is sent to " << setup->endpoint
                      << ", on another computer\n";
        }
        return OnDeviceCleaner(std::make_shared<ServerModel>(*setup)).clean(heard);
    };
    const auto stages = CleanupPipeline::run(transcript, context, !arguments.raw, arguments.secure,
                                             style, snippets, edit);
    if (stages.isEmpty) {
        std::cerr << "No words found\n";
        return failureStatus;
    }
    if (!arguments.explain) {
        std::cout << stages.final << '\n';
        return 0;
    }
    printStage("heard", stages.heard);
    printStage("writing", WritingContexts::rawValue(stages.writing));
    printStage("group", AppGroups::rawValue(stages.group));
    printStage("style", WritingStyles::rawValue(style));
    printStage("secure", yesNo(arguments.secure));
    printStage("cleaned", yesNo(stages.cleaned));
    printStage("chosen", stages.chosen);
    printStage("usedModel", yesNo(stages.usedModel));
    printStage("refused", yesNo(stages.refusedCandidate));
    printStage("stripped", stages.stripped);
    printStage("laidOut", stages.laidOut);
    printStage("styled", stages.styled);
    printStage("final", stages.final);
    return 0;
}

// ---- JSON lines ----

using Json = nlohmann::ordered_json;

// Far beyond any transcript; deeper or longer lines are refused before any work is done.
constexpr int maxDepth = 100;
constexpr std::size_t maxLine = std::size_t{4} << 20;

struct BadRequest : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The parser builds documents without recursion, but one nested a million deep still costs its
// memory and time; the callback stops at the first container past the bound.
Json parsed(const std::string& line) {
    return Json::parse(line, [](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start ||
             event == Json::parse_event_t::array_start) &&
            depth >= maxDepth) {
            throw BadRequest("nested more than " + std::to_string(maxDepth) + " levels deep");
        }
        return true;
    });
}

template <typename T>
T field(const Json& request, const char* name, T fallback, const char* expected) {
    const auto found = request.find(name);
    if (found == request.end()) {
        return fallback;
    }
    try {
        return found->get<T>();
    } catch (const nlohmann::json::type_error&) {
        throw BadRequest(std::string("\"") + name + "\" must be " + expected);
    }
}

std::optional<std::string> optionalString(const Json& request, const char* name) {
    const auto found = request.find(name);
    if (found == request.end() || found->is_null()) {
        return std::nullopt;
    }
    if (!found->is_string()) {
        throw BadRequest(std::string("\"") + name + "\" must be a string or null");
    }
    return found->get<std::string>();
}

std::vector<Snippet> snippetsOf(const Json& request) {
    const auto found = request.find("snippets");
    if (found == request.end()) {
        return {};
    }
    const auto bad = BadRequest("\"snippets\" must be an array of objects with string \"phrase\" "
                                "and \"text\"");
    if (!found->is_array()) {
        throw bad;
    }
    std::vector<Snippet> snippets;
    snippets.reserve(found->size());
    for (const auto& item : *found) {
        if (!item.is_object() || !item.contains("phrase") || !item.contains("text") ||
            !item["phrase"].is_string() || !item["text"].is_string()) {
            throw bad;
        }
        Snippet snippet;
        snippet.phrase = item["phrase"].get<std::string>();
        snippet.text = item["text"].get<std::string>();
        snippets.push_back(std::move(snippet));
    }
    return snippets;
}

Json answer(const Json& request) {
    if (!request.is_object()) {
        throw BadRequest("not a JSON object");
    }
    const auto text = request.find("text");
    if (text == request.end() || !text->is_string()) {
        throw BadRequest("\"text\" must be a string");
    }
    const std::string app =
        field<std::string>(request, "app", ScreenContext::unknownApp, "a string");
    const auto title = optionalString(request, "title");
    const std::string styleName = field<std::string>(request, "style", "polished", "a string");
    const auto style = WritingStyles::fromRawValue(styleName);
    if (!style) {
        throw BadRequest("\"style\" must be polished, relaxed or lowercase");
    }
    const bool cleanup = field<bool>(request, "cleanup", true, "true or false");
    const bool secure = field<bool>(request, "secure", false, "true or false");
    const auto snippets = snippetsOf(request);
    const auto candidate = optionalString(request, "candidate");

    const ScreenContext context(app, WritingContexts::of(app, title));
    const auto stages =
        CleanupPipeline::run(text->get_ref<const std::string&>(), context, cleanup, secure, *style,
                             snippets, CleanupPipeline::fixed(candidate));
    Json out;
    out["heard"] = stages.heard;
    out["empty"] = stages.isEmpty;
    const auto orNull = [&](auto value) { return stages.isEmpty ? Json() : Json(value); };
    out["writing"] = orNull(std::string(WritingContexts::rawValue(stages.writing)));
    out["group"] = orNull(std::string(AppGroups::rawValue(stages.group)));
    out["cleaned"] = orNull(stages.cleaned);
    out["chosen"] = orNull(stages.chosen);
    out["usedModel"] = orNull(stages.usedModel);
    out["stripped"] = orNull(stages.stripped);
    out["laidOut"] = orNull(stages.laidOut);
    out["styled"] = orNull(stages.styled);
    out["final"] = orNull(stages.final);
    return out;
}

int cleanLines() {
    LineReader lines(std::cin, maxLine);
    while (const auto line = lines.next()) {
        Json out;
        try {
            if (line->tooLong) {
                throw BadRequest("line longer than 4 MB");
            }
            out = answer(parsed(line->text));
        } catch (const Json::parse_error& error) {
            out = {{"error", "not valid JSON at byte " + std::to_string(error.byte)}};
        } catch (const BadRequest& error) {
            out = {{"error", error.what()}};
        }
        std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        // Line by line for a program waiting on each answer; in bulk when input is queued.
        if (std::cin.rdbuf()->in_avail() <= 0) {
            std::cout.flush();
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    // A failed edit is logged by its kind alone, on standard error.
    const Log programLog("parlwick-clean", std::nullopt);
    Arguments arguments;
    try {
        arguments = parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "parlwick-clean: " << error.what() << "\n\n" << usage << '\n';
        return badUsageStatus;
    }
    if (arguments.help) {
        std::cout << usage << '\n';
        return 0;
    }
    try {
        return arguments.jsonl ? cleanLines() : cleanOne(arguments, Paths::forThisProcess());
    } catch (const FileError& error) {
        std::cerr << "parlwick-clean: " << error.description() << '\n';
        return failureStatus;
    }
}
