// libFuzzer target: the AccurateRip database entry, binary data from the network. Whatever it
// holds, the parser never reads past it, every pressing it returns has the tracks its head
// names, and judging any track of any disc gives one of the four verdicts. Built by
// -DSONVALE_FUZZ=ON with clang; run by tests/fuzz/run.sh.

#include "AccurateRip.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view entry(reinterpret_cast<const char*>(data), size);
    const auto pressings = ParseAccurateRipEntry(entry);
    if (!pressings)
        return 0;
    std::size_t bytes = 0;
    for (const TAccurateRipPressing& p : *pressings) {
        if (p.Tracks <= 0 || p.Checksums.size() != static_cast<std::size_t>(p.Tracks))
            __builtin_trap();
        bytes += 13 + 9 * p.Checksums.size();
    }
    if (bytes != size)
        __builtin_trap();  // an entry is read whole or not at all
    const TAccurateRipPressing& first = pressings->front();
    TAccurateRipDiscId id;
    id.AudioTracks = first.Tracks;
    id.Id1 = first.Id1;
    id.Id2 = first.Id2;
    id.CddbId = first.CddbId;
    for (int track = 0; track <= first.Tracks + 1; ++track) {
        const TAccurateRipVerdict v = JudgeTrack(*pressings, id, track, first.Checksums[0].Crc, first.Checksums[0].Crc);
        if (v.Text().empty() || v.Confidence < 0)
            __builtin_trap();
    }
    return 0;
}
