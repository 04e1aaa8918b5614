#pragma once
// The CDDB protocol's text, as pure functions: the disc ID and the query command from a table of
// contents, and the server's replies turned into matches and entries. The client
// (akrip32Cddb.cpp) sends and receives; these parse. CDDB protocol level 6 (UTF-8), as the
// public servers speak it over HTTP: https://www.gnudb.org/howto.php and the CDDB protocol text.

#include "DiscScan.h"
#include "akrip32.h"

#include <string>
#include <string_view>
#include <vector>

// CddbDiscId (the disc ID from the table) is DiscScan's, beside the disc key.

// "cddb query <id> <ntrks> <offset>... <nsecs>" with the offsets in frames (lead-in included)
// and nsecs the lead-out's address in whole seconds, words joined by "+" for a URL.
std::string CddbQueryCommand(const TTOC& toc);

struct TCddbMatch {
    std::string Category;   // "rock"
    std::string DiscId;     // eight hex digits
    std::string Title;      // "Artist / Album" as the server lists it
    bool Exact = false;
};

struct TCddbQueryReply {
    int Code = 0;           // 200 one exact match, 210/211 several, 202 none; 0 no reply line
    std::vector<TCddbMatch> Matches;
    bool Refused() const { return Code != 200 && Code != 202 && Code != 210 && Code != 211; }
};

// The reply to a query: its code and its matches (at most max).
TCddbQueryReply ParseCddbQueryReply(std::string_view reply, std::size_t max);

// The entry of a "cddb read" reply: the lines after the "210" line up to the line ".", joined by
// "\n". False when the reply is not a 210.
bool ParseCddbReadReply(std::string_view reply, std::string& entry);

// Text from the network made safe to keep and show: valid UTF-8 (a broken sequence becomes
// U+FFFD), control characters other than tab and line breaks become spaces.
std::string CleanNetworkText(std::string_view text);

// The longest start of text of at most maxBytes bytes that does not split a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);
