#pragma once
// The format converter that decodes MPEG Layer-3 data found in WAV files, in the three steps the
// Audio Compression Manager offers: suggest a PCM format for a source, convert, report the
// result. Backed by libmpg123.

#include <cstddef>
#include <cstdint>
#include <vector>

#pragma pack(push, 1)
// The WAVEFORMATEX record: a format's common head; codec fields follow it.
struct TWaveFormatEx {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 85;
constexpr uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;
constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x10000;
constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t ACMERR_NOTPOSSIBLE = 512;

// The largest format record a codec here uses: MPEGLAYER3WAVEFORMAT, 30 bytes.
uint32_t acmMetricsMaxSizeFormat();

// Fills target (targetSize bytes, its format tag set to WAVE_FORMAT_PCM by the caller) with the
// PCM format the source data decodes to: 16-bit, the stream's channels and rate. 0 on success,
// ACMERR_NOTPOSSIBLE when the data is no MPEG audio the decoder can read.
uint32_t acmFormatSuggest(const TWaveFormatEx& source, const std::vector<uint8_t>& data, uint8_t* target,
                          uint32_t targetSize, uint32_t flags);

// Decodes the whole of data into pcm (which receives exactly the decoded samples, after
// frontRoom bytes left for the caller) in the target's format. 0 on success.
uint32_t acmConvert(const TWaveFormatEx& source, const std::vector<uint8_t>& data, const TWaveFormatEx& target,
                    std::vector<uint8_t>& pcm, std::size_t frontRoom);
