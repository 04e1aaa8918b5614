#pragma once
// Turns a WAV file whose data is MPEG Layer-3 into PCM in one conversion of the whole data:
// LoadWave takes the file's format and data, the caller has the converter suggest a PCM target
// (acmFormatSuggest), ConvertToTarget decodes, SaveWave writes the result as a PCM WAV image.

#include "ACS_Streams.h"
#include "MSAcm.h"

#include <array>
#include <cstdint>
#include <vector>

class TWaveConverter {
public:
    static constexpr std::size_t FormatBufferSize = 129;

    TWaveConverter();

    // Reads the WAV file from the stream's start: its "fmt " body into SourceFormat and the body
    // of its first non-empty "data" chunk as the content. A stream not starting with "RIFF" and
    // "WAVE" (in that case) loads nothing.
    void LoadWave(TStream& stream);
    // Decodes the content from SourceFormat to TargetFormat; 0, or the converter's error.
    uint32_t ConvertToTarget();
    // Writes the canonical 44-byte PCM header for SourceFormat and the content; 0, or 286 when
    // writing failed. Into an empty memory stream the content is moved, not copied.
    uint32_t SaveWave(TStream& stream);
    uint32_t SaveWave(TMemoryStream& stream);

    TWaveFormatEx Source() const;
    TWaveFormatEx Target() const;
    const std::vector<uint8_t>& Content() const { return m_content; }
    std::size_t ContentSize() const { return m_content.size() - m_contentOffset; }

    uint32_t FormatCapacity;
    std::array<uint8_t, FormatBufferSize> SourceFormat{};
    std::array<uint8_t, FormatBufferSize> TargetFormat{};

private:
    std::vector<uint8_t> m_content;
    std::size_t m_contentOffset = 0;  // bytes kept free in front of the content for the header
};
