#include "Ctdb.h"

#include "AccurateRipLookup.h"
#include "DiscScan.h"
#include "MusicBrainz.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>

std::string CtdbTocId(const TTOC& toc)
{
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    int audio = 0;
    int32_t first = 0, leadOut = 0;
    std::string text;
    char hex[16];
    for (int p = 1; p <= count; ++p) {
        const TTrackSectors t = TrackSectors(toc, p);
        if (t.Data)
            break;  // the audio ends at the first data track
        if (audio == 0) {
            first = t.Start;
        } else {
            std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(t.Start - first));
            text += hex;
        }
        ++audio;
        leadOut = t.Start + t.Length;  // before a data track, the audio session's end
    }
    if (audio == 0 || audio > 99)
        return {};
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(leadOut - first));
    text += hex;
    text.append(static_cast<std::size_t>(8 * (99 - (audio - 1))), '0');
    QByteArray id = QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha1).toBase64();
    id.replace('+', '.').replace('/', '_').replace('=', '-');
    return id.toStdString();
}

std::string CtdbTocParameter(const TTOC& toc)
{
    std::vector<TTrackSectors> tracks;
    for (int p = 1; p <= toc.LastTrack - toc.FirstTrack + 1; ++p)
        tracks.push_back(TrackSectors(toc, p));
    return CtdbTocParameter(tracks);
}

std::string CtdbTocParameter(const std::vector<TTrackSectors>& tracks)
{
    std::string toc;
    for (const TTrackSectors& t : tracks)
        toc += (t.Data ? "-" : "") + std::to_string(t.Start) + ":";
    return tracks.empty() ? std::string() : toc + std::to_string(tracks.back().Start + tracks.back().Length);
}

std::optional<std::vector<TCtdbEntry>> ParseCtdbAnswer(std::string_view xml, std::string& why)
{
    std::vector<TCtdbEntry> entries;
    QXmlStreamReader reader(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())));
    bool root = false;
    const auto hex = [](const QStringView text, bool& ok) { return text.toUInt(&ok, 16); };
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (!root) {
            root = true;
            if (reader.name() != QLatin1String("ctdb")) {
                why = "it is not the database's answer";
                return std::nullopt;
            }
            continue;
        }
        if (reader.name() != QLatin1String("entry"))
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        TCtdbEntry e;
        bool ok = true, each = true;
        e.Crc32 = hex(a.value(QLatin1String("crc32")), ok);
        each = each && ok;
        e.Confidence = a.value(QLatin1String("confidence")).toInt(&ok);
        each = each && ok && e.Confidence >= 0;
        e.Npar = a.value(QLatin1String("npar")).toInt();
        e.Stride = a.value(QLatin1String("stride")).toInt();
        e.HasParity = !a.value(QLatin1String("hasparity")).isEmpty();
        e.Id = a.value(QLatin1String("id")).toString().left(64).toStdString();
        for (const QStringView crc : a.value(QLatin1String("trackcrcs")).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            e.TrackCrcs.push_back(hex(crc, ok));
            each = each && ok;
        }
        if (!each || e.TrackCrcs.empty() || e.TrackCrcs.size() > 99) {
            why = "an entry without its CRCs";
            return std::nullopt;
        }
        entries.push_back(std::move(e));
    }
    if (reader.hasError() || !root) {
        why = root ? reader.errorString().toStdString() : "it is empty";
        return std::nullopt;
    }
    return entries;
}

TCtdbAnswer FetchCtdb(const std::string& server, const std::string& tocParameter, const std::atomic<bool>* cancel)
{
    TCtdbAnswer answer;
    const TPoliteReply reply = PoliteGet(
        WithoutSlash(server) + "/lookup2.php?version=3&ctdb=1&fuzzy=1&metadata=none&toc=" + tocParameter, 1 << 20, cancel);
    if (!reply.Failure.empty()) {
        answer.Reason = "no connection to " + server + " (" + reply.Failure + ")";
        return answer;
    }
    if (reply.Status == 404) {
        answer.Checked = true;  // not in database
        return answer;
    }
    if (reply.Status != 200) {
        answer.Reason = "HTTP " + std::to_string(reply.Status);
        return answer;
    }
    std::string why;
    auto entries = ParseCtdbAnswer(reply.Body, why);
    if (!entries) {
        answer.Reason = "a malformed answer: " + why;
        return answer;
    }
    answer.Checked = true;
    answer.Entries = std::move(*entries);
    return answer;
}

TCtdbLookup::TCtdbLookup(std::string server, std::string tocParameter)
    : TBackgroundFetch([server = std::move(server), toc = std::move(tocParameter)](const std::atomic<bool>* abandoned) {
        return FetchCtdb(server, toc, abandoned);
    })
{
}

std::string TCtdbVerdict::Text() const
{
    switch (Result) {
    case Accurate: return "accurately ripped (confidence " + std::to_string(Confidence) + ")";
    case Differs: return "differs";
    case NotInDatabase: return "not in database";
    case NotChecked: break;
    }
    return "not checked (" + Reason + ")";
}

TCtdbVerdict JudgeCtdbTrack(const TCtdbAnswer& answer, int audioTracks, int position, uint32_t crc)
{
    TCtdbVerdict verdict;
    if (!answer.Checked) {
        verdict.Reason = answer.Reason;
        return verdict;
    }
    verdict.Result = TCtdbVerdict::NotInDatabase;
    bool listed = false, matched = false;
    for (const TCtdbEntry& entry : answer.Entries) {
        // An entry of another track count is another disc (the lookup is fuzzy).
        if (static_cast<int>(entry.TrackCrcs.size()) != audioTracks || position < 1 || position > audioTracks)
            continue;
        listed = true;
        if (entry.TrackCrcs[static_cast<std::size_t>(position - 1)] == crc) {
            matched = true;
            verdict.Confidence += entry.Confidence;
        }
    }
    if (matched)
        verdict.Result = TCtdbVerdict::Accurate;
    else if (listed)
        verdict.Result = TCtdbVerdict::Differs;
    return verdict;
}

std::string CtdbDiscText(const TCtdbAnswer& answer, int audioTracks, int accurate, int judged,
                         std::optional<uint32_t> discCrc)
{
    if (!answer.Checked)
        return "not checked (" + answer.Reason + ")";
    const bool listed = std::any_of(answer.Entries.begin(), answer.Entries.end(), [&](const TCtdbEntry& e) {
        return static_cast<int>(e.TrackCrcs.size()) == audioTracks;
    });
    if (!listed)
        return "not in database";
    std::string text = std::to_string(accurate) + " of " + std::to_string(judged) + " track" + (judged == 1 ? "" : "s") +
                       " accurate";
    if (!discCrc)
        return text;
    int confidence = 0;
    bool matched = false;
    for (const TCtdbEntry& e : answer.Entries)
        if (static_cast<int>(e.TrackCrcs.size()) == audioTracks && e.Crc32 == *discCrc) {
            matched = true;
            confidence += e.Confidence;
        }
    return text + (matched ? "; disc CRC matches (confidence " + std::to_string(confidence) + ")"
                                  : std::string("; disc CRC differs"));
}
