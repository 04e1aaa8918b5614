#include "akrip32Cddb.h"

#include "akrip32CddbClient.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace {

// The options CDDBSetOption gave, as the next transfer uses them.
struct TCddbOptions {
    std::mutex Mutex;
    std::map<int32_t, std::pair<std::string, int32_t>> Values;

    TCddbSettings Settings()
    {
        std::lock_guard lock(Mutex);
        const auto text = [&](int32_t what) {
            const auto it = Values.find(what);
            return it == Values.end() ? std::string() : it->second.first;
        };
        const auto number = [&](int32_t what, int32_t def) {
            const auto it = Values.find(what);
            return it == Values.end() ? def : it->second.second;
        };
        TCddbSettings s;
        s.Server = text(CDDB_OPT_SERVER);
        s.Script = text(CDDB_OPT_CGI);
        s.Identity = text(CDDB_OPT_USER);
        s.Client = text(CDDB_OPT_AGENT);
        s.UseProxy = number(CDDB_OPT_USEPROXY, 0) != 0;
        s.ProxyHost = text(CDDB_OPT_PROXY);
        s.ProxyPort = number(CDDB_OPT_PROXYPORT, 80);
        return s;
    }
};

TCddbOptions& SavedOptions()
{
    static TCddbOptions options;
    return options;
}

int32_t Fail(int32_t error)
{
    AkripSetLastError(error);
    return 0;
}

}  // namespace

void CDDBSetOption(int32_t what, const char* text, int32_t number)
{
    TCddbOptions& options = SavedOptions();
    std::lock_guard lock(options.Mutex);
    options.Values[what] = {text ? text : "", number};
}

int32_t CDDBQuery(HCDROM handle, TCDDBQuery* query)
{
    AkripSetLastError(ALERR_NOERROR);
    if (!query || !query->Q || query->Num <= 0) {
        if (query)
            query->Num = 0;
        return Fail(ALERR_INVPARM);
    }
    query->Num = std::min<int32_t>(query->Num, 10);
    // The table is read from the drive first; the transfer holds up no drive.
    TTOC toc{};
    if (const int32_t error = AkripReadMsfToc(handle, &toc); error != ALERR_NOERROR) {
        query->Num = 0;
        return Fail(error);
    }
    int32_t error = ALERR_NOERROR;
    const int32_t result = CddbQueryServer(toc, SavedOptions().Settings(), *query, error);
    AkripSetLastError(error);
    return result;
}

int32_t CDDBGetDiskInfo(const TCDDBQueryItem* item, char* buffer, int32_t length)
{
    AkripSetLastError(ALERR_NOERROR);
    if (!item || !buffer || length <= 0)
        return Fail(ALERR_INVPARM);
    buffer[0] = '\0';
    int32_t error = ALERR_NOERROR;
    const int32_t result = CddbReadEntry(SavedOptions().Settings(), *item, buffer, length, error);
    AkripSetLastError(error);
    return result;
}
