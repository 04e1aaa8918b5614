#pragma once
// TRateConverter: a converter that delivers its input's 16-bit audio at OutSampleRate. Raising
// the rate interpolates linearly onto the output grid and low-passes the result with a
// windowed-sinc filter; lowering filters at the input rate and keeps a fraction of the samples.
//
// The arithmetic is fixed to the bit so that two implementations of it agree exactly: r and the
// cut-off in single precision, the kernel in extended precision, the interpolation numerator in
// 32-bit integers, every rounding to nearest with halves to even, and a result beyond the 16-bit
// range keeping its low 16 bits (the filter may overshoot on full-scale square waves).

#include "ACS_Classes.h"

#include <vector>

enum TFilterWindowType { fwHamming = 0, fwHann = 1, fwBlackman = 2 };

// The low-pass filter: taps windowed-sinc taps for cut-off fc (cycles per sample), summing to 1.
std::vector<double> BuildKernel(int32_t taps, float fc, TFilterWindowType window);

class TRateConverter : public TACSConverter {
public:
    static constexpr int32_t OutputBytes = 32768;

    TRateConverter();

    int32_t OutSampleRate() const { return m_outRate; }
    // Above 0, while not Active; other values are ignored.
    void SetOutSampleRate(int32_t rate);
    int32_t KernelWidth() const { return m_kernelWidth; }
    // Above 1, while not Active; other values are ignored.
    void SetKernelWidth(int32_t taps);
    TFilterWindowType FilterWindow = fwBlackman;

    int32_t GetSampleBits() override { return 16; }
    int32_t GetChannelCount() override;
    int32_t GetSamplingRate() override { return m_outRate; }
    int32_t GetDurationSeconds() override { return 0; }
    // Opens the input and sizes everything for its rate. Raises for a missing input and for
    // inputs of more than two channels or other than 8 or 16 bits.
    void OpenInput() override;
    int32_t ReadAudio(void* buffer, int32_t bufferSize) override;
    void CloseInput() override;

    // Working state, readable for tests.
    int32_t ChunkBytes = 0;
    bool InputEnded = false;
    int32_t Phase = -1;
    float Ratio = 0;         // r = OutSampleRate / input rate
    float CutOff = 0;        // fc
    const std::vector<double>& Kernel() const { return m_kernel; }
    // The next run starts from silence, as a new converter does, rather than from the last
    // sample of the previous run (while not Active).
    void ForgetLastSample() { m_last[0] = m_last[1] = 0; }

private:
    // Reads one chunk (as 16-bit samples) into m_in; the bytes read.
    int32_t FillChunk();
    int32_t Raise(int32_t samples);
    int32_t Lower(int32_t samples);

    int32_t m_outRate = 22050;
    int32_t m_kernelWidth = 30;
    int32_t m_inRate = 0;
    int32_t m_channels = 0;        // 1 or 2
    bool m_widen = false;          // the input is 8-bit unsigned
    std::vector<int16_t> m_in;
    std::vector<uint8_t> m_raw;    // 8-bit input before widening
    std::vector<uint8_t> m_out;
    std::vector<double> m_acc;     // raising: the accumulator (pairs for stereo)
    std::vector<double> m_carry;   // raising: partial sums carried to the next chunk
    std::vector<int16_t> m_history;  // lowering: the last K-1 input samples (pairs for stereo)
    std::vector<double> m_kernel;
    std::vector<double> m_spread;  // the kernel, each tap repeated per channel
    int16_t m_last[2] = {0, 0};    // the last input sample of the previous chunk; kept across runs
};
