#pragma once
// The drive library's CDDB calls: the options of the next lookup, the query for the disc in a
// drive, the entry of a match. They report through the library's last error (GetAspiLibError).
// The transfers are akrip32CddbClient's.

#include "akrip32.h"

#include <atomic>
#include <cstdint>

void CDDBSetOption(int32_t what, const char* text, int32_t number);
// Asks the server (option 0, script 6, over HTTP) for the disc in the drive. 1 when the server
// answered: query->Num matches (0: none, GetAspiLibError() 0). 0 when it cannot be reached, does
// not answer in time, or refuses (GetAspiLibError() says which).
int32_t CDDBQuery(HCDROM handle, TCDDBQuery* query);
// The entry of a match: its lines as the server sent them, cleaned (valid UTF-8, no control
// characters), cut to length - 1 bytes on a character boundary and zero-terminated. 1 when read.
int32_t CDDBGetDiskInfo(const TCDDBQueryItem* item, char* buffer, int32_t length);

// Not in the contract above: the calling thread's CDDB transfers end as soon as *flag is set
// (null: never). A lookup that is abandoned sets its flag.
void CDDBSetCancelFlag(const std::atomic<bool>* flag);
// How long a CDDB transfer may take: to connect, without receiving a byte, and in all (tests
// shorten them). The defaults are 10 s, 15 s and 60 s.
void CDDBSetTimeouts(long connectMs, long stallSeconds, long totalSeconds);
