#pragma once
// A secure rip's record: the log's head and the AccurateRip and CTDB lookups when the rip begins,
// each track's result as it is extracted, the wait for the databases' answers once the rip is over
// (polled, never blocking the UI thread), then the verdicts and the log beside the tracks.
// Lives on the UI thread, owned by the rip job.

#include "AccurateRipLookup.h"
#include "Ctdb.h"
#include "JobSettings.h"
#include "RipLog.h"
#include "akrip32.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class TSecureRipRecord {
public:
    TSecureRipRecord();

    // Begins the record of a rip from the drive of handle at the read offset: nothing is kept
    // unless secure mode writes a log or asks a database.
    void Begin(const TJobSettings& settings, HCDROM handle, const TReadOffset& offset);
    // A track (its position on the disc) as it was extracted (ignored when no record is kept).
    // file: from the output folder.
    void AddTrack(int number, std::string file, std::string title, int32_t status, const TTrackResult& result);
    // A chosen track the rip did not read, and why (see TRipLogTrack::NotCopied).
    void AddUncopied(int number, std::string file, std::string title, std::string why);
    // Whether a record is kept and not written yet.
    bool Open() const { return m_open; }
    // The databases asked: "AccurateRip", "CTDB" or "AccurateRip and CTDB".
    std::string Databases() const;
    // Whether a database has yet to answer.
    bool AnswerPending() const;
    // Looks for the answer every 50 ms until it comes (or 40 s have passed), then runs answered.
    void PollForAnswer(std::function<void()> answered);
    void StopPolling() { m_poll.stop(); }
    // Judges the tracks against the answer there is (waitStopped: the user ended the wait) and,
    // with writeFile, writes the log into folder in one step; once. False (and error) when the
    // log could not be written.
    bool Write(const std::string& folder, bool writeFile, bool waitStopped, std::string& error);
    const TRipLog& Log() const { return m_log; }
    // A whole-disc image rip into file (from the output folder).
    void SetImage(std::string file) { m_log.Image = std::move(file); }
    // The rip was ended early (see TRipLog::Stopped).
    void SetStopped(std::string why) { m_log.Stopped = std::move(why); }
    // Where the cue sheet was written; empty when it was not.
    const std::string& CuePath() const { return m_cuePath; }
    // Burst-first: the extraction's questions to the database this record asks (null when
    // there is no lookup). Safe from any thread, and after the record is gone.
    std::shared_ptr<const TBurstCheck> BurstCheck(int minConfidence) const;

private:
    // The tracks the entry did not confirm, tried at the other offsets: m_log.OffsetHint.
    void FindOffsetHint(const TAccurateRipEntry& entry);
    // Each track's CTDB verdict, and the disc's.
    void JudgeCtdb(bool waitStopped);
    bool WholeDisc() const;

    bool m_open = false;
    std::string m_cuePath;
    bool m_checkAccurateRip = false;
    bool m_checkCtdb = false;
    bool m_portable = true;  // the log's name: as the tracks' names
    // Burst-first waited the whole 5 s for the database once: no track of this rip waits again.
    std::shared_ptr<std::atomic<bool>> m_waitedOut = std::make_shared<std::atomic<bool>>(false);
    TRipLog m_log;
    std::vector<std::string> m_isrc;  // [position - 1]
    std::vector<bool> m_preEmphasis;
    std::shared_ptr<TAccurateRipLookup> m_lookup;
    std::shared_ptr<TCtdbLookup> m_ctdb;
    QTimer m_poll;
    std::chrono::steady_clock::time_point m_pollStart;
    std::function<void()> m_answered;
};
