#pragma once
// The MusicBrainz web service: the disc ID of a table of contents (libdiscid), the lookup of the
// releases that hold the disc over HTTPS (libcurl), their JSON answer read with Qt's JSON, and the
// front cover from the Cover Art Archive. Everything here runs on the caller's thread and ends
// within its time-outs, or at once when the cancel flag is set; a worker calls it.

#include "GlobalOptions.h"
#include "QueryCddb.h"
#include "akrip32.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <string>
#include <string_view>
#include <vector>

// The disc ID of toc (MSF, as ReadMsfToc reads it): the audio tracks of the first session, their
// offsets with the 150 sectors of the lead-in. Empty for a table with no audio track.
std::string MusicBrainzDiscId(const TTOC& toc);
// The table as the service's toc search takes it: "first+last+leadout+offset1+offset2...".
std::string MusicBrainzTocParam(const TTOC& toc);
// The number of audio tracks the disc ID counts.
int MusicBrainzTrackCount(const TTOC& toc);

struct TMbTrack {
    std::string Title;
    std::string Artist;  // only where it differs from the release's
};

struct TMbRelease {
    std::string Id, Title, Artist, Date, Country, Label, CatalogNumber, Barcode, Format;
    int Medium = 0;        // the position of the medium that holds this disc (1-based)
    int MediumCount = 0;   // the release's media
    std::vector<TMbTrack> Tracks;  // that medium's tracks, in order
    bool Fuzzy = false;    // found by its track lengths, not by the disc ID
    std::string Year() const { return Date.substr(0, 4); }
};

// The releases of a reply (a disc ID lookup, or a toc search with fuzzy set). Each release's
// medium is the one whose discs list discId; in a toc search, the first whose track count is
// trackCount. A release without such a medium is left out. Text is cleaned as network text is
// (valid UTF-8, no control characters) and cut to bounded lengths. False, with error, when the
// reply is no JSON object of the service's form.
bool ParseMusicBrainzReply(std::string_view json, const std::string& discId, int trackCount, bool fuzzy,
                           std::vector<TMbRelease>& releases, std::string& error);

struct TMusicBrainzResult {
    std::string DiscId;
    std::vector<TMbRelease> Releases;  // empty: nothing found, see Reason
    std::string Reason;                // why nothing was found, for the user
};

// Looks the disc of toc up: by its disc ID, then (when the ID is unknown) by its track lengths.
// One request a second at most, one retry after a 503 honouring Retry-After up to 5 s.
TMusicBrainzResult LookupMusicBrainz(const TMusicBrainzOptions& settings, const TTOC& toc,
                                     const std::atomic<bool>* cancel = nullptr);

// Fetches <CoverArtServer>/release/<releaseId>/front-500 (following redirects) into path, unless a
// file is there already. True when the file was written; otherwise message says why (no cover,
// the archive could not be reached, a file already there).
bool FetchCoverArt(const TMusicBrainzOptions& settings, const std::string& releaseId, const std::string& path,
                   std::string& message, const std::atomic<bool>* cancel = nullptr);

// What a release gives the track list and cdinfo.dat: artist, album, year (of its date), the
// medium's titles, the release ID.
TCddbFields MusicBrainzFields(const TMbRelease& release);

// One release in a line: "Title - Artist (1990, GB, Label CAT-1, CD 2 of 2, 12 tracks)".
std::string ReleaseSummary(const TMbRelease& release);

// The MusicBrainz lookup the wait dialog runs: the disc's table read, the lookup on a thread of its
// own, and with several releases OnChoose asked which (an index, or -1 for none).
class TMusicBrainzLookup : public TDiscLookup {
public:
    TMusicBrainzLookup(HCDROM handle, TMusicBrainzOptions options);
    ~TMusicBrainzLookup() override;

    std::function<int(const std::vector<TMbRelease>&)> OnChoose;

    void Start() override;
    void Abandon() override;
    // What the lookup found, once it is over.
    const std::vector<TMbRelease>& Releases() const { return m_releases; }

private:
    void Handle(TMessage& message);

    struct State;
    std::vector<TMbRelease> m_releases;
    HCDROM m_handle;
    TMusicBrainzOptions m_options;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
    TMessageTarget m_target;
};

// The cover's fetch beside a rip: FetchCoverArt on a thread of its own, started at once, posting
// WM_COVERFETCHED (a TCoverFetched) to window when it is over. Dropping it cancels the transfer.
constexpr UINT WM_COVERFETCHED = WM_USER + 0x6C;

class TCoverFetched : public TMessagePayload {
public:
    bool Written = false;
    std::string Message;   // what became of it, for a status line
};

class TCoverFetch {
public:
    TCoverFetch(TMusicBrainzOptions options, std::string releaseId, std::string path, HWND window);
    ~TCoverFetch();
    TCoverFetch(const TCoverFetch&) = delete;
    TCoverFetch& operator=(const TCoverFetch&) = delete;

private:
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::thread m_thread;
};

// A GET with this client's manners, for the other public services (the CUETools database): its
// User-Agent and time-outs, one request a second over all of them, a 503 tried again once.
struct TPoliteReply {
    long Status = 0;
    std::string Body;
    std::string Failure;  // the transfer failed: why
};
TPoliteReply PoliteGet(const std::string& url, std::size_t limit, const std::atomic<bool>* cancel = nullptr);

// The "Sonvale/2.1 ( https://sonvale.org/ )" every request names itself with.
std::string MusicBrainzUserAgent();

// Tests: the shortest time between two requests (1000 ms), and the time-outs (10 s to connect,
// 15 s without data, 60 s in all).
void MusicBrainzSetInterval(long milliseconds);
void MusicBrainzSetTimeouts(long connectMs, long stallSeconds, long totalSeconds);
