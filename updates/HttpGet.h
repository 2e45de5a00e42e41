// A bounded HTTP GET for the update feed (libcurl): no redirects, no cookies, per-phase time-outs, a
// body cap, and a stop flag that aborts a request in flight within about 50 ms.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace brindlecot::updates {

/// Outcome of one GET: the HTTP status code (0 when nothing usable was received) and the body.
struct HttpResult
{
    int32_t status = 0;
    std::string body;
};

/// How the GET is bounded.
struct HttpGetOptions
{
    int timeoutSeconds = 8; // connect (with name resolution) and no-progress time-outs
    std::size_t maxBodyBytes = 65536; // a longer body fails the request
    const std::atomic<bool>* stop = nullptr; // when it turns true the request is abandoned
};

/// The request function the update check calls: url, and a flag that asks it to give up early.
using HttpGetFunction = std::function<HttpResult(const std::string& url, const std::atomic<bool>& stop)>;

/// Fetches url with "Accept: application/json" and the user agent "Brindlecot plug-in", proxies from
/// the usual environment variables (http_proxy, https_proxy, all_proxy, no_proxy). Only http and https.
/// Redirects are returned as they are (status 3xx), never followed. Any failure: {0, ""}.
HttpResult httpGet(const std::string& url, const HttpGetOptions& options = {});

} // namespace brindlecot::updates
