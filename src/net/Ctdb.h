#pragma once
// The CUETools database (CTDB): a disc's TOC ID and the table of contents its lookup takes.
//
// The TOC ID is the SHA-1 of the audio tracks' starts after the first and the audio's lead-out
// (on an Enhanced CD 11400 sectors before the data track), each as 8 upper-case hex digits of
// its sector counted from track 1's start, then "00000000" for each of the 99 - (audio tracks -
// 1) places left, in base64 with MusicBrainz's alphabet ("." "_" "-" for "+" "/" "="). Example:
// tracks at 0, 11413, 25024, 45713 and the lead-out at 55220 give "VukMWWItblELRM.CEFpXxw0FlME-".

#include "BackgroundFetch.h"
#include "DiscScan.h"
#include "akrip32.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The TOC ID of a usable table read in MSF mode; "" for a table without audio.
std::string CtdbTocId(const TTOC& toc);

// The lookup's toc parameter: each track's start (a data track's after "-"), then the lead-out,
// in sectors from 00:02:00, joined by ":" ("0:11413:25024:45713:55220").
std::string CtdbTocParameter(const TTOC& toc);
// The same of the tracks' sectors in disc order (as a rip log lists them).
std::string CtdbTocParameter(const std::vector<TTrackSectors>& tracks);

// One entry of the database for a disc: the CRC32 of its audio (both ends left out), how many
// rips agree, and each audio track's CRC32.
struct TCtdbEntry {
    uint32_t Crc32 = 0;
    int Confidence = 0;
    std::vector<uint32_t> TrackCrcs;
    int Npar = 0, Stride = 0;
    bool HasParity = false;
    std::string Id;
};

// What the database says of a disc: its entries (none: "not in database"), or why it was not
// asked (Checked false: "no connection to ...", "HTTP 500", "a malformed answer: ...").
struct TCtdbAnswer {
    bool Checked = false;
    std::string Reason;
    std::vector<TCtdbEntry> Entries;
};

// The lookup's XML answer: its <entry> elements, or nothing (and why) for a malformed one.
std::optional<std::vector<TCtdbEntry>> ParseCtdbAnswer(std::string_view xml, std::string& why);

// GET <server>/lookup2.php?version=3&ctdb=1&fuzzy=1&metadata=none&toc=<tocParameter> with the
// MusicBrainz client's manners (User-Agent, time-outs, one request a second). A 404 is "not in
// database".
TCtdbAnswer FetchCtdb(const std::string& server, const std::string& tocParameter,
                      const std::atomic<bool>* cancel = nullptr);

// The fetch on a thread of its own, started at once; the rip asks for the answer when it needs it.
class TCtdbLookup : public TBackgroundFetch<TCtdbAnswer> {
public:
    TCtdbLookup(std::string server, std::string tocParameter);
};

// What the database says of one track: its CRC matches an entry's (the confidence the sum over
// the entries it matches), matches none, the database has no entry of the disc's track count,
// or the track was not checked (and why).
struct TCtdbVerdict {
    enum Kind { Accurate, Differs, NotInDatabase, NotChecked } Result = NotChecked;
    int Confidence = 0;
    std::string Reason;
    // "accurately ripped (confidence 12)", "differs", "not in database", "not checked (...)".
    std::string Text() const;
};

// The track at position (1-based among the disc's audioTracks audio tracks) with its CTDB CRC.
TCtdbVerdict JudgeCtdbTrack(const TCtdbAnswer& answer, int audioTracks, int position, uint32_t crc);

// The disc's line: "3 of 4 tracks accurate", then with the disc's CRC (every audio track ripped)
// "; disc CRC matches (confidence 7)" or "; disc CRC differs"; "not in database" or
// "not checked (...)" as for a track. accurate of judged tracks.
std::string CtdbDiscText(const TCtdbAnswer& answer, int audioTracks, int accurate, int judged,
                         std::optional<uint32_t> discCrc);
