#include "WaveConverter.h"

#include "ACS_Bytes.h"

#include "ACS_Types.h"
#include "WavHeader.h"

#include <algorithm>
#include <cstring>

TWaveConverter::TWaveConverter()
    : FormatCapacity(acmMetricsMaxSizeFormat())
{
}

TWaveFormatEx TWaveConverter::Source() const
{
    TWaveFormatEx f;
    std::memcpy(&f, SourceFormat.data(), sizeof f);
    return f;
}

TWaveFormatEx TWaveConverter::Target() const
{
    TWaveFormatEx f;
    std::memcpy(&f, TargetFormat.data(), sizeof f);
    return f;
}

void TWaveConverter::LoadWave(TStream& stream)
{
    // The file is read whole, searched in memory and let go before decoding.
    stream.Seek(0);
    std::vector<uint8_t> file(static_cast<std::size_t>(std::max<int64_t>(stream.Size(), 0)));
    file.resize(stream.Read(file.data(), file.size()));
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0)
        return;
    // Every byte offset from 5 on is looked at as a chunk head (identifier and size); the bodies
    // of "fmt ", "fact" and "data" are taken whole and the search goes on 7 bytes before their end.
    std::size_t count = 12;
    while (count + 1 < file.size()) {
        const std::size_t at = count - 7;
        if (at + 8 > file.size())
            break;
        const uint8_t* head = file.data() + at;
        count = at + 8;
        const uint32_t size = Get32(head + 4);
        const std::size_t body = std::min<std::size_t>(size, file.size() - count);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            SourceFormat.fill(0);
            // At least the 18 bytes of WAVEFORMATEX, as far as the file goes.
            const std::size_t n = std::min({std::max<std::size_t>(body, 18), file.size() - count, SourceFormat.size()});
            std::memcpy(SourceFormat.data(), file.data() + count, n);
            count += body;
        } else if (std::memcmp(head, "fact", 4) == 0) {
            count += body;
        } else if (std::memcmp(head, "data", 4) == 0 && size != 0) {
            m_content.assign(file.begin() + static_cast<std::ptrdiff_t>(count),
                             file.begin() + static_cast<std::ptrdiff_t>(count + body));
            m_contentOffset = 0;
            count += body;
        }
    }
}

uint32_t TWaveConverter::ConvertToTarget()
{
    std::vector<uint8_t> pcm;
    const uint32_t result = acmConvert(Source(), m_content, Target(), pcm, WavHeaderSize);
    if (result != 0)
        return result;
    std::memcpy(SourceFormat.data(), TargetFormat.data(), std::min<std::size_t>(FormatCapacity, FormatBufferSize));
    // Exactly the decoded samples: nothing from a size estimate pads the end.
    m_content = std::move(pcm);
    m_contentOffset = WavHeaderSize;
    return 0;
}

namespace {

TWavHeader HeaderFor(const TWaveFormatEx& f, std::size_t dataBytes)
{
    TWavHeader h = CanonicalWavHeader(dataBytes, f.nChannels, f.nSamplesPerSec, f.wBitsPerSample);
    // The first 16 bytes of the format as they stand (tag, block alignment and byte rate included).
    std::memcpy(&h[20], &f, 16);
    return h;
}

}  // namespace

uint32_t TWaveConverter::SaveWave(TStream& stream)
{
    try {
        const TWavHeader h = HeaderFor(Source(), ContentSize());
        stream.Write(h.data(), h.size());
        stream.Write(m_content.data() + m_contentOffset, ContentSize());
        return 0;
    } catch (...) {
        return 286;
    }
}

uint32_t TWaveConverter::SaveWave(TMemoryStream& stream)
{
    if (stream.Size() != 0 || m_contentOffset != WavHeaderSize)
        return SaveWave(static_cast<TStream&>(stream));
    const TWavHeader h = HeaderFor(Source(), ContentSize());
    std::memcpy(m_content.data(), h.data(), h.size());
    stream.Bytes = std::move(m_content);
    stream.Seek(static_cast<int64_t>(stream.Bytes.size()));
    m_content.clear();
    m_contentOffset = 0;
    return 0;
}
