#include "ACS_Streams.h"
#include "ACS_Types.h"

#include "AudioTestSupport.h"
#include "TestSupport.h"

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <numeric>

namespace {

using StreamsTest = TempDirTest;

std::vector<uint8_t> Bytes(std::size_t n, uint8_t start = 0)
{
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

// Reads, writes and seeks mixed the way the WAV output mixes them (a header rewritten at the end,
// an appended file walked first), checked against a plain model of the file's bytes.
TEST_F(StreamsTest, BufferedFileStreamKeepsTheFileAsWritten)
{
    std::vector<uint8_t> model;
    {
        TFileStream f(Path("s.bin"), TFileStream::fmCreate);
        const std::vector<uint8_t> big = Bytes(3 << 20, 1);  // larger than the buffer: written straight through
        f.Write(Bytes(44).data(), 44);
        f.Write(big.data(), big.size());
        model = Bytes(44);
        model.insert(model.end(), big.begin(), big.end());
        for (int i = 0; i < 100; ++i) {  // many small writes through the buffer
            const std::vector<uint8_t> piece = Bytes(1000, static_cast<uint8_t>(i));
            f.Write(piece.data(), piece.size());
            model.insert(model.end(), piece.begin(), piece.end());
        }
        EXPECT_EQ(f.Size(), static_cast<int64_t>(model.size())) << "the size counts what is still buffered";
        EXPECT_EQ(f.Position(), static_cast<int64_t>(model.size()));
        // Rewrite a field near the start, then go on at the end.
        const uint8_t field[4] = {9, 9, 9, 9};
        f.Seek(40);
        f.Write(field, 4);
        std::copy(field, field + 4, model.begin() + 40);
        // Read back across the rewritten field, then write after reading (the read-ahead is dropped).
        f.Seek(38);
        uint8_t back[8];
        ASSERT_EQ(f.Read(back, 8), 8u);
        EXPECT_TRUE(std::equal(back, back + 8, model.begin() + 38));
        EXPECT_EQ(f.Position(), 46);
        f.Write(field, 4);
        std::copy(field, field + 4, model.begin() + 46);
        f.Seek(static_cast<int64_t>(model.size()));
        f.Write(field, 4);
        model.insert(model.end(), field, field + 4);
        f.Close();
    }
    EXPECT_EQ(FileBytes(Path("s.bin")), model);

    // Reading: small reads through the read-ahead, a seek inside it and one outside, a large read
    // straight into the caller's memory, and the end.
    TFileStream r(Path("s.bin"), TFileStream::fmOpenRead);
    EXPECT_EQ(r.Size(), static_cast<int64_t>(model.size()));
    std::vector<uint8_t> got(10);
    ASSERT_EQ(r.Read(got.data(), 10), 10u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), model.begin()));
    r.Seek(5);
    ASSERT_EQ(r.Read(got.data(), 10), 10u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), model.begin() + 5));
    r.Seek(1 << 20);
    std::vector<uint8_t> large(2 << 20);
    ASSERT_EQ(r.Read(large.data(), large.size()), large.size());
    EXPECT_TRUE(std::equal(large.begin(), large.end(), model.begin() + (1 << 20)));
    r.Seek(static_cast<int64_t>(model.size()) - 3);
    EXPECT_EQ(r.Read(got.data(), 10), 3u);
    EXPECT_EQ(r.Read(got.data(), 10), 0u);
}

TEST_F(StreamsTest, AFileAnotherWriterHoldsIsNeitherOpenedNorEmptied)
{
    WriteFile("held.wav", "theirs");
    const int other = open(Path("held.wav").c_str(), O_RDWR);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    EXPECT_THROW(TFileStream(Path("held.wav"), TFileStream::fmCreate), EACSException);
    EXPECT_EQ(ReadFile("held.wav"), "theirs");
    close(other);
    EXPECT_THROW(TFileStream(Path("missing.wav"), TFileStream::fmOpenRead), EACSException);
    EXPECT_THROW(TFileStream(m_dir, TFileStream::fmOpenRead), EACSException);
}

TEST(MemoryStreamTest, ReadsWritesAndSeeks)
{
    TMemoryStream m;
    m.Write("abcdef", 6);
    m.Seek(2);
    m.Write("XY", 2);
    m.Seek(0);
    char out[8] = {};
    EXPECT_EQ(m.Read(out, 8), 6u);
    EXPECT_STREQ(out, "abXYef");
    m.Seek(100);
    EXPECT_EQ(m.Read(out, 8), 0u);
}

}  // namespace
