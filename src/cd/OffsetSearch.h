#pragma once
// Finding a drive's read offset from one read of a track the AccurateRip database knows.
//
// The track is read once with `margin` samples beyond each end (2940: five sectors). An offset N
// means the drive delivers each sample N positions early, so the track as a rip at offset N
// would write it is the read's samples from margin + N on.
//
// v1 is linear in the samples: for the counted range a..b, v1(N) = sum i * y[i + N]. With
// P(N) = sum y[i + N], one step is v1(N + 1) = v1(N) - a * y[a + N] + (b + 1) * y[b + 1 + N] -
// P(N + 1), and P slides the same way; so every offset from -margin to +margin costs one pass
// over the track and two samples a step. v2 adds each product's high half, which does not slide:
// it is computed for the offsets real drives have (the candidates) only.

#include "AccurateRip.h"

#include <cstdint>
#include <vector>

// A track read with its margins: Samples holds Length + 2 * Margin stereo samples, each the 4
// bytes of a frame as one little-endian word.
struct TTrackRead {
    std::vector<uint32_t> Samples;
    int64_t Length = 0;   // the track's samples
    int Margin = 0;
    bool First = false, Last = false;  // the disc's first or last audio track (AccurateRip's skips)
};

// v1 at every offset -Margin..+Margin: [N + Margin].
std::vector<uint32_t> V1AtEveryOffset(const TTrackRead& read);
// v1 and v2 at one offset (|offset| <= Margin).
void ChecksumsAtOffset(const TTrackRead& read, int offset, uint32_t& v1, uint32_t& v2);

struct TOffsetMatch {
    int Offset = 0;
    int Confidence = 0;   // over the pressings that match
    bool V2 = false;
};

// The offsets at which the track (its position on the disc, from 1) matches the database's
// entry: every offset by v1, the candidates (and offset 0) by v2. In order of offset.
std::vector<TOffsetMatch> MatchingOffsets(const TTrackRead& read, const std::vector<TAccurateRipPressing>& pressings,
                                          const TAccurateRipDiscId& id, int track, const std::vector<int>& candidates);

// The read offsets common among drives, for v2 when there is no drive list to take them from.
const std::vector<int>& CommonDriveOffsets();
