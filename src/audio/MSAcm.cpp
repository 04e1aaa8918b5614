#include "MSAcm.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

struct Handle {
    mpg123_handle* h = nullptr;
    ~Handle()
    {
        if (h)
            mpg123_delete(h);
    }
};

// A feed-mode decoder giving signed 16-bit samples at the stream's own rate and channels.
bool OpenDecoder(Handle& decoder)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });
    int err = MPG123_OK;
    decoder.h = mpg123_new(nullptr, &err);
    if (!decoder.h)
        return false;
    mpg123_param(decoder.h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(decoder.h);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(decoder.h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    return mpg123_open_feed(decoder.h) == MPG123_OK;
}

}  // namespace

uint32_t acmMetricsMaxSizeFormat()
{
    return 30;
}

uint32_t acmFormatSuggest(const TWaveFormatEx& source, const std::vector<uint8_t>& data, uint8_t* target,
                          uint32_t targetSize, uint32_t flags)
{
    if (!target || targetSize < sizeof(TWaveFormatEx))
        return MMSYSERR_INVALPARAM;
    TWaveFormatEx wanted;
    std::memcpy(&wanted, target, sizeof wanted);
    if (source.wFormatTag != WAVE_FORMAT_MPEGLAYER3 ||
        ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && wanted.wFormatTag != WAVE_FORMAT_PCM))
        return ACMERR_NOTPOSSIBLE;

    // Decoding the first frames tells the stream's format.
    Handle decoder;
    if (!OpenDecoder(decoder))
        return ACMERR_NOTPOSSIBLE;
    const std::size_t probe = std::min<std::size_t>(data.size(), 64 * 1024);
    std::size_t done = 0;
    unsigned char out[4608 * 4];
    int rc = mpg123_decode(decoder.h, data.data(), probe, out, sizeof out, &done);
    while (rc != MPG123_NEW_FORMAT && rc != MPG123_ERR && rc != MPG123_NEED_MORE)
        rc = mpg123_decode(decoder.h, nullptr, 0, out, sizeof out, &done);
    long rate = 0;
    int channels = 0, encoding = 0;
    if (rc != MPG123_NEW_FORMAT || mpg123_getformat(decoder.h, &rate, &channels, &encoding) != MPG123_OK)
        return ACMERR_NOTPOSSIBLE;

    TWaveFormatEx pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = static_cast<uint16_t>(channels);
    pcm.nSamplesPerSec = static_cast<uint32_t>(rate);
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<uint16_t>(2 * channels);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    pcm.cbSize = 0;
    std::memcpy(target, &pcm, sizeof pcm);
    return MMSYSERR_NOERROR;
}

uint32_t acmConvert(const TWaveFormatEx& source, const std::vector<uint8_t>& data, const TWaveFormatEx& target,
                    std::vector<uint8_t>& pcm, std::size_t frontRoom)
{
    if (source.wFormatTag != WAVE_FORMAT_MPEGLAYER3 || target.wFormatTag != WAVE_FORMAT_PCM ||
        target.wBitsPerSample != 16 || target.nChannels == 0)
        return ACMERR_NOTPOSSIBLE;
    Handle decoder;
    if (!OpenDecoder(decoder))
        return ACMERR_NOTPOSSIBLE;
    // The data goes in 64 KiB at a time as the decoder asks for it: fed whole, the decoder would
    // keep a copy of all of it beside the PCM.
    constexpr std::size_t FeedPiece = 64 * 1024;
    std::size_t fed = 0;
    const auto feed = [&] {
        if (fed >= data.size())
            return false;
        const std::size_t n = std::min(FeedPiece, data.size() - fed);
        if (mpg123_feed(decoder.h, data.data() + fed, n) != MPG123_OK)
            return false;
        fed += n;
        return true;
    };
    feed();

    // Room for the estimated length (the bit rate and the data size tell it for constant-rate
    // streams), grown by a tenth when it runs out, so the buffer stays close to its content.
    pcm.clear();
    const uint64_t bytesPerSecond = target.nAvgBytesPerSec;
    mpg123_frameinfo info{};
    std::size_t estimate = frontRoom + 65536;
    unsigned char* first = nullptr;
    std::size_t firstBytes = 0;
    off_t num = 0;
    int rc = mpg123_decode_frame(decoder.h, &num, &first, &firstBytes);
    while (rc == MPG123_NEED_MORE && feed())
        rc = mpg123_decode_frame(decoder.h, &num, &first, &firstBytes);
    if (rc == MPG123_NEW_FORMAT) {
        long rate = 0;
        int channels = 0, encoding = 0;
        mpg123_getformat(decoder.h, &rate, &channels, &encoding);
        if (rate != static_cast<long>(target.nSamplesPerSec) || channels != target.nChannels)
            return ACMERR_NOTPOSSIBLE;
        if (mpg123_info(decoder.h, &info) == MPG123_OK && info.bitrate > 0)
            estimate = frontRoom + static_cast<std::size_t>(data.size() * 8ull * bytesPerSecond /
                                                              (static_cast<uint64_t>(info.bitrate) * 1000ull)) +
                       4608 * 4;
        rc = MPG123_OK;
        first = nullptr;
        firstBytes = 0;
    }
    pcm.reserve(estimate);
    pcm.resize(frontRoom);
    const auto append = [&](const unsigned char* bytes, std::size_t n) {
        if (pcm.size() + n > pcm.capacity())
            pcm.reserve(pcm.capacity() + std::max<std::size_t>(n, pcm.capacity() / 10));
        pcm.insert(pcm.end(), bytes, bytes + n);
    };
    if (first && firstBytes)
        append(first, firstBytes);
    while (rc == MPG123_OK) {
        unsigned char* frame = nullptr;
        std::size_t bytes = 0;
        rc = mpg123_decode_frame(decoder.h, &num, &frame, &bytes);
        if (rc == MPG123_NEED_MORE && feed())
            rc = MPG123_OK;
        if (rc == MPG123_NEW_FORMAT)
            return ACMERR_NOTPOSSIBLE;  // the format changed inside the data
        if (rc == MPG123_OK && bytes)
            append(frame, bytes);
    }
    if (rc == MPG123_ERR || pcm.size() == frontRoom)
        return ACMERR_NOTPOSSIBLE;
    return MMSYSERR_NOERROR;
}
