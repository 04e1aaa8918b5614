#include "ACS_Opus.h"

#include "ACS_Streams.h"

#include <opus/opusenc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

TOpusOut::TOpusOut()
    : m_buffer(BufferSize)
{
}

TOpusOut::~TOpusOut()
{
    DestroyWorker();
    m_outputStream.reset();
    DestroyEncoder();
}

void TOpusOut::DestroyEncoder()
{
    if (m_encoder) {
        ope_encoder_destroy(m_encoder);
        m_encoder = nullptr;
    }
}

int TOpusOut::Write(void* self, const unsigned char* data, int32_t length)
{
    auto* out = static_cast<TOpusOut*>(self);
    if (!out->m_outputStream)
        return 1;
    try {
        out->m_outputStream->Write(data, static_cast<std::size_t>(length));
        return 0;
    } catch (...) {
        // No exception crosses libopusenc: it is kept and raised once the encoder has returned.
        if (!out->m_writeError)
            out->m_writeError = std::current_exception();
        return 1;
    }
}

int TOpusOut::Close(void*)
{
    return 0;  // the stream is closed by CloseOutput, which reports its errors
}

void TOpusOut::Fail(const char* what, int error)
{
    if (m_writeError)
        std::rethrow_exception(std::exchange(m_writeError, nullptr));
    throw EACSException(std::string("The Opus encoder failed ") + what + " " + FileName + ": " + ope_strerror(error));
}

void TOpusOut::OpenOutput()
{
    DestroyEncoder();
    m_writeError = nullptr;
    OpenFileAndInput();
    OggOpusComments* comments = nullptr;
    try {
        m_endOfStream = false;
        m_channels = m_input->GetChannelCount();
        const int32_t bits = m_input->GetSampleBits();
        const int32_t rate = m_input->GetSamplingRate();
        if (m_channels < 1 || m_channels > 2)
            throw EACSException("Cannot encode " + std::to_string(m_channels) + " channels into Opus: only mono and stereo");
        if (bits != 8 && bits != 16)
            throw EACSException("Cannot encode " + std::to_string(bits) + "-bit samples into Opus");
        m_widen = bits == 8;
        comments = ope_comments_create();
        if (!comments)
            throw EACSException("The Opus encoder cannot be made (out of memory)");
        static const OpusEncCallbacks callbacks{Write, Close};
        int error = OPE_OK;
        m_encoder = ope_encoder_create_callbacks(&callbacks, this, comments, rate, m_channels, 0, &error);
        ope_comments_destroy(comments);
        comments = nullptr;
        if (!m_encoder)
            throw EACSException("The Opus encoder cannot encode " + std::to_string(m_channels) + " channels at " +
                                std::to_string(rate) + " Hz: " + ope_strerror(error));
        const int32_t kbits = std::clamp(BitRate, 6, 256);
        if (const int rc = ope_encoder_ctl(m_encoder, OPUS_SET_BITRATE(kbits * 1000)); rc != OPE_OK)
            Fail("setting the bit rate of", rc);
        if (const int rc = ope_encoder_ctl(m_encoder, OPE_SET_SERIALNO(Serial)); rc != OPE_OK)
            Fail("setting the stream serial number of", rc);
    } catch (...) {
        if (comments)
            ope_comments_destroy(comments);
        m_outputStream.reset();
        DestroyEncoder();
        m_input->CloseInput();
        std::remove(FileName.c_str());  // a file this run created and could not encode into
        throw;
    }
}

bool TOpusOut::OutputStep(bool abort)
{
    if (const auto ended = BeginStep(abort, m_endOfStream))
        return *ended;
    const int32_t want = m_widen ? BufferSize / 2 : BufferSize;
    const int32_t n = PullInput(m_buffer.data(), want);
    if (n <= 0) {
        if (const int rc = ope_encoder_drain(m_encoder); rc != OPE_OK)
            Fail("finishing", rc);
        m_endOfStream = true;
        return true;
    }
    int32_t count;
    if (m_widen) {
        count = n;
        m_samples.resize(static_cast<std::size_t>(count));
        for (int32_t i = 0; i < count; ++i)
            m_samples[static_cast<std::size_t>(i)] = static_cast<int16_t>((m_buffer[static_cast<std::size_t>(i)] - 128) * 256);
    } else {
        count = n / 2;
        m_samples.resize(static_cast<std::size_t>(count));
        std::memcpy(m_samples.data(), m_buffer.data(), static_cast<std::size_t>(count) * 2);
    }
    const int frames = count / m_channels;
    if (frames > 0) {
        if (const int rc = ope_encoder_write(m_encoder, m_samples.data(), frames); rc != OPE_OK)
            Fail("writing", rc);
    }
    return true;
}

void TOpusOut::CloseOutput()
{
    // Ended early (Stop), the encoder is not drained: the file stays as far as it was written.
    CloseFileAndInput([this] { DestroyEncoder(); });
}
