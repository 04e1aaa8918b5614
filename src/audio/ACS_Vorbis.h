#pragma once
// TVorbisOut: the file output that encodes its input into an Ogg Vorbis file (libvorbis and
// libvorbisenc for the encoding, libogg for the pages; https://xiph.org/vorbis/doc/). Quality
// mode by default; a nominal bit rate selects the bit-rate manager.

#include "ACS_Classes.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <string>
#include <vector>

enum TVorbisBitRate {
    brAutoSelect = 0, br45, br48, br56, br64, br80, br96, br112, br128, br144, br160, br192, br224, br256, br320, br499
};

// Bits per second of a choice; -1 for brAutoSelect.
int32_t VorbisBitRate(TVorbisBitRate rate);

class TVorbisOut : public TACSFileOut {
public:
    static constexpr int32_t BufferSize = 65536;

    TVorbisOut();
    ~TVorbisOut() override;

    float Compression = 0.2f;               // quality, -0.1 .. 1.0
    std::vector<std::string> Comments;      // "NAME=value" lines; cleared after every run
    int32_t Serial = 0;

    TVorbisBitRate DesiredNominalBitrate() const { return m_nominal; }
    TVorbisBitRate DesiredMaximumBitrate() const { return m_maximum; }
    TVorbisBitRate MinimumBitrate() const { return m_minimum; }
    // Nominal: stored; the minimum follows it down, the maximum up; automatic makes the maximum
    // (and so the whole set-up) automatic.
    void SetDesiredNominalBitrate(TVorbisBitRate v);
    // Only with a nominal rate set, and only automatic or at least the nominal rate.
    void SetDesiredMaximumBitrate(TVorbisBitRate v);
    // Only at most the nominal rate.
    void SetMinimumBitrate(TVorbisBitRate v);

    bool OutputStep(bool abort) override;
    void CloseOutput() override;

protected:
    void OpenOutput() override;

private:
    void WritePage(const ogg_page& page);
    void ClearEncoder();

    TVorbisBitRate m_nominal = brAutoSelect;
    TVorbisBitRate m_maximum = brAutoSelect;
    TVorbisBitRate m_minimum = brAutoSelect;
    bool m_endOfStream = false;
    bool m_encoderReady = false;
    int32_t m_channels = 0;
    bool m_widen = false;                   // 8-bit input
    std::vector<uint8_t> m_buffer;
    ogg_stream_state m_stream{};
    vorbis_info m_info{};
    vorbis_comment m_comment{};
    vorbis_dsp_state m_dsp{};
    vorbis_block m_block{};
};
