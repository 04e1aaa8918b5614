#include "MusicBrainz.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QCryptographicHash>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// A table in MSF as ReadMsfToc reads it: the starts (with the 150 sectors of the lead-in) and the
// lead-out, in sectors.
TTOC Toc(const std::vector<int32_t>& starts, int32_t leadOut, int first = 1)
{
    TTOC toc{};
    toc.FirstTrack = static_cast<uint8_t>(first);
    toc.LastTrack = static_cast<uint8_t>(first + static_cast<int>(starts.size()) - 1);
    std::vector<int32_t> all = starts;
    all.push_back(leadOut);
    for (std::size_t e = 0; e < all.size(); ++e) {
        toc.Tracks[e].Addr[1] = static_cast<uint8_t>(all[e] / 4500);
        toc.Tracks[e].Addr[2] = static_cast<uint8_t>(all[e] / 75 % 60);
        toc.Tracks[e].Addr[3] = static_cast<uint8_t>(all[e] % 75);
    }
    return toc;
}

// The disc ID by its published definition, worked out here without libdiscid: SHA-1 over the
// first and last track as two hex digits, then the lead-out and 99 offsets as eight (0 for the
// tracks the disc has not), in upper case; base64 with "." "_" "-" for "+" "/" "=".
std::string DiscIdByDefinition(int first, int last, int32_t leadOut, const std::vector<int32_t>& offsets)
{
    char part[16];
    std::string text;
    std::snprintf(part, sizeof part, "%02X%02X", first, last);
    text += part;
    std::snprintf(part, sizeof part, "%08X", static_cast<unsigned>(leadOut));
    text += part;
    for (int i = 0; i < 99; ++i) {
        std::snprintf(part, sizeof part, "%08X", i < static_cast<int>(offsets.size()) ? static_cast<unsigned>(offsets[i]) : 0u);
        text += part;
    }
    std::string id = QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha1).toBase64().toStdString();
    for (char& c : id)
        c = c == '+' ? '.' : c == '/' ? '_' : c == '=' ? '-' : c;
    return id;
}

std::string Fixture(const std::string& name, const std::string& discId)
{
    std::ifstream in(std::string(TEST_DATA) + "/musicbrainz/" + name);
    std::stringstream text;
    text << in.rdbuf();
    std::string body = text.str();
    for (std::size_t at; (at = body.find("@DISCID@")) != std::string::npos;)
        body.replace(at, 8, discId);
    return body;
}

class MusicBrainzTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        MusicBrainzSetInterval(0);
        MusicBrainzSetTimeouts(2000, 2, 5);
    }
    void TearDown() override
    {
        MusicBrainzSetInterval(1000);
        MusicBrainzSetTimeouts(10000, 15, 60);
        TempDirTest::TearDown();
    }
    TMusicBrainzOptions Local(const TTestHttpServer& server) const
    {
        TMusicBrainzOptions options;
        options.Server = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
        options.CoverArtServer = "http://127.0.0.1:" + std::to_string(server.Port());
        return options;
    }
    // Three tracks from 00:02:00; the lead-out at 21:12:62.
    const TTOC toc = Toc({150, 15363, 32314}, 95462);
    const std::string id = DiscIdByDefinition(1, 3, 95462, {150, 15363, 32314});
};

// The disc ID of a table equals the one worked out by the definition, and the toc search names
// the same table; an Enhanced CD's data track is left out, the audio session ending 11400
// sectors before it.
TEST_F(MusicBrainzTest, TheDiscIdFollowsItsDefinition)
{
    EXPECT_EQ(MusicBrainzDiscId(toc), id);
    EXPECT_EQ(id.size(), 28u);
    // The service's own documented example.
    const TTOC documented = Toc({150, 15363, 32314, 46592, 63414, 80489}, 95462);
    EXPECT_EQ(MusicBrainzDiscId(documented), "49HHV7Eb8UKF3aQiNmu1GR8vKTY-");
    EXPECT_EQ(DiscIdByDefinition(1, 6, 95462, {150, 15363, 32314, 46592, 63414, 80489}), "49HHV7Eb8UKF3aQiNmu1GR8vKTY-");
    EXPECT_EQ(MusicBrainzTocParam(toc), "1+3+95462+150+15363+32314");
    EXPECT_EQ(MusicBrainzTrackCount(toc), 3);

    TTOC enhanced = Toc({150, 15363, 32314, 60000}, 80000);
    enhanced.Tracks[3].AdrCtrl = 0x14;  // a data track
    EXPECT_EQ(MusicBrainzDiscId(enhanced), DiscIdByDefinition(1, 3, 60000 - 11400, {150, 15363, 32314}));
    EXPECT_EQ(MusicBrainzTrackCount(enhanced), 3);
    EXPECT_EQ(MusicBrainzDiscId(TTOC{}), "");
}

// One release: the request names the disc ID, what it includes, JSON and the program; the answer
// gives the title, the credits joined by their phrases, the date, country, label, catalogue
// number and barcode, the titles, and a track's own artist where it differs. Network text is
// cleaned (a control character becomes a space); "/" in a title stays.
TEST_F(MusicBrainzTest, OneRelease)
{
    TTestHttpServer server([&](const std::string&) { return Fixture("one.json", id); });
    const TMusicBrainzResult result = LookupMusicBrainz(Local(server), toc);
    ASSERT_EQ(result.Releases.size(), 1u) << result.Reason;
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], "GET /ws/2/discid/" + id + "?inc=recordings+artist-credits+labels&fmt=json HTTP/1.1");
    EXPECT_NE(server.Heads()[0].find("User-Agent: Sonvale/2.1 ( https://sonvale.org/ )"), std::string::npos)
        << server.Heads()[0];
    const TMbRelease& r = result.Releases[0];
    EXPECT_EQ(r.Id, "1f2e3d4c-0000-4000-8000-000000000001");
    EXPECT_EQ(r.Title, "Νύχτα και μέρα");
    EXPECT_EQ(r.Artist, "Άννα & The  Band");
    EXPECT_EQ(r.Year(), "1997");
    EXPECT_EQ(r.Country, "GR");
    EXPECT_EQ(r.Label, "Λάμψη Records");
    EXPECT_EQ(r.CatalogNumber, "LBL-001");
    EXPECT_EQ(r.Barcode, "5201234567890");
    EXPECT_EQ(r.Medium, 1);
    EXPECT_FALSE(r.Fuzzy);
    ASSERT_EQ(r.Tracks.size(), 3u);
    EXPECT_EQ(r.Tracks[0].Title, "Πρώτο");
    EXPECT_EQ(r.Tracks[0].Artist, "") << "the release's artist is not repeated";
    EXPECT_EQ(r.Tracks[1].Title, "A/B side");
    EXPECT_EQ(r.Tracks[1].Artist, "Guest Singer");
    EXPECT_EQ(r.Tracks[2].Title, "夜");

    const TCddbFields fields = MusicBrainzFields(r);
    EXPECT_EQ(fields.Album, "Νύχτα και μέρα");
    EXPECT_EQ(fields.Year, "1997");
    EXPECT_EQ(fields.MusicBrainzRelease, r.Id);
    EXPECT_FALSE(fields.Genre.has_value()) << "the genre chosen stays";
}

// Two releases, the second of two discs where this disc is the second medium: its titles come
// from that medium, never from medium 1.
TEST_F(MusicBrainzTest, TheMediumThatHoldsTheDisc)
{
    TTestHttpServer server([&](const std::string&) { return Fixture("two.json", id); });
    const TMusicBrainzResult result = LookupMusicBrainz(Local(server), toc);
    ASSERT_EQ(result.Releases.size(), 2u) << result.Reason;
    const TMbRelease& two = result.Releases[1];
    EXPECT_EQ(two.Medium, 2);
    EXPECT_EQ(two.MediumCount, 2);
    ASSERT_EQ(two.Tracks.size(), 3u);
    EXPECT_EQ(two.Tracks[0].Title, "Second 1");
    EXPECT_EQ(ReleaseSummary(two), "Double Album - Solo (2001-10-01, US, Twice DBL-2, CD 2 of 2, 3 tracks)");
    EXPECT_EQ(ReleaseSummary(result.Releases[0]), "Single Album - Solo (1990, GB, CD 1 of 1, 3 tracks)");
}

// Replies that find nothing, refuse or cannot be read: each ends with its reason and no release.
// An unknown disc ID is asked again by the track lengths (fuzzy, the medium with as many tracks).
TEST_F(MusicBrainzTest, RepliesAndTheirReasons)
{
    const struct {
        const char* name;
        std::function<int(const std::string&)> status;
        const char* body;   // a fixture, or the reply itself
        std::size_t releases;
        const char* reason;
        std::size_t requests;
    } cases[] = {
        {"unknown, then by lengths", [](const std::string& l) { return l.find("toc=") != std::string::npos ? 200 : 404; },
         "toc.json", 1, "", 2},
        {"unknown both ways", [](const std::string&) { return 404; }, "{}", 0, "MusicBrainz knows no release with this disc.", 2},
        {"malformed", [](const std::string&) { return 200; }, "malformed.json", 0, "MusicBrainz's answer could not be read: it is not JSON", 1},
        {"not an object", [](const std::string&) { return 200; }, "[1, 2]", 0, "it is not a JSON object", 1},
        {"no list", [](const std::string&) { return 200; }, "{\"id\": \"x\"}", 0, "it lists no releases", 1},
        {"no medium holds it", [](const std::string&) { return 200; }, "{\"releases\": [{\"id\": \"r\", \"media\": []}]}", 0,
         "MusicBrainz knows no release with this disc.", 1},
        {"refused", [](const std::string&) { return 400; }, "{}", 0, "MusicBrainz refused the request (HTTP 400).", 1},
        {"a medium numbered beyond the list", [](const std::string& l) { return l.find("toc=") != std::string::npos ? 200 : 404; },
         "{\"releases\": [{\"id\": \"r\", \"media\": [{\"position\": -7, \"track-count\": 3, \"tracks\": []}]}]}", 1, "", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body = std::string(c.body).find(".json") != std::string::npos ? Fixture(c.body, id) : c.body;
        TTestHttpServer server([&](const std::string&) { return body; });
        server.StatusFor = c.status;
        const TMusicBrainzResult result = LookupMusicBrainz(Local(server), toc);
        EXPECT_EQ(result.Releases.size(), c.releases);
        EXPECT_NE(result.Reason.find(c.reason), std::string::npos) << result.Reason;
        ASSERT_EQ(server.Requests().size(), c.requests);
        if (c.releases > 0) {
            EXPECT_NE(server.Requests()[1].find("?toc=1+3+95462+150+15363+32314&cdstubs=no&"), std::string::npos)
                << server.Requests()[1];
            EXPECT_TRUE(result.Releases[0].Fuzzy);
            const bool odd = result.Releases[0].Id == "r";
            EXPECT_EQ(result.Releases[0].Medium, odd ? 1 : 2);
            if (!odd) {
                EXPECT_EQ(result.Releases[0].Tracks[2].Title, "L3");
            }
        }
    }
}

// The service's rate limit: a 503 is asked once more after its Retry-After; and two requests
// are never closer than the interval.
TEST_F(MusicBrainzTest, RateLimitAndOneRetry)
{
    int asked = 0;
    TTestHttpServer server([&](const std::string&) { return Fixture("one.json", id); });
    server.StatusFor = [&](const std::string&) { return ++asked == 1 ? 503 : 200; };
    server.HeadersFor = [](const std::string&) { return std::string("Retry-After: 1\r\n"); };
    const auto start = std::chrono::steady_clock::now();
    const TMusicBrainzResult result = LookupMusicBrainz(Local(server), toc);
    EXPECT_EQ(result.Releases.size(), 1u) << result.Reason;
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950)) << "Retry-After: 1";

    // Twice 503: one retry only, and the refusal said.
    asked = -10;
    server.StatusFor = [](const std::string&) { return 503; };
    server.HeadersFor = [](const std::string&) { return std::string("Retry-After: 0\r\n"); };
    const TMusicBrainzResult refused = LookupMusicBrainz(Local(server), toc);
    EXPECT_EQ(refused.Reason, "MusicBrainz refused the request (HTTP 503).");
    EXPECT_EQ(server.Requests().size(), 4u);

    MusicBrainzSetInterval(300);
    const auto before = std::chrono::steady_clock::now();
    server.StatusFor = [](const std::string&) { return 200; };
    LookupMusicBrainz(Local(server), toc);
    LookupMusicBrainz(Local(server), toc);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(290));
}

// A server that never answers: the lookup ends at its time-out with the reason.
TEST_F(MusicBrainzTest, AServerThatNeverAnswers)
{
    MusicBrainzSetTimeouts(500, 1, 1);
    TTestHttpServer server([](const std::string&) { return std::string(); });
    server.Mode = TTestHttpServer::Behaviour::NeverAnswer;
    const TMusicBrainzResult result = LookupMusicBrainz(Local(server), toc);
    EXPECT_TRUE(result.Releases.empty());
    EXPECT_NE(result.Reason.find("MusicBrainz could not be reached"), std::string::npos) << result.Reason;
}

// The cover: fetched behind the archive's 307, written whole; none (404) is said and writes
// nothing; a cover file already there is kept.
TEST_F(MusicBrainzTest, TheCoverBehindARedirect)
{
    const std::string jpeg = "\xFF\xD8\xFF\xE0" + std::string(5000, 'j');
    TTestHttpServer server([&](const std::string& line) {
        return line.find("/images/") != std::string::npos ? jpeg : std::string("redirect");
    });
    server.StatusFor = [](const std::string& line) {
        if (line.find("/release/missing/") != std::string::npos)
            return 404;
        return line.find("/images/") != std::string::npos ? 200 : 307;
    };
    server.HeadersFor = [&](const std::string& line) {
        return line.find("/front-500") != std::string::npos
                   ? "Location: http://127.0.0.1:" + std::to_string(server.Port()) + "/images/cover.jpg\r\n"
                   : std::string();
    };
    std::string message;
    ASSERT_TRUE(FetchCoverArt(Local(server), "rel-1", Path("cover.jpg"), message)) << message;
    EXPECT_EQ(ReadFile("cover.jpg"), jpeg);
    EXPECT_EQ(server.Requests()[0], "GET /release/rel-1/front-500 HTTP/1.1");

    EXPECT_FALSE(FetchCoverArt(Local(server), "rel-2", Path("cover.jpg"), message));
    EXPECT_NE(message.find("is there already"), std::string::npos) << message;
    EXPECT_EQ(ReadFile("cover.jpg"), jpeg);

    EXPECT_FALSE(FetchCoverArt(Local(server), "missing", Path("other.jpg"), message));
    EXPECT_EQ(message, "The Cover Art Archive has no front cover for this release.");
    EXPECT_FALSE(std::filesystem::exists(Path("other.jpg")));
    EXPECT_FALSE(std::filesystem::exists(Path("other.jpg.part")));
}

}  // namespace
