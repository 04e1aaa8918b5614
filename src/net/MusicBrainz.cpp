#include "MusicBrainz.h"

#include "AccurateRipLookup.h"
#include "DiscScan.h"
#include "RetiredThreads.h"
#include "akrip32CddbParse.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <curl/curl.h>
#include <discid/discid.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<long> intervalMs{1000};
std::atomic<long> connectTimeoutMs{10000};
std::atomic<long> stallTimeoutS{15};
std::atomic<long> totalTimeoutS{60};

constexpr std::size_t MaxReply = 4 << 20;   // a release list of a popular disc is well below
constexpr std::size_t MaxCover = 16 << 20;
constexpr std::size_t MaxText = 1024;       // bytes of one title, name or number

// The audio tracks of the disc ID: from the first track to the last audio track of the first
// session; the leadout is that session's end (an Enhanced CD's data track starts 11400 sectors
// after it).
struct TAudioSession {
    int First = 0, Last = 0;
    int32_t LeadOut = 0;                 // sectors, with the 150 of the lead-in
    std::vector<int32_t> Offsets;        // likewise
};

bool AudioSession(const TTOC& toc, TAudioSession& s)
{
    if (!TocIsUsable(toc))
        return false;
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    int last = count;
    while (last > 0 && IsDataTrack(toc.Tracks[last - 1]))
        --last;
    if (last == 0)
        return false;
    s.First = toc.FirstTrack;
    s.Last = toc.FirstTrack + last - 1;
    s.LeadOut = last == count ? TocFrames(toc.Tracks[count]) : TocFrames(toc.Tracks[last]) - 11400;
    for (int i = 0; i < last; ++i)
        s.Offsets.push_back(TocFrames(toc.Tracks[i]));
    return true;
}

std::string Text(const QJsonValue& v)
{
    const std::string raw = v.isString() ? v.toString().toStdString() : v.isDouble() ? std::to_string(v.toInt()) : std::string();
    return std::string(CutUtf8(CleanNetworkText(raw), MaxText));
}

// "A & B": each credit's name and its join phrase.
std::string ArtistCredit(const QJsonValue& credits)
{
    std::string artist;
    for (const QJsonValue& c : credits.toArray())
        artist += Text(c.toObject().value(QStringLiteral("name"))) + Text(c.toObject().value(QStringLiteral("joinphrase")));
    return std::string(CutUtf8(artist, MaxText));
}

// --- HTTP --------------------------------------------------------------------------------------

struct TReply {
    long Status = 0;
    std::string Body;
    long RetryAfter = -1;     // seconds, when the reply said
    std::string Failure;      // the transfer failed: why
    bool Cut = false;
};

struct TTransfer {
    TReply* Reply;
    std::size_t Limit;
    const std::atomic<bool>* Cancel;
};

size_t OnData(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<TTransfer*>(user);
    const std::size_t n = size * count;
    if (t->Reply->Body.size() + n > t->Limit) {
        t->Reply->Cut = true;
        return 0;
    }
    t->Reply->Body.append(data, n);
    return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<TTransfer*>(user);
    const std::string line(data, size * count);
    static const std::string name = "retry-after:";
    if (line.size() > name.size()) {
        std::string head = line.substr(0, name.size());
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
        if (head == name)
            t->Reply->RetryAfter = std::strtol(line.c_str() + name.size(), nullptr, 10);
    }
    return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* t = static_cast<TTransfer*>(user);
    return t->Cancel && t->Cancel->load(std::memory_order_acquire) ? 1 : 0;
}

// Waits until a second (the interval) has passed since the last request of the program.
void KeepRate(const std::atomic<bool>* cancel)
{
    static std::mutex mutex;
    static Clock::time_point last{};
    std::unique_lock lock(mutex);
    const Clock::time_point next = last + std::chrono::milliseconds(intervalMs.load());
    while (Clock::now() < next && !(cancel && cancel->load()))
        std::this_thread::sleep_for(std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(20)));
    last = Clock::now();
}

TReply Get(const std::string& url, std::size_t limit, bool follow, const std::atomic<bool>* cancel)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    TReply reply;
    CURL* curl = curl_easy_init();
    if (!curl) {
        reply.Failure = "out of memory";
        return reply;
    }
    KeepRate(cancel);
    TTransfer transfer{&reply, limit, cancel};
    const std::string agent = MusicBrainzUserAgent();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs.load());
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallTimeoutS.load());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalTimeoutS.load());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
    if (rc != CURLE_OK)
        reply.Failure = rc == CURLE_WRITE_ERROR && reply.Cut ? "the answer is too long" : curl_easy_strerror(rc);
    curl_easy_cleanup(curl);
    return reply;
}

// A GET, retried once after a 503 (the service's rate limit) after its Retry-After, 5 s at most.
TReply GetKindly(const std::string& url, std::size_t limit, bool follow, const std::atomic<bool>* cancel)
{
    TReply reply = Get(url, limit, follow, cancel);
    if (reply.Failure.empty() && reply.Status == 503) {
        const long wait = std::clamp(reply.RetryAfter < 0 ? 1L : reply.RetryAfter, 0L, 5L);
        const Clock::time_point until = Clock::now() + std::chrono::seconds(wait);
        while (Clock::now() < until && !(cancel && cancel->load()))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        reply = Get(url, limit, follow, cancel);
    }
    return reply;
}

}  // namespace

TPoliteReply PoliteGet(const std::string& url, std::size_t limit, const std::atomic<bool>* cancel)
{
    const TReply reply = GetKindly(url, limit, false, cancel);
    TPoliteReply polite;
    polite.Status = reply.Status;
    polite.Body = reply.Body;
    polite.Failure = reply.Cut ? "the answer is longer than " + std::to_string(limit) + " bytes" : reply.Failure;
    return polite;
}

std::string MusicBrainzUserAgent()
{
    return "Sonvale/2.1 ( https://sonvale.org/ )";
}

void MusicBrainzSetInterval(long milliseconds)
{
    intervalMs = std::max(0L, milliseconds);
}

void MusicBrainzSetTimeouts(long connectMs, long stallSeconds, long totalSeconds)
{
    connectTimeoutMs = std::max(1L, connectMs);
    stallTimeoutS = std::max(1L, stallSeconds);
    totalTimeoutS = std::max(1L, totalSeconds);
}

std::string MusicBrainzDiscId(const TTOC& toc)
{
    TAudioSession s;
    if (!AudioSession(toc, s))
        return {};
    int offsets[100] = {};
    offsets[0] = s.LeadOut;
    for (std::size_t i = 0; i < s.Offsets.size(); ++i)
        offsets[i + 1] = s.Offsets[i];
    DiscId* disc = discid_new();
    std::string id;
    if (disc && discid_put(disc, s.First, s.Last, offsets))
        id = discid_get_id(disc);
    if (disc)
        discid_free(disc);
    return id;
}

std::string MusicBrainzTocParam(const TTOC& toc)
{
    TAudioSession s;
    if (!AudioSession(toc, s))
        return {};
    std::string param = std::to_string(s.First) + "+" + std::to_string(s.Last) + "+" + std::to_string(s.LeadOut);
    for (const int32_t offset : s.Offsets)
        param += "+" + std::to_string(offset);
    return param;
}

int MusicBrainzTrackCount(const TTOC& toc)
{
    TAudioSession s;
    return AudioSession(toc, s) ? s.Last - s.First + 1 : 0;
}

bool ParseMusicBrainzReply(std::string_view json, const std::string& discId, int trackCount, bool fuzzy,
                           std::vector<TMbRelease>& releases, std::string& error)
{
    releases.clear();
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        error = parse.error != QJsonParseError::NoError ? "it is not JSON (" + parse.errorString().toStdString() + ")"
                                                        : "it is not a JSON object";
        return false;
    }
    const QJsonValue list = doc.object().value(QStringLiteral("releases"));
    if (!list.isArray()) {
        error = "it lists no releases";
        return false;
    }
    const QString id = QString::fromStdString(discId);
    for (const QJsonValue& value : list.toArray()) {
        const QJsonObject r = value.toObject();
        const QJsonArray media = r.value(QStringLiteral("media")).toArray();
        // The medium that holds this disc: the one whose discs list its ID (a toc search: the
        // first with as many tracks), never medium 1 by default.
        int chosen = -1;
        for (int m = 0; m < media.size() && chosen < 0; ++m) {
            const QJsonObject medium = media[m].toObject();
            if (fuzzy) {
                const int count = medium.value(QStringLiteral("track-count")).toInt(-1);
                if (count == trackCount || (count < 0 && medium.value(QStringLiteral("tracks")).toArray().size() == trackCount))
                    chosen = m;
                continue;
            }
            for (const QJsonValue& d : medium.value(QStringLiteral("discs")).toArray())
                if (d.toObject().value(QStringLiteral("id")).toString() == id)
                    chosen = m;
        }
        if (chosen < 0)
            continue;
        const QJsonObject medium = media[chosen].toObject();
        TMbRelease release;
        release.Id = Text(r.value(QStringLiteral("id")));
        release.Title = Text(r.value(QStringLiteral("title")));
        release.Artist = ArtistCredit(r.value(QStringLiteral("artist-credit")));
        release.Date = Text(r.value(QStringLiteral("date")));
        release.Country = Text(r.value(QStringLiteral("country")));
        release.Barcode = Text(r.value(QStringLiteral("barcode")));
        const QJsonArray labels = r.value(QStringLiteral("label-info")).toArray();
        if (!labels.isEmpty()) {
            const QJsonObject info = labels[0].toObject();
            release.Label = Text(info.value(QStringLiteral("label")).toObject().value(QStringLiteral("name")));
            release.CatalogNumber = Text(info.value(QStringLiteral("catalog-number")));
        }
        release.Format = Text(medium.value(QStringLiteral("format")));
        // Its place among the media, as the service numbers them (from 1); else as listed.
        const int position = medium.value(QStringLiteral("position")).toInt(0);
        release.Medium = position >= 1 && position <= media.size() ? position : chosen + 1;
        release.MediumCount = static_cast<int>(media.size());
        release.Fuzzy = fuzzy;
        for (const QJsonValue& t : medium.value(QStringLiteral("tracks")).toArray()) {
            const QJsonObject track = t.toObject();
            TMbTrack entry;
            entry.Title = Text(track.value(QStringLiteral("title")));
            if (entry.Title.empty())
                entry.Title = Text(track.value(QStringLiteral("recording")).toObject().value(QStringLiteral("title")));
            if (track.contains(QStringLiteral("artist-credit"))) {
                const std::string artist = ArtistCredit(track.value(QStringLiteral("artist-credit")));
                if (artist != release.Artist)
                    entry.Artist = artist;
            }
            release.Tracks.push_back(std::move(entry));
        }
        if (release.Id.empty())
            continue;
        releases.push_back(std::move(release));
    }
    return true;
}

TMusicBrainzResult LookupMusicBrainz(const TMusicBrainzOptions& settings, const TTOC& toc, const std::atomic<bool>* cancel)
{
    TMusicBrainzResult result;
    result.DiscId = MusicBrainzDiscId(toc);
    if (result.DiscId.empty()) {
        result.Reason = "The disc has no audio track to look up.";
        return result;
    }
    const std::string server = WithoutSlash(settings.Server);
    const std::string base = server + "/ws/2/discid/" + result.DiscId;
    const std::string inc = "inc=recordings+artist-credits+labels&fmt=json";
    for (const bool fuzzy : {false, true}) {
        const std::string url = fuzzy ? base + "?toc=" + MusicBrainzTocParam(toc) + "&cdstubs=no&" + inc : base + "?" + inc;
        const TReply reply = GetKindly(url, MaxReply, false, cancel);
        if (cancel && cancel->load()) {
            result.Reason = "The lookup was stopped.";
            return result;
        }
        if (!reply.Failure.empty()) {
            result.Reason = "MusicBrainz could not be reached (" + server + "): " + reply.Failure + ".";
            return result;
        }
        if (reply.Status == 404 && !fuzzy)
            continue;  // an unknown disc ID: its track lengths next
        if (reply.Status != 200) {
            result.Reason = reply.Status == 404 ? "MusicBrainz knows no release with this disc."
                                                : "MusicBrainz refused the request (HTTP " + std::to_string(reply.Status) + ").";
            return result;
        }
        std::string error;
        if (!ParseMusicBrainzReply(reply.Body, result.DiscId, MusicBrainzTrackCount(toc), fuzzy, result.Releases, error)) {
            result.Reason = "MusicBrainz's answer could not be read: " + error + ".";
            return result;
        }
        if (result.Releases.empty())
            result.Reason = "MusicBrainz knows no release with this disc.";
        return result;
    }
    return result;
}

bool FetchCoverArt(const TMusicBrainzOptions& settings, const std::string& releaseId, const std::string& path,
                   std::string& message, const std::atomic<bool>* cancel)
{
    if (access(path.c_str(), F_OK) == 0) {
        message = path + " is there already: it is kept.";
        return false;
    }
    const std::string url = WithoutSlash(settings.CoverArtServer) + "/release/" + releaseId + "/front-500";
    const TReply reply = GetKindly(url, MaxCover, true, cancel);
    if (!reply.Failure.empty()) {
        message = "The cover could not be fetched from " + url + ": " + reply.Failure + ".";
        return false;
    }
    if (reply.Status == 404) {
        message = "The Cover Art Archive has no front cover for this release.";
        return false;
    }
    if (reply.Status != 200 || reply.Body.empty()) {
        message = "The cover could not be fetched from " + url + " (HTTP " + std::to_string(reply.Status) + ").";
        return false;
    }
    // Written whole under another name, then put in place: never a half picture under its name.
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reply.Body.data(), static_cast<std::streamsize>(reply.Body.size()));
        if (!out.flush()) {
            std::remove(temp.c_str());
            message = "The cover could not be written to " + path + ".";
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        message = "The cover could not be written to " + path + ".";
        return false;
    }
    message = "The cover was fetched into " + path + ".";
    return true;
}

TCddbFields MusicBrainzFields(const TMbRelease& release)
{
    TCddbFields fields;
    fields.Artist = release.Artist;
    fields.Album = release.Title;
    if (!release.Year().empty())
        fields.Year = release.Year();
    fields.HasTitles = !release.Tracks.empty();
    for (const TMbTrack& t : release.Tracks)
        fields.Titles.push_back(t.Title);
    fields.MusicBrainzRelease = release.Id;
    return fields;
}

std::string ReleaseSummary(const TMbRelease& r)
{
    std::string details;
    const auto add = [&details](const std::string& part) {
        if (!part.empty())
            details += (details.empty() ? "" : ", ") + part;
    };
    add(r.Date);
    add(r.Country);
    add(r.Label + (r.Label.empty() || r.CatalogNumber.empty() ? "" : " ") + r.CatalogNumber);
    add((r.Format.empty() ? std::string("medium") : r.Format) + " " + std::to_string(r.Medium) + " of " +
        std::to_string(r.MediumCount));
    add(std::to_string(r.Tracks.size()) + " tracks");
    if (r.Fuzzy)
        add("found by its track lengths");
    return r.Title + " - " + r.Artist + " (" + details + ")";
}

namespace {

// wParam 1: the lookup is over; the payload is a TMusicBrainzReply.
constexpr UINT WM_MBRESULT = WM_USER + 0x6B;

class TMusicBrainzReply : public TMessagePayload {
public:
    TMusicBrainzResult Result;
};

}  // namespace

struct TMusicBrainzLookup::State {
    std::atomic<bool> Cancel{false};
};

TMusicBrainzLookup::TMusicBrainzLookup(HCDROM handle, TMusicBrainzOptions options)
    : m_handle(handle)
    , m_options(std::move(options))
    , m_state(std::make_shared<State>())
    , m_target([this](TMessage& m) { Handle(m); })
{
}

TMusicBrainzLookup::~TMusicBrainzLookup()
{
    Abandon();
    if (m_thread.joinable())
        RetiredThreads().Add(std::move(m_thread));
}

void TMusicBrainzLookup::Start()
{
    TTOC toc{};
    if (!ReadMsfToc(m_handle, toc)) {
        m_reason = "The disc's table of contents cannot be read.";
        if (OnNoMatch)
            OnNoMatch();
        return;
    }
    m_thread = std::thread([state = m_state, options = m_options, toc, window = m_target.Handle()] {
        auto reply = std::make_unique<TMusicBrainzReply>();
        reply->Result = LookupMusicBrainz(options, toc, &state->Cancel);
        if (!state->Cancel)
            PostMessage(window, WM_MBRESULT, 1, 0, std::move(reply));
    });
}

void TMusicBrainzLookup::Abandon()
{
    m_abandoned = true;
    m_state->Cancel = true;
}

void TMusicBrainzLookup::Handle(TMessage& message)
{
    auto reply = message.Msg == WM_MBRESULT ? message.Take<TMusicBrainzReply>() : nullptr;
    if (!reply || m_abandoned)
        return;
    m_releases = reply->Result.Releases;
    const std::vector<TMbRelease>& releases = m_releases;
    if (releases.empty()) {
        m_reason = reply->Result.Reason;
        if (OnNoMatch)
            OnNoMatch();
        return;
    }
    // One release is taken without asking; of several, the one the user chooses, or none.
    const int chosen = releases.size() == 1 ? 0 : OnChoose ? OnChoose(releases) : -1;
    if (chosen >= 0 && chosen < static_cast<int>(releases.size()) && OnApply)
        OnApply(MusicBrainzFields(releases[static_cast<std::size_t>(chosen)]));
    if (OnOver)
        OnOver();
}

TCoverFetch::TCoverFetch(TMusicBrainzOptions options, std::string releaseId, std::string path, HWND window)
    : m_cancel(std::make_shared<std::atomic<bool>>(false))
{
    m_thread = std::thread([cancel = m_cancel, options = std::move(options), id = std::move(releaseId),
                            path = std::move(path), window] {
        auto done = std::make_unique<TCoverFetched>();
        done->Written = FetchCoverArt(options, id, path, done->Message, cancel.get());
        if (!*cancel)
            PostMessage(window, WM_COVERFETCHED, 0, 0, std::move(done));
    });
}

TCoverFetch::~TCoverFetch()
{
    *m_cancel = true;
    if (m_thread.joinable())
        RetiredThreads().Add(std::move(m_thread));
}
