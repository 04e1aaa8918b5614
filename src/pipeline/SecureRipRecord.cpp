#include "SecureRipRecord.h"

#include "CueSheet.h"
#include "DiscScan.h"
#include "FileSystem.h"
#include "JobMessages.h"
#include "OffsetSearch.h"
#include "akrip32Drives.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>

TSecureRipRecord::TSecureRipRecord()
{
    m_poll.setInterval(50);
    QObject::connect(&m_poll, &QTimer::timeout, [this] {
        // The lookup gives up after 30 s on its own; this is a guard beyond that.
        if (AnswerPending() && std::chrono::steady_clock::now() - m_pollStart < std::chrono::seconds(40))
            return;
        m_poll.stop();
        if (auto answered = std::move(m_answered))
            answered();
    });
}

void TSecureRipRecord::Begin(const TJobSettings& settings, HCDROM handle, const TReadOffset& offset)
{
    const TSecureOptions& secure = settings.Secure;
    m_open = secure.SecureMode && (secure.WriteLog || secure.AccurateRip || settings.Ctdb.Use);
    m_checkAccurateRip = secure.AccurateRip;
    m_checkCtdb = settings.Ctdb.Use;
    if (!m_open)
        return;
    m_log = TRipLog{};
    m_cuePath.clear();
    m_log.Date = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    m_log.Drive = AkripDriveName(handle);
    m_log.Artist = settings.Disc.Artist;
    m_log.Album = settings.Disc.Album;
    m_log.Secure = secure;
    m_log.Offset = offset;
    m_log.Secure.ReadOffset = offset.Samples;
    m_portable = settings.Naming.PortableNames;
    m_log.Normalized = settings.Common.IsNormalize;
    // Beside the table: each track's pregap and pre-emphasis, the ISRCs and the catalogue number.
    m_isrc.clear();
    m_preEmphasis.clear();
    if (const std::shared_ptr<TDriveBackend> drive = AkripDrive(handle)) {
        TDiscToc toc;
        if (drive->ReadToc(toc)) {
            FindPregaps(*drive, toc);  // where the table did not say
            for (const TDiscToc::Track& t : toc.Tracks) {
                m_log.Pregaps.push_back(t.Audio ? t.Index0 : -1);
                m_preEmphasis.push_back(t.Audio && (t.Flags & 0x01));
            }
        }
    }
    if (TDiscText text; AkripReadDiscText(handle, text)) {
        m_log.Catalog = text.Catalog;
        m_isrc = text.TrackIsrc;
    }
    if (ReadMsfToc(handle, m_log.Toc)) {
        m_log.DiscId = AccurateRipDiscId(m_log.Toc);
        m_log.CtdbId = CtdbTocId(m_log.Toc);
        if (secure.AccurateRip)
            m_lookup = std::make_shared<TAccurateRipLookup>(secure.AccurateRipServer, m_log.DiscId);
        if (m_checkCtdb && !m_log.CtdbId.empty())
            m_ctdb = std::make_shared<TCtdbLookup>(settings.Ctdb.Server, CtdbTocParameter(m_log.Toc));
    }
    m_log.CtdbAsked = m_ctdb != nullptr;
}

void TSecureRipRecord::AddTrack(int number, std::string file, std::string title, int32_t status,
                                const TTrackResult& result)
{
    if (!m_open)
        return;
    TRipLogTrack track;
    track.Number = number;
    track.File = std::move(file);
    track.Title = std::move(title);
    const auto position = static_cast<std::size_t>(number - 1);
    if (position < m_isrc.size())
        track.Isrc = m_isrc[position];
    track.PreEmphasis = position < m_preEmphasis.size() && m_preEmphasis[position];
    track.Status = status;
    track.Result = result;
    if (number == 0) {  // the audio hidden before the first track
        track.AccurateRip = "none (the database keeps no audio before the first track)";
        track.Ctdb = m_checkCtdb ? track.AccurateRip : std::string();
        m_log.Hidden = std::move(track);
        return;
    }
    m_log.Tracks.push_back(std::move(track));
}

void TSecureRipRecord::AddUncopied(int number, std::string file, std::string title, std::string why)
{
    AddTrack(number, std::move(file), std::move(title), esNotRead, TTrackResult{});
    TRipLogTrack* track = number == 0 ? (m_log.Hidden ? &*m_log.Hidden : nullptr)
                                      : (m_log.Tracks.empty() ? nullptr : &m_log.Tracks.back());
    if (m_open && track)
        track->NotCopied = std::move(why);
}

std::shared_ptr<const TBurstCheck> TSecureRipRecord::BurstCheck(int minConfidence) const
{
    if (!m_lookup && !m_ctdb)
        return nullptr;
    auto check = std::make_shared<TBurstCheck>();
    std::shared_ptr<const TAccurateRipLookup> lookup = m_lookup;
    std::shared_ptr<const TCtdbLookup> ctdb = m_ctdb;
    const auto hasEntry = [lookup, ctdb] {
        const std::optional<TAccurateRipEntry> entry = lookup ? lookup->TryGet() : std::nullopt;
        const std::optional<TCtdbAnswer> answer = ctdb ? ctdb->TryGet() : std::nullopt;
        return (entry && entry->Checked && !entry->Pressings.empty()) ||
               (answer && answer->Checked && !answer->Entries.empty());
    };
    const auto answered = [lookup, ctdb] {
        return (!lookup || lookup->TryGet()) && (!ctdb || ctdb->TryGet());
    };
    // Both databases are awaited together, for 5 s at most, and once a rip, not once a track:
    // after that the tracks are read securely, as without them, and each later track only looks
    // whether the answers came. Stop ends the wait at once.
    check->HasEntry = [answered, hasEntry, waitedOut = m_waitedOut](const std::atomic<bool>& cancel,
                                                                    const std::function<void()>& waiting) {
        if (!answered() && !waitedOut->load()) {
            if (waiting)
                waiting();
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!answered() && !cancel.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!answered() && !cancel.load(std::memory_order_acquire))
                waitedOut->store(true);
        }
        return hasEntry();
    };
    const TAccurateRipDiscId id = m_log.DiscId;
    check->Confirms = [lookup, ctdb, id, minConfidence](int position, const TTrackResult& result) {
        TBurstCheck::TConfirmation confirmed;
        if (const std::optional<TAccurateRipEntry> entry = lookup ? lookup->TryGet() : std::nullopt) {
            const TAccurateRipVerdict verdict = JudgeTrack(*entry, id, position, result.AccurateRipV1, result.AccurateRipV2);
            confirmed.AccurateRip = verdict.Result == TAccurateRipVerdict::Accurate && verdict.Confidence >= minConfidence;
        }
        if (const std::optional<TCtdbAnswer> answer = ctdb ? ctdb->TryGet() : std::nullopt) {
            const TCtdbVerdict verdict = JudgeCtdbTrack(*answer, id.AudioTracks, position, result.CtdbCrc);
            confirmed.Ctdb = verdict.Result == TCtdbVerdict::Accurate && verdict.Confidence >= minConfidence;
        }
        return confirmed;
    };
    return check;
}

std::string TSecureRipRecord::Databases() const
{
    return m_checkAccurateRip && m_log.CtdbAsked ? "AccurateRip and CTDB" : m_log.CtdbAsked ? "CTDB" : "AccurateRip";
}

bool TSecureRipRecord::AnswerPending() const
{
    return (m_lookup && !m_lookup->TryGet()) || (m_ctdb && !m_ctdb->TryGet());
}

void TSecureRipRecord::PollForAnswer(std::function<void()> answered)
{
    if (m_poll.isActive())
        return;
    m_answered = std::move(answered);
    m_pollStart = std::chrono::steady_clock::now();
    m_poll.start();
}

bool TSecureRipRecord::Write(const std::string& folder, bool writeFile, bool waitStopped, std::string& error)
{
    m_poll.stop();
    if (!m_open || (m_log.Tracks.empty() && !m_log.Hidden))
        return true;
    m_open = false;  // once
    // The lookup had the whole rip to answer; a rip is not held up for it.
    std::optional<TAccurateRipEntry> entry;
    if (m_lookup)
        entry = m_lookup->TryGet();
    for (TRipLogTrack& track : m_log.Tracks) {
        TAccurateRipVerdict verdict;
        if (!m_checkAccurateRip)
            verdict.Reason = "turned off";
        else if (!m_lookup)
            verdict.Reason = "the table of contents could not be read";
        else if (!entry)
            verdict.Reason = waitStopped ? "the wait for the database's answer was stopped"
                                         : "the database did not answer before the rip ended";
        if (entry && track.Status == esDone)
            verdict = JudgeTrack(*entry, m_log.DiscId, track.Number, track.Result.AccurateRipV1, track.Result.AccurateRipV2);
        else if (entry || !track.NotCopied.empty())
            verdict.Reason = "the track was not copied";
        track.AccurateRip = verdict.Text();
    }
    m_lookup.reset();
    JudgeCtdb(waitStopped);
    if (entry)
        FindOffsetHint(*entry);
    if (!writeFile)
        return true;
    const std::string name = RipLogFileName(m_log.Artist, m_log.Album, DiscKeyOfToc(m_log.Toc), m_portable);
    const std::string path = folder + name;
    if (!WriteFileWhole(path, RipLogText(m_log))) {
        error = "Cannot write the rip log " + path + ".";
        return false;
    }
    m_log.Path = path;
    // The cue sheet describes a disc: it is written when every audio track was copied (and an
    // image, when its file was made).
    if (m_log.Secure.WriteCue && WholeDisc() && (m_log.Image.empty() || m_log.Stopped.empty())) {
        const std::string cue = folder + CueSheetFileName(name);
        if (!WriteFileWhole(cue, CueSheetText(m_log))) {
            error = "Cannot write the cue sheet " + cue + ".";
            return false;
        }
        m_cuePath = cue;
    }
    return true;
}

void TSecureRipRecord::FindOffsetHint(const TAccurateRipEntry& entry)
{
    const bool doubted = std::any_of(m_log.Tracks.begin(), m_log.Tracks.end(), [](const TRipLogTrack& t) {
        return t.AccurateRip.rfind("not accurate", 0) == 0;
    });
    if (!doubted || !entry.Checked)
        return;
    std::vector<int> positions;
    std::vector<const TTrackEdges*> edges;
    for (const TRipLogTrack& t : m_log.Tracks) {
        positions.push_back(t.Number);
        edges.push_back(t.Status == esDone ? t.Result.Edges.get() : nullptr);
    }
    const std::optional<TOffsetHint> hint = OffsetHint(positions, edges, entry.Pressings, m_log.DiscId);
    if (!hint)
        return;
    const std::string offset = SignedSamples(m_log.Offset.Samples + hint->Shift);
    m_log.OffsetHint = "AccurateRip matches this disc read with offset " + offset + " (this rip used " +
                       SignedSamples(m_log.Offset.Samples) + "): your drive's read offset is probably " + offset +
                       ". `sonvale-cli offset find --apply` or Options > Secure stores it.";
}

void TSecureRipRecord::JudgeCtdb(bool waitStopped)
{
    std::optional<TCtdbAnswer> answer;
    if (m_ctdb)
        answer = m_ctdb->TryGet();
    m_ctdb.reset();
    if (!answer) {
        answer.emplace();
        answer->Reason = !m_checkCtdb              ? "turned off"
                         : !m_log.CtdbAsked        ? "the table of contents could not be read"
                         : waitStopped             ? "the wait for the database's answer was stopped"
                                                   : "the database did not answer before the rip ended";
    }
    int accurate = 0, judged = 0;
    std::vector<TCtdbPart> parts;
    for (TRipLogTrack& track : m_log.Tracks) {
        TCtdbVerdict verdict;
        verdict.Reason = answer->Reason;
        if (track.Status == esDone) {
            verdict = JudgeCtdbTrack(*answer, m_log.DiscId.AudioTracks, track.Number, track.Result.CtdbCrc);
            accurate += verdict.Result == TCtdbVerdict::Accurate;
            ++judged;
            parts.push_back({track.Result.CtdbCrc, track.Result.CtdbBytes});
        } else if (answer->Checked || !track.NotCopied.empty()) {
            verdict.Reason = "the track was not copied";
        }
        track.Ctdb = verdict.Text();
    }
    // The disc's CRC takes every audio track, copied in this rip.
    std::optional<uint32_t> discCrc;
    if (WholeDisc())
        discCrc = CtdbDiscCrc(parts);
    m_log.CtdbDisc = CtdbDiscText(*answer, m_log.DiscId.AudioTracks, accurate, judged, discCrc);
}

bool TSecureRipRecord::WholeDisc() const
{
    if (!TocIsUsable(m_log.Toc))
        return false;
    const int count = m_log.Toc.LastTrack - m_log.Toc.FirstTrack + 1;
    std::size_t k = 0;
    for (int p = 1; p <= count; ++p) {
        if (TrackSectors(m_log.Toc, p).Data)
            continue;
        if (k == m_log.Tracks.size() || m_log.Tracks[k].Number != p || m_log.Tracks[k].Status != esDone)
            return false;
        ++k;
    }
    return k == m_log.Tracks.size() && k > 0;
}
