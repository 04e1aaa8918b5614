#include "Ctdb.h"

#include "AccurateRipLookup.h"
#include "DiscScan.h"
#include "MusicBrainz.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QXmlStreamReader>

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
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    std::string toc_;
    int32_t end = 0;
    for (int p = 1; p <= count; ++p) {
        const TTrackSectors t = TrackSectors(toc, p);
        toc_ += (t.Data ? "-" : "") + std::to_string(t.Start) + ":";
        end = t.Start + t.Length;
    }
    return count > 0 ? toc_ + std::to_string(end) : std::string();
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

TCtdbAnswer FetchCtdb(const std::string& server, const TTOC& toc, const std::atomic<bool>* cancel)
{
    TCtdbAnswer answer;
    const TPoliteReply reply = PoliteGet(WithoutSlash(server) + "/lookup2.php?version=3&ctdb=1&fuzzy=1&metadata=none&toc=" +
                                             CtdbTocParameter(toc),
                                         1 << 20, cancel);
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
