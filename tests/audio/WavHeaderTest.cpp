#include "WavHeader.h"

#include "TestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

uint32_t Read32(const TWavHeader& h, int at)
{
    return h[at] | h[at + 1] << 8 | h[at + 2] << 16 | static_cast<uint32_t>(h[at + 3]) << 24;
}

uint16_t Read16(const TWavHeader& h, int at)
{
    return static_cast<uint16_t>(h[at] | h[at + 1] << 8);
}

TEST(WavHeaderTest, CdAudioHeaderByteByByte)
{
    const TWavHeader h = CanonicalWavHeader(23520);
    EXPECT_EQ(std::memcmp(&h[0], "RIFF", 4), 0);
    EXPECT_EQ(Read32(h, 4), 23520u + 36);
    EXPECT_EQ(std::memcmp(&h[8], "WAVEfmt ", 8), 0);
    EXPECT_EQ(Read32(h, 16), 16u);
    EXPECT_EQ(Read16(h, 20), 1);
    EXPECT_EQ(Read16(h, 22), 2);
    EXPECT_EQ(Read32(h, 24), 44100u);
    EXPECT_EQ(Read32(h, 28), 176400u);
    EXPECT_EQ(Read16(h, 32), 4);
    EXPECT_EQ(Read16(h, 34), 16);
    EXPECT_EQ(std::memcmp(&h[36], "data", 4), 0);
    EXPECT_EQ(Read32(h, 40), 23520u);

    const TWavHeader mono8 = CanonicalWavHeader(100, 1, 8000, 8);
    EXPECT_EQ(Read32(mono8, 28), 8000u);
    EXPECT_EQ(Read16(mono8, 32), 1);
    // Sizes that do not fit 32 bits are held at the largest that does.
    EXPECT_EQ(Read32(CanonicalWavHeader(uint64_t{1} << 33), 4), 0xFFFFFFFFu);
}

using WavHeaderFileTest = TempDirTest;

// sox reads a file with our header as the format it says.
TEST_F(WavHeaderFileTest, SoxReadsTheHeader)
{
    const std::string path = Path("h.wav");
    const int fd = open(path.c_str(), O_CREAT | O_RDWR, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteWavHeader(fd, CanonicalWavHeader(0)));
    std::string samples(4 * 441, '\0');
    ASSERT_EQ(pwrite(fd, samples.data(), samples.size(), WavHeaderSize), static_cast<ssize_t>(samples.size()));
    ASSERT_TRUE(WriteWavHeader(fd, CanonicalWavHeader(samples.size())));  // the rewrite at the end
    close(fd);
    ASSERT_EQ(std::system(("test \"$(soxi -c " + path + ")\" = 2 && test \"$(soxi -r " + path +
                           ")\" = 44100 && test \"$(soxi -b " + path + ")\" = 16 && test \"$(soxi -s " + path +
                           ")\" = 441").c_str()),
              0);
}

}  // namespace
