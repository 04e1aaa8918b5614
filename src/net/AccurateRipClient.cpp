#include "AccurateRipLookup.h"

#include <curl/curl.h>

#include <atomic>

namespace {

constexpr std::size_t MaxEntry = 1024 * 1024;  // an entry of 99 tracks and 900 pressings is under it

struct Transfer {
    std::string Body;
    std::size_t Max = MaxEntry;
    bool TooLong = false;
    const std::atomic<bool>* Abandoned = nullptr;
};

// A lookup nobody waits for any more ends at once, rather than after the server's time-outs
// (the program waits for its threads when it exits: Ctrl+C must not wait for a silent server).
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* t = static_cast<const Transfer*>(user);
    return t->Abandoned && t->Abandoned->load() ? 1 : 0;
}

size_t OnData(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (t->Body.size() + n > t->Max) {
        t->TooLong = true;
        return 0;
    }
    t->Body.append(data, n);
    return n;
}

}  // namespace

TAccurateRipLookup::TAccurateRipLookup(std::string baseUrl, TAccurateRipDiscId id)
    : TBackgroundFetch([baseUrl = std::move(baseUrl), id](const std::atomic<bool>* abandoned) {
        return FetchAccurateRip(baseUrl, id, abandoned);
    })
{
}

std::string WithoutSlash(std::string server)
{
    while (!server.empty() && server.back() == '/')
        server.pop_back();
    return server;
}

THttpBytes HttpGetBytes(const std::string& url, std::size_t maxBytes, const std::atomic<bool>* abandoned)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    THttpBytes reply;
    CURL* curl = curl_easy_init();
    if (!curl) {
        reply.Failure = "the network library could not start";
        return reply;
    }
    Transfer transfer;
    transfer.Abandoned = abandoned;
    transfer.Max = maxBytes;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 15L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Sonvale 2.1");
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK) {
        reply.Failure = transfer.TooLong ? "the answer is longer than " + std::to_string(maxBytes) + " bytes"
                                         : std::string(curl_easy_strerror(rc));
        reply.Connected = transfer.TooLong;
        return reply;
    }
    reply.Connected = true;
    reply.Body = std::move(transfer.Body);
    return reply;
}

TAccurateRipEntry FetchAccurateRip(const std::string& baseUrl, const TAccurateRipDiscId& id,
                                   const std::atomic<bool>* abandoned)
{
    TAccurateRipEntry entry;
    const THttpBytes reply = HttpGetBytes(WithoutSlash(baseUrl) + "/accuraterip/" + id.Path(), MaxEntry, abandoned);
    if (!reply.Connected) {
        entry.Reason = "no connection to " + baseUrl + " (" + reply.Failure + ")";
        return entry;
    }
    if (!reply.Failure.empty()) {
        entry.Reason = "the entry is too long";
        return entry;
    }
    if (reply.Status == 404) {  // how the database says it has no entry for the disc
        entry.Checked = true;
        return entry;
    }
    if (reply.Status != 200) {
        entry.Reason = "HTTP " + std::to_string(reply.Status);
        return entry;
    }
    auto pressings = ParseAccurateRipEntry(reply.Body);
    if (!pressings) {
        entry.Reason = "a malformed entry";
        return entry;
    }
    entry.Checked = true;
    entry.Pressings = std::move(*pressings);
    return entry;
}

TAccurateRipVerdict JudgeTrack(const TAccurateRipEntry& entry, const TAccurateRipDiscId& id, int track, uint32_t v1,
                               uint32_t v2)
{
    if (!entry.Checked) {
        TAccurateRipVerdict verdict;
        verdict.Reason = entry.Reason;
        return verdict;
    }
    return JudgeTrack(entry.Pressings, id, track, v1, v2);
}
