#include "updates/FeedFetch.h"

#include "platform/WebAddress.h"
#include "platform/WebRequest.h"

#include <algorithm>
#include <cctype>
#include <curl/curl.h>
#include <memory>

namespace {

struct Body {
    std::string bytes;
    long long maxBytes = 0;
    bool tooLarge = false;
    const std::atomic<bool>* stop = nullptr;
};

size_t onBody(char* data, size_t size, size_t count, void* target) {
    auto& body = *static_cast<Body*>(target);
    const size_t bytes = size * count;
    if (static_cast<long long>(body.bytes.size() + bytes) > body.maxBytes) {
        body.tooLarge = true;
        return 0;
    }
    body.bytes.append(data, bytes);
    return bytes;
}

int onTick(void* target, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Body*>(target)->stop->load() ? 1 : 0;
}

} // namespace

FeedFetch::Result FeedFetch::fetch(const std::string& address, const Limits& limits,
                                   const std::atomic<bool>& stop) {
    const WebRequest::Handle handle = WebRequest::make();
    if (!handle) {
        return Failure{"couldn't start libcurl"};
    }
    std::string current = address;
    for (int hop = 0; hop <= limits.redirects; ++hop) {
        if (const auto problem = WebAddress::problem(current)) {
            return Failure{"refused to fetch an address: " + *problem};
        }
        Body body;
        body.maxBytes = limits.maxBytes;
        body.stop = &stop;
        char error[CURL_ERROR_SIZE] = {};
        CURL* easy = handle.get();
        // Redirects are followed here, one by one, so each target is checked first.
        WebRequest::prepare(easy, current, limits.connectSeconds, error);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, limits.totalSeconds);
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &onTick);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &body);
        const CURLcode code = curl_easy_perform(easy);
        if (stop.load()) {
            return Failure{"stopped"};
        }
        if (body.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
            return Failure{"the feed is larger than " + std::to_string(limits.maxBytes) + " bytes"};
        }
        if (code != CURLE_OK) {
            std::string reason = error[0] != '\0' ? error : curl_easy_strerror(code);
            std::transform(reason.begin(), reason.end(), reason.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            return Failure{std::move(reason)};
        }
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 300 && status < 400) {
            char* location = nullptr;
            curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
            if (!location) {
                return Failure{"the server answered http " + std::to_string(status) +
                               " without a location"};
            }
            current = location;
            continue;
        }
        if (status < 200 || status >= 300) {
            return Failure{"the server answered http " + std::to_string(status)};
        }
        return std::move(body.bytes);
    }
    return Failure{"too many redirects"};
}
