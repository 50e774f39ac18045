#include "platform/WebRequest.h"

WebRequest::Handle WebRequest::make() {
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    return Handle(initialised == CURLE_OK ? curl_easy_init() : nullptr);
}

void WebRequest::prepare(CURL* handle, const std::string& address, long connectSeconds,
                         char (&errorBuffer)[CURL_ERROR_SIZE]) {
    curl_easy_reset(handle);
    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, connectSeconds);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "parlwick");
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
}
