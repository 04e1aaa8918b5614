#pragma once
// The AccurateRip database over HTTP: the fetch of a disc's entry, and a lookup that runs beside
// the rip. The entry's format, the checksums and the verdicts are AccurateRip.h's.

#include "AccurateRip.h"
#include "BackgroundFetch.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

// A GET over HTTP (libcurl; 10 s to connect, 15 s without data, 30 s in all), at most maxBytes.
// abandoned, once true, ends the transfer within a second. Never raises.
struct THttpBytes {
    bool Connected = false;  // an answer came (of any status)
    long Status = 0;
    std::string Body;
    std::string Failure;     // why there is no whole answer (libcurl's words, or too long)
};
// A server's address without the "/" it may end in, for a path to follow ("http://x/" -> "http://x").
std::string WithoutSlash(std::string server);

THttpBytes HttpGetBytes(const std::string& url, std::size_t maxBytes, const std::atomic<bool>* abandoned = nullptr);

// GET <baseUrl>/accuraterip/<id.Path()> over HTTP (libcurl; 10 s to connect, 30 s in all, at
// most 1 MiB). Never raises: a failure is an entry that was not checked. abandoned, once true,
// ends the transfer within a second.
TAccurateRipEntry FetchAccurateRip(const std::string& baseUrl, const TAccurateRipDiscId& id,
                                   const std::atomic<bool>* abandoned = nullptr);

// The fetch on a thread of its own, started at once; the rip asks for the answer when it is over.
class TAccurateRipLookup : public TBackgroundFetch<TAccurateRipEntry> {
public:
    TAccurateRipLookup(std::string baseUrl, TAccurateRipDiscId id);
};
