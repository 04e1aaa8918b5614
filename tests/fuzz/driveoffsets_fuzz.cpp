// libFuzzer target: the AccurateRip drive list, binary data from the network or the cache.
// Whatever it holds, the reader never reads past it, every entry it returns is printable, within
// ten sectors and names a model, and looking a drive up finds only entries of that model.
// Built by -DSONVALE_FUZZ=ON with clang; run by tests/fuzz/run.sh.

#include "DriveOffsets.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto list = ParseDriveOffsets(bytes, why);
    if (!list) {
        if (why.empty())
            __builtin_trap();
        return 0;
    }
    if (list->size() > size / DriveOffsetRecordSize)
        __builtin_trap();
    for (const TDriveOffsetEntry& e : *list) {
        if (e.Model.empty() || e.Offset < -MaxReadOffset || e.Offset > MaxReadOffset || e.Submissions < 0 ||
            e.Submissions > 255)
            __builtin_trap();
        for (const char c : e.Name())
            if (c < 0x20 || c == 0x7F)
                __builtin_trap();
        const auto found = EntriesForDrive(*list, e.Vendor, e.Model);
        if (found.empty() || found.front().Submissions < e.Submissions)
            __builtin_trap();
    }
    return 0;
}
