// libFuzzer target: a rip log, a text file the user hands `sonvale-cli verify` (or someone else
// edited). Whatever it holds, the reader never reads past it, and every track it returns has a
// file, a number from 0 (hidden audio) to 99 and, when copied, its checksums. Built by -DSONVALE_FUZZ=ON with
// clang; run by tests/fuzz/run.sh.

#include "RipVerify.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto log = ParseRipLog(text, why);
    if (!log) {
        if (why.empty())
            __builtin_trap();
        return 0;
    }
    if (log->Tracks.empty() || log->Toc.empty())
        __builtin_trap();
    for (const TLoggedTrack& t : log->Tracks)
        if (t.Number < 0 || t.Number > 99 || t.File.empty() || (t.Copied && !t.HasSums))
            __builtin_trap();
    for (const auto& row : log->Toc)
        if (row.Length < 1 || row.Start < 0)
            __builtin_trap();
    return 0;
}
