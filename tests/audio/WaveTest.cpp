#include "ACS_Wave.h"
#include "WavHeader.h"

#include "AudioTestSupport.h"
#include "TestSupport.h"

#include <cmath>

namespace {

class WaveInTest : public TempDirTest {
protected:
    // A chord made by sox: options before the output name set its coding.
    std::string Sox(const std::string& name, const std::string& format, double seconds = 1.5)
    {
        const std::string path = Path(name);
        EXPECT_EQ(Shell("sox -n " + format + " " + path + " synth " + std::to_string(seconds) +
                        " sine 440 sine 554 sine 659 remix - vol 0.6"),
                  0);
        return path;
    }

    std::vector<uint8_t> Decode(const std::string& path)
    {
        TWaveIn in;
        in.FileName = path;
        return ReadAll(in);
    }

    // A peer's decode to signed 16-bit little-endian samples.
    std::vector<uint8_t> PeerDecode(const std::string& tool, const std::string& path)
    {
        const std::string raw = path + "." + tool + ".raw";
        const int rc = tool == "sox" ? Shell("sox " + path + " -b 16 -e signed-integer -L -t raw " + raw)
                                     : Shell("ffmpeg -y -i " + path + " -f s16le " + raw);
        EXPECT_EQ(rc, 0) << tool;
        return FileBytes(raw);
    }

    void WriteWav(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        WriteFile(name, std::string(bytes.begin(), bytes.end()));
    }
};

// Builds RIFF files chunk by chunk.
struct Riff {
    std::vector<uint8_t> b;
    Riff& Text(const std::string& s)
    {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Riff& U16(uint32_t v)
    {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
        return *this;
    }
    Riff& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    Riff& Bytes(const std::vector<uint8_t>& v)
    {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
    Riff& Chunk(const std::string& id, const std::vector<uint8_t>& body)
    {
        Text(id).U32(static_cast<uint32_t>(body.size())).Bytes(body);
        if (body.size() & 1)
            b.push_back(0);
        return *this;
    }
    static std::vector<uint8_t> Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t align, uint16_t bits,
                                    std::vector<uint8_t> extra = {})
    {
        Riff f;
        f.U16(tag).U16(channels).U32(rate).U32(rate * align).U16(align).U16(bits);
        if (!extra.empty())
            f.U16(static_cast<uint32_t>(extra.size())).Bytes(extra);
        return f.b;
    }
};

// Where two decodes part, over their common length; empty when they agree.
std::string FirstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return "sample " + std::to_string(i) + " of " + std::to_string(n) + ": " + std::to_string(a[i]) +
                   " against " + std::to_string(b[i]) + " (lengths " + std::to_string(a.size()) + ", " +
                   std::to_string(b.size()) + ")";
    return "";
}

std::vector<uint8_t> Ramp(std::size_t n)
{
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

TEST_F(WaveInTest, PcmFilesDeliverExactlyTheirData)
{
    struct Case {
        const char* format;
        int rate, channels, bits;
    } cases[] = {
        {"-r 8000 -c 1 -b 8", 8000, 1, 8},
        {"-r 22050 -c 2 -b 8", 22050, 2, 8},
        {"-r 11025 -c 1 -b 16", 11025, 1, 16},
        {"-r 44100 -c 2 -b 16", 44100, 2, 16},
        {"-r 48000 -c 2 -b 16", 48000, 2, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string path = Sox("pcm.wav", c.format);
        TWaveIn in;
        in.FileName = path;
        EXPECT_EQ(in.GetSamplingRate(), c.rate);
        EXPECT_EQ(in.GetChannelCount(), c.channels);
        EXPECT_EQ(in.GetSampleBits(), c.bits);
        EXPECT_EQ(in.OpenCount, 0) << "a format query leaves the file closed";
        const std::vector<uint8_t> file = FileBytes(path);
        const std::vector<uint8_t> data = Decode(path);
        ASSERT_FALSE(data.empty());
        // sox writes a plain 44-byte header for these.
        EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 44)) << "delivered bytes differ from the file";
        EXPECT_EQ(data.size(), file.size() - 44);
        EXPECT_EQ(data.size(), static_cast<std::size_t>(std::lround(1.5 * c.rate)) * c.channels * (c.bits / 8));
    }
}

TEST_F(WaveInTest, TheHeaderWalkFollowsItsRules)
{
    const std::vector<uint8_t> data = Ramp(1000);
    const std::vector<uint8_t> fmt = Riff::Fmt(1, 2, 44100, 4, 16);
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::size_t expected;  // bytes delivered
    } cases[] = {
        {"plain", Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", fmt).Chunk("data", data).b, 1000},
        {"lower-case identifiers", Riff().Text("riff").U32(0).Text("wave").Chunk("fmt ", fmt).Chunk("DATA", data).b,
         1000},
        {"odd LIST before data",
         Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", fmt).Chunk("LIST", Ramp(17)).Chunk("data", data).b,
         1000},
        {"chunks after data",
         Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", fmt).Chunk("data", data).Chunk("LIST", Ramp(300)).b,
         1000},
        {"junk before RIFF", Riff().Text("junk!").Text("RIFF").U32(0).Text("xxWAVE").Chunk("fmt ", fmt).Chunk("data", data).b,
         1000},
        {"floating point", Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(3, 2, 44100, 8, 32)).Chunk("data", data).b,
         0},
        {"no data chunk", Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", fmt).b, 0},
        {"data beyond 8192 bytes",
         Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", fmt).Chunk("LIST", Ramp(9000)).Chunk("data", data).b, 0},
        {"not RIFF at all", Ramp(500), 0},
        {"empty", {}, 0},
        {"ADPCM without fact",
         Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(17, 1, 22050, 256, 4, {0xF9, 0x01})).Chunk("data", Ramp(256)).b,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWav("h.wav", c.file);
        const std::vector<uint8_t> got = Decode(Path("h.wav"));
        EXPECT_EQ(got.size(), c.expected);
        if (c.expected) {
            EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
        }
    }
}

TEST_F(WaveInTest, AnUnreadableKindKeepsThePreviousFormatValues)
{
    const std::string first = Sox("first.wav", "-r 22050 -c 1 -b 16");
    WriteWav("float.wav", Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(3, 2, 96000, 8, 32)).Chunk("data", Ramp(64)).b);
    TWaveIn in;
    in.FileName = first;
    EXPECT_EQ(in.GetSamplingRate(), 22050);
    in.FileName = Path("float.wav");
    EXPECT_EQ(in.GetSamplingRate(), 22050);
    EXPECT_TRUE(ReadAll(in).empty());
    EXPECT_FALSE(in.Valid);
}

TEST_F(WaveInTest, BrokenPcmFormatsRaiseAClearError)
{
    for (const auto& [channels, bits] : {std::pair{0, 16}, std::pair{2, 4}, std::pair{2, 0}}) {
        WriteWav("bad.wav", Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(1, channels, 44100, 4, bits)).Chunk("data", Ramp(100)).b);
        TWaveIn in;
        in.FileName = Path("bad.wav");
        EXPECT_THROW(in.OpenInput(), EACSException) << channels << " channels, " << bits << " bits";
        EXPECT_FALSE(in.Active);
    }
    TWaveIn none;
    EXPECT_THROW(none.OpenInput(), EACSException);
    char b[4];
    EXPECT_THROW(none.ReadAudio(b, 4), EACSException);
}

TEST_F(WaveInTest, AdpcmDecodesLikeThePeers)
{
    // sox writes both codings; its own decoder and ffmpeg's are the references.
    struct Case {
        const char* format;
        int channels;
    } cases[] = {
        {"-r 22050 -c 1 -e ima-adpcm", 1}, {"-r 44100 -c 2 -e ima-adpcm", 2},
        {"-r 22050 -c 1 -e ms-adpcm", 1},  {"-r 44100 -c 2 -e ms-adpcm", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string path = Sox("adpcm.wav", c.format);
        const std::vector<int16_t> ours = Samples16(Decode(path));
        ASSERT_GT(ours.size(), 1000u);
        const std::vector<int16_t> sox = Samples16(PeerDecode("sox", path));
        const std::vector<int16_t> ffmpeg = Samples16(PeerDecode("ffmpeg", path));
        // The fact chunk's count: 1.5 s of samples.
        EXPECT_EQ(ours.size(), static_cast<std::size_t>(std::lround(1.5 * (c.channels == 1 ? 22050 : 44100))) * c.channels);
        // Each peer rounds one rule its own way: ffmpeg 5.1 computes the IMA difference by a
        // multiplication (off by one now and then), sox shifts the MS prediction (rounding
        // toward minus infinity). Ours follows the published algorithms, so it equals sox's IMA
        // decode and ffmpeg's MS decode sample for sample.
        const std::string againstSox = FirstDifference(ours, sox);
        const std::string againstFfmpeg = FirstDifference(ours, ffmpeg);
        if (std::string(c.format).find("ima") != std::string::npos)
            EXPECT_EQ(againstSox, "");
        else
            EXPECT_EQ(againstFfmpeg, "");
    }
}

// The IMA predictor is held within -32767..32767 (not -32768): a mono block starting near either
// end at step index 88 (step 32767), whose codes push it further out.
TEST(ImaLimitsTest, ThePredictorStopsAtItsLimits)
{
    struct Case {
        int16_t start;
        uint8_t codes;      // two 4-bit codes, low nibble first
        int16_t first, second;
    } cases[] = {
        {-32700, 0xFF, -32767, -32767},  // 8 + 7: the largest step down, twice
        {-32700, 0x8F, -32767, -32767},  // the smallest step down from the limit (8 + 0) stays at it
        {32700, 0x77, 32767, 32767},     // the largest step up
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        const auto u = static_cast<uint16_t>(c.start);
        const uint8_t block[8] = {static_cast<uint8_t>(u & 0xFF), static_cast<uint8_t>(u >> 8), 88, 0, c.codes, 0, 0, 0};
        int16_t out[9] = {};
        ASSERT_EQ(DecodeImaBlock(block, sizeof block, 1, out), 9);
        EXPECT_EQ(out[0], c.start);
        EXPECT_EQ(out[1], c.first);
        EXPECT_EQ(out[2], c.second);
    }
}

TEST_F(WaveInTest, ImaMonoBlocksOf256BytesHold505Samples)
{
    EXPECT_EQ(ImaSamplesPerBlock(256, 1), 505);
    EXPECT_EQ(ImaSamplesPerBlock(256, 2), 249);
    EXPECT_EQ(ImaSamplesPerBlock(1024, 2), 1017);
    // A file of exactly two such blocks: 1010 samples.
    std::vector<uint8_t> blocks(512, 0x77);
    blocks[2] = 10;
    blocks[256 + 2] = 20;
    WriteWav("ima.wav", Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(17, 1, 22050, 256, 4, {0xF9, 0x01}))
                            .Chunk("fact", Riff().U32(1010).b).Chunk("data", blocks).b);
    EXPECT_EQ(Decode(Path("ima.wav")).size(), 1010u * 2);
}

TEST_F(WaveInTest, HeaderValuesThatWouldIndexPastTablesRefuseTheFile)
{
    std::vector<uint8_t> msCoefficients;
    const int16_t standard[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
    Riff ms;
    ms.U16(500).U16(7);
    for (const auto& pair : standard)
        ms.U16(static_cast<uint16_t>(pair[0])).U16(static_cast<uint16_t>(pair[1]));
    const auto msFile = [&](std::vector<uint8_t> extra, uint16_t align, std::vector<uint8_t> data) {
        return Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(2, 1, 22050, align, 4, extra))
            .Chunk("fact", Riff().U32(500).b).Chunk("data", data).b;
    };
    std::vector<uint8_t> goodBlock(256, 0x11);
    goodBlock[0] = 1;  // predictor index 1 of 7
    goodBlock[1] = 16;
    std::vector<uint8_t> badPredictor = goodBlock;
    badPredictor[0] = 7;
    Riff tooMany;
    tooMany.U16(500).U16(33);
    for (int i = 0; i < 33; ++i)
        tooMany.U16(256).U16(0);
    Riff spbTooBig;
    spbTooBig.U16(9000).U16(7);
    for (const auto& pair : standard)
        spbTooBig.U16(static_cast<uint16_t>(pair[0])).U16(static_cast<uint16_t>(pair[1]));

    std::vector<uint8_t> imaBlock(256, 0x33);
    imaBlock[2] = 89;  // step index beyond the table
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        bool delivers;
    } cases[] = {
        {"MS good", msFile(ms.b, 256, goodBlock), true},
        {"MS predictor index beyond the pairs", msFile(ms.b, 256, badPredictor), false},
        {"MS 33 coefficient pairs", msFile(tooMany.b, 256, goodBlock), false},
        {"MS block too small for its samples", msFile(spbTooBig.b, 256, goodBlock), false},
        {"MS block size 0", msFile(ms.b, 0, goodBlock), false},
        {"IMA step index 89",
         Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(17, 1, 22050, 256, 4, {0xF9, 0x01}))
             .Chunk("fact", Riff().U32(505).b).Chunk("data", imaBlock).b,
         false},
        {"IMA block size 0",
         Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(17, 1, 22050, 0, 4, {0xF9, 0x01}))
             .Chunk("fact", Riff().U32(505).b).Chunk("data", imaBlock).b,
         false},
        {"IMA block decoding past 16384 bytes",
         Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(17, 1, 22050, 8192, 4, {0xF9, 0x01}))
             .Chunk("fact", Riff().U32(505).b).Chunk("data", imaBlock).b,
         false},
        {"IMA three channels",
         Riff().Text("RIFF").U32(0).Text("WAVE").Chunk("fmt ", Riff::Fmt(17, 3, 22050, 256, 4, {0xF9, 0x01}))
             .Chunk("fact", Riff().U32(505).b).Chunk("data", imaBlock).b,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWav("x.wav", c.file);
        EXPECT_EQ(!Decode(Path("x.wav")).empty(), c.delivers);
    }
}

TEST_F(WaveInTest, Mp3InsideWavDecodesLikeFfmpeg)
{
    const std::string path = Path("mp3.wav");
    ASSERT_EQ(Shell("ffmpeg -y -f lavfi -i 'sine=frequency=440:duration=2' -f lavfi -i "
                    "'sine=frequency=660:duration=2' -filter_complex amerge -ar 44100 -c:a libmp3lame -b:a 128k "
                    "-f wav " + path),
              0);
    // A LIST chunk after the data must not be taken as audio.
    ASSERT_EQ(Shell("printf 'LIST\\x04\\x00\\x00\\x00abcd' >> " + path), 0);
    TWaveIn in;
    in.FileName = path;
    EXPECT_EQ(in.GetSamplingRate(), 44100);
    EXPECT_EQ(in.GetChannelCount(), 2);
    EXPECT_EQ(in.GetSampleBits(), 16);
    EXPECT_EQ(in.WavType(), wtACM);
    const std::vector<int16_t> ours = Samples16(ReadAll(in));
    const std::vector<int16_t> ffmpeg = Samples16(PeerDecode("ffmpeg", path));
    ASSERT_FALSE(ours.empty());
    // Lengths within two frames of 1152 samples (the decoders differ in the encoder delay they
    // drop), and the same level.
    EXPECT_LE(std::abs(static_cast<long>(ours.size()) - static_cast<long>(ffmpeg.size())), 2 * 1152 * 2);
    const auto rms = [](const std::vector<int16_t>& v) {
        double sum = 0;
        for (const int16_t s : v)
            sum += double(s) * s;
        return std::sqrt(sum / static_cast<double>(v.size()));
    };
    EXPECT_NEAR(rms(ours) / rms(ffmpeg), 1.0, 0.05);
    // No silence padded on from a size estimate: the last 100 ms are still the tone.
    std::vector<int16_t> tail(ours.end() - 8820, ours.end());
    EXPECT_GT(rms(tail), rms(ours) * 0.5);
}

// --- TWaveOut ---

class WaveOutTest : public TempDirTest {
protected:
    // Runs the output to its end (or error) and waits for it.
    bool Run(TWaveOut& out)
    {
        TSignal finished;
        out.OnDone = [&](TACSComponent*) { finished.Set(); };
        out.OnThreadException = [&](TACSComponent*, const std::exception&) { finished.Set(); };
        out.Start();  // a failure to open raises OnThreadException at once, on this thread
        const bool ended = finished.WaitFor();
        // The worker finishes the step that raised the event and parks; only then may the test
        // change the output or let the signal go.
        out.SuspendWorker();
        return ended;
    }
};

TEST_F(WaveOutTest, CopiesAWaveFileThroughThePipe)
{
    ASSERT_EQ(Shell("sox -n -r 22050 -c 2 -b 16 " + Path("in.wav") + " synth 2 sine 300 sine 500"), 0);
    TWaveIn in;
    in.FileName = Path("in.wav");
    TWaveOut out;
    out.SetInput(&in);
    out.FileName = Path("out.wav");
    ASSERT_TRUE(Run(out));
    EXPECT_EQ(out.State(), osIdle);
    EXPECT_EQ(FileBytes(Path("out.wav")), FileBytes(Path("in.wav")));
    EXPECT_EQ(out.LastProgress, 100);
}

TEST_F(WaveOutTest, TheAnnouncedSizeStaysInTheHeader)
{
    TMemorySource source;
    source.Bytes = Ramp(2000);
    source.Announced = 1000;
    TWaveOut out;
    out.SetInput(&source);
    out.FileName = Path("a.wav");
    ASSERT_TRUE(Run(out));
    const std::vector<uint8_t> file = FileBytes(Path("a.wav"));
    ASSERT_EQ(file.size(), 44u + 2000);
    EXPECT_EQ(file[40] | file[41] << 8, 1000);

    // A source that cannot tell its size: the sizes come from the file at the end.
    source.Announced = -1;
    ASSERT_TRUE(Run(out));
    const std::vector<uint8_t> measured = FileBytes(Path("a.wav"));
    EXPECT_EQ(measured[40] | measured[41] << 8, 2000);
    EXPECT_EQ(measured[4] | measured[5] << 8, 2036);
}

TEST_F(WaveOutTest, ImaAdpcmWritingIsReadBackByTheDecoderAndSox)
{
    ASSERT_EQ(Shell("sox -n -r 22050 -c 2 -b 16 " + Path("in.wav") + " synth 1 sine 300 sine 500 vol 0.5"), 0);
    TWaveIn in;
    in.FileName = Path("in.wav");
    TWaveOut out;
    out.SetInput(&in);
    out.SetWavType(wtDVIADPCM);
    out.SetBlockSize(1024);
    out.FileName = Path("ima.wav");
    ASSERT_TRUE(Run(out));
    const std::vector<uint8_t> file = FileBytes(Path("ima.wav"));
    ASSERT_GE(file.size(), 60u);
    EXPECT_EQ(file[20], 17);                                     // IMA ADPCM
    EXPECT_EQ(file[38] | file[39] << 8, 1017);                   // samples per block, stereo 1024
    // Bytes a second: 22050 x 1024 / 1017 = 22201.77, cut to 22201 (not rounded, not the PCM rate).
    EXPECT_EQ(file[28] | file[29] << 8 | file[30] << 16 | file[31] << 24, 22201);
    EXPECT_EQ(file[48] | file[49] << 8 | file[50] << 16, 22050); // fact: every sample
    // sox decodes our file as our decoder does, and close to the original.
    TWaveIn back;
    back.FileName = Path("ima.wav");
    const std::vector<int16_t> ours = Samples16(ReadAll(back));
    const std::vector<uint8_t> soxBytes = [&] {
        EXPECT_EQ(Shell("sox " + Path("ima.wav") + " -b 16 -e signed-integer -t raw " + Path("ima.raw")), 0);
        return FileBytes(Path("ima.raw"));
    }();
    const std::vector<int16_t> sox = Samples16(soxBytes);
    const std::vector<uint8_t> input = FileBytes(Path("in.wav"));
    const std::vector<int16_t> original = Samples16(std::vector<uint8_t>(input.begin() + 44, input.end()));
    ASSERT_EQ(ours.size(), original.size());
    EXPECT_TRUE(std::equal(sox.begin(), sox.begin() + static_cast<std::ptrdiff_t>(std::min(sox.size(), ours.size())),
                           ours.begin()));
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        signal += double(original[i]) * original[i];
        noise += double(ours[i] - original[i]) * (ours[i] - original[i]);
    }
    EXPECT_GT(10 * std::log10(signal / noise), 25.0) << "IMA ADPCM keeps a tone well above its noise";

    // 8-bit input cannot be coded.
    ASSERT_EQ(Shell("sox -n -r 8000 -c 1 -b 8 " + Path("8.wav") + " synth 0.1 sine 300"), 0);
    in.FileName = Path("8.wav");
    std::string error;
    out.OnThreadException = [&](TACSComponent*, const std::exception& e) { error = e.what(); };
    out.OnDone = nullptr;
    out.Start();
    EXPECT_EQ(error, "Cannot encode 8 bit sound into ADPCM.");
    EXPECT_EQ(out.State(), osIdle);
}

TEST_F(WaveOutTest, AppendingKeepsTheFormatOrRefuses)
{
    TMemorySource source;
    source.Bytes = Ramp(400);
    source.Announced = 400;
    TWaveOut out;
    out.SetInput(&source);
    out.FileName = Path("grow.wav");
    ASSERT_TRUE(Run(out));
    out.SetFileMode(foAppend);
    ASSERT_TRUE(Run(out));
    const std::vector<uint8_t> file = FileBytes(Path("grow.wav"));
    ASSERT_EQ(file.size(), 44u + 800);
    EXPECT_EQ(file[40] | file[41] << 8, 800);
    EXPECT_EQ(file[4] | file[5] << 8, 836);

    std::string error;
    out.OnThreadException = [&](TACSComponent*, const std::exception& e) { error = e.what(); };
    source.Rate = 22050;
    out.Start();
    EXPECT_EQ(error, "Cannot append data in different audio format.");
    EXPECT_EQ(FileBytes(Path("grow.wav")), file);

    ASSERT_EQ(Shell("sox -n -r 22050 -c 2 -e ms-adpcm " + Path("ms.wav") + " synth 0.2 sine 300"), 0);
    out.FileName = Path("ms.wav");
    const std::vector<uint8_t> msBefore = FileBytes(Path("ms.wav"));
    out.Start();
    EXPECT_EQ(error, "Cannot append data to this .wav file.");
    EXPECT_EQ(FileBytes(Path("ms.wav")), msBefore);
}

// In append mode a missing or empty file gets a new header, and its sizes are those of what was
// written, whatever the source announced (here half of what it delivers).
TEST_F(WaveOutTest, AppendingToAMissingOrEmptyFileWritesTheRealLength)
{
    TMemorySource source;
    source.Bytes = Ramp(4000);
    source.Announced = 2000;
    TWaveOut out;
    out.SetInput(&source);
    out.SetFileMode(foAppend);
    WriteFile("empty.wav", "");
    for (const char* name : {"missing.wav", "empty.wav"}) {
        SCOPED_TRACE(name);
        out.FileName = Path(name);
        ASSERT_TRUE(Run(out));
        const std::vector<uint8_t> file = FileBytes(Path(name));
        ASSERT_EQ(file.size(), 44u + 4000);
        EXPECT_EQ(file[40] | file[41] << 8, 4000);
        EXPECT_EQ(file[4] | file[5] << 8, 4036);
        EXPECT_EQ(CommandOutput("soxi -s " + Path(name)), "1000\n");  // frames of 4 bytes
    }
}

}  // namespace
