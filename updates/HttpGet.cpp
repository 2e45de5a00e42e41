#include "updates/HttpGet.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace brindlecot::updates {
namespace {

// libcurl's global set-up is not thread-safe in every version; do it once, and never tear it down,
// since other code in the host process may be using libcurl too.
bool curlReady()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct Transfer
{
    std::string body;
    std::size_t maxBodyBytes = 0;
    const std::atomic<bool>* stop = nullptr;
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (bytes > transfer.maxBodyBytes - transfer.body.size())
        return 0; // over the cap: a short write makes libcurl fail the transfer
    transfer.body.append(data, bytes);
    return bytes;
}

bool stopRequested(const Transfer& transfer)
{
    return transfer.stop != nullptr && transfer.stop->load(std::memory_order_relaxed);
}

// Progress callback: a non-zero answer makes libcurl abandon the transfer at once.
int checkStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return stopRequested(*static_cast<const Transfer*>(user)) ? 1 : 0;
}

struct EasyDeleter
{
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter
{
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct ListDeleter
{
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// Wait slice of the transfer loop: the longest a stop request waits for the loop to notice it.
constexpr int kPollMilliseconds = 50;

} // namespace

HttpResult httpGet(const std::string& url, const HttpGetOptions& options)
{
    if (!curlReady())
        return {};
    Transfer transfer;
    transfer.maxBodyBytes = options.maxBodyBytes;
    transfer.stop = options.stop;
    if (stopRequested(transfer))
        return {};

    // Declared so that they are released multi first, then the easy handle, then the header list.
    std::unique_ptr<curl_slist, ListDeleter> headers(curl_slist_append(nullptr, "Accept: application/json"));
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi || !headers)
        return {};

    const long timeoutMs = static_cast<long>(options.timeoutSeconds) * 1000L;
    CURL* h = easy.get();
    bool ok = curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_USERAGENT, "Brindlecot plug-in") == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
    // No signals from a worker thread (the host owns signal handling).
    ok = ok && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    // Resolve + connect within the time-out; then at least one byte per time-out while sending and
    // receiving; and never longer than the four phases together.
    ok = ok && curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok
        && curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.timeoutSeconds)) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 4 * timeoutMs) == CURLE_OK;
    // Refuse an announced oversize body before reading it; the write callback catches the rest.
    ok = ok
        && curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes))
            == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &collectBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &checkStop) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!ok || curl_multi_add_handle(multi.get(), h) != CURLM_OK)
        return {};

    // The multi interface lets this loop look at the stop flag every poll slice even while the server
    // sends nothing (the easy interface would sit in its own wait for up to a second).
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    bool done = false;
    while (!done) {
        if (stopRequested(transfer))
            break;
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            break;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == h) {
                result = message->data.result;
                done = true;
            }
        }
        if (done || running == 0)
            break;
        if (curl_multi_poll(multi.get(), nullptr, 0, kPollMilliseconds, nullptr) != CURLM_OK)
            break;
    }

    long status = 0;
    const bool received
        = done && result == CURLE_OK && curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK;
    curl_multi_remove_handle(multi.get(), h);
    if (!received || status <= 0)
        return {};
    return {static_cast<int32_t>(status), std::move(transfer.body)};
}

} // namespace brindlecot::updates
