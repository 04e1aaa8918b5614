// libFuzzer target: the WAV header walk, the ADPCM format checks and both ADPCM decoders over
// whatever the walk accepts, and the MPEG-in-WAV loader's byte search. Built by
// -DSONVALE_FUZZ=ON with clang; run by tests/fuzz/run.sh.

#include "ACS_WaveFormat.h"
#include "WaveConverter.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    TMemoryStream stream;
    stream.Bytes.assign(data, data + size);
    TWavFormat format;
    WalkWavHeader(stream, format);
    if ((format.Kind == wtDVIADPCM || format.Kind == wtMSADPCM) && AdpcmFormatUsable(format, 16384)) {
        // What TWaveIn does with the data: one block at a time into its 16384-byte buffer.
        std::vector<int16_t> out(16384 / 2);
        std::vector<uint8_t> block(format.BlockAlign);
        stream.Seek(format.DataOffset);
        for (int i = 0; i < 256; ++i) {
            const std::size_t got = stream.Read(block.data(), block.size());
            if (got == 0)
                break;
            std::fill(block.begin() + static_cast<std::ptrdiff_t>(got), block.end(), 0);
            const int32_t samples =
                format.Kind == wtDVIADPCM
                    ? DecodeImaBlock(block.data(), format.BlockAlign, format.Channels, out.data())
                    : DecodeMsBlock(block.data(), format.BlockAlign, format.Channels, format.SamplesPerBlock,
                                    format.Coefficients, out.data());
            if (samples < 0)
                break;
        }
    }
    TWaveConverter converter;
    stream.Seek(0);
    converter.LoadWave(stream);
    return 0;
}
