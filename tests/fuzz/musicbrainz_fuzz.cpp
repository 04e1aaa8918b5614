// libFuzzer target: the MusicBrainz answer read into releases and then into the track list's
// fields, which takes whatever a server (or something in between) sends. Every text kept must be
// clean network text (cleaning it again changes nothing) within its bound; a toc search keeps
// only media with as many tracks as the disc. Built by -DSONVALE_FUZZ=ON with clang; run by
// tests/fuzz/run.sh.

#include "MusicBrainz.h"
#include "akrip32CddbParse.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

void CheckText(const std::string& text)
{
    if (CleanNetworkText(text) != text || text.size() > 4096)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view json(reinterpret_cast<const char*>(data), size);
    for (const bool fuzzy : {false, true}) {
        std::vector<TMbRelease> releases;
        std::string error;
        if (!ParseMusicBrainzReply(json, "disc-id-", 3, fuzzy, releases, error) && !releases.empty())
            __builtin_trap();
        for (const TMbRelease& r : releases) {
            for (const std::string* t : {&r.Id, &r.Title, &r.Artist, &r.Date, &r.Country, &r.Label, &r.CatalogNumber,
                                         &r.Barcode, &r.Format})
                CheckText(*t);
            for (const TMbTrack& t : r.Tracks) {
                CheckText(t.Title);
                CheckText(t.Artist);
            }
            if (r.Id.empty() || r.Medium < 0 || r.MediumCount < 1)
                __builtin_trap();
            const TCddbFields fields = MusicBrainzFields(r);
            if (fields.Titles.size() != r.Tracks.size())
                __builtin_trap();
            static_cast<void>(ReleaseSummary(r));
        }
    }
    return 0;
}
