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

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <vector>

// Memory for a whole track's samples (tens of megabytes) in huge pages where the system gives
// them: a page fault for every 4 KiB of a fresh buffer costs more than reading the track from
// the page cache.
template <class T>
struct THugePageAllocator {
    using value_type = T;
    THugePageAllocator() = default;
    template <class U>
    THugePageAllocator(const THugePageAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t n)
    {
        constexpr std::size_t huge = std::size_t{2} << 20;
        const std::size_t bytes = (n * sizeof(T) + huge - 1) / huge * huge;
        void* p = std::aligned_alloc(huge, bytes);
        if (!p)
            throw std::bad_alloc();
        madvise(p, bytes, MADV_HUGEPAGE);  // a hint: without huge pages the memory is as usual
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }
    template <class U>
    bool operator==(const THugePageAllocator<U>&) const noexcept
    {
        return true;
    }
};

// A track read with its margins: Samples holds Length + 2 * Margin stereo samples, each the 4
// bytes of a frame as one little-endian word.
struct TTrackRead {
    std::vector<uint32_t, THugePageAllocator<uint32_t>> Samples;
    int64_t Length = 0;   // the track's samples
    int Margin = 0;
    bool First = false, Last = false;  // the disc's first or last audio track (AccurateRip's skips)
};

// Track `position` of the disc (its table read in MSF mode) read once, in plain reads of 26
// sectors, with read.Margin samples beyond each end (silence outside the disc) into read (its
// Margin set; Length, First and Last are filled in). progress: percent of the read; it returns
// false to stop the read. False when the drive fails a read, or the read was stopped.
bool ReadTrackWithMargins(HCDROM handle, const TTOC& toc, int position, TTrackRead& read,
                          const std::function<bool(int)>& progress = {});

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
// entry: every offset by v1; by v2 the offsets v1 matched, or where it matched none the candidates
// (and offset 0). In order of offset.
std::vector<TOffsetMatch> MatchingOffsets(const TTrackRead& read, const std::vector<TAccurateRipPressing>& pressings,
                                          const TAccurateRipDiscId& id, int track, const std::vector<int>& candidates);

// v1 of a ripped track at each shift -margin..+margin from the offset it was read at ([s + margin]),
// from its edges and its neighbours' (null: not ripped, or not next to it on the disc); nothing
// where a shift needs samples no track kept.
std::vector<std::optional<uint32_t>> V1AtShifts(const TTrackEdges& track, const TTrackEdges* before,
                                                const TTrackEdges* after, int margin);

// A rip whose tracks AccurateRip did not confirm: the shift from the rip's offset at which the
// entry matches the most tracks, two at least (v1, from the edges: no new reads). positions: each
// track's position on the disc (from 1), in the order of edges.
struct TOffsetHint {
    int Shift = 0;
    int Tracks = 0;
};
std::optional<TOffsetHint> OffsetHint(const std::vector<int>& positions, const std::vector<const TTrackEdges*>& edges,
                                      const std::vector<TAccurateRipPressing>& pressings, const TAccurateRipDiscId& id,
                                      int margin = 2940);

// The read offsets common among drives, for v2 when there is no drive list to take them from.
const std::vector<int>& CommonDriveOffsets();
