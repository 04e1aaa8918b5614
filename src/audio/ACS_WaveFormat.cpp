#include "ACS_WaveFormat.h"

#include "ACS_Bytes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int64_t WalkLimit = 8192;

// The walk's view of the stream: bytes consumed, and the last four of them as the identifier.
class Walker {
public:
    explicit Walker(TStream& s) : m_stream(s) {}

    // False at the end of the stream.
    bool Consume(std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            uint8_t b;
            if (m_stream.Read(&b, 1) != 1)
                return false;
            m_id[0] = m_id[1];
            m_id[1] = m_id[2];
            m_id[2] = m_id[3];
            m_id[3] = b;
            ++m_consumed;
        }
        return true;
    }

    bool ReadBytes(uint8_t* out, std::size_t n)
    {
        if (m_stream.Read(out, n) != n)
            return false;
        m_consumed += static_cast<int64_t>(n);
        if (n >= 4)
            std::memcpy(m_id, out + n - 4, 4);
        return true;
    }

    bool Read32(uint32_t& v)
    {
        uint8_t b[4];
        if (!ReadBytes(b, 4))
            return false;
        v = Get32(b);
        return true;
    }

    // Moves over n bytes without reading them one by one.
    bool Skip(int64_t n)
    {
        const int64_t to = m_stream.Position() + n;
        if (to > m_stream.Size())
            return false;
        m_stream.Seek(to);
        m_consumed += n;
        return true;
    }

    // A byte matches when equal or different by exactly 32: letter case does not matter.
    bool Is(const char* word) const
    {
        for (int i = 0; i < 4; ++i) {
            const int d = m_id[i] - static_cast<uint8_t>(word[i]);
            if (d != 0 && d != 32 && d != -32)
                return false;
        }
        return true;
    }

    // The check before each identifier is examined.
    bool GivesUp() { return m_stream.Position() >= m_stream.Size() || m_consumed >= WalkLimit; }

    int64_t Consumed() const { return m_consumed; }

private:
    TStream& m_stream;
    uint8_t m_id[4] = {};
    int64_t m_consumed = 0;
};

// Skips the chunk whose identifier was just read (size, body, pad byte), then reads the next
// identifier.
bool SkipChunk(Walker& w)
{
    uint32_t size;
    if (!w.Read32(size))
        return false;
    return w.Skip(int64_t{size} + (size & 1)) && w.Consume(4);
}

// Expects the chunk word: skips other chunks until it is the current identifier.
bool FindChunk(Walker& w, const char* word)
{
    while (true) {
        if (w.GivesUp())
            return false;
        if (w.Is(word))
            return true;
        if (!SkipChunk(w))
            return false;
    }
}

const int32_t ImaStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int32_t ImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

const int32_t MsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

// The decoder's two lookups, worked out once from the published tables: the difference a code's
// magnitude bits stand for at each step index (step/8, plus step, step/2 and step/4 for the bits
// 4, 2 and 1, each shifted on its own as the reference decoder does), and the next step index.
struct ImaTables {
    int32_t Difference[89][8];
    uint8_t NextIndex[89][16];
    ImaTables()
    {
        for (int32_t index = 0; index < 89; ++index) {
            const int32_t step = ImaStepTable[index];
            for (int32_t bits = 0; bits < 8; ++bits)
                Difference[index][bits] =
                    (step >> 3) + ((bits & 4) ? step : 0) + ((bits & 2) ? step >> 1 : 0) + ((bits & 1) ? step >> 2 : 0);
            for (int32_t code = 0; code < 16; ++code)
                NextIndex[index][code] = static_cast<uint8_t>(std::clamp(index + ImaIndexTable[code], 0, 88));
        }
    }
};

const ImaTables& Ima()
{
    static const ImaTables tables;
    return tables;
}

// One IMA code applied to a channel; the new predictor. The lower limit is -32767.
inline int16_t ImaStep(TImaChannel& c, uint8_t code)
{
    const ImaTables& t = Ima();
    const int32_t diff = t.Difference[c.StepIndex][code & 7];
    c.Predictor = std::clamp((code & 8) ? c.Predictor - diff : c.Predictor + diff, -32767, 32767);
    c.StepIndex = t.NextIndex[c.StepIndex][code];
    return static_cast<int16_t>(c.Predictor);
}

uint8_t ImaEncode(TImaChannel& c, int32_t sample)
{
    const int32_t step = ImaStepTable[c.StepIndex];
    int32_t diff = sample - c.Predictor;
    uint8_t code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    int32_t part = step;
    if (diff >= part) {
        code |= 4;
        diff -= part;
    }
    part >>= 1;
    if (diff >= part) {
        code |= 2;
        diff -= part;
    }
    part >>= 1;
    if (diff >= part)
        code |= 1;
    ImaStep(c, code);  // the decoder's view, so encoder and decoder stay together
    return code;
}

}  // namespace

void WalkWavHeader(TStream& stream, TWavFormat& format)
{
    format.Kind = wtUnsupported;
    Walker w(stream);
    if (!w.Consume(4))
        return;
    // "RIFF", then "WAVE", each by sliding one byte at a time.
    while (!w.Is("RIFF")) {
        if (w.GivesUp() || !w.Consume(1))
            return;
    }
    if (!w.Consume(4))
        return;
    while (!w.Is("WAVE")) {
        if (w.GivesUp() || !w.Consume(1))
            return;
    }
    if (!w.Consume(4))
        return;

    if (!FindChunk(w, "fmt "))
        return;
    uint32_t size;
    if (!w.Read32(size) || size > WalkLimit)
        return;
    std::vector<uint8_t> body(std::max<uint32_t>(size, 22 + 4 * 32 + 4), 0);  // short bodies read as zeros
    if (!w.ReadBytes(body.data(), size) && size > 0)
        return;
    TWavType kind;
    switch (Get16(&body[0])) {
    case 1: kind = wtPCM; break;
    case 2: kind = wtMSADPCM; break;
    case 17: kind = wtDVIADPCM; break;
    case 85: kind = wtACM; break;
    default: return;  // the other fields stay as they were
    }
    format.Channels = Get16(&body[2]);
    format.SamplesPerSecond = static_cast<int32_t>(Get32(&body[4]));
    format.BlockAlign = Get16(&body[12]);
    format.BitsPerSample = Get16(&body[14]);
    if (kind != wtPCM) {
        format.SamplesPerBlock = Get16(&body[18]);
        if (kind == wtMSADPCM) {
            const uint16_t count = Get16(&body[20]);
            format.Coefficients.clear();
            // More than 32 pairs is no valid MS ADPCM format; the caller refuses it.
            for (uint16_t i = 0; i < count && 22u + 4u * i + 4u <= body.size(); ++i)
                format.Coefficients.push_back({static_cast<int16_t>(Get16(&body[22 + 4 * i])),
                                               static_cast<int16_t>(Get16(&body[24 + 4 * i]))});
            if (count > 32)
                format.Coefficients.resize(33);
        }
    }
    if ((size & 1) && !w.Skip(1))
        return;
    if (!w.Consume(4))
        return;

    if (kind != wtPCM) {
        if (!FindChunk(w, "fact"))
            return;
        uint32_t factSize;
        if (!w.Read32(factSize))
            return;
        const int64_t factOffset = stream.Position();
        uint32_t samples = 0;
        if (factSize >= 4) {
            if (!w.Read32(samples) || !w.Skip(int64_t{factSize} - 4 + (factSize & 1)))
                return;
        } else if (!w.Skip(int64_t{factSize} + (factSize & 1))) {
            return;
        }
        format.FactSamples = static_cast<int32_t>(samples);
        format.FactOffset = factOffset;
        if (!w.Consume(4))
            return;
    }

    if (!FindChunk(w, "data"))
        return;
    uint32_t dataSize;
    if (!w.Read32(dataSize))
        return;
    format.DataSize = dataSize;
    format.DataOffset = w.Consumed();
    format.Kind = kind;
}

bool AdpcmFormatUsable(const TWavFormat& format, int32_t bufferSize)
{
    const int32_t channels = format.Channels;
    const int32_t block = format.BlockAlign;
    if (channels != 1 && channels != 2)
        return false;
    if (format.Kind == wtDVIADPCM) {
        const int32_t samples = ImaSamplesPerBlock(block, channels);
        return samples > 0 && samples * channels * 2 <= bufferSize;
    }
    if (format.Kind != wtMSADPCM)
        return false;
    const int32_t samples = format.SamplesPerBlock;
    return !format.Coefficients.empty() && format.Coefficients.size() <= 32 && samples >= 2 && block > 0 &&
           MsBlockBytesNeeded(samples, channels) <= block && samples * channels * 2 <= bufferSize;
}

int32_t ImaSamplesPerBlock(int32_t blockSize, int32_t channels)
{
    if (channels == 1)
        return blockSize > 4 ? 1 + 2 * (blockSize - 4) : 0;
    if (channels == 2)
        return blockSize > 8 && (blockSize - 8) % 8 == 0 ? 1 + (blockSize - 8) : 0;
    return 0;
}

int32_t DecodeImaBlock(const uint8_t* block, int32_t blockSize, int32_t channels, int16_t* out)
{
    const int32_t samples = ImaSamplesPerBlock(blockSize, channels);
    if (samples == 0)
        return -1;
    TImaChannel state[2];
    for (int32_t c = 0; c < channels; ++c) {
        state[c].Predictor = static_cast<int16_t>(Get16(block + 4 * c));
        state[c].StepIndex = block[4 * c + 2];
        if (state[c].StepIndex > 88)
            return -1;
        out[c] = static_cast<int16_t>(state[c].Predictor);
    }
    const uint8_t* data = block + 4 * channels;
    if (channels == 1) {
        for (int32_t i = 0; i < blockSize - 4; ++i) {
            out[1 + 2 * i] = ImaStep(state[0], data[i] & 0x0F);
            out[2 + 2 * i] = ImaStep(state[0], data[i] >> 4);
        }
        return samples;
    }
    // Stereo: 8-byte groups, 4 bytes (8 codes) of the left channel, then 4 of the right.
    int32_t at = 1;  // sample instant
    for (int32_t g = 0; g < (blockSize - 8) / 8; ++g, at += 8) {
        for (int32_t c = 0; c < 2; ++c) {
            const uint8_t* bytes = data + 8 * g + 4 * c;
            for (int32_t k = 0; k < 4; ++k) {
                out[2 * (at + 2 * k) + c] = ImaStep(state[c], bytes[k] & 0x0F);
                out[2 * (at + 2 * k + 1) + c] = ImaStep(state[c], bytes[k] >> 4);
            }
        }
    }
    return samples;
}

void EncodeImaBlock(const int16_t* in, int32_t samplesPerChannel, int32_t channels, int32_t blockSize,
                    TImaChannel* state, uint8_t* out)
{
    const int32_t samples = ImaSamplesPerBlock(blockSize, channels);
    const auto sample = [&](int32_t instant, int32_t c) -> int32_t {
        return instant < samplesPerChannel ? in[instant * channels + c] : 0;
    };
    std::memset(out, 0, static_cast<std::size_t>(blockSize));
    for (int32_t c = 0; c < channels; ++c) {
        // The header carries the first sample itself (within the decoder's limits).
        state[c].Predictor = std::max(sample(0, c), -32767);
        const auto p = static_cast<uint16_t>(static_cast<int16_t>(state[c].Predictor));
        out[4 * c] = static_cast<uint8_t>(p);
        out[4 * c + 1] = static_cast<uint8_t>(p >> 8);
        out[4 * c + 2] = static_cast<uint8_t>(state[c].StepIndex);
    }
    uint8_t* data = out + 4 * channels;
    if (channels == 1) {
        for (int32_t i = 0; i < blockSize - 4; ++i) {
            const uint8_t low = ImaEncode(state[0], sample(1 + 2 * i, 0));
            const uint8_t high = ImaEncode(state[0], sample(2 + 2 * i, 0));
            data[i] = static_cast<uint8_t>(low | high << 4);
        }
        return;
    }
    for (int32_t g = 0, at = 1; at < samples; ++g, at += 8) {
        for (int32_t c = 0; c < 2; ++c) {
            uint8_t* bytes = data + 8 * g + 4 * c;
            for (int32_t k = 0; k < 4; ++k) {
                const uint8_t low = ImaEncode(state[c], sample(at + 2 * k, c));
                const uint8_t high = ImaEncode(state[c], sample(at + 2 * k + 1, c));
                bytes[k] = static_cast<uint8_t>(low | high << 4);
            }
        }
    }
}

int32_t MsBlockBytesNeeded(int32_t samplesPerBlock, int32_t channels)
{
    if (samplesPerBlock < 2)
        return 0;
    const int32_t codes = (samplesPerBlock - 2) * channels;
    return 7 * channels + (codes + 1) / 2;
}

int32_t DecodeMsBlock(const uint8_t* block, int32_t blockSize, int32_t channels, int32_t samplesPerBlock,
                      const std::vector<TMsCoefficients>& coefficients, int16_t* out)
{
    if ((channels != 1 && channels != 2) || MsBlockBytesNeeded(samplesPerBlock, channels) > blockSize ||
        samplesPerBlock < 2)
        return -1;
    struct State {
        int32_t First, Second;    // the channel's coefficient pair
        int32_t Delta, Sample1, Sample2;
    } s[2];
    const uint8_t* p = block;
    for (int32_t c = 0; c < channels; ++c) {
        const int32_t predictor = *p++;
        if (predictor >= static_cast<int32_t>(coefficients.size()))
            return -1;
        s[c].First = coefficients[static_cast<std::size_t>(predictor)].First;
        s[c].Second = coefficients[static_cast<std::size_t>(predictor)].Second;
    }
    for (int32_t c = 0; c < channels; ++c, p += 2)
        s[c].Delta = static_cast<int16_t>(Get16(p));
    for (int32_t c = 0; c < channels; ++c, p += 2)
        s[c].Sample1 = static_cast<int16_t>(Get16(p));
    for (int32_t c = 0; c < channels; ++c, p += 2)
        s[c].Sample2 = static_cast<int16_t>(Get16(p));
    for (int32_t c = 0; c < channels; ++c) {
        out[c] = static_cast<int16_t>(s[c].Sample2);
        out[channels + c] = static_cast<int16_t>(s[c].Sample1);
    }
    const auto expand = [](State& st, uint32_t nibble) -> int16_t {
        // Divided by 256 truncating toward zero, as C's division does (the published decoder's
        // rule; an arithmetic shift alone would round negative values down).
        const int64_t weighted = int64_t{st.Sample1} * st.First + int64_t{st.Sample2} * st.Second;
        const int64_t prediction = (weighted + ((weighted >> 63) & 255)) >> 8;
        const int32_t code = static_cast<int32_t>(nibble) - (nibble >= 8 ? 16 : 0);
        int64_t value = prediction + int64_t{st.Delta} * code;
        value = value < -32768 ? -32768 : (value > 32767 ? 32767 : value);
        // A delta that keeps growing (only a damaged block does that) is held where the product
        // above cannot overflow.
        const int64_t delta = (int64_t{st.Delta} * MsAdaptation[nibble]) / 256;
        st.Delta = delta < 16 ? 16 : (delta > (1 << 24) ? (1 << 24) : static_cast<int32_t>(delta));
        st.Sample2 = st.Sample1;
        st.Sample1 = static_cast<int32_t>(value);
        return static_cast<int16_t>(value);
    };
    int16_t* o = out + 2 * channels;
    const uint8_t* codes = p;
    if (channels == 1) {
        // High nibble first.
        const int32_t n = samplesPerBlock - 2;
        int32_t i = 0;
        for (; i + 1 < n; i += 2) {
            const uint8_t byte = codes[i / 2];
            *o++ = expand(s[0], byte >> 4);
            *o++ = expand(s[0], byte & 0x0F);
        }
        if (i < n)
            *o++ = expand(s[0], codes[i / 2] >> 4);
    } else {
        // One byte per sample instant: high nibble left, low nibble right.
        for (int32_t i = 0; i < samplesPerBlock - 2; ++i) {
            const uint8_t byte = codes[i];
            *o++ = expand(s[0], byte >> 4);
            *o++ = expand(s[1], byte & 0x0F);
        }
    }
    return samplesPerBlock;
}
