// libFuzzer target: the CDDB reply and entry parsers, which take whatever a server sends. The
// input is read as a query reply, a read reply and an entry; cleaned text must be valid UTF-8
// (cleaning it again changes nothing) and no title may exceed the tracks asked for. Built by
// -DSONVALE_FUZZ=ON with clang; run by tests/fuzz/run.sh.

#include "QueryCddb.h"
#include "akrip32CddbParse.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TCddbQueryReply reply = ParseCddbQueryReply(text, 10);
    if (reply.Matches.size() > 10)
        __builtin_trap();
    for (const TCddbMatch& m : reply.Matches)
        if (CleanNetworkText(m.Title) != m.Title)
            __builtin_trap();
    std::string entry;
    static_cast<void>(ParseCddbReadReply(text, entry));
    const std::string clean = CleanNetworkText(text);
    if (CleanNetworkText(clean) != clean)
        __builtin_trap();
    const std::string_view cut = CutUtf8(clean, size / 2);
    if (CleanNetworkText(cut) != cut)
        __builtin_trap();
    const int first = size > 0 ? 1 + data[0] % 5 : 1;
    const int last = first + (size > 1 ? data[1] % 20 : 0);
    TCddbFields fields;
    ParseCddbEntry(clean, first, last, fields);
    if (fields.Titles.size() > static_cast<std::size_t>(last - first + 1))
        __builtin_trap();
    return 0;
}
