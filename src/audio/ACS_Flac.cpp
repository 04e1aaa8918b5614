#include "ACS_Flac.h"

#include "ACS_Streams.h"

#include <FLAC/metadata.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

// --- encoding ----------------------------------------------------------------------------------

TFlacOut::TFlacOut()
    : m_buffer(BufferSize)
{
}

TFlacOut::~TFlacOut()
{
    DestroyWorker();
    m_outputStream.reset();
    DeleteEncoder();
}

void TFlacOut::DeleteEncoder()
{
    if (!m_encoder)
        return;
    // Deleting an encoder that was not finished finishes it, writing through the callbacks:
    // callers take the stream out of its reach first (the callbacks then write nothing).
    FLAC__stream_encoder_delete(m_encoder);
    m_encoder = nullptr;
}

FLAC__StreamEncoderWriteStatus TFlacOut::Write(const FLAC__StreamEncoder*, const FLAC__byte buffer[], size_t bytes,
                                               uint32_t, uint32_t, void* self)
{
    auto* out = static_cast<TFlacOut*>(self);
    if (!out->m_outputStream)
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    try {
        out->m_outputStream->Write(buffer, bytes);
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    } catch (...) {
        // No exception crosses libFLAC: it is kept and raised once the encoder has returned.
        if (!out->m_writeError)
            out->m_writeError = std::current_exception();
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
}

FLAC__StreamEncoderSeekStatus TFlacOut::Seek(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* self)
{
    auto* out = static_cast<TFlacOut*>(self);
    if (!out->m_outputStream)
        return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    try {
        out->m_outputStream->Seek(static_cast<int64_t>(offset));
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    } catch (...) {
        if (!out->m_writeError)
            out->m_writeError = std::current_exception();
        return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
}

FLAC__StreamEncoderTellStatus TFlacOut::Tell(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* self)
{
    auto* out = static_cast<TFlacOut*>(self);
    if (!out->m_outputStream)
        return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *offset = static_cast<FLAC__uint64>(out->m_outputStream->Position());
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

void TFlacOut::Fail(const char* what)
{
    if (m_writeError)
        std::rethrow_exception(std::exchange(m_writeError, nullptr));
    const FLAC__StreamEncoderState state = FLAC__stream_encoder_get_state(m_encoder);
    std::string text = std::string("The FLAC encoder failed ") + what + " " + FileName + ": " +
                       FLAC__StreamEncoderStateString[state];
    if (state == FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA)
        text += " (its verify decoded other samples than it was given)";
    throw EACSException(text);
}

void TFlacOut::OpenOutput()
{
    DeleteEncoder();
    m_writeError = nullptr;
    OpenFileAndInput();
    try {
        m_endOfStream = false;
        m_channels = m_input->GetChannelCount();
        m_bits = m_input->GetSampleBits();
        const int32_t rate = m_input->GetSamplingRate();
        if (m_channels < 1 || m_channels > 8)
            throw EACSException("Cannot encode " + std::to_string(m_channels) + " channels into FLAC: 1 to 8");
        if (m_bits != 8 && m_bits != 16)
            throw EACSException("Cannot encode " + std::to_string(m_bits) + "-bit samples into FLAC");
        m_encoder = FLAC__stream_encoder_new();
        if (!m_encoder)
            throw EACSException("The FLAC encoder cannot be made (out of memory)");
        FLAC__stream_encoder_set_verify(m_encoder, true);
        FLAC__stream_encoder_set_compression_level(m_encoder, static_cast<uint32_t>(std::clamp(Level, 0, 8)));
        FLAC__stream_encoder_set_channels(m_encoder, static_cast<uint32_t>(m_channels));
        FLAC__stream_encoder_set_bits_per_sample(m_encoder, static_cast<uint32_t>(m_bits));
        FLAC__stream_encoder_set_sample_rate(m_encoder, static_cast<uint32_t>(rate));
        if (m_input->TotalBytes > 0)
            FLAC__stream_encoder_set_total_samples_estimate(
                m_encoder, static_cast<FLAC__uint64>(m_input->TotalBytes / (m_channels * (m_bits / 8))));
        const FLAC__StreamEncoderInitStatus init =
            FLAC__stream_encoder_init_stream(m_encoder, Write, Seek, Tell, nullptr, this);
        if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
            if (m_writeError)
                std::rethrow_exception(std::exchange(m_writeError, nullptr));
            throw EACSException("The FLAC encoder cannot encode " + std::to_string(m_channels) + " channels at " +
                                std::to_string(rate) + " Hz: " + FLAC__StreamEncoderInitStatusString[init]);
        }
    } catch (...) {
        m_outputStream.reset();
        DeleteEncoder();
        m_input->CloseInput();
        std::remove(FileName.c_str());  // a file this run created and could not encode into
        throw;
    }
}

bool TFlacOut::OutputStep(bool abort)
{
    if (const auto ended = BeginStep(abort, m_endOfStream))
        return *ended;
    const int32_t n = PullInput(m_buffer.data(), BufferSize);
    if (n <= 0) {
        if (!FLAC__stream_encoder_finish(m_encoder))
            Fail("finishing");
        m_endOfStream = true;
        return true;
    }
    const int32_t bytesPerSample = m_bits / 8;
    const int32_t count = n / bytesPerSample;
    const int32_t frames = count / m_channels;
    m_samples.resize(static_cast<std::size_t>(count));
    if (m_bits == 16) {
        for (int32_t i = 0; i < count; ++i) {
            int16_t s;
            std::memcpy(&s, m_buffer.data() + 2 * i, 2);
            m_samples[static_cast<std::size_t>(i)] = s;
        }
    } else {
        for (int32_t i = 0; i < count; ++i)
            m_samples[static_cast<std::size_t>(i)] = static_cast<int32_t>(m_buffer[static_cast<std::size_t>(i)]) - 128;
    }
    if (frames > 0 && !FLAC__stream_encoder_process_interleaved(m_encoder, m_samples.data(), static_cast<uint32_t>(frames)))
        Fail("writing");
    return true;
}

void TFlacOut::CloseOutput()
{
    // Ended early (Stop), the encoder is not finished: the file stays as far as it was written,
    // with nothing more written into it.
    CloseFileAndInput([this] { DeleteEncoder(); });
}

// --- decoding ----------------------------------------------------------------------------------

TFlacIn::TFlacIn() = default;

TFlacIn::~TFlacIn()
{
    Close();
}

void TFlacIn::Fail(const std::string& why)
{
    throw EACSException("Cannot decode " + FileName + ": " + why);
}

FLAC__StreamDecoderWriteStatus TFlacIn::Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                              const FLAC__int32* const buffer[], void* self)
{
    auto* in = static_cast<TFlacIn*>(self);
    const uint32_t blocksize = frame->header.blocksize;
    const auto channels = static_cast<uint32_t>(in->m_channels);
    const std::size_t bytes = in->m_bits / 8;
    std::vector<uint8_t>& pcm = in->m_pcm;
    if (in->m_pcmAt == pcm.size()) {
        pcm.clear();
        in->m_pcmAt = 0;
    }
    const std::size_t at = pcm.size();
    pcm.resize(at + std::size_t{blocksize} * channels * bytes);
    uint8_t* out = pcm.data() + at;
    for (uint32_t i = 0; i < blocksize; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
            const FLAC__int32 s = buffer[c][i];
            if (bytes == 2) {
                const auto v = static_cast<uint16_t>(static_cast<int16_t>(s));
                *out++ = static_cast<uint8_t>(v);
                *out++ = static_cast<uint8_t>(v >> 8);
            } else {
                *out++ = static_cast<uint8_t>(s + 128);
            }
        }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void TFlacIn::Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* self)
{
    auto* in = static_cast<TFlacIn*>(self);
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
        return;
    const FLAC__StreamMetadata_StreamInfo& info = metadata->data.stream_info;
    in->m_bits = static_cast<int32_t>(info.bits_per_sample);
    in->m_channels = static_cast<int32_t>(info.channels);
    in->m_rate = static_cast<int32_t>(info.sample_rate);
    in->m_totalSamples = info.total_samples;
}

void TFlacIn::Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* self)
{
    auto* in = static_cast<TFlacIn*>(self);
    if (in->m_error.empty())
        in->m_error = FLAC__StreamDecoderErrorStatusString[status];
}

void TFlacIn::Open()
{
    if (m_decoder)
        return;
    m_decoder = FLAC__stream_decoder_new();
    if (!m_decoder)
        Fail("out of memory");
    FLAC__stream_decoder_set_md5_checking(m_decoder, true);
    m_bits = m_channels = m_rate = 0;
    m_error.clear();
    m_pcm.clear();
    m_pcmAt = 0;
    m_ended = false;
    if (FLAC__stream_decoder_init_file(m_decoder, FileName.c_str(), Write, Metadata, Error, this) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        Close();
        Fail(std::string("the file cannot be opened (") + std::strerror(errno) + ")");
    }
    if (!FLAC__stream_decoder_process_until_end_of_metadata(m_decoder) || m_rate == 0) {
        Close();
        Fail("it is not a FLAC file");
    }
    if (m_bits != 8 && m_bits != 16) {
        const int32_t bits = m_bits;
        Close();
        Fail("it holds " + std::to_string(bits) + "-bit samples (Sonvale decodes 8- and 16-bit FLAC files)");
    }
}

void TFlacIn::Close()
{
    if (m_decoder) {
        FLAC__stream_decoder_delete(m_decoder);
        m_decoder = nullptr;
    }
}

int32_t TFlacIn::GetSampleBits()
{
    if (!m_decoder) {
        Open();
        const int32_t v = m_bits;
        Close();
        return v;
    }
    return m_bits;
}

int32_t TFlacIn::GetChannelCount()
{
    if (!m_decoder) {
        Open();
        const int32_t v = m_channels;
        Close();
        return v;
    }
    return m_channels;
}

int32_t TFlacIn::GetSamplingRate()
{
    if (!m_decoder) {
        Open();
        const int32_t v = m_rate;
        Close();
        return v;
    }
    return m_rate;
}

void TFlacIn::OpenInput()
{
    Open();
    DeliveredBytes = 0;
    TotalBytes = m_totalSamples > 0 ? static_cast<int64_t>(m_totalSamples) * m_channels * (m_bits / 8) : -1;
    Active = true;
}

void TFlacIn::CloseInput()
{
    Close();
    Active = false;
}

int32_t TFlacIn::ReadAudio(void* buffer, int32_t bufferSize)
{
    if (!Active)
        throw EACSException("The Stream is not opened");
    while (m_pcmAt == m_pcm.size() && !m_ended) {
        if (!FLAC__stream_decoder_process_single(m_decoder))
            Fail(m_error.empty() ? FLAC__StreamDecoderStateString[FLAC__stream_decoder_get_state(m_decoder)] : m_error);
        if (!m_error.empty())
            Fail("the file is damaged (" + m_error + ")");
        if (FLAC__stream_decoder_get_state(m_decoder) == FLAC__STREAM_DECODER_END_OF_STREAM) {
            m_ended = true;
            // The MD5 of what was decoded against the one the encoder stored.
            if (!FLAC__stream_decoder_finish(m_decoder))
                Fail("the decoded audio does not match the checksum the file holds (MD5)");
            if (m_totalSamples > 0 && DeliveredBytes + static_cast<int64_t>(m_pcm.size() - m_pcmAt) !=
                                          static_cast<int64_t>(m_totalSamples) * m_channels * (m_bits / 8))
                Fail("the file is cut short");
        }
    }
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(bufferSize, 0)), m_pcm.size() - m_pcmAt);
    std::memcpy(buffer, m_pcm.data() + m_pcmAt, n);
    m_pcmAt += n;
    DeliveredBytes += static_cast<int64_t>(n);
    return static_cast<int32_t>(n);
}

bool AddFlacCueSheet(const std::string& path, const TFlacCueSheet& sheet, std::string& error)
{
    FLAC__StreamMetadata* block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_CUESHEET);
    if (!block) {
        error = "out of memory";
        return false;
    }
    FLAC__StreamMetadata_CueSheet& cue = block->data.cue_sheet;
    std::snprintf(cue.media_catalog_number, sizeof cue.media_catalog_number, "%s", sheet.Catalog.c_str());
    cue.lead_in = 2 * 44100;  // a CD's 2 s before sector 0
    cue.is_cd = true;
    bool ok = true;
    unsigned n = 0;
    const auto addTrack = [&](FLAC__uint64 offset, FLAC__byte number, const TFlacCueTrack* from) {
        ok = ok && FLAC__metadata_object_cuesheet_insert_blank_track(block, n);
        if (!ok)
            return;
        FLAC__StreamMetadata_CueSheet_Track& t = cue.tracks[n];
        t.offset = offset;
        t.number = number;
        t.type = 0;  // audio
        if (from) {
            std::snprintf(t.isrc, sizeof t.isrc, "%s", from->Isrc.size() == 12 ? from->Isrc.c_str() : "");
            t.pre_emphasis = from->PreEmphasis;
            // The track starts at its first index; each index counts from there.
            unsigned k = 0;
            for (const auto& [index, at] : {std::pair{0, from->Index0}, std::pair{1, from->Index1}}) {
                if (at < 0)
                    continue;
                ok = ok && FLAC__metadata_object_cuesheet_track_insert_blank_index(block, n, k);
                if (!ok)
                    return;
                cue.tracks[n].indices[k].number = static_cast<FLAC__byte>(index);
                cue.tracks[n].indices[k].offset = static_cast<FLAC__uint64>(at) - offset;
                ++k;
            }
        }
        ++n;
    };
    for (const TFlacCueTrack& track : sheet.Tracks)
        addTrack(static_cast<FLAC__uint64>(track.Index0 >= 0 ? track.Index0 : track.Index1),
                 static_cast<FLAC__byte>(track.Number), &track);
    addTrack(static_cast<FLAC__uint64>(sheet.LeadOut), 170, nullptr);  // the lead-out
    const char* violation = nullptr;
    if (!ok || !FLAC__metadata_object_cuesheet_is_legal(block, true, &violation)) {
        error = std::string("the cue sheet is not a CD's: ") + (violation ? violation : "out of memory");
        FLAC__metadata_object_delete(block);
        return false;
    }
    FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
    FLAC__Metadata_Iterator* it = FLAC__metadata_iterator_new();
    ok = chain && it && FLAC__metadata_chain_read(chain, path.c_str());
    if (ok) {
        FLAC__metadata_iterator_init(it, chain);  // at STREAMINFO: the sheet follows it
        ok = FLAC__metadata_iterator_insert_block_after(it, block);
        if (ok)
            block = nullptr;  // the chain's now
        FLAC__metadata_chain_sort_padding(chain);
        ok = ok && FLAC__metadata_chain_write(chain, true, false);
    }
    if (!ok)
        error = chain ? FLAC__Metadata_ChainStatusString[FLAC__metadata_chain_status(chain)] : "out of memory";
    if (block)
        FLAC__metadata_object_delete(block);
    if (it)
        FLAC__metadata_iterator_delete(it);
    if (chain)
        FLAC__metadata_chain_delete(chain);
    return ok;
}

