#include "WavHeader.h"

#include "ACS_Bytes.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

TWavHeader CanonicalWavHeader(uint64_t dataBytes, uint16_t channels, uint32_t samplesPerSecond, uint16_t bitsPerSample)
{
    constexpr uint64_t MaxData = 0xFFFFFFFFu - 36;
    const auto data = static_cast<uint32_t>(dataBytes > MaxData ? MaxData : dataBytes);
    const uint32_t frameBytes = channels * ((bitsPerSample + 7u) / 8u);
    TWavHeader h{};
    std::memcpy(&h[0], "RIFF", 4);
    Put32(&h[4], data + 36);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    Put32(&h[16], 16);
    Put16(&h[20], 1);
    Put16(&h[22], channels);
    Put32(&h[24], samplesPerSecond);
    Put32(&h[28], samplesPerSecond * frameBytes);
    Put16(&h[32], frameBytes);
    Put16(&h[34], bitsPerSample);
    std::memcpy(&h[36], "data", 4);
    Put32(&h[40], data);
    return h;
}

bool WriteWavHeader(int fd, const TWavHeader& header)
{
    std::size_t done = 0;
    while (done < header.size()) {
        const ssize_t n = pwrite(fd, header.data() + done, header.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
