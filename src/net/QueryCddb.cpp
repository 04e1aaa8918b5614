#include "QueryCddb.h"

#include "RetiredThreads.h"

#include "Global.h"
#include "ProfileFile.h"
#include "ProgramFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <mutex>

namespace {

constexpr int32_t MatchRoom = 10;
constexpr int32_t EntryBuffer = 32000;

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

void SplitDiscTitle(std::string_view value, std::string& artist, std::string& album)
{
    // The database writes "Artist / Album"; an artist may have a slash of its own ("AC/DC").
    std::size_t at = value.find(" / ");
    std::size_t skip = 3;
    if (at == std::string_view::npos) {
        at = value.find('/');
        skip = 1;
    }
    if (at == std::string_view::npos) {
        artist.clear();
        album = std::string(Trim(value));
        return;
    }
    artist = std::string(Trim(value.substr(0, at)));
    album = std::string(Trim(value.substr(at + skip)));
}

namespace {

// A value as the entry means it: \n a line break, \t a tab, \\ a backslash (the database's
// escapes); any other backslash is kept as it stands.
std::string CddbUnescaped(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[i + 1];
            if (next == 'n' || next == 't' || next == '\\') {
                out += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        out += value[i];
    }
    return out;
}

}  // namespace

bool ParseCddbEntry(std::string_view entry, int firstTrack, int lastTrack, TCddbFields& fields)
{
    const std::string firstTitle = "TTITLE" + std::to_string(firstTrack - 1);
    const std::size_t maxTitles = static_cast<std::size_t>(std::max(0, lastTrack - firstTrack + 1));
    std::string discTitle;
    bool inDiscTitle = false, inTitles = false, titlesDone = false;
    std::string lastTitleKey;
    std::vector<std::string> titles;

    while (!entry.empty()) {
        const auto eol = entry.find('\n');
        const std::string_view raw = entry.substr(0, eol);
        entry = eol == std::string_view::npos ? std::string_view{} : entry.substr(eol + 1);
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = line.substr(eq + 1);  // kept whole until joined

        if (key != "DTITLE")
            inDiscTitle = false;
        if (inTitles && !key.starts_with("TTITLE")) {
            inTitles = false;
            titlesDone = true;
        }
        if (key == "DTITLE") {
            // A long value is split over several DTITLE lines: joined.
            discTitle = inDiscTitle ? discTitle + std::string(value) : std::string(value);
            inDiscTitle = true;
            std::string artist, album;
            SplitDiscTitle(CddbUnescaped(discTitle), artist, album);
            fields.Artist = artist;
            fields.Album = album;
        } else if (key == "DYEAR") {
            fields.Year = CddbUnescaped(Trim(value));
        } else if (key == "DGENRE") {
            const int index = GenreIndexOf(Trim(value));
            fields.Genre = index >= 0 ? index + 1 : -1;
        } else if (key.starts_with("TTITLE") && !titlesDone) {
            if (!inTitles && key == firstTitle)
                inTitles = true;
            if (!inTitles)
                continue;
            if (key == lastTitleKey && !titles.empty()) {
                titles.back() += std::string(value);  // the same title, continued
            } else if (titles.size() < maxTitles) {
                titles.emplace_back(value);
                lastTitleKey = std::string(key);
            } else {
                inTitles = false;
                titlesDone = true;
            }
        }
    }
    if (titles.empty())
        return false;
    for (std::string& t : titles)
        t = std::string(Trim(CddbUnescaped(t)));
    fields.HasTitles = true;
    fields.Titles = std::move(titles);
    return true;
}

int32_t CddbProxyPort(const std::string& text)
{
    const std::string_view t = Trim(text);
    int32_t port = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), port);
    if (ec != std::errc() || end != t.data() + t.size() || port < 1 || port > 65535)
        return 80;
    return port;
}

std::string CddbIdentity()
{
    const TProfileFile ini(ConfigFolder() + "options.ini");
    const std::string email = ini.ReadString("QueryCDDB", "Email", "");
    const auto at = email.find('@');
    if (at != std::string::npos && at > 0 && at + 1 < email.size() && email.find(' ') == std::string::npos)
        return email;
    std::string login;
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
        login = pw->pw_name;
    else if (const char* user = std::getenv("USER"))
        login = user;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        std::snprintf(host, sizeof host, "localhost");
    return (login.empty() ? "user" : login) + "@" + host;
}

void ApplyCddbResult(const TCddbFields& fields, std::vector<TTrackRow>& rows, TCDInfo& info)
{
    if (fields.Artist)
        info.Artist = *fields.Artist;
    if (fields.Album)
        info.Album = *fields.Album;
    if (fields.Year)
        info.Year = *fields.Year;
    if (fields.Genre)
        info.Genre = *fields.Genre;
    if (fields.MusicBrainzRelease)
        info.MusicBrainzRelease = *fields.MusicBrainzRelease;
    for (std::size_t r = 0; r < fields.Titles.size() && r < rows.size(); ++r)
        if (!fields.Titles[r].empty())
            rows[r].Title = fields.Titles[r];
}

std::string CddbFailureReason(int32_t error)
{
    switch (error) {
    case ALERR_NOERROR:
        return "The CDDB server knows no entry for this disc.";
    case ALERR_CDDB_CONNECT:
        return "The CDDB server could not be reached, or did not answer in time.";
    case ALERR_CDDB_REFUSED:
        return "The CDDB server refused the request.";
    case ALERR_TOC:
    case ALERR_NODRIVE:
        return "The disc's table of contents could not be read.";
    default:
        return "The lookup failed (error " + std::to_string(error) + ").";
    }
}

// --- the worker ------------------------------------------------------------------------------

struct TQueryCDDBThread::State {
    int FirstTrack = 1, LastTrack = 1;
    HCDROM Handle = 0;
    HWND Window = 0;
    TQueryCDDB Settings;
    std::string Identity;
    std::atomic<bool> Cancel{false};

    void Run()
    {
        CDDBSetCancelFlag(&Cancel);
        CDDBSetOption(CDDB_OPT_SERVER, Settings.Server.c_str(), 0);
        CDDBSetOption(CDDB_OPT_CGI, Settings.Script.c_str(), 0);
        CDDBSetOption(CDDB_OPT_USER, Identity.c_str(), 0);
        CDDBSetOption(CDDB_OPT_AGENT, "Sonvale 2.1", 0);
        CDDBSetOption(CDDB_OPT_USECDPLAYERINI, "", 0);
        CDDBSetOption(CDDB_OPT_USEPROXY, "", Settings.UseProxy ? 1 : 0);
        if (Settings.UseProxy) {
            CDDBSetOption(CDDB_OPT_PROXYPORT, "", CddbProxyPort(Settings.Port));
            CDDBSetOption(CDDB_OPT_PROXY, Settings.ProxyAddress.c_str(), 0);
        }
        auto result = std::make_unique<TCddbResult>();
        std::vector<TCDDBQueryItem> matches(MatchRoom);
        TCDDBQuery query{MatchRoom, matches.data()};
        if (CDDBQuery(Handle, &query) != 1) {
            // No connection, no answer, a refusal: said as "no match" (whose panel names the
            // network and the settings), not ended as if the lookup had worked.
            if (!Cancel)
                PostMessage(Window, WM_CDDBRESULT, cddbNoMatch, GetAspiLibError());
            return;
        }
        if (query.Num == 0) {
            PostMessage(Window, WM_CDDBRESULT, cddbNoMatch, GetAspiLibError());
            return;
        }
        std::vector<char> text(EntryBuffer);
        bool anyRead = false;
        int32_t readError = ALERR_NOERROR;
        for (int32_t m = 0; m < query.Num && !Cancel; ++m) {
            if (CDDBGetDiskInfo(&matches[static_cast<std::size_t>(m)], text.data(), EntryBuffer) != 1) {
                readError = GetAspiLibError();
                continue;
            }
            anyRead = true;
            if (ParseCddbEntry(text.data(), FirstTrack, LastTrack, result->Fields))
                break;
        }
        if (Cancel)
            return;
        // Matches none of whose entries could be read (a refusal, a dropped connection) found
        // nothing: said so, with the reason, rather than ended as if the lookup had worked.
        if (!anyRead)
            PostMessage(Window, WM_CDDBRESULT, cddbNoMatch, readError);
        else
            PostMessage(Window, WM_CDDBRESULT, cddbOver, 0, std::move(result));
    }
};

TQueryCDDBThread::TQueryCDDBThread(int firstTrack, int lastTrack, HCDROM handle, HWND window)
    : m_state(std::make_shared<State>())
{
    m_state->FirstTrack = firstTrack;
    m_state->LastTrack = lastTrack;
    m_state->Handle = handle;
    m_state->Window = window;
}

TQueryCDDBThread::~TQueryCDDBThread()
{
    Abandon();
    if (m_thread.joinable())
        RetiredThreads().Add(std::move(m_thread));
}

void TQueryCDDBThread::Start()
{
    if (m_thread.joinable())
        return;
    m_state->Settings = Options.QueryCDDB;
    m_state->Identity = CddbIdentity();
    m_thread = std::thread([state = m_state] { state->Run(); });
}

void TQueryCDDBThread::Abandon()
{
    m_state->Cancel.store(true, std::memory_order_release);
}

// --- the wait dialog's logic -----------------------------------------------------------------

TCddbLookup::TCddbLookup(int firstTrack, int lastTrack, HCDROM handle)
    : m_first(firstTrack)
    , m_last(lastTrack)
    , m_handle(handle)
    , m_target([this](TMessage& m) { Handle(m); })
{
}

TCddbLookup::~TCddbLookup()
{
    Abandon();
}

void TCddbLookup::Start()
{
    m_thread = std::make_unique<TQueryCDDBThread>(m_first, m_last, m_handle, m_target.Handle());
    m_thread->Start();
}

void TCddbLookup::Abandon()
{
    m_abandoned = true;
    if (m_thread)
        m_thread->Abandon();
}

void TCddbLookup::Handle(TMessage& message)
{
    if (message.Msg != WM_CDDBRESULT || m_abandoned)
        return;
    if (message.WParam == cddbNoMatch) {
        m_reason = CddbFailureReason(static_cast<int32_t>(message.LParam));
        if (OnNoMatch)
            OnNoMatch();
    } else if (message.WParam == cddbOver) {
        if (auto result = message.Take<TCddbResult>(); result && OnApply)
            OnApply(result->Fields);
        if (OnOver)
            OnOver();
    }
}
