#pragma once
// Opus through libopusenc, in the process: 8- or 16-bit PCM, mono or stereo, at any rate (the
// library resamples to 48 kHz and trims its pre-skip and padding, so the file plays exactly the
// input's length).

#include "ACS_Classes.h"

#include <exception>
#include <vector>

struct OggOpusEnc;

class TOpusOut : public TACSFileOut {
public:
    static constexpr int32_t BufferSize = 65536;

    TOpusOut();
    ~TOpusOut() override;

    int32_t BitRate = 160;  // kbit/s, 6..256
    // The Ogg stream's serial number: fixed (as the Vorbis output's), so that the same audio
    // and tags always make the same file.
    int32_t Serial = 0;

    bool OutputStep(bool abort) override;
    void CloseOutput() override;

protected:
    void OpenOutput() override;

private:
    static int Write(void* self, const unsigned char* data, int32_t length);
    static int Close(void* self);
    [[noreturn]] void Fail(const char* what, int error);
    void DestroyEncoder();

    OggOpusEnc* m_encoder = nullptr;
    bool m_endOfStream = false;
    int32_t m_channels = 0;
    bool m_widen = false;
    std::vector<uint8_t> m_buffer;
    std::vector<int16_t> m_samples;
    std::exception_ptr m_writeError;
};
