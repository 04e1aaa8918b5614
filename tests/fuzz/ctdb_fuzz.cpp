// libFuzzer target: the CUETools database's XML answer, from the network. Whatever it holds, the
// reader ends without a crash; an answer it takes has only entries with one to 99 track CRCs and
// a confidence not below 0, and one it refuses says why. Built by -DSONVALE_FUZZ=ON with clang;
// run by tests/fuzz/run.sh.

#include "Ctdb.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::string why;
    const auto entries = ParseCtdbAnswer(std::string_view(reinterpret_cast<const char*>(data), size), why);
    if (!entries) {
        if (why.empty())
            __builtin_trap();
        return 0;
    }
    for (const TCtdbEntry& e : *entries)
        if (e.TrackCrcs.empty() || e.TrackCrcs.size() > 99 || e.Confidence < 0 || e.Id.size() > 256)
            __builtin_trap();
    return 0;
}
