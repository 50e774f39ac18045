#pragma once

#include <curl/curl.h>
#include <memory>
#include <string>

// One libcurl handle for fetching from the web, and the settings every such request shares.
namespace WebRequest {

struct HandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using Handle = std::unique_ptr<CURL, HandleDeleter>;

// A fresh handle, libcurl set up first; none when libcurl cannot start.
Handle make();

// Resets `handle` for one request to `address`: http or https only, redirects left to the
// caller so that each target is checked before it is fetched, no signals, the connect limit,
// our user agent, and curl's reason for a failure written into `errorBuffer`.
void prepare(CURL* handle, const std::string& address, long connectSeconds,
             char (&errorBuffer)[CURL_ERROR_SIZE]);

} // namespace WebRequest
