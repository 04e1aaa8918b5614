#include "ACS_Vorbis.h"

#include <vorbis/vorbisenc.h>

#include <cstdio>

int32_t VorbisBitRate(TVorbisBitRate rate)
{
    static const int32_t rates[] = {-1,     45000,  48000,  56000,  64000,  80000,  96000,  112000,
                                    128000, 144000, 160000, 192000, 224000, 256000, 320000, 499000};
    return rates[rate];
}

TVorbisOut::TVorbisOut()
    : m_buffer(BufferSize)
{
}

TVorbisOut::~TVorbisOut()
{
    DestroyWorker();
    ClearEncoder();
}

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate v)
{
    m_nominal = v;
    if (v < m_minimum)
        m_minimum = v;
    if (m_maximum < v)
        m_maximum = v;
    if (v == brAutoSelect)
        m_maximum = brAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate v)
{
    if (m_nominal != brAutoSelect && (v == brAutoSelect || v >= m_nominal))
        m_maximum = v;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate v)
{
    if (v <= m_nominal)
        m_minimum = v;
}

void TVorbisOut::ClearEncoder()
{
    if (!m_encoderReady)
        return;
    ogg_stream_clear(&m_stream);
    vorbis_block_clear(&m_block);
    vorbis_dsp_clear(&m_dsp);
    vorbis_comment_clear(&m_comment);
    vorbis_info_clear(&m_info);
    m_encoderReady = false;
}

void TVorbisOut::WritePage(const ogg_page& page)
{
    m_outputStream->Write(page.header, static_cast<std::size_t>(page.header_len));
    m_outputStream->Write(page.body, static_cast<std::size_t>(page.body_len));
}

void TVorbisOut::OpenOutput()
{
    ClearEncoder();
    OpenFileAndInput();
    const bool appending = m_fileMode == foAppend && m_outputStream->Size() > 0;
    try {
        if (appending)
            m_outputStream->Seek(m_outputStream->Size());
        m_endOfStream = false;
        m_channels = m_input->GetChannelCount();
        const int32_t rate = m_input->GetSamplingRate();
        const int32_t bits = m_input->GetSampleBits();
        if (m_channels < 1 || m_channels > 2)
            throw EACSException("Cannot encode " + std::to_string(m_channels) +
                                " channels into Ogg Vorbis: only mono and stereo");
        if (bits != 8 && bits != 16)
            throw EACSException("Cannot encode " + std::to_string(bits) + "-bit samples into Ogg Vorbis");
        m_widen = bits == 8;

        vorbis_info_init(&m_info);
        int rc;
        std::string setup;
        if (m_nominal == brAutoSelect) {
            rc = vorbis_encode_init_vbr(&m_info, m_channels, rate, Compression);
            char quality[32];
            std::snprintf(quality, sizeof quality, "quality %.2f", static_cast<double>(Compression));
            setup = quality;
        } else {
            const long nominal = VorbisBitRate(m_nominal);
            long maximum = VorbisBitRate(m_maximum);
            if (maximum < nominal)
                maximum = nominal;
            long minimum = VorbisBitRate(m_minimum);
            if (minimum == -1)
                minimum = nominal;
            rc = vorbis_encode_init(&m_info, m_channels, rate, maximum, nominal, minimum);
            setup = "bit rates " + std::to_string(minimum) + " / " + std::to_string(nominal) + " / " +
                    std::to_string(maximum) + " bit/s (minimum / nominal / maximum)";
        }
        if (rc != 0) {
            vorbis_info_clear(&m_info);
            throw EACSException("The Ogg Vorbis encoder cannot encode " + std::to_string(m_channels) +
                                (m_channels == 1 ? " channel" : " channels") + " at " + std::to_string(rate) +
                                " Hz with " + setup);
        }
        vorbis_comment_init(&m_comment);
        for (const std::string& line : Comments) {
            const auto eq = line.find('=');
            const std::string name = line.substr(0, eq);
            const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
            vorbis_comment_add_tag(&m_comment, name.c_str(), value.c_str());
        }
        vorbis_analysis_init(&m_dsp, &m_info);
        vorbis_block_init(&m_dsp, &m_block);
        ogg_stream_init(&m_stream, Serial);
        m_encoderReady = true;

        ogg_packet identification, comment, codebooks;
        vorbis_analysis_headerout(&m_dsp, &m_comment, &identification, &comment, &codebooks);
        ogg_stream_packetin(&m_stream, &identification);
        ogg_stream_packetin(&m_stream, &comment);
        ogg_stream_packetin(&m_stream, &codebooks);
        // The audio starts on a page of its own.
        ogg_page page;
        while (ogg_stream_flush(&m_stream, &page) != 0)
            WritePage(page);
    } catch (...) {
        ClearEncoder();
        m_outputStream.reset();
        m_input->CloseInput();
        // A file this run created and could not encode into is not left behind.
        if (!appending)
            std::remove(FileName.c_str());
        throw;
    }
}

bool TVorbisOut::OutputStep(bool abort)
{
    if (const auto ended = BeginStep(abort, m_endOfStream))
        return *ended;
    // 8-bit input fills half the buffer and is widened in place to 16-bit samples.
    const int32_t want = m_widen ? BufferSize / 2 : BufferSize;
    const int32_t n = PullInput(m_buffer.data(), want);
    int32_t bytes = n;
    if (n > 0 && m_widen) {
        for (int32_t i = n - 1; i >= 0; --i) {
            const auto s = static_cast<int16_t>((m_buffer[static_cast<std::size_t>(i)] - 128) * 256);
            m_buffer[static_cast<std::size_t>(2 * i)] = static_cast<uint8_t>(s);
            m_buffer[static_cast<std::size_t>(2 * i + 1)] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
        }
        bytes = 2 * n;
    }
    const auto* samples = reinterpret_cast<const int16_t*>(m_buffer.data());
    if (bytes > 0 && m_channels == 2) {
        const int32_t frames = bytes / 4;
        float** out = vorbis_analysis_buffer(&m_dsp, 16384);
        for (int32_t i = 0; i < frames; ++i) {
            out[0][i] = samples[2 * i] / 32768.0f;
            out[1][i] = samples[2 * i + 1] / 32768.0f;
        }
        vorbis_analysis_wrote(&m_dsp, frames);
    } else if (bytes > 0) {
        const int32_t count = bytes / 2;
        float** out = vorbis_analysis_buffer(&m_dsp, 32768);
        for (int32_t i = 0; i < count; ++i)
            out[0][i] = samples[i] / 32768.0f;
        vorbis_analysis_wrote(&m_dsp, count);
    } else {
        vorbis_analysis_wrote(&m_dsp, 0);  // the end of the stream
    }
    while (vorbis_analysis_blockout(&m_dsp, &m_block) == 1) {
        vorbis_analysis(&m_block, nullptr);
        vorbis_bitrate_addblock(&m_block);
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(&m_dsp, &packet) == 1) {
            ogg_stream_packetin(&m_stream, &packet);
            ogg_page page;
            while (!m_endOfStream && ogg_stream_pageout(&m_stream, &page) != 0) {
                WritePage(page);
                if (ogg_page_eos(&page))
                    m_endOfStream = true;
            }
        }
    }
    return true;
}

void TVorbisOut::CloseOutput()
{
    CloseFileAndInput([this] {
        Comments.clear();
        ClearEncoder();
    });
}
