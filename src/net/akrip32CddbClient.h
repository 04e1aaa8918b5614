#pragma once
// The drive library's CDDB client: HTTP GET through libcurl, the replies parsed by
// akrip32CddbParse. Runs on the caller's thread; every transfer ends within its time-outs, at
// once when the thread's cancel flag is set, and at a size limit.

#include "akrip32.h"

#include <string>

struct TCddbSettings {
    std::string Server;      // "gnudb.gnudb.org", or "host:port"
    std::string Script;      // "/~cddb/cddb.cgi"
    std::string Identity;    // "user@host", sent in "hello"
    std::string Client;      // "Sonvale 2.1": name and version
    bool UseProxy = false;
    std::string ProxyHost;
    int32_t ProxyPort = 80;
};

// The query for the disc of toc (MSF); fills query.Q[0..] and query.Num. 1, or 0 with error.
int32_t CddbQueryServer(const TTOC& toc, const TCddbSettings& settings, TCDDBQuery& query, int32_t& error);
// The entry of item into buffer (length bytes with the terminating zero). 1, or 0 with error.
int32_t CddbReadEntry(const TCddbSettings& settings, const TCDDBQueryItem& item, char* buffer, int32_t length,
                      int32_t& error);

// The URL of a request: "http://" + server + script + "?cmd=" + command + "&hello=...&proto=6".
std::string CddbUrl(const TCddbSettings& settings, const std::string& command);
