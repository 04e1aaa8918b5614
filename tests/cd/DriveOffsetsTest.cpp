#include "DriveOffsetList.h"
#include "DriveOffsets.h"
#include "OffsetSearch.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <filesystem>

namespace {

// One record of DriveOffsets.bin as the list lays it out.
std::string Record(int offset, const std::string& name, int submissions)
{
    std::string r(DriveOffsetRecordSize, '\0');
    const auto bits = static_cast<uint16_t>(static_cast<int16_t>(offset));
    r[0] = static_cast<char>(bits & 0xFF);
    r[1] = static_cast<char>(bits >> 8);
    r.replace(2, std::min<std::size_t>(name.size(), 32), name.substr(0, 32));
    r[34] = '\x7F';  // unused bytes hold anything
    r[35] = static_cast<char>(submissions);
    return r;
}

// A few models, one twice, one without a vendor, negative and large offsets, and a last record
// cut short.
std::string Fixture()
{
    return Record(667, "PLEXTOR - DVDR   PX-716A", 200) + Record(6, "HL-DT-ST - DVDRAM GH24NSD1", 90) +
           Record(48, "hl-dt-st - dvdram gh24nsd1", 3) + Record(-1164, "- CDRW4012", 7) +
           Record(102, "ASUS - DRW-24D5MT", 255) + Record(30, "TSSTcorp - CDDVDW SH-224DB", 1).substr(0, 40);
}

TEST(DriveOffsetsTest, TheListIsReadAsLaidOut)
{
    std::string why;
    const auto list = ParseDriveOffsets(Fixture(), why);
    ASSERT_TRUE(list) << why;
    ASSERT_EQ(list->size(), 5u) << "the record cut short is left out";
    EXPECT_EQ((*list)[0].Offset, 667);
    EXPECT_EQ((*list)[0].Vendor, "PLEXTOR");
    EXPECT_EQ((*list)[0].Model, "DVDR   PX-716A");
    EXPECT_EQ((*list)[0].Submissions, 200);
    EXPECT_EQ((*list)[3].Offset, -1164);
    EXPECT_EQ((*list)[3].Vendor, "");
    EXPECT_EQ((*list)[3].Name(), "- CDRW4012");
    EXPECT_EQ((*list)[4].Submissions, 255) << "the count is unsigned";

    // Matched without regard to case and outer spaces; of two entries, the most submissions first.
    const auto lg = EntriesForDrive(*list, "HL-DT-ST ", "  DVDRAM GH24NSD1");
    ASSERT_EQ(lg.size(), 2u);
    EXPECT_EQ(lg[0].Offset, 6);
    EXPECT_EQ(lg[1].Offset, 48);
    EXPECT_EQ(EntriesForDrive(*list, "", "CDRW4012").front().Offset, -1164);
    EXPECT_TRUE(EntriesForDrive(*list, "PLEXTOR", "DVDR PX-716A").empty()) << "inner spaces are the model's";
    EXPECT_TRUE(EntriesForDrive(*list, "PLEXTOR", "DVDR   PX-716").empty());

    // Files that are no list; records a list cannot mean.
    for (const std::string& bad : {std::string(), std::string(68, 'x'), std::string(69 * 3, '\0'),
                                   Record(5881, "A - B", 1), Record(-5881, "A - B", 1), Record(6, "A - ", 1),
                                   Record(6, "no separator", 1), Record(6, "A - B\n[x]", 1)}) {
        why.clear();
        EXPECT_FALSE(ParseDriveOffsets(bad, why)) << bad.size();
        EXPECT_FALSE(why.empty());
    }
    EXPECT_TRUE(ParseDriveOffsets(Record(5880, "A - B", 1) + Record(-5880, "A - C", 1), why));
}

TEST(DriveOffsetsTest, TheOffsetARipUsesAndWhereItComesFrom)
{
    const std::vector<TDriveOffsetEntry> listed = {{667, "PLEXTOR", "PX-716A", 200}};
    const std::map<std::string, std::string> stored = {{"plextor - px-716a", "+30 found"}, {"ASUS - X", "-6 manual"},
                                                       {"LITEON - Y", "bogus"}};
    const struct {
        std::optional<int> commandLine;
        std::string key;
        int setting;
        std::vector<TDriveOffsetEntry> list;
        std::string text;
    } cases[] = {
        {12, "PLEXTOR - PX-716A", 48, listed, "+12 (given with --offset)"},
        {0, "PLEXTOR - PX-716A", 48, listed, "0 (given with --offset)"},
        {{}, "PLEXTOR - PX-716A", 48, listed, "+30 (found on this drive)"},
        {{}, "ASUS - X", 48, listed, "-6 (set by hand)"},
        {{}, "LITEON - Y", 48, listed, "+48 (set by hand)"},
        {{}, "LITEON - Y", 0, listed, "+667 (from the AccurateRip drive list)"},
        {{}, "LITEON - Y", 0, {}, "0 (none known: 0)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ChooseReadOffset(c.commandLine, stored, c.key, c.setting, c.list).Text(), c.text);
    }
    for (const char* value : {"+667 found", "30 list", "-6 manual", " +6   MANUAL "}) {
        const auto parsed = ParseStoredOffset(value);
        ASSERT_TRUE(parsed) << value;
        EXPECT_EQ(ParseStoredOffset(StoredOffsetText(*parsed))->Samples, parsed->Samples);
    }
    for (const char* value : {"", "+667", "found", "+5881 found", "6x found", "+ found", "--6 manual", "+6 guessed"})
        EXPECT_FALSE(ParseStoredOffset(value)) << value;
    EXPECT_EQ(StoredOffsetText({667, TOffsetSource::Found}), "+667 found");
    EXPECT_EQ(StoredOffsetText({-30, TOffsetSource::Listed}), "-30 list");
    EXPECT_EQ(DriveModelKey(" PLEXTOR ", "PX-716A  "), "PLEXTOR - PX-716A");
    EXPECT_EQ(DriveModelKey("", "CDRW4012"), "- CDRW4012");
}

class DriveOffsetListTest : public TempDirTest {};

// Fetched once and kept; a copy under ten days old is read without the network; an older copy is
// fetched again, and used when the server fails; without a copy and a server, no list, said.
TEST_F(DriveOffsetListTest, FetchedKeptAndRefreshed)
{
    std::string body = Fixture();
    TTestHttpServer server([&](const std::string&) { return body; });
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port());
    const std::string folder = Path("cache/");

    TDriveOffsetList list = LoadDriveOffsetList(url, folder, true);
    EXPECT_EQ(list.Entries.size(), 5u);
    EXPECT_EQ(list.Note, "");
    EXPECT_EQ(server.Requests(), std::vector<std::string>{"GET /accuraterip/DriveOffsets.bin HTTP/1.1"});
    EXPECT_EQ(ReadFile("cache/DriveOffsets.bin"), Fixture());

    body = Record(1, "NEW - ONE", 1);
    EXPECT_EQ(LoadDriveOffsetList(url, folder, true).Entries.size(), 5u) << "a fresh copy is not fetched again";
    EXPECT_EQ(server.Requests().size(), 1u);

    namespace fs = std::filesystem;
    const auto age = [&](std::chrono::hours h) {
        fs::last_write_time(Path("cache/DriveOffsets.bin"), fs::file_time_type::clock::now() - h);
    };
    age(DriveListMaxAge - std::chrono::hours(1));
    EXPECT_EQ(LoadDriveOffsetList(url, folder, true).Entries.size(), 5u);
    EXPECT_EQ(server.Requests().size(), 1u);
    age(DriveListMaxAge + std::chrono::hours(1));
    EXPECT_EQ(LoadDriveOffsetList(url, folder, false).Entries.size(), 5u) << "the window's rips do not fetch";
    list = LoadDriveOffsetList(url, folder, true);
    ASSERT_EQ(list.Entries.size(), 1u);
    EXPECT_EQ(list.Entries[0].Name(), "NEW - ONE");
    EXPECT_EQ(server.Requests().size(), 2u);

    // Stale, and the server fails (an error, hostile bytes): the old copy, said.
    age(std::chrono::hours(24 * 12));
    server.Status = 500;
    list = LoadDriveOffsetList(url, folder, true);
    ASSERT_EQ(list.Entries.size(), 1u);
    EXPECT_EQ(list.Note, "The AccurateRip drive list could not be fetched again (" + url +
                             "/accuraterip/DriveOffsets.bin answered HTTP 500): the copy kept 12 days ago is used.");
    server.Status = 200;
    body = std::string(200, '\xFF');
    list = LoadDriveOffsetList(url, folder, true);
    EXPECT_EQ(list.Entries.size(), 1u);
    EXPECT_NE(list.Note.find("is not a drive list"), std::string::npos) << list.Note;
    EXPECT_EQ(ReadFile("cache/DriveOffsets.bin"), Record(1, "NEW - ONE", 1)) << "hostile bytes are not kept";

    // No copy, no server.
    list = LoadDriveOffsetList("http://127.0.0.1:1", Path("other/"), true);
    EXPECT_TRUE(list.Entries.empty());
    EXPECT_EQ(list.Note.rfind("No AccurateRip drive list: no connection to http://127.0.0.1:1 (", 0), 0u) << list.Note;
    EXPECT_EQ(LoadDriveOffsetList(url, Path("none/"), false).Note,
              "No AccurateRip drive list: it has not been fetched yet.");
}

}  // namespace

namespace {

// The sliding v1 agrees with the rip's own checksums (TTrackChecksums over the samples a rip at
// that offset writes) at the ends of the range and across it, for a track in the middle, the
// disc's first and its last; v2 at one offset too.
TEST(OffsetSearchTest, EveryOffsetsV1IsTheRipsOwn)
{
    uint32_t seed = 12345;
    const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (const auto& [first, last] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
        SCOPED_TRACE(std::to_string(first) + std::to_string(last));
        TTrackRead read;
        read.Length = 9000;
        read.Margin = 2940;
        read.First = first;
        read.Last = last;
        for (int64_t i = 0; i < read.Length + 2 * read.Margin; ++i)
            read.Samples.push_back(next());
        const std::vector<uint32_t> all = V1AtEveryOffset(read);
        ASSERT_EQ(all.size(), 5881u);
        for (const int n : {-2940, -2939, -1164, -1, 0, 1, 6, 667, 2939, 2940}) {
            SCOPED_TRACE(n);
            TTrackChecksums sums(read.Length, first, last);
            sums.Add(reinterpret_cast<const uint8_t*>(read.Samples.data() + read.Margin + n),
                     static_cast<std::size_t>(read.Length) * 4);
            EXPECT_EQ(all[static_cast<std::size_t>(n + 2940)], sums.V1());
            uint32_t v1 = 0, v2 = 0;
            ChecksumsAtOffset(read, n, v1, v2);
            EXPECT_EQ(v1, sums.V1());
            EXPECT_EQ(v2, sums.V2());
        }
    }
}

// The entry's CRCs are found at the offsets that give them: a v1 pressing at +667 (any offset),
// with the confidence of a v2 pressing there too; where v1 matches nothing, v2 pressings at the
// candidates only.
TEST(OffsetSearchTest, TheOffsetsThatMatchTheEntry)
{
    TTrackRead read;
    read.Length = 6000;
    read.Margin = 2940;
    for (int64_t i = 0; i < read.Length + 2 * read.Margin; ++i)
        read.Samples.push_back(static_cast<uint32_t>(i * 2654435761u));
    uint32_t v1At667 = 0, v2At6 = 0, v1At6 = 0, v2At667 = 0;
    ChecksumsAtOffset(read, 667, v1At667, v2At667);
    ChecksumsAtOffset(read, 6, v1At6, v2At6);
    TAccurateRipDiscId id;
    id.AudioTracks = 3;
    id.Id1 = 1;
    id.Id2 = 2;
    const auto pressing = [&](uint32_t crc, int confidence) {
        TAccurateRipPressing p;
        p.Tracks = 3;
        p.Id1 = 1;
        p.Id2 = 2;
        p.Checksums = {{}, {confidence, crc, 0}, {}};
        return p;
    };
    const std::vector<TAccurateRipPressing> pressings = {pressing(v1At667, 4), pressing(v2At6, 9), pressing(v2At667, 2)};
    std::vector<TOffsetMatch> found = MatchingOffsets(read, {pressing(v1At667, 4)}, id, 2, {});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].Offset, 667);
    EXPECT_EQ(found[0].Confidence, 4);
    EXPECT_FALSE(found[0].V2);
    found = MatchingOffsets(read, pressings, id, 2, {6, 667});
    ASSERT_EQ(found.size(), 1u) << "v1 found the offset: v2 is tried there alone";
    EXPECT_EQ(found[0].Offset, 667);
    EXPECT_EQ(found[0].Confidence, 6);
    EXPECT_TRUE(found[0].V2);
    const std::vector<TAccurateRipPressing> v2Only = {pressing(v2At6, 9), pressing(v2At667, 2)};
    EXPECT_TRUE(MatchingOffsets(read, v2Only, id, 2, {}).empty()) << "no candidate, and 0 does not match";
    found = MatchingOffsets(read, v2Only, id, 2, {6, 667});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].Offset, 6);
    EXPECT_EQ(found[0].Confidence, 9);
    EXPECT_EQ(found[1].Offset, 667);
    EXPECT_EQ(found[1].Confidence, 2);
    EXPECT_TRUE(MatchingOffsets(read, pressings, id, 1, CommonDriveOffsets()).empty()) << "track 1 has no sums";
    id.Id1 = 7;
    EXPECT_TRUE(MatchingOffsets(read, pressings, id, 2, CommonDriveOffsets()).empty()) << "another disc's pressings";
}

}  // namespace

namespace {

// A rip's tracks, contiguous on the disc, give v1 at other offsets from their edges alone: the
// same sums as reading the tracks again at those offsets, up to where no track kept samples.
TEST(OffsetSearchTest, ARipsEdgesGiveV1AtOtherOffsets)
{
    const std::vector<int64_t> lengths = {15000, 12500, 14000};
    std::vector<uint32_t> disc;
    uint32_t seed = 99;
    for (int64_t i = 0; i < 15000 + 12500 + 14000; ++i)
        disc.push_back(seed = seed * 1103515245u + 12345u);
    std::vector<TTrackEdges> edges;
    std::vector<int64_t> starts;
    int64_t start = 0;
    for (std::size_t t = 0; t < 3; ++t) {
        TTrackChecksums sums(lengths[t], t == 0, t == 2);
        // In pieces that end inside samples, as the rip writes them.
        const auto* bytes = reinterpret_cast<const uint8_t*>(disc.data() + start);
        for (std::size_t at = 0; at < std::size_t(lengths[t]) * 4; at += 9999)
            sums.Add(bytes + at, std::min<std::size_t>(9999, std::size_t(lengths[t]) * 4 - at));
        edges.push_back(sums.Edges());
        starts.push_back(start);
        start += lengths[t];
    }
    for (std::size_t t = 0; t < 3; ++t) {
        SCOPED_TRACE(t);
        const auto v1 = V1AtShifts(edges[t], t > 0 ? &edges[t - 1] : nullptr, t < 2 ? &edges[t + 1] : nullptr, 2940);
        for (const int s : {-2940, -2939, -667, -1, 1, 6, 667, 2939, 2940}) {
            SCOPED_TRACE(s);
            const int64_t from = starts[t] + s;
            if (from < 0 || from + lengths[t] > start) {
                // Beyond the disc's audio: the first track's earlier shifts need samples before
                // it only when they reach its counted range, the last track's later ones too.
                continue;
            }
            TTrackChecksums direct(lengths[t], t == 0, t == 2);
            direct.Add(reinterpret_cast<const uint8_t*>(disc.data() + from), std::size_t(lengths[t]) * 4);
            ASSERT_TRUE(v1[std::size_t(s + 2940)]);
            EXPECT_EQ(*v1[std::size_t(s + 2940)], direct.V1());
        }
    }
    // Without its neighbours a middle track has no later or earlier shift beyond its own samples.
    const auto alone = V1AtShifts(edges[1], nullptr, nullptr, 2940);
    EXPECT_FALSE(alone[2941]);
    EXPECT_FALSE(alone[2939]);
    EXPECT_EQ(*alone[2940], edges[1].V1);
}

}  // namespace
