#include "akrip32CddbClient.h"

#include "akrip32Cddb.h"
#include "akrip32CddbParse.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

thread_local const std::atomic<bool>* cancelFlag = nullptr;

std::atomic<long> connectTimeoutMs{10000};
std::atomic<long> stallTimeoutS{15};
std::atomic<long> totalTimeoutS{60};

// A query reply lists at most a few dozen matches; an entry is cut at the 32000 bytes the
// caller's buffer holds. Anything beyond this much is not read.
constexpr std::size_t MaxQueryReply = 64 * 1024;
constexpr std::size_t MaxReadReply = 40 * 1024;

void GlobalInitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    std::string Body;
    std::size_t Limit = 0;
    bool Cut = false;        // the limit was reached: the rest was not read
};

size_t OnData(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    const std::size_t room = t->Limit > t->Body.size() ? t->Limit - t->Body.size() : 0;
    t->Body.append(data, std::min(n, room));
    if (n > room) {
        t->Cut = true;
        return 0;  // ends the transfer
    }
    return n;
}

int OnProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return cancelFlag && cancelFlag->load(std::memory_order_acquire) ? 1 : 0;
}

// "word" with everything but letters, digits and "-._~" escaped.
std::string Escape(const std::string& word)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char ch : word) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// GET url; the body (up to limit bytes), or false with error.
bool Get(const TCddbSettings& settings, const std::string& url, std::size_t limit, std::string& body, int32_t& error)
{
    GlobalInitOnce();
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = ALERR_CDDB_CONNECT;
        return false;
    }
    Transfer transfer;
    transfer.Limit = limit;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs.load());
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);  // bytes a second, for...
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallTimeoutS.load());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalTimeoutS.load());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, settings.Client.c_str());
    if (settings.UseProxy && !settings.ProxyHost.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXY, settings.ProxyHost.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPORT, static_cast<long>(settings.ProxyPort));
        curl_easy_setopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    } else {
        curl_easy_setopt(curl, CURLOPT_PROXY, "");  // not the environment's either
    }
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    if (rc == CURLE_ABORTED_BY_CALLBACK) {
        error = ALERR_CDDB_CANCELLED;
        return false;
    }
    // A reply cut at the limit is kept as far as it came: its start is what is parsed.
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && transfer.Cut)) {
        error = status >= 400 ? ALERR_CDDB_REFUSED : ALERR_CDDB_CONNECT;
        return false;
    }
    if (status != 200) {
        error = ALERR_CDDB_REFUSED;
        return false;
    }
    body = std::move(transfer.Body);
    return true;
}

void CopyField(char* to, std::size_t size, const std::string& text)
{
    std::memset(to, 0, size);
    const std::string_view cut = CutUtf8(text, size - 1);
    std::memcpy(to, cut.data(), cut.size());
}

}  // namespace

void CDDBSetCancelFlag(const std::atomic<bool>* flag)
{
    cancelFlag = flag;
}

void CDDBSetTimeouts(long connectMs, long stallSeconds, long totalSeconds)
{
    connectTimeoutMs = std::max(1L, connectMs);
    stallTimeoutS = std::max(1L, stallSeconds);
    totalTimeoutS = std::max(1L, totalSeconds);
}

std::string CddbUrl(const TCddbSettings& settings, const std::string& command)
{
    // "hello=user+host+client+version": the identity "user@host", the client "name version".
    const auto at = settings.Identity.find('@');
    const std::string user = settings.Identity.substr(0, at);
    const std::string host = at == std::string::npos ? "localhost" : settings.Identity.substr(at + 1);
    const auto space = settings.Client.find(' ');
    const std::string client = settings.Client.substr(0, space);
    const std::string version = space == std::string::npos ? "1" : settings.Client.substr(space + 1);
    std::string script = settings.Script;
    if (script.empty() || script.front() != '/')
        script.insert(script.begin(), '/');
    return "http://" + settings.Server + script + "?cmd=" + command + "&hello=" + Escape(user.empty() ? "user" : user) +
           "+" + Escape(host.empty() ? "localhost" : host) + "+" + Escape(client) + "+" + Escape(version) + "&proto=6";
}

int32_t CddbQueryServer(const TTOC& toc, const TCddbSettings& settings, TCDDBQuery& query, int32_t& error)
{
    const auto capacity = static_cast<std::size_t>(std::max(query.Num, 0));
    query.Num = 0;
    error = ALERR_NOERROR;
    std::string body;
    if (!Get(settings, CddbUrl(settings, CddbQueryCommand(toc)), MaxQueryReply, body, error))
        return 0;
    const TCddbQueryReply reply = ParseCddbQueryReply(body, capacity);
    if (reply.Refused()) {
        error = ALERR_CDDB_REFUSED;
        return 0;
    }
    for (const TCddbMatch& match : reply.Matches) {
        TCDDBQueryItem& item = query.Q[query.Num++];
        std::memset(&item, 0, sizeof item);
        CopyField(item.Categ, sizeof item.Categ, match.Category);
        CopyField(item.CddbId, sizeof item.CddbId, match.DiscId);
        item.BExact = match.Exact ? 1 : 0;
        const auto slash = match.Title.find(" / ");
        CopyField(item.Artist, sizeof item.Artist, match.Title.substr(0, slash));
        CopyField(item.Title, sizeof item.Title, slash == std::string::npos ? match.Title : match.Title.substr(slash + 3));
    }
    return 1;
}

int32_t CddbReadEntry(const TCddbSettings& settings, const TCDDBQueryItem& item, char* buffer, int32_t length,
                      int32_t& error)
{
    error = ALERR_NOERROR;
    buffer[0] = '\0';
    const std::string category(item.Categ, strnlen(item.Categ, sizeof item.Categ));
    const std::string id(item.CddbId, strnlen(item.CddbId, sizeof item.CddbId));
    if (category.empty() || id.empty()) {
        error = ALERR_INVPARM;
        return 0;
    }
    std::string body;
    if (!Get(settings, CddbUrl(settings, "cddb+read+" + Escape(category) + "+" + Escape(id)), MaxReadReply, body, error))
        return 0;
    std::string entry;
    if (!ParseCddbReadReply(body, entry)) {
        error = ALERR_CDDB_REFUSED;
        return 0;
    }
    const std::string clean = CleanNetworkText(entry);
    const std::string_view cut = CutUtf8(clean, static_cast<std::size_t>(length) - 1);
    std::memcpy(buffer, cut.data(), cut.size());
    buffer[cut.size()] = '\0';
    return 1;
}
