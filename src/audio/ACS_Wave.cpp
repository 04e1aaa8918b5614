#include "ACS_Wave.h"

#include "ACS_Bytes.h"

#include "WavHeader.h"
#include "WaveConverter.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

void WriteAt(TStream& s, int64_t at, uint32_t value)
{
    uint8_t b[4];
    Put32(b, value);
    s.Seek(at);
    s.Write(b, 4);
}

uint32_t Clamp32(int64_t v)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 0xFFFFFFFF));
}

}  // namespace

// --- TWaveIn ---------------------------------------------------------------------------------

TWaveIn::TWaveIn() = default;

TWaveIn::~TWaveIn() = default;

void TWaveIn::OpenSource()
{
    Valid = true;
    if (OpenCount > 0) {
        ++OpenCount;
        return;
    }
    m_image.reset();
    m_file.reset();
    m_stream = nullptr;
    // A file the walk gives up on leaves the format values of the file read before.
    m_format.Kind = wtUnsupported;
    auto file = std::make_unique<TFileStream>(FileName, TFileStream::fmOpenRead);
    WalkWavHeader(*file, m_format);
    m_channels = m_format.Channels;
    m_rate = m_format.SamplesPerSecond;
    m_bits = m_format.BitsPerSample;

    switch (m_format.Kind) {
    case wtUnsupported:
        Valid = false;
        break;
    case wtPCM:
        if (m_channels <= 0 || m_bits < 8)
            throw EACSException("Cannot read " + FileName + ": PCM with " + std::to_string(m_channels) +
                                " channels of " + std::to_string(m_bits) + " bits per sample");
        TotalBytes = m_format.DataSize;
        TotalSamples = static_cast<int32_t>(TotalBytes / ((m_bits / 8) * m_channels));
        break;
    case wtDVIADPCM:
    case wtMSADPCM:
        if (m_format.Kind == wtDVIADPCM && m_bits != 4)
            Valid = false;  // decoded all the same, as the block layout says
        if (!AdpcmFormatUsable(m_format, BufferSize)) {
            // Header values the decoder cannot follow safely: the file is not valid and yields
            // no data.
            Valid = false;
            m_format.Kind = wtUnsupported;
            break;
        }
        m_bits = 16;
        TotalSamples = m_format.FactSamples;
        TotalBytes = int64_t{m_channels} * TotalSamples * 2;
        m_block.assign(static_cast<std::size_t>(m_format.BlockAlign), 0);
        break;
    case wtACM:
        if (!LoadThroughConverter(std::move(file))) {
            // The file stays open; the source yields no data.
            Valid = false;
            return;
        }
        break;
    }
    if (file)
        m_file = std::move(file);
    m_stream = m_image ? static_cast<TStream*>(m_image.get()) : m_file.get();
    m_dataEnd = std::min(m_format.DataOffset + m_format.DataSize, m_stream->Size());
    m_missing = m_format.DataSize >= 0xFFFFFF00 ? 0 : std::max<int64_t>(0, m_format.DataOffset + m_format.DataSize - m_dataEnd);
    ++OpenCount;
}

bool TWaveIn::LoadThroughConverter(std::unique_ptr<TFileStream> file)
{
    TWaveConverter converter;
    converter.LoadWave(*file);
    TWaveFormatEx wanted{};
    wanted.wFormatTag = WAVE_FORMAT_PCM;
    std::memcpy(converter.TargetFormat.data(), &wanted, sizeof wanted);
    if (acmFormatSuggest(converter.Source(), converter.Content(), converter.TargetFormat.data(),
                         TWaveConverter::FormatBufferSize, ACM_FORMATSUGGESTF_WFORMATTAG) != 0 ||
        converter.ConvertToTarget() != 0) {
        m_format.Kind = wtUnsupported;
        m_file = std::move(file);
        m_stream = m_file.get();
        return false;
    }
    m_image = std::make_unique<TMemoryStream>();
    converter.SaveWave(*m_image);
    m_image->Seek(0);
    WalkWavHeader(*m_image, m_format);
    m_channels = m_format.Channels;
    m_rate = m_format.SamplesPerSecond;
    m_bits = m_format.BitsPerSample;
    TotalBytes = m_format.DataSize;
    TotalSamples = m_channels > 0 && m_bits >= 8 ? static_cast<int32_t>(TotalBytes / ((m_bits / 8) * m_channels)) : 0;
    m_format.Kind = wtACM;
    m_file = std::move(file);
    return true;
}

void TWaveIn::CloseSource()
{
    if (OpenCount == 1) {
        m_image.reset();
        m_file.reset();
        m_stream = nullptr;
    }
    if (OpenCount > 0)
        --OpenCount;
}

void TWaveIn::SeekSample(int32_t sample)
{
    OpenSource();
    if (m_stream) {
        int64_t at = m_format.DataOffset;
        if (m_format.Kind == wtPCM || m_format.Kind == wtACM)
            at += int64_t{sample} * (m_bits / 8) * m_channels;
        else if (m_format.SamplesPerBlock > 0 || m_format.Kind == wtDVIADPCM) {
            const int32_t perBlock = m_format.Kind == wtDVIADPCM
                                         ? ImaSamplesPerBlock(m_format.BlockAlign, m_format.Channels)
                                         : m_format.SamplesPerBlock;
            if (perBlock > 0)
                at += int64_t{sample / perBlock} * m_format.BlockAlign;
        }
        m_stream->Seek(at);
    }
    CloseSource();
}

int32_t TWaveIn::ReadAudio(void* buffer, int32_t bufferSize)
{
    if (!Active)
        throw EACSException("The Stream is not opened");
    // PCM asked for in whole windows goes straight into the caller's buffer: the same bytes the
    // window would hand out, one copy fewer.
    if (WindowStart > WindowEnd && bufferSize >= BufferSize && !Loop &&
        (m_format.Kind == wtPCM || m_format.Kind == wtACM)) {
        int64_t count = static_cast<int64_t>(m_stream->Read(buffer, BufferSize));
        CheckNotCut(static_cast<std::size_t>(count), BufferSize);
        if (DeliveredBytes + count >= TotalBytes)
            count = TotalBytes - DeliveredBytes;
        if (count <= 0)
            return 0;
        DeliveredBytes += count;
        return static_cast<int32_t>(count);
    }
    if (WindowStart > WindowEnd) {
        if (!Refill()) {
            if (!Loop || TotalBytes <= 0)
                return 0;
            CloseInput();
            OpenInput();
            if (!Refill())
                return 0;
        }
    }
    return CopyFromWindow(m_window.data(), buffer, bufferSize);
}

bool TWaveIn::Refill()
{
    WindowStart = 1;
    WindowEnd = 0;
    switch (m_format.Kind) {
    case wtPCM:
    case wtACM:
        return RefillPcm();
    case wtDVIADPCM:
    case wtMSADPCM:
        return RefillAdpcm();
    default:
        return false;
    }
}

bool TWaveIn::RefillPcm()
{
    m_window.resize(BufferSize);
    int64_t count = static_cast<int64_t>(m_stream->Read(m_window.data(), BufferSize));
    CheckNotCut(static_cast<std::size_t>(count), BufferSize);
    // Delivery stops at the data chunk's size, whatever follows it in the file.
    if (DeliveredBytes + count >= TotalBytes)
        count = TotalBytes - DeliveredBytes;
    if (count <= 0)
        return false;
    WindowEnd = static_cast<int32_t>(count);
    return true;
}

bool TWaveIn::ReadBlock()
{
    if (m_stream->Position() >= m_stream->Size())
        return false;
    const std::size_t got = m_stream->Read(m_block.data(), m_block.size());
    CheckNotCut(got, m_block.size());
    std::fill(m_block.begin() + static_cast<std::ptrdiff_t>(got), m_block.end(), 0);
    return true;
}

void TWaveIn::CheckNotCut(std::size_t got, std::size_t asked)
{
    if (got < asked && m_stream->Position() < m_dataEnd)
        throw EACSException("Cannot read " + FileName + ": the file was cut short while it was read (" +
                            std::to_string(m_stream->Position()) + " of " + std::to_string(m_dataEnd) + " bytes read)");
}

bool TWaveIn::RefillAdpcm()
{
    if (DeliveredBytes >= TotalBytes || !ReadBlock())
        return false;
    m_window.resize(BufferSize);
    auto* out = reinterpret_cast<int16_t*>(m_window.data());
    const int32_t samples =
        m_format.Kind == wtDVIADPCM
            ? DecodeImaBlock(m_block.data(), m_format.BlockAlign, m_channels, out)
            : DecodeMsBlock(m_block.data(), m_format.BlockAlign, m_channels, m_format.SamplesPerBlock,
                            m_format.Coefficients, out);
    if (samples < 0) {
        // A block whose header the decoder cannot follow: the rest of the file is not valid.
        Valid = false;
        return false;
    }
    // The samples are in host order; WAV's are little-endian, as are the machines this runs on.
    static_assert(std::endian::native == std::endian::little);
    // The last block is padded; the "fact" chunk tells how many samples are real.
    const int64_t bytes = std::min<int64_t>(int64_t{samples} * m_channels * 2, TotalBytes - DeliveredBytes);
    WindowEnd = static_cast<int32_t>(bytes);
    return bytes > 0;
}

// --- TWaveOut --------------------------------------------------------------------------------

TWaveOut::TWaveOut()
    : m_buffer(BufferSize)
{
}

TWaveOut::~TWaveOut()
{
    DestroyWorker();
}

void TWaveOut::SetWavType(TWavType type)
{
    if (!Running && (type == wtPCM || type == wtDVIADPCM))
        m_wavType = type;
}

void TWaveOut::SetBlockSize(uint16_t size)
{
    if (!Running && size != 0 && size % 4 == 0)
        m_blockSize = size;
}

void TWaveOut::OpenOutput()
{
    m_endSeen = false;
    m_samplesWritten = 0;
    m_pending.clear();
    m_appending = OpenFileAndInput();
    try {
        const int32_t channels = m_input->GetChannelCount();
        const int32_t rate = m_input->GetSamplingRate();
        const int32_t bits = m_input->GetSampleBits();
        if (m_appending && m_outputStream->Size() > 0) {
            OpenForAppend();
        } else {
            m_appending = false;
            if (m_wavType == wtPCM) {
                const TWavHeader h = CanonicalWavHeader(static_cast<uint64_t>(std::max<int64_t>(m_input->TotalBytes, 0)),
                                                        static_cast<uint16_t>(channels), static_cast<uint32_t>(rate),
                                                        static_cast<uint16_t>(bits));
                m_outputStream->Write(h.data(), h.size());
                if (m_input->TotalBytes > 0)
                    m_outputStream->Reserve(WavHeaderSize + m_input->TotalBytes);
            } else {
                if (bits != 16)
                    throw EACSException("Cannot encode 8 bit sound into ADPCM.");
                if (ImaSamplesPerBlock(m_blockSize, channels) == 0)
                    throw EACSException("Cannot encode " + std::to_string(channels) + " channels into ADPCM blocks of " +
                                        std::to_string(m_blockSize) + " bytes.");
                WriteImaHeader(channels, rate);
            }
        }
        m_channels = channels;
        m_ima.assign(static_cast<std::size_t>(std::max(channels, 1)), TImaChannel{});
    } catch (...) {
        m_outputStream.reset();
        m_input->CloseInput();
        throw;
    }
}

void TWaveOut::OpenForAppend()
{
    m_existing = TWavFormat{};
    m_outputStream->Seek(0);
    WalkWavHeader(*m_outputStream, m_existing);
    if (m_existing.Kind != wtPCM && m_existing.Kind != wtDVIADPCM)
        throw EACSException("Cannot append data to this .wav file.");
    m_wavType = m_existing.Kind;
    const bool same = m_input->GetSamplingRate() == m_existing.SamplesPerSecond &&
                      m_input->GetChannelCount() == m_existing.Channels &&
                      (m_wavType != wtPCM || m_input->GetSampleBits() == m_existing.BitsPerSample) &&
                      (m_wavType != wtDVIADPCM || (m_input->GetSampleBits() == 16 &&
                                                   ImaSamplesPerBlock(m_existing.BlockAlign, m_existing.Channels) > 0));
    if (!same)
        throw EACSException("Cannot append data in different audio format.");
    if (m_wavType == wtDVIADPCM)
        m_blockSize = m_existing.BlockAlign;
    // Past the existing samples (not past chunks that may follow them).
    const int64_t dataEnd = std::min(m_existing.DataOffset + m_existing.DataSize, m_outputStream->Size());
    m_outputStream->Seek(dataEnd);
}

void TWaveOut::WriteImaHeader(int32_t channels, int32_t rate)
{
    const int32_t perBlock = ImaSamplesPerBlock(m_blockSize, channels);
    uint8_t h[60] = {};
    std::memcpy(h, "RIFF", 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 20);
    Put16(h + 20, 17);
    Put16(h + 22, static_cast<uint32_t>(channels));
    Put32(h + 24, static_cast<uint32_t>(rate));
    Put32(h + 28, static_cast<uint32_t>(int64_t{rate} * m_blockSize / perBlock));
    Put16(h + 32, m_blockSize);
    Put16(h + 34, 4);
    Put16(h + 36, 2);
    Put16(h + 38, static_cast<uint32_t>(perBlock));
    std::memcpy(h + 40, "fact", 4);
    Put32(h + 44, 4);
    std::memcpy(h + 52, "data", 4);
    m_outputStream->Write(h, sizeof h);
}

bool TWaveOut::OutputStep(bool abort)
{
    if (const auto ended = BeginStep(abort, m_endSeen))
        return *ended;
    if (m_wavType == wtDVIADPCM)
        return ImaStep();
    // Failures of the read or the write end the run through the error path: a block lost
    // silently would leave a file that looks whole.
    const int32_t n = PullInput(m_buffer.data(), BufferSize);
    if (n <= 0) {
        m_endSeen = true;
        return false;
    }
    m_outputStream->Write(m_buffer.data(), static_cast<std::size_t>(n));
    return true;
}

bool TWaveOut::ImaStep()
{
    const int32_t perBlock = ImaSamplesPerBlock(m_blockSize, m_channels);
    const std::size_t blockBytes = static_cast<std::size_t>(perBlock) * m_channels * 2;
    while (m_pending.size() < blockBytes && !m_endSeen) {
        const int32_t n = PullInput(m_buffer.data(), BufferSize);
        if (n <= 0)
            m_endSeen = true;
        else
            m_pending.insert(m_pending.end(), m_buffer.begin(), m_buffer.begin() + n);
    }
    const std::size_t take = std::min(blockBytes, m_pending.size() / (2 * m_channels) * (2 * m_channels));
    if (take == 0)
        return false;
    std::vector<int16_t> samples(take / 2);
    std::memcpy(samples.data(), m_pending.data(), take);
    std::vector<uint8_t> block(m_blockSize);
    const auto frames = static_cast<int32_t>(take / 2 / static_cast<std::size_t>(m_channels));
    EncodeImaBlock(samples.data(), frames, m_channels, m_blockSize, m_ima.data(), block.data());
    m_outputStream->Write(block.data(), block.size());
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(take));
    m_samplesWritten += frames;
    return !(m_endSeen && m_pending.size() < static_cast<std::size_t>(2 * m_channels));
}

void TWaveOut::CloseOutput()
{
    if (!m_outputStream)
        return;
    // The sizes: rewritten when the input did not announce its size, in append mode (also when
    // the file was missing or empty and got a new header: the announced size is only this run's),
    // and for ADPCM (whose header counts samples).
    const int64_t length = m_outputStream->Size();
    if (m_wavType == wtDVIADPCM) {
        const int64_t dataOffset = m_appending ? m_existing.DataOffset : 60;
        const int64_t factOffset = m_appending ? m_existing.FactOffset : 48;
        const int64_t before = m_appending ? m_existing.FactSamples : 0;
        if (factOffset >= 0)
            WriteAt(*m_outputStream, factOffset, Clamp32(before + m_samplesWritten));
        WriteAt(*m_outputStream, dataOffset - 4, Clamp32(length - dataOffset));
        WriteAt(*m_outputStream, 4, Clamp32(length - 8));
    } else if (m_input->TotalBytes < 0 || m_fileMode == foAppend) {
        const int64_t dataOffset = m_appending ? m_existing.DataOffset : WavHeaderSize;
        WriteAt(*m_outputStream, dataOffset - 4, Clamp32(length - dataOffset));
        WriteAt(*m_outputStream, 4, Clamp32(length - 8));
    }
    auto stream = std::move(m_outputStream);
    try {
        stream->Close();
    } catch (...) {
        m_input->CloseInput();
        throw;
    }
    m_input->CloseInput();
}
