#include "AccurateRip.h"
#include "AccurateRipLookup.h"

#include "DriveTestSupport.h"
#include "TestHttpServer.h"
#include "akrip32Drives.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

namespace {

// The checksums written from the published definition, apart from the production code: the
// whole track as 32-bit words, MulBy from 1, counted when CheckFrom <= MulBy <= CheckTo with
// CheckFrom = 2940 on the first track (else 0) and CheckTo = words - 2940 on the last (else
// words).
struct Reference {
    uint32_t v1 = 0, v2 = 0;
};
Reference ReferenceChecksums(const std::vector<uint8_t>& bytes, bool first, bool last)
{
    const uint32_t words = static_cast<uint32_t>(bytes.size() / 4);
    const uint32_t from = first ? 2352 * 5 / 4 : 0;
    const uint32_t to = last ? words - 2352 * 5 / 4 : words;
    uint32_t v1 = 0, lo = 0, hi = 0, mulBy = 1;
    for (uint32_t w = 0; w < words; ++w, ++mulBy) {
        uint32_t sample;
        std::memcpy(&sample, bytes.data() + 4 * w, 4);  // little-endian machine
        if (mulBy >= from && mulBy <= to) {
            v1 += mulBy * sample;
            const uint64_t p = static_cast<uint64_t>(sample) * mulBy;
            lo += static_cast<uint32_t>(p & 0xFFFFFFFF);
            hi += static_cast<uint32_t>(p >> 32);
        }
    }
    return {v1, lo + hi};
}

std::vector<uint8_t> Noise(std::size_t samples, uint32_t seed)
{
    std::vector<uint8_t> bytes(samples * 4);
    uint32_t x = seed;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

TTrackChecksums Sum(const std::vector<uint8_t>& bytes, bool first, bool last, std::size_t piece)
{
    TTrackChecksums sums(static_cast<int64_t>(bytes.size() / 4), first, last);
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        sums.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
    return sums;
}

// Against the reference, for every place of a track on the disc and pieces that cut samples.
TEST(AccurateRipTest, ChecksumsEqualTheReference)
{
    for (const std::size_t samples : {5880u, 6000u, 44100u}) {
        const std::vector<uint8_t> bytes = Noise(samples, static_cast<uint32_t>(samples));
        for (const auto& [first, last] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
            const Reference want = ReferenceChecksums(bytes, first, last);
            for (const std::size_t piece : {1u, 3u, 4u, 2352u, 23520u}) {
                const TTrackChecksums got = Sum(bytes, first, last, piece);
                EXPECT_EQ(got.V1(), want.v1) << samples << " first " << first << " last " << last << " piece " << piece;
                EXPECT_EQ(got.V2(), want.v2) << samples << " first " << first << " last " << last << " piece " << piece;
                EXPECT_EQ(got.SamplesSeen(), static_cast<int64_t>(samples));
            }
        }
    }
}

// The edges of the counted range: on a first track sample 2939 is left out and 2940 counted;
// on a last track of 6000 samples 3060 is counted and 3061 left out. The worked example of the
// header: 3000 samples of 1 on a first track give 2940 + ... + 3000 = 181170.
TEST(AccurateRipTest, TheSkippedSamplesAtTheDiscsEnds)
{
    const auto oneAt = [](std::size_t samples, std::size_t i) {
        std::vector<uint8_t> bytes(samples * 4, 0);
        bytes[(i - 1) * 4] = 1;
        return bytes;
    };
    // Sample by sample, and the whole track in one piece (the edges then fall inside it).
    for (const std::size_t piece : {std::size_t{4}, std::size_t{6000 * 4}}) {
        EXPECT_EQ(Sum(oneAt(6000, 2939), true, false, piece).V1(), 0u) << piece;
        EXPECT_EQ(Sum(oneAt(6000, 2940), true, false, piece).V1(), 2940u) << piece;
        EXPECT_EQ(Sum(oneAt(6000, 3060), false, true, piece).V1(), 3060u) << piece;
        EXPECT_EQ(Sum(oneAt(6000, 3061), false, true, piece).V1(), 0u) << piece;
        EXPECT_EQ(Sum(oneAt(6000, 1), false, false, piece).V1(), 1u) << piece;
        EXPECT_EQ(Sum(oneAt(6000, 6000), false, false, piece).V1(), 6000u) << piece;
    }

    std::vector<uint8_t> ones(3000 * 4, 0);
    for (std::size_t i = 0; i < 3000; ++i)
        ones[i * 4] = 1;
    EXPECT_EQ(Sum(ones, true, false, 4).V1(), 181170u);

    // v2 adds the products' high halves: 0xFFFFFFFF * 3 = 0x2_FFFFFFFD.
    std::vector<uint8_t> high(6000 * 4, 0);
    std::memset(high.data() + 8, 0xFF, 4);  // sample 3
    const TTrackChecksums h = Sum(high, false, false, 4);
    EXPECT_EQ(h.V1(), 0xFFFFFFFDu);
    EXPECT_EQ(h.V2(), 0xFFFFFFFDu + 2u);
}

// CTDB's CRCs written from the rules apart from the production code: the disc's audio as one run
// of bytes without its first 5880 samples and its last 5880 + (samples mod 5880); zlib over each
// track's share of that run and over the whole run. Discs of 1230 sectors (a multiple of 10: the
// last 10 left out) and 1234 (the last 14), one track alone, and odd lengths, fed in pieces that
// cut samples.
TEST(AccurateRipTest, CtdbCrcsEqualZlibOverTheCountedBytes)
{
    const std::vector<std::vector<int64_t>> discs = {{300, 7, 923}, {301, 17, 916}, {40}, {31, 3, 29}};
    for (const std::vector<int64_t>& sectors : discs) {
        std::vector<std::vector<uint8_t>> tracks;
        std::vector<uint8_t> disc;
        for (const int64_t n : sectors) {
            tracks.push_back(Noise(static_cast<std::size_t>(n * 588), static_cast<uint32_t>(n + tracks.size())));
            disc.insert(disc.end(), tracks.back().begin(), tracks.back().end());
        }
        const int64_t samples = static_cast<int64_t>(disc.size() / 4);
        const int64_t tail = 5880 + samples % 5880;
        EXPECT_EQ(tail, 588 * (10 + samples / 588 % 10));
        const int64_t runFrom = 4 * 5880, runTo = 4 * (samples - tail);
        const auto zlibCrc = [&](int64_t from, int64_t to) {
            return static_cast<uint32_t>(crc32(0, disc.data() + from, static_cast<uInt>(to - from)));
        };
        for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{2352}}) {
            std::vector<TCtdbPart> parts;
            int64_t at = 0;
            for (std::size_t t = 0; t < tracks.size(); ++t) {
                const std::vector<uint8_t>& bytes = tracks[t];
                TTrackChecksums sums(static_cast<int64_t>(bytes.size() / 4), t == 0, t + 1 == tracks.size(), samples);
                for (std::size_t k = 0; k < bytes.size(); k += piece)
                    sums.Add(bytes.data() + k, std::min(piece, bytes.size() - k));
                const int64_t end = at + static_cast<int64_t>(bytes.size());
                const int64_t from = std::max(at, runFrom), to = std::min(end, runTo);
                EXPECT_EQ(sums.CtdbBytes(), to - from) << sectors.size() << " tracks, track " << t + 1;
                EXPECT_EQ(sums.CtdbCrc(), zlibCrc(from, to)) << sectors.size() << " tracks, track " << t + 1 << " piece "
                                                             << piece;
                EXPECT_EQ(sums.Crc32(), zlibCrc(at, end));  // the track's own CRC32 is all of it
                parts.push_back({sums.CtdbCrc(), sums.CtdbBytes()});
                at = end;
            }
            EXPECT_EQ(CtdbDiscCrc(parts), zlibCrc(runFrom, runTo)) << sectors.size() << " tracks, piece " << piece;
        }
    }
}

TEST(AccurateRipTest, CrcAndPeak)
{
    const std::string text = "123456789";
    TTrackChecksums sums(2, false, false);
    sums.Add(reinterpret_cast<const uint8_t*>(text.data()), 4);
    sums.Add(reinterpret_cast<const uint8_t*>(text.data()) + 4, 5);
    EXPECT_EQ(sums.Crc32(), 0xCBF43926u);  // the check value of CRC-32/ISO-HDLC

    const int16_t frames[] = {100, -32768, 32767, -5};
    TTrackChecksums peak(2, false, false);
    peak.Add(reinterpret_cast<const uint8_t*>(frames), sizeof frames);
    EXPECT_EQ(peak.Peak(), 32768);
}

// A disc of 225, 300 and 375 sectors: offsets 0, 225, 525, lead-out 900.
// id1 = 0 + 225 + 525 + 900 = 1650 = 0x672; id2 = 1*1 + 225*2 + 525*3 + 900*4 = 5626 = 0x15fa.
TEST(AccurateRipTest, DiscIds)
{
    const TTOC toc = MsfTocOf(std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({225, 300, 375})));
    ASSERT_EQ(toc.LastTrack, 3);
    const TAccurateRipDiscId id = AccurateRipDiscId(toc);
    EXPECT_EQ(id.AudioTracks, 3);
    EXPECT_EQ(id.Id1, 0x672u);
    EXPECT_EQ(id.Id2, 0x15fau);
    EXPECT_EQ(id.CddbId, 0x10000c03u);
    EXPECT_EQ(id.Path(), "2/7/6/dBAR-003-00000672-000015fa-10000c03.bin");
}

std::string Pressing(const TAccurateRipDiscId& id, const std::vector<std::pair<int, uint32_t>>& tracks)
{
    std::string out;
    const auto le = [&out](uint32_t v) {
        for (int k = 0; k < 4; ++k)
            out += static_cast<char>((v >> (8 * k)) & 0xFF);
    };
    out += static_cast<char>(tracks.size());
    le(id.Id1);
    le(id.Id2);
    le(id.CddbId);
    for (const auto& [confidence, crc] : tracks) {
        out += static_cast<char>(confidence);
        le(crc);
        le(0);
    }
    return out;
}

TEST(AccurateRipTest, EntriesAndVerdicts)
{
    TAccurateRipDiscId id;
    id.AudioTracks = 2;
    id.Id1 = 0x1234;
    id.Id2 = 0x5678;
    id.CddbId = 0x9abc;
    const std::string entry = Pressing(id, {{5, 0xAAAA}, {7, 0xBBBB}}) + Pressing(id, {{3, 0xAAAB}, {2, 0xBBBB}});
    const auto pressings = ParseAccurateRipEntry(entry);
    ASSERT_TRUE(pressings);
    ASSERT_EQ(pressings->size(), 2u);
    EXPECT_EQ((*pressings)[1].Checksums[0].Crc, 0xAAABu);

    EXPECT_EQ(JudgeTrack(*pressings, id, 1, 0xAAAA, 0x1).Text(), "accurately ripped (confidence 5, v1)");
    EXPECT_EQ(JudgeTrack(*pressings, id, 1, 0x1, 0xAAAB).Text(), "accurately ripped (confidence 3, v2)");
    EXPECT_EQ(JudgeTrack(*pressings, id, 2, 0x1, 0xBBBB).Text(), "accurately ripped (confidence 9, v2)");
    EXPECT_EQ(JudgeTrack(*pressings, id, 2, 0xBBBC, 0xBBBA).Text(), "not accurate");
    TAccurateRipDiscId other = id;
    other.Id1 = 0x1235;
    EXPECT_EQ(JudgeTrack(*pressings, other, 1, 0xAAAA, 0xAAAA).Text(), "not in database");
    EXPECT_EQ(JudgeTrack(*pressings, id, 3, 0xAAAA, 0xAAAA).Text(), "not in database");

    EXPECT_FALSE(ParseAccurateRipEntry(""));
    EXPECT_FALSE(ParseAccurateRipEntry(entry.substr(0, entry.size() - 1)));   // cut inside a track
    EXPECT_FALSE(ParseAccurateRipEntry(entry.substr(0, 30)));                  // cut inside a head
    EXPECT_FALSE(ParseAccurateRipEntry(std::string(13, '\0')));                // no tracks
    EXPECT_EQ(ParseAccurateRipEntry(entry.substr(0, 13 + 18))->size(), 1u);
}

}  // namespace

namespace {

// The entry from a server on 127.0.0.1: two pressings, one matching; a one-sample change is not
// accurate; a 404, a cut entry and no server are "not checked" with the reason.
TEST(AccurateRipTest, TheDatabaseOverHttp)
{
    TAccurateRipDiscId id;
    id.AudioTracks = 2;
    id.Id1 = 0x00000672;
    id.Id2 = 0x000015fa;
    id.CddbId = 0x10000c03;
    const std::vector<uint8_t> track = Noise(6000, 7);
    const TTrackChecksums right = Sum(track, true, false, 2352);
    std::vector<uint8_t> changed = track;
    changed[4 * 4000] ^= 1;  // one sample
    const TTrackChecksums wrong = Sum(changed, true, false, 2352);
    const std::string entry = Pressing(id, {{4, right.V1()}, {1, 0x1}}) + Pressing(id, {{6, right.V2()}, {2, 0x2}});

    std::string body = entry;
    TTestHttpServer server([&](const std::string&) { return body; });
    const std::string base = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
    const TAccurateRipEntry fetched = FetchAccurateRip(base, id);
    ASSERT_TRUE(fetched.Checked) << fetched.Reason;
    EXPECT_EQ(server.Requests().at(0), "GET /accuraterip/2/7/6/dBAR-002-00000672-000015fa-10000c03.bin HTTP/1.1");
    EXPECT_EQ(JudgeTrack(fetched, id, 1, right.V1(), right.V2()).Text(), "accurately ripped (confidence 10, v2)");
    EXPECT_EQ(JudgeTrack(fetched, id, 1, wrong.V1(), wrong.V2()).Text(), "not accurate");

    server.Status = 404;
    EXPECT_EQ(JudgeTrack(FetchAccurateRip(base, id), id, 1, right.V1(), right.V2()).Text(), "not in database");
    server.Status = 500;
    EXPECT_EQ(JudgeTrack(FetchAccurateRip(base, id), id, 1, right.V1(), right.V2()).Text(), "not checked (HTTP 500)");
    server.Status = 200;
    body = entry.substr(0, entry.size() - 3);
    EXPECT_EQ(JudgeTrack(FetchAccurateRip(base, id), id, 1, right.V1(), right.V2()).Text(), "not checked (a malformed entry)");
    const TAccurateRipEntry none = FetchAccurateRip("http://127.0.0.1:1", id);
    EXPECT_FALSE(none.Checked);
    EXPECT_EQ(none.Reason.rfind("no connection to http://127.0.0.1:1", 0), 0u) << none.Reason;
}

}  // namespace

namespace {

// The CRC32 against zlib's for every length up to 600 bytes (past two of the widest path's
// 256-byte steps, with each tail of 64- and 16-byte blocks and bytes) from each of 16 alignments,
// and for a few large pieces, also continued from a register that is not the initial one; by the
// 512-bit and the 128-bit carry-less multiplication where the processor has them.
TEST(AccurateRipTest, Crc32EqualsZlibAtEveryLengthAndAlignment)
{
    std::vector<uint8_t> data(70000);
    uint32_t seed = 12345;
    for (auto& b : data) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    const auto zlibRaw = [](uint32_t raw, const uint8_t* p, std::size_t n) {
        return ~static_cast<uint32_t>(crc32(~raw & 0xFFFFFFFFu, p, static_cast<uInt>(n)));
    };
    for (const int widest : {512, 128}) {
        SCOPED_TRACE(widest);
        for (std::size_t align = 0; align < 16; ++align)
            for (std::size_t n = 0; n <= 600; ++n)
                ASSERT_EQ(Crc32Update(0xFFFFFFFFu, data.data() + align, n, widest),
                          zlibRaw(0xFFFFFFFFu, data.data() + align, n))
                    << "length " << n << " at " << align;
        for (const std::size_t n : {1024u, 23520u, 65536u + 7u, 69990u})
            EXPECT_EQ(Crc32Update(0x12345678u, data.data() + 3, n, widest), zlibRaw(0x12345678u, data.data() + 3, n)) << n;
    }
}

}  // namespace
