#pragma once
// The extraction thread: copies one track of the disc into a WAV file in the output folder,
// optionally normalises it, and reports to the job window with posted messages:
//
//   WM_EXTRACTERROR lParam 1 / 2     the drive refused the address mode / the table is unreadable
//   WM_PROCESSINFO Code 0..100       progress of the read, one report per read of 10 sectors
//   WM_PROCESSINFO Code 999          normalising begins; then its progress, one per 2048 bytes
//   WM_PROCESSINFO Code 1000         the end: Status 0 done, 3 a read failed, 5 the file cannot be
//                                    created or written, 6 normalising failed (the WAV is as read),
//                                    7 a data track (nothing read, no file)
//
// After Cancel() the thread stops after the current read and sends no end report; the file is
// then a valid WAV of the sectors read so far.
//
// Made on the UI thread; its worker only reads the drive, writes the file and posts.

#include "AccurateRip.h"
#include "Messages.h"
#include "Loudness.h"
#include "akrip32.h"

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// What a finished extraction in secure mode knows about the audio it wrote (before any
// normalising); a plain extraction leaves it empty.
// How a track was read.
enum class TReadKind {
    Plain,              // one pass of plain reads (not secure mode)
    Secure,             // secure reads (paranoia)
    BurstConfirmed,     // burst-first: plain reads that AccurateRip or CTDB confirmed
    SecureAfterBurst,   // burst-first: read again securely after neither confirmed them
};

struct TTrackResult {
    uint32_t Crc32 = 0;            // of the audio data
    uint32_t AccurateRipV1 = 0, AccurateRipV2 = 0;
    uint32_t CtdbCrc = 0;          // of the bytes CTDB counts (AccurateRip.h), CtdbBytes of them
    int64_t CtdbBytes = 0;
    int Peak = 0;                  // highest absolute sample, 0..32768
    bool Secure = false;           // read in secure mode
    int32_t ReadOffset = 0;        // samples, secure mode
    int64_t Rereads = 0;           // secure mode: sector reads beyond the two every sector gets
    std::vector<int32_t> Unreadable;  // secure mode: sectors paranoia gave up on
    // With loudness measured: the track's, on the samples as written (after normalising).
    std::shared_ptr<const TLoudness> Loudness;
    TReadKind Read = TReadKind::Plain;
    int Position = 0;              // the track read (0: the audio before the first track)
    // BurstConfirmed: which databases confirmed the read.
    bool ConfirmedByAccurateRip = false, ConfirmedByCtdb = false;
    // Secure mode: what v1 at other read offsets needs (the key-disc hint).
    std::shared_ptr<const TTrackEdges> Edges;
};

// Burst-first secure mode: what the extraction asks of the databases, AccurateRip and CTDB (from
// its own thread; both calls are safe there).
struct TBurstCheck {
    // Waits a little for the databases' answers (cancel ends the wait: false), calling waiting
    // first when it has to wait; whether either holds an entry for the disc to check tracks
    // against.
    std::function<bool(const std::atomic<bool>& cancel, const std::function<void()>& waiting)> HasEntry;
    // Which databases confirm the track at position (1-based) with the checksums of result.
    struct TConfirmation {
        bool AccurateRip = false, Ctdb = false;
    };
    std::function<TConfirmation(int position, const TTrackResult& result)> Confirms;
};

// How a track is read and what is done to it: normalising, and the secure reads.
struct TExtractSettings {
    bool Normalize = false;
    int32_t NormalizePercent = 100;
    bool Secure = false;
    int32_t ReadOffset = 0;        // samples, secure reads
    bool RefuseDamaged = false;    // a track with an unreadable sector fails
    bool Loudness = false;         // measure the track's loudness for ReplayGain as it passes
    // Secure mode, burst-first: the database to confirm a plain read with (null: read securely).
    std::shared_ptr<const TBurstCheck> Burst;
    // The global options as they are now (for a thread made outside a job).
    static TExtractSettings FromOptions();
};

class TCDRipThread {
public:
    // The position that reads the whole disc into one file: from sector 0 (the audio hidden
    // before the first track, when there is any) through every audio track to the audio's end.
    static constexpr int WholeDisc = -1;
    // Created suspended. trackPosition: the row's position in the track list + 1, which is also
    // the track's entry in the table of contents (0: the audio before the first track, which
    // AccurateRip does not know; WholeDisc); path: the WAV file to write, as the job named it
    // (empty: there is no file to write, reported as a file that cannot be created).
    TCDRipThread(int trackPosition, std::string path);
    // Cancels a running thread and waits for it.
    ~TCDRipThread();
    TCDRipThread(const TCDRipThread&) = delete;
    TCDRipThread& operator=(const TCDRipThread&) = delete;

    HCDROM DriveHandle = 0;
    HWND ReceivingWindow = 0;
    // Set before Start: the job hands its own; made from the options by default.
    TExtractSettings Settings = TExtractSettings::FromOptions();

    // Runs the thread with Settings.
    void Start();
    // Asks the thread to stop after the current read.
    void Cancel() { m_cancel.store(true, std::memory_order_release); }
    // Waits until the thread has ended (at once when it never started).
    void WaitFor();

    // The file the thread writes.
    const std::string& FileName() const { return m_path; }
    // After the end report: the checksums and, in secure mode, what the reads met.
    const TTrackResult& Result() const { return m_result; }
    // Each region's result in the file's order (WholeDisc: the hidden audio, when the disc has
    // any, then each audio track; as far as the reads went).
    const std::vector<TTrackResult>& Results() const { return m_results; }
    // After the end report or the thread's end: whether it created its file (a file it could not
    // create may be another writer's, and is not the job's to remove), and the system's error
    // number when creating or writing it failed (0: a name refused, or no such failure).
    bool FileMade() const { return m_fileMade; }
    int WriteError() const { return m_writeError; }

private:
    // A stretch of the disc the file holds: a track (its position) or the hidden audio (0).
    struct TRegion {
        int Position = 0;
        int32_t Start = 0, Length = 0;
    };
    void Execute();
    int32_t ReadRegions(const std::vector<TRegion>& regions, int lastAudio, int32_t discEnd);
    // firstAudio, lastAudio: the track's place among the disc's audio tracks (for the
    // checksums); discEnd: the sector where the disc's audio ends.
    int32_t ReadTrack(int fd, off_t at, const TRegion& region, bool firstAudio, bool lastAudio, int32_t discEnd,
                      uint64_t& bytes);
    int32_t ReadPass(int fd, off_t at, int32_t start, int32_t length, bool firstAudio, bool lastAudio,
                     int32_t discEnd, bool paranoia, uint64_t& bytes);
    bool Cancelled() const { return m_cancel.load(std::memory_order_acquire); }

    const int m_trackPosition;
    const std::string m_path;
    bool m_normalize = false;
    int m_normalizePercent = 100;
    bool m_secure = false;
    int32_t m_readOffset = 0;
    int64_t m_discSamples = 0;      // the disc's audio from track 1's start, for CTDB
    bool m_refuseDamaged = false;   // taken from Settings when the thread starts
    bool m_loudness = false;
    std::shared_ptr<const TBurstCheck> m_burst;
    std::shared_ptr<TLoudness> m_meter;  // the pass's loudness, with ReplayGain
    TTrackResult m_result;
    std::vector<TTrackResult> m_results;
    // Progress over the whole file: the sectors of the regions before this one, and of them all.
    int64_t m_progressBefore = 0, m_progressTotal = 0;
    std::chrono::steady_clock::time_point m_started;
    bool m_fileMade = false;
    int m_writeError = 0;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

// Scales every 16-bit sample of the WAV file at path by percent / 100, rounding to nearest with
// halves to even and holding the result within the 16-bit range; the 44-byte header and a
// trailing odd byte stay as they are. The scaled copy is written beside it as ".nor" and renamed
// over the WAV in one step. Reports 999 and the progress to window. False when the pass failed or
// was cancelled: the ".nor" file is removed and the WAV is untouched.
// meter: when given, measures the loudness of the samples written.
bool NormalizeFile(const std::string& path, int percent, HWND window, const std::atomic<bool>* cancel = nullptr,
                   TLoudness* meter = nullptr);

// What the user is told when a data track was chosen: "Track 05 is a data track and holds no
// audio." for the item numbered 5.
std::string DataTrackMessage(int trackNumber);

