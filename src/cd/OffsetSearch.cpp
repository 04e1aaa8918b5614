#include "OffsetSearch.h"

#include "DiscScan.h"
#include "akrip32Drives.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

// The counted range a..b of the track's samples (from 1), as AccurateRip skips them.
void CountedRange(const TTrackRead& read, int64_t& a, int64_t& b)
{
    a = read.First ? 2940 : 1;
    b = read.Last ? read.Length - 2940 : read.Length;
}

// The pressings' CRCs of the track, each with its confidence (a CRC twice: confidences added).
std::map<uint32_t, int> TrackCrcs(const std::vector<TAccurateRipPressing>& pressings, const TAccurateRipDiscId& id,
                                  int track)
{
    std::map<uint32_t, int> crcs;
    for (const TAccurateRipPressing& p : pressings) {
        if (p.Tracks != id.AudioTracks || p.Id1 != id.Id1 || p.Id2 != id.Id2 || track < 1 || track > p.Tracks)
            continue;
        const TAccurateRipTrack& sum = p.Checksums[static_cast<std::size_t>(track - 1)];
        if (sum.Confidence == 0 && sum.Crc == 0)
            continue;
        crcs[sum.Crc] += sum.Confidence;
    }
    return crcs;
}

}  // namespace

bool ReadTrackWithMargins(HCDROM handle, const TTOC& toc, int position, TTrackRead& read,
                          const std::function<bool(int)>& progress)
{
    const int count = toc.LastTrack - toc.FirstTrack + 1;
    int firstAudio = 0, lastAudio = 0;
    for (int p = 1; p <= count; ++p)
        if (!TrackSectors(toc, p).Data) {
            firstAudio = firstAudio ? firstAudio : p;
            lastAudio = p;
        }
    const TTrackSectors track = TrackSectors(toc, position);
    const TTrackSectors last = TrackSectors(toc, count);
    const int64_t discEnd = int64_t{last.Start} + last.Length;
    read.Length = int64_t{track.Length} * 588;
    read.First = position == firstAudio;
    read.Last = position == lastAudio;
    const int64_t first = int64_t{track.Start} * 588 - read.Margin, samples = read.Length + 2 * int64_t{read.Margin};
    read.Samples.assign(static_cast<std::size_t>(samples), 0);
    const int64_t firstSector = first >= 0 ? first / 588 : -((-first + 587) / 588);
    const int64_t endSector = std::min<int64_t>((first + samples + 587) / 588, discEnd);
    constexpr int32_t Chunk = 26;
    std::vector<uint8_t> buffer(static_cast<std::size_t>(Chunk) * 2352);
    for (int64_t s = std::max<int64_t>(firstSector, 0); s < endSector; s += Chunk) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(Chunk, endSector - s));
        if (!AkripReadSectors(handle, static_cast<int32_t>(s), n, buffer.data()))
            return false;
        // The samples of these sectors that fall within the read.
        const int64_t from = std::max<int64_t>(0, first - s * 588), to = std::min<int64_t>(int64_t{n} * 588, first + samples - s * 588);
        if (from < to)
            std::memcpy(read.Samples.data() + (s * 588 + from - first), buffer.data() + from * 4, static_cast<std::size_t>(to - from) * 4);
        if (progress && !progress(static_cast<int>((s + n - firstSector) * 100 / std::max<int64_t>(endSector - firstSector, 1))))
            return false;
    }
    return true;
}

std::vector<uint32_t> V1AtEveryOffset(const TTrackRead& read)
{
    int64_t a, b;
    CountedRange(read, a, b);
    const int m = read.Margin;
    std::vector<uint32_t> v1(static_cast<std::size_t>(2 * m + 1), 0);
    if (b < a || read.Samples.size() < static_cast<std::size_t>(read.Length + 2 * m))
        return v1;
    // y(k), k from 1: the sample a rip at offset 0 writes k-th; y(k + N) at offset N.
    const uint32_t* y = read.Samples.data() + m - 1;
    uint32_t s = 0, p = 0;
    for (int64_t i = a; i <= b; ++i) {
        s += static_cast<uint32_t>(i) * y[i - m];
        p += y[i - m];
    }
    v1[0] = s;
    for (int64_t n = -m; n < m; ++n) {
        // From offset n to n + 1: the window loses y(a + n) and gains y(b + 1 + n).
        const uint32_t out = y[a + n], in = y[b + 1 + n];
        p = p - out + in;
        s = s - static_cast<uint32_t>(a) * out + static_cast<uint32_t>(b + 1) * in - p;
        v1[static_cast<std::size_t>(n + 1 + m)] = s;
    }
    return v1;
}

void ChecksumsAtOffset(const TTrackRead& read, int offset, uint32_t& v1, uint32_t& v2)
{
    int64_t a, b;
    CountedRange(read, a, b);
    const uint32_t* y = read.Samples.data() + read.Margin - 1 + offset;
    // v2 adds each product's two halves: the low 32 bits of p + (p >> 32) are exactly that sum,
    // so one 64-bit accumulator serves (its high bits are never used), and with 32-bit indices
    // (a track holds far fewer than 2^32 samples) the compiler multiplies several at once.
    uint64_t both = 0, low = 0;
    const auto first = static_cast<uint32_t>(a), last = static_cast<uint32_t>(b);
    for (uint32_t i = first; i <= last; ++i) {
        const uint64_t product = static_cast<uint64_t>(i) * y[i];
        low += product;
        both += product + (product >> 32);
    }
    v1 = static_cast<uint32_t>(low);
    v2 = static_cast<uint32_t>(both);
}

std::vector<TOffsetMatch> MatchingOffsets(const TTrackRead& read, const std::vector<TAccurateRipPressing>& pressings,
                                          const TAccurateRipDiscId& id, int track, const std::vector<int>& candidates)
{
    const std::map<uint32_t, int> crcs = TrackCrcs(pressings, id, track);
    std::map<int, TOffsetMatch> found;
    if (crcs.empty())
        return {};
    const std::vector<uint32_t> v1 = V1AtEveryOffset(read);
    for (int n = -read.Margin; n <= read.Margin; ++n)
        if (const auto it = crcs.find(v1[static_cast<std::size_t>(n + read.Margin)]); it != crcs.end())
            found[n] = {n, it->second, false};
    // v2 costs a pass an offset: where v1 found the offset, v2 only adds the confidence of the
    // pressings that keep v2 sums there; otherwise the candidates (and 0) are tried.
    std::vector<int> tried;
    for (const auto& [n, m] : found)
        tried.push_back(n);
    if (tried.empty()) {
        tried = candidates;
        tried.push_back(0);
    }
    std::sort(tried.begin(), tried.end());
    tried.erase(std::unique(tried.begin(), tried.end()), tried.end());
    for (const int n : tried) {
        if (n < -read.Margin || n > read.Margin)
            continue;
        uint32_t one, two;
        ChecksumsAtOffset(read, n, one, two);
        if (const auto it = crcs.find(two); it != crcs.end()) {
            TOffsetMatch& m = found[n];
            m.Offset = n;
            // Pressings hold v1 or v2 sums: those matched by v2 add to those v1 matched (the same
            // value twice is counted once).
            if (two != one)
                m.Confidence += it->second;
            else
                m.Confidence = it->second;
            m.V2 = true;
        }
    }
    std::vector<TOffsetMatch> matches;
    for (const auto& [n, m] : found)
        matches.push_back(m);
    return matches;
}

std::vector<std::optional<uint32_t>> V1AtShifts(const TTrackEdges& track, const TTrackEdges* before,
                                                const TTrackEdges* after, int margin)
{
    std::vector<std::optional<uint32_t>> v1(static_cast<std::size_t>(2 * margin + 1));
    const int64_t n = track.Length, a = track.From, b = track.To;
    if (b < a)
        return v1;
    const auto head = static_cast<int64_t>(track.Head.size()), tail = static_cast<int64_t>(track.Tail.size());
    // y(j): the track's j-th sample (from 1); before 1 the previous track's last, after n the next
    // track's first.
    const auto y = [&](int64_t j) -> std::optional<uint32_t> {
        if (j >= 1 && j <= n) {
            if (j <= head)
                return track.Head[static_cast<std::size_t>(j - 1)];
            if (j > n - tail)
                return track.Tail[static_cast<std::size_t>(j - (n - tail) - 1)];
            return std::nullopt;
        }
        if (j < 1) {
            if (!before || 1 - j > static_cast<int64_t>(before->Tail.size()))
                return std::nullopt;
            return before->Tail[before->Tail.size() - static_cast<std::size_t>(1 - j)];
        }
        if (!after || j - n > static_cast<int64_t>(after->Head.size()))
            return std::nullopt;
        return after->Head[static_cast<std::size_t>(j - n - 1)];
    };
    v1[static_cast<std::size_t>(margin)] = track.V1;
    // Later: v1(s + 1) = v1(s) - a y(a + s) + (b + 1) y(b + 1 + s) - P(s + 1).
    uint32_t s1 = track.V1, p = track.Sum;
    for (int64_t s = 0; s < margin; ++s) {
        const auto out = y(a + s), in = y(b + 1 + s);
        if (!out || !in)
            break;
        p = p - *out + *in;
        s1 = s1 - static_cast<uint32_t>(a) * *out + static_cast<uint32_t>(b + 1) * *in - p;
        v1[static_cast<std::size_t>(s + 1 + margin)] = s1;
    }
    // Earlier: v1(s - 1) = v1(s) + a y(a + s - 1) - (b + 1) y(b + s) + P(s).
    s1 = track.V1;
    p = track.Sum;
    for (int64_t s = 0; s > -margin; --s) {
        const auto in = y(a + s - 1), out = y(b + s);
        if (!in || !out)
            break;
        s1 = s1 + static_cast<uint32_t>(a) * *in - static_cast<uint32_t>(b + 1) * *out + p;
        p = p + *in - *out;
        v1[static_cast<std::size_t>(s - 1 + margin)] = s1;
    }
    return v1;
}

std::optional<TOffsetHint> OffsetHint(const std::vector<int>& positions, const std::vector<const TTrackEdges*>& edges,
                                      const std::vector<TAccurateRipPressing>& pressings, const TAccurateRipDiscId& id,
                                      int margin)
{
    std::map<int, int> matched;  // shift -> tracks
    for (std::size_t k = 0; k < edges.size(); ++k) {
        if (!edges[k])
            continue;
        const std::map<uint32_t, int> crcs = TrackCrcs(pressings, id, positions[k]);
        if (crcs.empty())
            continue;
        const TTrackEdges* before = k > 0 && positions[k - 1] == positions[k] - 1 ? edges[k - 1] : nullptr;
        const TTrackEdges* after = k + 1 < edges.size() && positions[k + 1] == positions[k] + 1 ? edges[k + 1] : nullptr;
        const std::vector<std::optional<uint32_t>> v1 = V1AtShifts(*edges[k], before, after, margin);
        for (int s = -margin; s <= margin; ++s)
            if (const auto& v = v1[static_cast<std::size_t>(s + margin)]; s != 0 && v && crcs.count(*v))
                ++matched[s];
    }
    std::optional<TOffsetHint> best;
    for (const auto& [shift, tracks] : matched)
        if (tracks >= 2 && (!best || tracks > best->Tracks))
            best = TOffsetHint{shift, tracks};
    return best;
}

const std::vector<int>& CommonDriveOffsets()
{
    // Offsets many drive models share (the AccurateRip drive list's most frequent).
    static const std::vector<int> offsets = {-1164, -582, -472, -6,  0,   6,   12,  18,  30,  48,  91,  97,  98,
                                             99,    102,  103,  108, 116, 120, 355, 594, 667, 679, 685, 691, 702,
                                             704,   733,  738,  1164, 1858};
    return offsets;
}
