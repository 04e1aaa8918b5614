#pragma once
// The online disc lookup: the worker that asks the CDDB server through the drive library and
// parses the entries it gets, and the lookup the wait dialog runs. The worker only reads the
// drive library and posts WM_CDDBRESULT to the window that started it; what it found is applied
// to the track list and the disc information on the UI thread, when the lookup is over and only
// if it was not abandoned.

#include "DiscScan.h"
#include "GlobalOptions.h"
#include "Messages.h"
#include "akrip32.h"
#include "akrip32Cddb.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// wParam 6: no match, the query could not be made, or no entry of a match could be read (lParam:
// the library's error of the failed request); 7: the lookup is over (the payload, a TCddbResult,
// holds what was found).
constexpr UINT WM_CDDBRESULT = WM_USER + 0x68;
enum : WPARAM { cddbNoMatch = 6, cddbOver = 7 };

// What the entries gave, in the order they were read: each field found replaces the one before;
// the titles are the first entry's that has title lines, row by row from the first track.
struct TCddbFields {
    std::optional<std::string> Artist, Album, Year;
    std::optional<int32_t> Genre;     // a genre choice: position in the genre list + 1, or -1
    bool HasTitles = false;
    std::vector<std::string> Titles;
    std::optional<std::string> MusicBrainzRelease;  // a MusicBrainz release's ID
};

class TCddbResult : public TMessagePayload {
public:
    TCddbFields Fields;
};

// Parses one entry ("KEY=value" lines) into fields, merging into fields. Titles are taken for
// tracks firstTrack..lastTrack: from the line "TTITLE<firstTrack - 1>" on, the consecutive
// TTITLE lines, a key given on several lines joined into one value; the first other key ends
// them. True when the entry had title lines.
bool ParseCddbEntry(std::string_view entry, int firstTrack, int lastTrack, TCddbFields& fields);

// "Artist / Album" split at the first " / ", else at the first "/"; without one, no artist.
void SplitDiscTitle(std::string_view value, std::string& artist, std::string& album);

// The proxy port as a number: 80 when the text is none (or out of range).
int32_t CddbProxyPort(const std::string& text);

// The identity sent in "hello": the Email of options.ini's [QueryCDDB] section when it holds
// one (the user writes it; the program never does), else login@host.
std::string CddbIdentity();

// Puts what the lookup found into the rows (row r takes title r, an empty title leaves the row
// as it was) and the disc information.
void ApplyCddbResult(const TCddbFields& fields, std::vector<TTrackRow>& rows, TCDInfo& info);

// Why a lookup found nothing, for the user: error is the drive library's error of the failed
// request (ALERR_NOERROR: the server answered and knows no entry).
std::string CddbFailureReason(int32_t error);

// One lookup on its own thread, posting WM_CDDBRESULT to window. Abandoning it cancels its
// transfer; the thread ends on its own (a program that exits waits for it, briefly).
class TQueryCDDBThread {
public:
    TQueryCDDBThread(int firstTrack, int lastTrack, HCDROM handle, HWND window);
    ~TQueryCDDBThread();
    TQueryCDDBThread(const TQueryCDDBThread&) = delete;
    TQueryCDDBThread& operator=(const TQueryCDDBThread&) = delete;

    // The options it sends (server, script, proxy from Options.QueryCDDB) are taken now.
    void Start();
    void Abandon();

private:
    struct State;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

// What the wait dialog runs: a lookup that says "no match" with its reason, or applies what it
// found and ends. Lives on the UI thread.
class TDiscLookup {
public:
    virtual ~TDiscLookup() = default;

    std::function<void()> OnNoMatch;                       // show the no-match panel
    std::function<void(const TCddbFields&)> OnApply;       // put the result in place
    std::function<void()> OnOver;                          // end the dialog with "yes"

    virtual void Start() = 0;
    // Stop (or Close): nothing of this lookup is applied from now on.
    virtual void Abandon() = 0;
    bool Abandoned() const { return m_abandoned; }
    // Once OnNoMatch has run: why.
    const std::string& NoMatchReason() const { return m_reason; }

protected:
    bool m_abandoned = false;
    std::string m_reason;
};

// The CDDB lookup (the drive library's CDDB calls).
class TCddbLookup : public TDiscLookup {
public:
    TCddbLookup(int firstTrack, int lastTrack, HCDROM handle);
    ~TCddbLookup() override;

    void Start() override;
    void Abandon() override;

private:
    void Handle(TMessage& message);

    int m_first, m_last;
    HCDROM m_handle;
    TMessageTarget m_target;
    std::unique_ptr<TQueryCDDBThread> m_thread;
};
