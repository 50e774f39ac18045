#include "platform/WebAddress.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <memory>
#include <netinet/in.h>

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextDeleter {
    void operator()(char* text) const { curl_free(text); }
};
using Text = std::unique_ptr<char, TextDeleter>;

std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* value = nullptr;
    if (curl_url_get(url, which, &value, 0) != CURLUE_OK || !value) {
        return std::nullopt;
    }
    return std::string(Text(value).get());
}

// A literal loopback address, or localhost, which curl itself resolves to the loopback
// interface without asking any name server. Spelling alone decides nothing: 127.evil.example
// is a name like any other.
bool isLoopback(const std::string& host) {
    if (host == "localhost") {
        return true;
    }
    // curl hands IPv6 hosts back in brackets and has already normalised dotted numbers.
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        in6_addr address{};
        return ::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address) == 1 &&
               IN6_IS_ADDR_LOOPBACK(&address);
    }
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 &&
           (ntohl(address.s_addr) >> 24) == 127;
}

} // namespace

std::optional<std::string> WebAddress::problem(const std::string& address) {
    const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) {
        return "not an absolute address";
    }
    const auto scheme = part(url.get(), CURLUPART_SCHEME);
    const auto host = part(url.get(), CURLUPART_HOST);
    if (!scheme || !host || host->empty()) {
        return "not an absolute address";
    }
    if (*scheme == "https") {
        return std::nullopt;
    }
    if (*scheme == "http") {
        if (isLoopback(*host)) {
            return std::nullopt;
        }
        return "plain http to another computer";
    }
    return "not an http or https address";
}

bool WebAddress::isOnThisComputer(const std::string& address) {
    const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
                    CURLUE_OK) {
        return false;
    }
    const auto host = part(url.get(), CURLUPART_HOST);
    return host && isLoopback(*host);
}
