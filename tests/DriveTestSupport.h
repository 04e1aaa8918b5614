#pragma once
// Drives for tests: a disc image read as a drive with a given read offset would read it, and the
// table of contents a drive gives.

#include "akrip32.h"
#include "akrip32Drives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

// A disc image read as a drive with this read offset reads it: each sample `offset` positions
// early (+667: a read of sector s starts 667 samples before s), silence beyond the disc. Counts
// the sectors each read asks for.
class TOffsetDrive : public TDriveLayer {
public:
    TOffsetDrive(std::shared_ptr<TDriveBackend> inner, int offset)
        : TDriveLayer(std::move(inner))
        , m_offset(offset)
    {
    }
    bool ReadAudio(int32_t lba, int32_t count, uint8_t* out) override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_sectorsRead += count;
            if (TDiscToc toc; m_end == 0 && TDriveLayer::ReadToc(toc))
                m_end = toc.LeadOutLba;
        }
        const int64_t from = int64_t{lba} * 2352 - int64_t{m_offset} * 4, size = int64_t{count} * 2352;
        std::memset(out, 0, static_cast<std::size_t>(size));
        const int32_t s0 = static_cast<int32_t>(std::max<int64_t>(0, from >= 0 ? from / 2352 : -1));
        const int32_t s1 = static_cast<int32_t>(std::min<int64_t>(m_end, (from + size + 2351) / 2352));
        if (s0 >= s1)
            return true;
        std::vector<uint8_t> bytes(static_cast<std::size_t>(s1 - s0) * 2352);
        if (!TDriveLayer::ReadAudio(s0, s1 - s0, bytes.data()))
            return false;
        for (int64_t k = 0; k < size; ++k) {
            const int64_t at = from + k - int64_t{s0} * 2352;
            if (at >= 0 && at < static_cast<int64_t>(bytes.size()))
                out[k] = bytes[static_cast<std::size_t>(at)];
        }
        return true;
    }
    int64_t SectorsRead()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_sectorsRead;
    }

private:
    int m_offset;
    int32_t m_end = 0;
    std::mutex m_mutex;
    int64_t m_sectorsRead = 0;
};

// The table of contents of the disc in drive, read in MSF mode as the program reads it (the drive
// made the only one for the while).
inline TTOC MsfTocOf(std::shared_ptr<TDriveBackend> drive)
{
    AkripUseDrives({std::move(drive)});
    TGetCDHand request{};
    request.Size = 12;
    request.Ver = 1;
    const HCDROM h = GetCDHandle(&request);
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    EXPECT_EQ(ReadTOC(h, &toc), 1);
    CloseCDHandle(h);
    AkripUseDrives({});
    return toc;
}
