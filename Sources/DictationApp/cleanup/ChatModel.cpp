#include "cleanup/ChatModel.h"

#include "platform/WebAddress.h"
#include "platform/WebRequest.h"

#include <algorithm>
#include <curl/curl.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <strings.h>

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using Url = std::unique_ptr<CURLU, UrlDeleter>;

struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// None when curl cannot read `address` as an absolute one. Any scheme is read, so that the
// user hears which one is wrong rather than that the address is.
Url parse(const std::string& address) {
    Url url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
                    CURLUE_OK) {
        return nullptr;
    }
    return url;
}

std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* value = nullptr;
    if (curl_url_get(url, which, &value, 0) != CURLUE_OK || !value) {
        return std::nullopt;
    }
    std::string text(value);
    curl_free(value);
    return text;
}

// `endpoint` with "/name" after its path (one slash, however the user wrote it), its query kept.
std::string under(const std::string& endpoint, const std::string& name) {
    const Url url = parse(endpoint);
    std::string path = part(url.get(), CURLUPART_PATH).value_or("");
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    path += '/' + name;
    curl_url_set(url.get(), CURLUPART_PATH, path.c_str(), 0);
    return part(url.get(), CURLUPART_URL).value_or("");
}

bool isEventStream(CURL* handle) {
    const char* type = nullptr;
    curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type);
    return type && ::strncasecmp(type, "text/event-stream", 17) == 0;
}

struct Reply {
    CURL* handle = nullptr;
    std::string body;
    bool tooLarge = false;
    bool streamed = false;
};

size_t onBody(char* data, size_t size, size_t count, void* target) {
    auto& reply = *static_cast<Reply*>(target);
    const size_t bytes = size * count;
    // A streaming server goes on until its whole answer is out: refused at its first event.
    if (isEventStream(reply.handle)) {
        reply.streamed = true;
        return 0;
    }
    if (reply.body.size() + bytes > ChatModel::maxAnswerBytes) {
        reply.tooLarge = true;
        return 0;
    }
    reply.body.append(data, bytes);
    return bytes;
}

// The body of the server's 200 answer to GET (or POST of `post`) at `name` under the endpoint,
// given up at `deadline`.
std::string exchange(const ChatModel::Setup& setup, const std::string& name,
                     const std::string* post, OnDeviceCleaner::Deadline deadline) {
    if (ModelEndpoint::problem(setup.endpoint)) {
        throw ModelEndpointRefused("the model server's address is refused");
    }
    // A line break in the key would add headers of its own.
    if (std::any_of(setup.apiKey.begin(), setup.apiKey.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
        throw ModelEndpointRefused("the api key holds a control character");
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    // Checked before sending: curl reads a time limit of 0 as none at all.
    if (left.count() <= 0) {
        throw ModelTimedOut("no time left to ask the model server");
    }
    const WebRequest::Handle handle = WebRequest::make();
    if (!handle) {
        throw ModelServerDown("couldn't start libcurl");
    }
    CURL* easy = handle.get();
    char error[CURL_ERROR_SIZE] = {};
    WebRequest::prepare(easy, under(setup.endpoint, name),
                        std::max(1L, (left.count() + 999) / 1000), error);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(ChatModel::maxAnswerBytes));
    // A proxy from the environment would carry dictations off a server on this computer.
    if (ModelEndpoint::isOnThisComputer(setup.endpoint)) {
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    }
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    const std::unique_ptr<curl_slist, ListDeleter> headerList(headers);
    if (post) {
        curl_slist_append(headers, "Content-Type: application/json");
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, post->data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post->size()));
    }
    if (!setup.apiKey.empty()) {
        curl_slist_append(headers, ("Authorization: Bearer " + setup.apiKey).c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    Reply reply;
    reply.handle = easy;
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
    const CURLcode code = curl_easy_perform(easy);

    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (reply.streamed || isEventStream(easy)) {
        throw ModelAnswerStreamed("the model server streamed its answer");
    }
    // The status tells more than a body cut short.
    if (status != 0 && status != 200) {
        throw ModelServerFailed("model server answered " + std::to_string(status));
    }
    if (reply.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        throw ModelAnswerTooLarge("the model server's answer is over " +
                                  std::to_string(ChatModel::maxAnswerBytes) + " bytes");
    }
    if (code == CURLE_OPERATION_TIMEDOUT) {
        throw ModelTimedOut("the model server did not answer in time");
    }
    if (code != CURLE_OK) {
        throw ModelServerDown(error[0] != '\0' ? error : curl_easy_strerror(code));
    }
    return std::move(reply.body);
}

// The object itself, or a fence around it as servers that ignore response_format often write.
std::string_view unfenced(std::string_view text) {
    const auto trim = [](std::string_view& part) {
        const auto first = part.find_first_not_of(" \t\r\n");
        part = first == std::string_view::npos
                   ? std::string_view()
                   : part.substr(first, part.find_last_not_of(" \t\r\n") - first + 1);
    };
    trim(text);
    if (text.starts_with("```") && text.size() > 6 && text.ends_with("```")) {
        const auto lineEnd = text.find('\n');
        text = lineEnd == std::string_view::npos
                   ? std::string_view()
                   : text.substr(lineEnd + 1, text.size() - 3 - (lineEnd + 1));
        trim(text);
    }
    return text;
}

json parsed(const std::string& body) {
    return json::parse(body, nullptr, false);
}

} // namespace

bool ModelEndpoint::isOnThisComputer(const std::string& address) {
    return WebAddress::isOnThisComputer(address);
}

std::optional<std::string> ModelEndpoint::problem(const std::string& address) {
    const Url url = parse(address);
    const auto scheme = url ? part(url.get(), CURLUPART_SCHEME) : std::nullopt;
    const auto host = url ? part(url.get(), CURLUPART_HOST) : std::nullopt;
    if (!scheme || !host || host->empty()) {
        return "Enter the server's whole address, such as http://localhost:8080/v1.";
    }
    if (*scheme != "http" && *scheme != "https") {
        return "Use an http or https address.";
    }
    if (part(url.get(), CURLUPART_USER) || part(url.get(), CURLUPART_PASSWORD)) {
        return "Leave the user name and password out of the address; use the API key instead.";
    }
    if (*scheme == "http" && !WebAddress::isOnThisComputer(address)) {
        return "Use https for a server on another computer.";
    }
    return std::nullopt;
}

namespace {

class ChosenModel final : public OnDeviceCleaner::Model {
  public:
    explicit ChosenModel(SettingsFile settings) : settings_(std::move(settings)) {}

    bool isAvailable() const override {
        const auto setup = ChatModel::chosen(settings_);
        return setup && ChatModel(*setup).isAvailable();
    }
    std::string respond(const OnDeviceCleaner::Request& request,
                        OnDeviceCleaner::Deadline deadline) override {
        const auto setup = ChatModel::chosen(settings_);
        if (!setup) {
            throw ModelEndpointRefused("tidying with a model is off");
        }
        return ChatModel(*setup).respond(request, deadline);
    }

  private:
    SettingsFile settings_;
};

} // namespace

std::shared_ptr<OnDeviceCleaner::Model> ChatModel::following(SettingsFile settings) {
    return std::make_shared<ChosenModel>(std::move(settings));
}

std::optional<ChatModel::Setup> ChatModel::configured(const SettingsFile& settings) {
    Setup setup{settings.get(SettingKeys::modelEndpoint).value_or(standardEndpoint),
                settings.get(SettingKeys::modelName).value_or(""),
                settings.get(SettingKeys::modelApiKey).value_or("")};
    if (!ModelEndpoint::isOnThisComputer(setup.endpoint) &&
        settings.get(SettingKeys::modelEndpointAllowed) != setup.endpoint) {
        return std::nullopt;
    }
    return setup;
}

std::optional<ChatModel::Setup> ChatModel::chosen(const SettingsFile& settings) {
    return settings.get(SettingKeys::tidyWithModel) ? configured(settings) : std::nullopt;
}

bool ChatModel::isAvailable() const {
    return !setup_.endpoint.empty() && !setup_.model.empty() &&
           !ModelEndpoint::problem(setup_.endpoint);
}

std::string ChatModel::respond(const OnDeviceCleaner::Request& request,
                               OnDeviceCleaner::Deadline deadline) {
    json schema;
    schema["type"] = "object";
    schema["properties"][request.property] = {{"type", "string"},
                                              {"description", request.propertyDescription}};
    schema["required"] = json::array({request.property});
    schema["additionalProperties"] = false;

    json body;
    body["model"] = setup_.model;
    body["messages"] = json::array({{{"role", "system"}, {"content", request.instructions}},
                                    {{"role", "user"}, {"content", request.prompt}}});
    body["temperature"] = 0;
    body["stream"] = false;
    // An edit is no longer than the dictation, about four bytes a token in English: half a token
    // a byte of the prompt plus 64 for the JSON around it. The deadline ends our wait; this ends
    // the server's work on a model that runs on, which a hang-up does not stop on every server.
    body["max_tokens"] = 64 + request.prompt.size() / 2;
    body["response_format"] = {
        {"type", "json_schema"},
        {"json_schema", {{"name", request.schemaName}, {"strict", true}, {"schema", schema}}}};
    // Dictations are UTF-8; a broken byte must not end the request.
    const std::string text = body.dump(-1, ' ', false, json::error_handler_t::replace);

    const json reply = parsed(exchange(setup_, "chat/completions", &text, deadline));
    const json::json_pointer content("/choices/0/message/content");
    if (!reply.is_object() || !reply.contains(content) || !reply.at(content).is_string()) {
        throw ModelAnswerNotJson("the model server's answer is not a chat completion");
    }
    const json edit =
        parsed(std::string(unfenced(reply.at(content).get_ref<const std::string&>())));
    if (!edit.is_object() || !edit.contains(request.property) ||
        !edit.at(request.property).is_string()) {
        throw ModelAnswerNotAnEdit("the model's answer is not an edit");
    }
    return edit.at(request.property).get<std::string>();
}

std::vector<std::string> ChatModel::listModels(const Setup& setup,
                                               std::chrono::milliseconds limit) {
    const json reply = parsed(exchange(setup, "models", nullptr, Clock::now() + limit));
    if (!reply.is_object() || !reply.contains("data") || !reply.at("data").is_array()) {
        throw ModelAnswerNotJson("the model server's answer is not a list of models");
    }
    std::vector<std::string> ids;
    for (const json& entry : reply.at("data")) {
        if (entry.is_object() && entry.contains("id") && entry.at("id").is_string()) {
            ids.push_back(entry.at("id").get<std::string>());
        }
    }
    return ids;
}
