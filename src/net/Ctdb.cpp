#include "Ctdb.h"

#include "DiscScan.h"

#include <QByteArray>
#include <QCryptographicHash>

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
