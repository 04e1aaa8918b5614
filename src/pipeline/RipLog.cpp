#include "RipLog.h"

#include "JobItems.h"

#include "DiscScan.h"
#include "Global.h"

#include <QCryptographicHash>

#include <cstdio>

namespace {

constexpr const char* ChecksumPrefix = "Log checksum: ";

std::string Sha256(std::string_view text)
{
    return QCryptographicHash::hash(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string Hex8(uint32_t v)
{
    char s[9];
    std::snprintf(s, sizeof s, "%08X", v);
    return s;
}

std::string Msf(int32_t sectors)
{
    char s[16];
    std::snprintf(s, sizeof s, "%02d:%02d.%02d", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return s;
}

}  // namespace

std::string RipLogText(const TRipLog& log)
{
    std::string t;
    const auto line = [&t](const std::string& s) { t += s + "\n"; };
    line("Sonvale 2.1 rip log");
    line("Date: " + log.Date);
    line("Drive: " + log.Drive);
    line("Disc: " + (log.Artist.empty() && log.Album.empty() ? std::string("(no names)") : log.Artist + " - " + log.Album));
    if (!log.Catalog.empty())
        line("Catalog: " + log.Catalog);
    line(std::string("Read mode: ") + (log.Secure.SecureMode ? "secure (libcdio-paranoia: every sector verified by overlapping reads, read again where they differ)" : "plain (every sector read once)"));
    // "Read offset: +667 (found on this drive)": the samples, and how the program knew them.
    line("Read offset: " + log.Offset.Text());
    line(std::string("Damaged tracks: ") + (log.Secure.RefuseDamaged ? "refused" : "kept"));
    line(std::string("Normalized: ") + (log.Normalized ? "yes (the checksums are of the audio as read)" : "no"));
    if (!log.Image.empty())
        line("Image: " + log.Image + " (the disc from sector 0 to the lead-out; each track is its range of sectors)");
    line("");
    line("Table of contents");
    line("  Track  Start     Length    Start sector  End sector");
    const int count = TocIsUsable(log.Toc) ? log.Toc.LastTrack - log.Toc.FirstTrack + 1 : 0;
    for (int p = 1; p <= count; ++p) {
        const TTrackSectors s = TrackSectors(log.Toc, p);
        char row[96];
        std::snprintf(row, sizeof row, "  %5d  %s  %s  %12d  %10d%s", log.Toc.FirstTrack + p - 1, Msf(s.Start).c_str(),
                      Msf(s.Length).c_str(), s.Start, s.Start + s.Length - 1, s.Data ? "  data" : "");
        line(row);
    }
    line("AccurateRip disc ID: " + log.DiscId.Text());
    if (!log.CtdbId.empty())
        line("CTDB TOC ID: " + log.CtdbId);
    line("");
    const auto block = [&](const TRipLogTrack& track) {
        const TTrackResult& r = track.Result;
        line("Track " + TwoDigits(track.Number) + (track.Number == 0 ? " (hidden before the first track)" : ""));
        line("  File: " + track.File);
        if (!track.Isrc.empty())
            line("  ISRC: " + track.Isrc);
        if (track.PreEmphasis)
            line("  Pre-emphasis: yes");
        const auto position = static_cast<std::size_t>(track.Number - 1);  // its entry in the table
        if (position < log.Pregaps.size() && log.Pregaps[position] >= 0 && count > 0 &&
            static_cast<int>(position) < count) {
            const int32_t start = TrackSectors(log.Toc, static_cast<int>(position) + 1).Start;
            line("  Pregap: " + Msf(start - log.Pregaps[position]) + " (from sector " + std::to_string(log.Pregaps[position]) + ")");
        }
        if (!track.NotCopied.empty()) {
            line("  Result: not copied (" + track.NotCopied + ")");
            line("");
            return;
        }
        char peak[32];
        std::snprintf(peak, sizeof peak, "%.1f %%", r.Peak * 100.0 / 32768.0);
        line(std::string("  Peak level: ") + peak);
        line("  CRC32: " + Hex8(r.Crc32));
        line("  AccurateRip v1: " + Hex8(r.AccurateRipV1) + "  v2: " + Hex8(r.AccurateRipV2));
        if (track.Number > 0)
            line("  CTDB CRC: " + Hex8(r.CtdbCrc));
        if (r.Secure) {
            std::string read = "secure";
            if (r.Read == TReadKind::BurstConfirmed)
                read = std::string("burst, confirmed by ") +
                       (r.ConfirmedByAccurateRip && r.ConfirmedByCtdb ? "AccurateRip and CTDB"
                        : r.ConfirmedByCtdb                          ? "CTDB"
                                                                     : "AccurateRip");
            else if (r.Read == TReadKind::SecureAfterBurst)
                read = log.CtdbAsked ? "secure, after a burst read neither AccurateRip nor CTDB confirmed"
                                     : "secure, after a burst read AccurateRip did not confirm";
            line("  Read: " + read);
            line("  Re-reads: " + std::to_string(r.Rereads));
            std::string bad;
            for (const int32_t s : r.Unreadable)
                bad += (bad.empty() ? "" : ", ") + std::to_string(s) + " (" + Msf(s) + ")";
            line("  Unreadable sectors: " + (bad.empty() ? std::string("none") : bad));
        }
        line("  AccurateRip: " + track.AccurateRip);
        if (!track.Ctdb.empty())
            line("  CTDB: " + track.Ctdb);
        line(std::string("  Result: ") + (track.Status == 0 ? (r.Unreadable.empty() ? "copied" : "copied with damage") : "failed"));
        line("");
    };
    if (log.Hidden)
        block(*log.Hidden);
    for (const TRipLogTrack& track : log.Tracks)
        block(track);
    if (!log.Stopped.empty())
        line("Rip stopped " + log.Stopped);
    line("Summary: " + RipLogSummary(log));
    if (!log.CtdbDisc.empty())
        line("CTDB: " + log.CtdbDisc);
    if (!log.OffsetHint.empty())
        line(log.OffsetHint);
    // How the tracks were read, when burst-first read any once.
    int burst = 0, again = 0, secure = 0;
    for (const TRipLogTrack& track : log.Tracks) {
        burst += track.Result.Read == TReadKind::BurstConfirmed;
        again += track.Result.Read == TReadKind::SecureAfterBurst;
        secure += track.Result.Read == TReadKind::Secure;
    }
    if (burst + again > 0)
        line("Reads: " + std::to_string(burst) + (log.CtdbAsked ? " burst (confirmed by AccurateRip or CTDB), "
                                                                : " burst (confirmed by AccurateRip), ") +
             std::to_string(again) +
             " secure after a burst read, " + std::to_string(secure) + " secure");
    return t + ChecksumPrefix + Sha256(t) + "\n";
}

std::string RipLogSummary(const TRipLog& log)
{
    int accurate = 0, damaged = 0, failed = 0, notCopied = 0;
    for (const TRipLogTrack& track : log.Tracks) {
        accurate += track.AccurateRip.rfind("accurately ripped", 0) == 0;
        damaged += !track.Result.Unreadable.empty();
        notCopied += !track.NotCopied.empty();
        failed += track.Status != 0 && track.NotCopied.empty();
    }
    const int n = static_cast<int>(log.Tracks.size());
    return std::to_string(n) + " track" + (n == 1 ? "" : "s") + ", " + std::to_string(accurate) + " accurately ripped, " +
           std::to_string(damaged) + " with unreadable sectors, " + std::to_string(failed) + " failed" +
           (notCopied > 0 ? ", " + std::to_string(notCopied) + " not copied" : std::string());
}

std::string RipLogEndText(const TRipLog& log)
{
    // A database's word on the tracks: how many it confirms, or the one verdict they all share.
    const auto word = [&log](const char* name, std::string TRipLogTrack::*verdict) {
        int accurate = 0;
        std::string shared;
        bool same = true;
        for (const TRipLogTrack& t : log.Tracks) {
            const std::string& v = t.*verdict;
            accurate += v.rfind("accurately ripped", 0) == 0;
            const std::string kind = v.substr(0, v.find(" ("));
            same = same && (shared.empty() || shared == kind);
            shared = kind;
        }
        if (accurate == 0 && same && !shared.empty() && shared != "not accurate" && shared != "differs")
            return std::string(name) + " " + shared;
        return std::string(name) + " " + std::to_string(accurate) + " accurate";
    };
    int failed = 0;
    for (const TRipLogTrack& t : log.Tracks)
        failed += t.Status != 0 && t.NotCopied.empty();
    const auto n = log.Tracks.size();
    std::string text = "Secure rip of " + std::to_string(n) + " track" + (n == 1 ? "" : "s") + ": " +
                       word("AccurateRip", &TRipLogTrack::AccurateRip);
    if (log.CtdbAsked) {
        text += ", " + word("CTDB", &TRipLogTrack::Ctdb);
        if (log.CtdbDisc.find("; disc CRC matches") != std::string::npos)
            text += ", disc CRC matches";
    }
    return text + (failed > 0 ? "; " + std::to_string(failed) + " failed" : std::string());
}

std::string RipLogEndDetail(const TRipLog& log)
{
    return "Summary: " + RipLogSummary(log) + (log.CtdbAsked ? "\nCTDB: " + log.CtdbDisc : std::string());
}

bool RipLogIntact(std::string_view text)
{
    if (text.empty() || text.back() != '\n')
        return false;
    const std::string_view body = text.substr(0, text.size() - 1);
    const auto last = body.rfind('\n');
    const std::size_t at = last == std::string_view::npos ? 0 : last + 1;
    const std::string_view checksumLine = body.substr(at);
    return checksumLine == std::string(ChecksumPrefix) + Sha256(text.substr(0, at));
}

std::string RipLogFileName(const std::string& artist, const std::string& album, const std::string& discKey,
                           bool portable)
{
    constexpr std::size_t MaxBytes = MaxNameBytes - 4;  // with ".log"
    std::string name;
    if (!artist.empty() || !album.empty())
        name = FitName(TrackFileName(artist + " - " + album, portable), MaxBytes);
    if (name.empty() || name == "-")
        name = FitName(TrackFileName(discKey.empty() ? std::string("rip") : discKey, portable), MaxBytes);
    return (name.empty() ? std::string("rip") : name) + ".log";
}
