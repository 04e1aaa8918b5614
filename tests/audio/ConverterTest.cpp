#include "ACS_Converters.h"
#include "ACS_Wave.h"

#include "AudioTestSupport.h"
#include "TestSupport.h"

#include <cmath>

namespace {

std::vector<uint8_t> ToBytes(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> b(samples.size() * 2);
    std::memcpy(b.data(), samples.data(), b.size());
    return b;
}

std::vector<int16_t> Tone(int rate, double hz, double seconds, int channels = 1, double amplitude = 12000)
{
    const auto n = static_cast<std::size_t>(rate * seconds);
    std::vector<int16_t> s(n * channels);
    for (std::size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * channels + c] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * (c + 1) * i / rate)));
    return s;
}

// Converts samples through a converter set to outRate; the converter may be given.
std::vector<int16_t> Convert(const std::vector<int16_t>& samples, int inRate, int outRate, int channels = 1,
                             TRateConverter* given = nullptr)
{
    TMemorySource source;
    source.Bytes = ToBytes(samples);
    source.Announced = static_cast<int64_t>(source.Bytes.size());
    source.Rate = inRate;
    source.Channels = channels;
    TRateConverter local;
    TRateConverter& converter = given ? *given : local;
    converter.SetOutSampleRate(outRate);
    converter.SetInput(&source);
    std::vector<int16_t> out = Samples16(ReadAll(converter, 5000));
    converter.SetInput(nullptr);
    return out;
}

// Power of a frequency in a signal (Goertzel), relative to full scale, in dB.
double LevelDb(const std::vector<int16_t>& s, int rate, double hz, std::size_t skip = 0)
{
    const double w = 2 * M_PI * hz / rate;
    double s1 = 0, s2 = 0;
    for (std::size_t i = skip; i < s.size(); ++i) {
        const double v = s[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = v;
    }
    const double n = static_cast<double>(s.size() - skip);
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return 10 * std::log10(power / (n * n / 4) / (32768.0 * 32768.0) + 1e-30);
}

TEST(RateConverterTest, Doubling22050GivesTwiceTheSamplesAsAnnounced)
{
    for (const int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const std::vector<int16_t> in = Tone(22050, 440, 1.37, channels);
        TMemorySource source;
        source.Bytes = ToBytes(in);
        source.Announced = static_cast<int64_t>(source.Bytes.size());
        source.Rate = 22050;
        source.Channels = channels;
        TRateConverter converter;
        converter.SetOutSampleRate(44100);
        converter.SetInput(&source);
        converter.OpenInput();
        const int64_t announced = converter.TotalBytes;
        converter.CloseInput();
        const std::vector<uint8_t> out = ReadAll(converter);
        EXPECT_EQ(out.size(), 2 * source.Bytes.size());
        EXPECT_EQ(static_cast<int64_t>(out.size()), announced);
        EXPECT_EQ(converter.DeliveredBytes, announced);
        EXPECT_EQ(converter.GetSampleBits(), 16);
        EXPECT_EQ(converter.GetSamplingRate(), 44100);
    }
}

TEST(RateConverterTest, ChunkSizeAndCutOffFollowTheRatio)
{
    TMemorySource source;
    source.Rate = 8000;
    source.Channels = 1;
    TRateConverter converter;
    converter.SetOutSampleRate(44100);
    converter.SetInput(&source);
    converter.OpenInput();
    EXPECT_EQ(converter.Ratio, 5.5125f);
    EXPECT_EQ(converter.ChunkBytes, 5944);
    EXPECT_EQ(converter.CutOff, static_cast<float>(0.4L * static_cast<float>(1.0L / 5.5125f)));
    EXPECT_EQ(converter.Phase, -1);
    converter.CloseInput();

    source.Rate = 44100;
    converter.OpenInput();
    EXPECT_EQ(converter.ChunkBytes, 32768);
    EXPECT_EQ(converter.CutOff, 0.4f);
    double sum = 0;
    for (const double tap : converter.Kernel())
        sum += tap;
    EXPECT_NEAR(sum, 1.0, 1e-12);
    EXPECT_EQ(converter.Kernel().size(), 30u);
    converter.CloseInput();

    // Values the converter cannot use are ignored, as are changes while it is open.
    converter.SetKernelWidth(1);
    converter.SetOutSampleRate(0);
    EXPECT_EQ(converter.KernelWidth(), 30);
    EXPECT_EQ(converter.OutSampleRate(), 44100);
    converter.OpenInput();
    converter.SetOutSampleRate(22050);
    converter.SetKernelWidth(10);
    EXPECT_EQ(converter.OutSampleRate(), 44100);
    EXPECT_EQ(converter.KernelWidth(), 30);
    converter.CloseInput();
}

TEST(RateConverterTest, EqualRatesDelayByOneSamplePlusTheFilter)
{
    std::vector<int16_t> impulse(400, 0);
    impulse[100] = 30000;
    const std::vector<int16_t> out = Convert(impulse, 44100, 44100);
    ASSERT_EQ(out.size(), impulse.size());
    const auto peak = std::max_element(out.begin(), out.end()) - out.begin();
    EXPECT_EQ(peak, 100 + 1 + 15);  // one sample of interpolation, 30 taps centred on 15
    const std::vector<double> kernel = BuildKernel(30, 0.4f, fwBlackman);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(out[101 + i], static_cast<int16_t>(std::nearbyint(30000 * kernel[i]))) << i;
}

TEST(RateConverterTest, AFullScaleSquareWaveWrapsWhereItOvershoots)
{
    std::vector<int16_t> square(22050);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 110) % 2 ? -32767 : 32767;
    const std::vector<int16_t> out = Convert(square, 22050, 44100);
    // After a rising edge the filter rings above 32767: those samples come out negative.
    int wrapped = 0;
    for (std::size_t i = 1; i < out.size(); ++i)
        if (out[i - 1] > 20000 && out[i] < -20000)
            ++wrapped;
    EXPECT_GT(wrapped, 10);
}

TEST(RateConverterTest, TheLastSampleCarriesIntoTheNextRun)
{
    TRateConverter converter;
    const std::vector<int16_t> loud(2000, 20000);
    const std::vector<int16_t> silence(2000, 0);
    const std::vector<int16_t> fresh = Convert(silence, 22050, 44100);
    EXPECT_TRUE(std::all_of(fresh.begin(), fresh.end(), [](int16_t s) { return s == 0; }));
    Convert(loud, 22050, 44100, 1, &converter);
    const std::vector<int16_t> after = Convert(silence, 22050, 44100, 1, &converter);
    // The second run starts by interpolating from 20000 down to its first sample.
    EXPECT_GT(*std::max_element(after.begin(), after.begin() + 40), 1000);
}

TEST(RateConverterTest, EightBitInputIsWidenedFirst)
{
    const std::vector<int16_t> tone = Tone(11025, 300, 0.5);
    std::vector<uint8_t> eight(tone.size());
    std::vector<int16_t> widened(tone.size());
    for (std::size_t i = 0; i < tone.size(); ++i) {
        eight[i] = static_cast<uint8_t>((tone[i] >> 8) + 128);
        widened[i] = static_cast<int16_t>((eight[i] - 128) * 256);
    }
    TMemorySource source;
    source.Bytes = eight;
    source.Announced = static_cast<int64_t>(eight.size());
    source.Rate = 11025;
    source.Channels = 1;
    source.Bits = 8;
    TRateConverter converter;
    converter.SetOutSampleRate(44100);
    converter.SetInput(&source);
    const std::vector<int16_t> fromEight = Samples16(ReadAll(converter));
    EXPECT_EQ(converter.TotalBytes, static_cast<int64_t>(fromEight.size() * 2));
    EXPECT_EQ(fromEight, Convert(widened, 11025, 44100));
}

TEST(RateConverterTest, WhatItCannotConvertIsRefused)
{
    TRateConverter converter;
    try {
        converter.OpenInput();
        FAIL();
    } catch (const EACSException& e) {
        EXPECT_STREQ(e.what(), "Input not assigned");
    }
    EXPECT_THROW(converter.GetChannelCount(), EACSException);
    char b[2];
    EXPECT_THROW(converter.ReadAudio(b, 2), EACSException);
    TMemorySource six;
    six.Channels = 6;
    converter.SetInput(&six);
    EXPECT_THROW(converter.OpenInput(), EACSException);
    EXPECT_FALSE(six.Active);
    converter.SetInput(&converter);
    EXPECT_EQ(converter.Input(), &six) << "a converter is not its own input";
}

TEST(RateConverterTest, LoweringKeepsAFractionOfTheFilteredSamples)
{
    const std::vector<int16_t> in = Tone(44100, 500, 1.0);
    const std::vector<int16_t> out = Convert(in, 44100, 22050);
    EXPECT_NEAR(static_cast<double>(out.size()), in.size() / 2.0, 2);
    EXPECT_GT(LevelDb(out, 22050, 500, 100), -12);
}

// The design's formulas worked out here for an impulse, and compared sample for sample: the
// kernel (window over N, not N - 1; the centre tap 2 pi fc), raising by linear interpolation
// scattered through the kernel (rounded once, halves to even), and lowering by filtering at the
// input rate and keeping the samples the phase picks.
TEST(RateConverterTest, AnImpulseComesOutAsTheFormulasSay)
{
    const auto kernel = [](int n, float fc) {
        const long double twoPi = 6.28318530718L, fourPi = 12.56637061436L;
        std::vector<long double> h(static_cast<std::size_t>(n));
        long double sum = 0;
        for (int i = 0; i < n; ++i) {
            const long double w = 0.42L - 0.5L * std::cos(twoPi * i / n) + 0.08L * std::cos(fourPi * i / n);
            const int d = i - n / 2;
            h[i] = d == 0 ? twoPi * fc * w : std::sin(twoPi * fc * d) / d * w;
            sum += h[i];
        }
        std::vector<double> taps;
        for (const long double v : h)
            taps.push_back(static_cast<double>(v / sum));
        return taps;
    };
    std::vector<int16_t> impulse(60, 0);
    impulse[7] = 12345;
    impulse[8] = -4000;
    constexpr int K = 30;

    for (const int in : {22050, 16000}) {
        SCOPED_TRACE(in);
        const int out = 44100;
        const float r = static_cast<float>(static_cast<long double>(out) / in);
        const std::vector<double> h = kernel(K, static_cast<float>(0.4L * static_cast<float>(1.0L / r)));
        std::vector<double> a(impulse.size() * 4 + K, 0.0);
        int phase = 0, f = 0;
        int16_t last = 0;
        for (const int16_t x : impulse) {
            for (; phase < out; phase += in, ++f) {
                const double v = std::nearbyint(static_cast<double>((out - phase) * last + phase * x) / out);
                for (int i = 0; i < K; ++i)
                    a[static_cast<std::size_t>(f + i)] += v * h[static_cast<std::size_t>(i)];
            }
            phase -= out;
            last = x;
        }
        std::vector<int16_t> expected;
        for (int n = 0; n < f; ++n)
            expected.push_back(static_cast<int16_t>(static_cast<int32_t>(std::nearbyint(a[static_cast<std::size_t>(n)]))));
        EXPECT_EQ(Convert(impulse, in, out), expected);
    }

    // Lowering 44100 to 16000, and by exactly 2 to 22050 from a first sample that is not zero
    // (which samples the phase keeps shows there: the first, then every second).
    std::vector<int16_t> fromTheFirst = impulse;
    fromTheFirst[0] = 5000;
    for (const auto& [out, input] : {std::pair{16000, impulse}, std::pair{22050, fromTheFirst}}) {
        SCOPED_TRACE(out);
        const int in = 44100;
        const float r = static_cast<float>(static_cast<long double>(out) / in);
        const std::vector<double> h = kernel(K, static_cast<float>(0.4L * r));
        std::vector<int16_t> expected;
        int phase = out;
        for (int j = 0; j < static_cast<int>(input.size()); ++j) {
            if (phase > out) {
                phase -= out;
                continue;
            }
            long double sum = 0;
            for (int k = 0; k < K; ++k)
                if (j - k >= 0)
                    sum += static_cast<long double>(h[static_cast<std::size_t>(K - 1 - k)]) * input[static_cast<std::size_t>(j - k)];
            expected.push_back(static_cast<int16_t>(static_cast<int32_t>(std::nearbyint(sum))));
            phase += in - out;
        }
        ASSERT_GT(expected.size(), 15u);
        if (out == 22050) {
            ASSERT_EQ(expected.size(), input.size() / 2);
        }
        EXPECT_EQ(Convert(input, in, out), expected);
    }
}

class RateConverterPeerTest : public TempDirTest {};

// sox's resampler is the reference for what the converter should sound like: the same tone comes
// out, and the images that raising leaves above the old band stay far below it.
TEST_F(RateConverterPeerTest, SpectrumAgainstSox)
{
    const std::vector<int16_t> in = Tone(22050, 1000, 2.0, 1, 16000);
    WriteFile("in.raw", std::string(reinterpret_cast<const char*>(in.data()), in.size() * 2));
    ASSERT_EQ(Shell("sox -t raw -r 22050 -e signed -b 16 -c 1 " + Path("in.raw") + " -t raw " + Path("sox.raw") +
                    " rate 44100"),
              0);
    const std::vector<int16_t> sox = Samples16(FileBytes(Path("sox.raw")));
    const std::vector<int16_t> ours = Convert(in, 22050, 44100);
    const double oursTone = LevelDb(ours, 44100, 1000, 200);
    const double soxTone = LevelDb(sox, 44100, 1000, 200);
    EXPECT_NEAR(oursTone, soxTone, 0.5) << "the tone keeps its level";
    // The image of 1000 Hz about the old rate, 22050 - 1000 Hz: measured 113 dB below the tone
    // (sox: 114 dB).
    const double image = LevelDb(ours, 44100, 21050, 200);
    EXPECT_LT(image - oursTone, -90.0) << "image " << image << " dB, tone " << oursTone << " dB";
}

}  // namespace
