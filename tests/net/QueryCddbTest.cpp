#include "QueryCddb.h"

#include "Global.h"
#include "akrip32CddbClient.h"
#include "akrip32CddbParse.h"
#include "akrip32Drives.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QtTest/QTest>

#include <chrono>

namespace {

// The scripted disc of these tests: tracks at blocks 0, 18750 and 21000, lead-out 21750. With
// the 150-frame lead-in the offsets are 150, 18900 and 21150 frames, the lead-out 21900: starts
// at 2, 252 and 282 s (digit sums 2 + 9 + 12 = 23), 292 s in all, 290 s from the first track.
// Disc ID = 23 << 24 | 290 << 8 | 3 = 0x17012203.
TDiscToc ThreeTracks()
{
    return TScriptedDrive::AudioToc({18750, 2250, 750});
}

TTOC MsfTocOf(const TDiscToc& disc)
{
    AkripUseDrives({std::make_shared<TScriptedDrive>(disc)});
    TGetCDHand request{};
    request.Size = 12;
    request.Ver = 1;
    const HCDROM h = GetCDHandle(&request);
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    ReadTOC(h, &toc);
    CloseCDHandle(h);
    return toc;
}

TEST(CddbProtocolTest, DiscIdAndQueryOfAKnownTable)
{
    const TTOC toc = MsfTocOf(ThreeTracks());
    EXPECT_EQ(CddbDiscId(toc), 0x17012203u);
    EXPECT_EQ(CddbQueryCommand(toc), "cddb+query+17012203+3+150+18900+21150+292");
    AkripUseDrives({});
}

TEST(CddbProtocolTest, QueryReplies)
{
    const struct {
        const char* reply;
        int code;
        bool refused;
        std::vector<std::string> matches;  // "category id title"
    } cases[] = {
        {"200 rock 17012203 The Band / The Album\r\n", 200, false, {"rock 17012203 The Band / The Album"}},
        {"211 close matches found\r\nrock 17012203 A / B\r\nmisc 17012204 C / D\r\n.\r\n", 211, false,
         {"rock 17012203 A / B", "misc 17012204 C / D"}},
        {"210 exact\nrock 1 A\n.\nignored after the end\n", 210, false, {"rock 1 A"}},
        {"202 No match found\r\n", 202, false, {}},
        {"403 Database entry is corrupt\r\n", 403, true, {}},
        {"500 Command syntax error\r\n", 500, true, {}},
        {"<html>not a CDDB server</html>", 0, true, {}},
        {"", 0, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        const TCddbQueryReply r = ParseCddbQueryReply(c.reply, 10);
        EXPECT_EQ(r.Code, c.code);
        EXPECT_EQ(r.Refused(), c.refused);
        std::vector<std::string> got;
        for (const TCddbMatch& m : r.Matches)
            got.push_back(m.Category + " " + m.DiscId + " " + m.Title);
        EXPECT_EQ(got, c.matches);
    }
    // Room for two: the third is not taken.
    EXPECT_EQ(ParseCddbQueryReply("211 x\na 1 A\nb 2 B\nc 3 C\n.\n", 2).Matches.size(), 2u);

    std::string entry;
    EXPECT_TRUE(ParseCddbReadReply("210 rock 1 entry follows\r\nDTITLE=A / B\r\nTTITLE0=x\r\n.\r\nafter", entry));
    EXPECT_EQ(entry, "DTITLE=A / B\nTTITLE0=x\n");
    EXPECT_FALSE(ParseCddbReadReply("401 rock 1 No such CD entry in database\r\n", entry));
}

TEST(CddbProtocolTest, NetworkTextIsCleanedAndCutOnCharacters)
{
    EXPECT_EQ(CleanNetworkText("plain \xC3\xA9t\xC3\xA9"), "plain \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(CleanNetworkText("a\xFF" "b"), "a\xEF\xBF\xBD" "b");              // a byte that starts nothing
    EXPECT_EQ(CleanNetworkText("\xC3"), "\xEF\xBF\xBD");                         // cut short
    EXPECT_EQ(CleanNetworkText("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");         // overlong "/"
    EXPECT_EQ(CleanNetworkText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
    EXPECT_EQ(CleanNetworkText(std::string("a\0b\x1B" "c\td", 7)), "a b c\td");
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(CutUtf8("\xF0\x9F\x8E\xB5x", 3), "");
}

TEST(CddbEntryTest, FieldsAndTitles)
{
    const std::string entry =
        "# xmcd\n# Track frame offsets:\n#  150\n"
        "DISCID=17012203\n"
        "DTITLE=AC/DC / Back in Black\n"
        "DYEAR=1980\n"
        "DGENRE=Rock\n"
        "TTITLE0=Hells Bells\n"
        "TTITLE1=Shoot to Thrill, the long\n"
        "TTITLE1= version\n"
        "TTITLE2=../../etc/passwd\n"
        "EXTD=notes\n"
        "EXTT0=more notes\n"
        "PLAYORDER=\n";
    TCddbFields f;
    ASSERT_TRUE(ParseCddbEntry(entry, 1, 3, f));
    EXPECT_EQ(f.Artist, "AC/DC");
    EXPECT_EQ(f.Album, "Back in Black");
    EXPECT_EQ(f.Year, "1980");
    EXPECT_EQ(f.Genre, 118);
    EXPECT_EQ(f.Titles, (std::vector<std::string>{"Hells Bells", "Shoot to Thrill, the long version", "../../etc/passwd"}));

    const struct {
        const char* dtitle;
        const char* artist;
        const char* album;
    } titles[] = {
        {"The Band / The Album", "The Band", "The Album"},
        {"Band/Album", "Band", "Album"},
        {"Only an album", "", "Only an album"},
        {"  Spaced  /  Out  ", "Spaced", "Out"},
    };
    for (const auto& t : titles) {
        std::string artist, album;
        SplitDiscTitle(t.dtitle, artist, album);
        EXPECT_EQ(artist, t.artist) << t.dtitle;
        EXPECT_EQ(album, t.album) << t.dtitle;
    }

    // "rock" is not the list's "Rock": no genre. A continued DTITLE is joined.
    TCddbFields g;
    EXPECT_FALSE(ParseCddbEntry("DGENRE=rock\nDTITLE=Artist / A very long\nDTITLE= album name\n", 1, 2, g));
    EXPECT_EQ(g.Genre, -1);
    EXPECT_EQ(g.Album, "A very long album name");
    EXPECT_FALSE(g.HasTitles);

    // The database's escapes mean what the protocol says, also split over two lines: \n a line
    // break, \t a tab, \\ a backslash; another backslash stays.
    const struct {
        const char* entry;
        const char* album;
        const char* title;
    } escapes[] = {
        {"DTITLE=A / Live\\nin Rome\nTTITLE0=Say\\tHi\n", "Live\nin Rome", "Say\tHi"},
        {"DTITLE=A / B\\\\C\nTTITLE0=x\\\\ny\n", "B\\C", "x\\ny"},
        {"DTITLE=A / B\\q\nTTITLE0=one\\\nTTITLE0=ntwo\n", "B\\q", "one\ntwo"},
        {"DTITLE=A / B\\\nTTITLE0=end\\\n", "B\\", "end\\"},
    };
    for (const auto& e : escapes) {
        SCOPED_TRACE(e.entry);
        TCddbFields f;
        ASSERT_TRUE(ParseCddbEntry(e.entry, 1, 1, f));
        EXPECT_EQ(f.Album, e.album);
        EXPECT_EQ(f.Titles, std::vector<std::string>{e.title});
    }

    // A 12-track disc whose entry has 10 title lines, then other keys: only ten titles.
    std::string ten;
    for (int i = 0; i < 10; ++i)
        ten += "TTITLE" + std::to_string(i) + "=Song " + std::to_string(i + 1) + "\n";
    ten += "EXTD=Recorded live\nEXTT0=\n";
    TCddbFields h;
    ASSERT_TRUE(ParseCddbEntry(ten, 1, 12, h));
    EXPECT_EQ(h.Titles.size(), 10u);
    EXPECT_EQ(h.Titles[9], "Song 10");

    // A disc starting at track 3 begins with TTITLE2; more lines than tracks are not taken.
    TCddbFields k;
    ASSERT_TRUE(ParseCddbEntry("TTITLE1=before\nTTITLE2=first\nTTITLE3=second\nTTITLE4=third\n", 3, 4, k));
    EXPECT_EQ(k.Titles, (std::vector<std::string>{"first", "second"}));

    // What the lookup found goes into the rows and the disc information; an empty title does not
    // replace a row's.
    std::vector<TTrackRow> rows(3);
    rows[0].Title = "Track01";
    rows[1].Title = "Track02";
    rows[2].Title = "Track03";
    TCDInfo info;
    TCddbFields applied;
    applied.Artist = "A";
    applied.Titles = {"One", "", "Three", "Four"};
    ApplyCddbResult(applied, rows, info);
    EXPECT_EQ(rows[0].Title, "One");
    EXPECT_EQ(rows[1].Title, "Track02");
    EXPECT_EQ(rows[2].Title, "Three");
    EXPECT_EQ(info.Artist, "A");
    EXPECT_EQ(info.Album, "");
}

TEST(CddbEntryTest, ProxyPortsThatAreNoNumberAre80)
{
    EXPECT_EQ(CddbProxyPort("8080"), 8080);
    EXPECT_EQ(CddbProxyPort(" 3128 "), 3128);
    EXPECT_EQ(CddbProxyPort("abc"), 80);
    EXPECT_EQ(CddbProxyPort(""), 80);
    EXPECT_EQ(CddbProxyPort("80x"), 80);
    EXPECT_EQ(CddbProxyPort("70000"), 80);
}

// The lookup against a server on 127.0.0.1 playing the database.
class CddbLookupTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        WriteFile("options.ini", "[QueryCDDB]\nEmail=me@example.org\n");
        LoadSaveOptions(true);
        AkripUseDrives({std::make_shared<TScriptedDrive>(ThreeTracks())});
        TGetCDHand request{};
        request.Size = 12;
        request.Ver = 1;
        handle = GetCDHandle(&request);
        CDDBSetTimeouts(2000, 1, 10);
    }
    void TearDown() override
    {
        CDDBSetTimeouts(10000, 15, 60);
        AkripUseDrives({});
        TempDirTest::TearDown();
    }

    void UseServer(const TTestHttpServer& server)
    {
        Options.QueryCDDB.Server = "127.0.0.1:" + std::to_string(server.Port());
        Options.QueryCDDB.Script = "/~cddb/cddb.cgi";
    }

    // Runs a lookup to its end: "over", "no match" or "timeout"; fields gets what was applied.
    std::string Lookup(TCddbFields& fields)
    {
        TCddbLookup lookup(1, 3, handle);
        std::string outcome = "timeout";
        QEventLoop loop;
        lookup.OnApply = [&](const TCddbFields& f) { fields = f; };
        lookup.OnOver = [&] {
            outcome = "over";
            loop.quit();
        };
        lookup.OnNoMatch = [&] {
            outcome = "no match";
            reason = lookup.NoMatchReason();
            loop.quit();
        };
        lookup.Start();
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        return outcome;
    }

    HCDROM handle = 0;
    std::string reason;  // the last no-match's
};

std::string EntryReply(const std::string& body)
{
    return "210 rock 17012203 CD database entry follows (until terminating `.')\r\n" + body + ".\r\n";
}

TEST_F(CddbLookupTest, AnExactMatchFillsTheFieldsAndTheServerSeesTheQuery)
{
    TTestHttpServer server([](const std::string& line) -> std::string {
        if (line.find("cmd=cddb+query+") != std::string::npos)
            return "200 rock 17012203 The Band / The Album\r\n";
        return EntryReply("DTITLE=The Band / The Album\r\nDYEAR=2004\r\nDGENRE=Rock\r\n"
                          "TTITLE0=One\r\nTTITLE1=Two\r\nTTITLE2=Three\r\nEXTD=\r\n");
    });
    UseServer(server);
    TCddbFields f;
    ASSERT_EQ(Lookup(f), "over");
    EXPECT_EQ(f.Artist, "The Band");
    EXPECT_EQ(f.Album, "The Album");
    EXPECT_EQ(f.Year, "2004");
    EXPECT_EQ(f.Genre, 118);
    EXPECT_EQ(f.Titles, (std::vector<std::string>{"One", "Two", "Three"}));
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "GET /~cddb/cddb.cgi?cmd=cddb+query+17012203+3+150+18900+21150+292"
                           "&hello=me+example.org+Sonvale+2.1&proto=6 HTTP/1.1");
    EXPECT_EQ(requests[1], "GET /~cddb/cddb.cgi?cmd=cddb+read+rock+17012203&hello=me+example.org+Sonvale+2.1&proto=6 HTTP/1.1");
}

// Two close matches, the first entry without title lines: the second's titles; what the first
// gave on the way is replaced by the second's where it has its own.
TEST_F(CddbLookupTest, TheFirstEntryWithTitlesIsUsed)
{
    TTestHttpServer server([](const std::string& line) -> std::string {
        if (line.find("cddb+query") != std::string::npos)
            return "211 close matches\r\nmisc 17012203 First / Entry\r\nrock 17012204 Second / Entry\r\n.\r\n";
        if (line.find("misc") != std::string::npos)
            return EntryReply("DTITLE=First / Entry\r\nDYEAR=1999\r\nEXTD=no titles here\r\n");
        return EntryReply("DTITLE=Second / Entry\r\nTTITLE0=A\r\nTTITLE1=B\r\n");
    });
    UseServer(server);
    TCddbFields f;
    ASSERT_EQ(Lookup(f), "over");
    EXPECT_EQ(f.Artist, "Second");
    EXPECT_EQ(f.Year, "1999");
    EXPECT_EQ(f.Titles, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(server.Requests().size(), 3u);
}

// No match: the no-match message. Refused (CDDB or HTTP), silent or broken servers, a server
// that is not there: the no-match message too (the query could not be made, and its panel names
// the network), in bounded time, nothing found.
TEST_F(CddbLookupTest, NoMatchAndServersThatFail)
{
    TTestHttpServer none([](const std::string&) { return std::string("202 No match for disc ID 17012203.\r\n"); });
    UseServer(none);
    TCddbFields f;
    EXPECT_EQ(Lookup(f), "no match");
    EXPECT_EQ(reason, "The CDDB server knows no entry for this disc.");

    const std::string refused = "The CDDB server refused the request.";
    const std::string unreachable = "The CDDB server could not be reached, or did not answer in time.";
    const struct {
        const char* name;
        TTestHttpServer::Behaviour mode;
        int status;
        std::string body;
        const char* outcome;
        std::string reason;
    } cases[] = {
        {"CDDB refusal", TTestHttpServer::Behaviour::Answer, 200, "500 Command syntax error\r\n", "no match", refused},
        {"HTTP 403", TTestHttpServer::Behaviour::Answer, 403, "forbidden", "no match", refused},
        {"HTTP 500", TTestHttpServer::Behaviour::Answer, 500, "oops", "no match", refused},
        {"never answers", TTestHttpServer::Behaviour::NeverAnswer, 200, "", "no match", unreachable},
        {"closes mid-reply", TTestHttpServer::Behaviour::CloseMidReply, 200, "200 rock 17012203 The Band / The Album\r\n",
         "no match", unreachable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTestHttpServer server([&](const std::string&) { return c.body; });
        server.Mode = c.mode;
        server.Status = c.status;
        UseServer(server);
        TCddbFields got;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Lookup(got), c.outcome);
        EXPECT_EQ(reason, c.reason);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_FALSE(got.Artist.has_value());
        EXPECT_FALSE(got.HasTitles);
    }
    Options.QueryCDDB.Server = "127.0.0.1:1";  // nothing listens there
    TCddbFields got;
    EXPECT_EQ(Lookup(got), "no match");
    EXPECT_FALSE(got.Artist.has_value());
}

// A match whose entry cannot be read (the read command refused, by CDDB's 401 or by HTTP's):
// nothing was found, so the no-match panel with the reason, never an end as if it had worked.
TEST_F(CddbLookupTest, AMatchWhoseEntryCannotBeReadIsNoMatch)
{
    const struct {
        const char* name;
        int readStatus;
        const char* readBody;
    } cases[] = {{"CDDB 401", 200, "401 rock 17012203 No such CD entry in database\r\n"},
                 {"HTTP 401", 401, "unauthorized"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> reading{false};
        TTestHttpServer server([&](const std::string& line) -> std::string {
            if (line.find("cddb+query") != std::string::npos)
                return "200 rock 17012203 The Band / The Album\r\n";
            reading = true;
            return c.readBody;
        });
        server.StatusFor = [&](const std::string& line) { return line.find("cddb+read") != std::string::npos ? c.readStatus : 200; };
        UseServer(server);
        TCddbFields got;
        EXPECT_EQ(Lookup(got), "no match");
        EXPECT_TRUE(reading);
        EXPECT_EQ(reason, "The CDDB server refused the request.");
        EXPECT_FALSE(got.Artist.has_value());
    }
}

// A reply of 10 MB: the transfer ends at the limit and the entry is cut at 32000 bytes; what
// came before is used.
TEST_F(CddbLookupTest, AGiganticReplyIsCut)
{
    TTestHttpServer server([](const std::string& line) -> std::string {
        if (line.find("cddb+query") != std::string::npos)
            return "200 rock 17012203 Big / Reply\r\n";
        std::string body = "DTITLE=Big / Reply\r\nTTITLE0=" + std::string(10 << 20, 'x') + "\r\n";
        return EntryReply(body);
    });
    UseServer(server);
    TCddbFields f;
    ASSERT_EQ(Lookup(f), "over");
    EXPECT_EQ(f.Album, "Reply");
    ASSERT_EQ(f.Titles.size(), 1u);
    EXPECT_LT(f.Titles[0].size(), 32000u);
    EXPECT_GT(f.Titles[0].size(), 30000u);
}

// Through a proxy: the proxy is asked for the absolute address of the server.
TEST_F(CddbLookupTest, AProxyIsAskedForTheWholeAddress)
{
    TTestHttpServer proxy([](const std::string&) { return std::string("202 No match\r\n"); });
    Options.QueryCDDB.Server = "cddb.example.org:8880";
    Options.QueryCDDB.Script = "/~cddb/cddb.cgi";
    Options.QueryCDDB.UseProxy = true;
    Options.QueryCDDB.ProxyAddress = "127.0.0.1";
    Options.QueryCDDB.Port = std::to_string(proxy.Port());
    TCddbFields f;
    EXPECT_EQ(Lookup(f), "no match");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].rfind("GET http://cddb.example.org:8880/~cddb/cddb.cgi?cmd=cddb+query+17012203+", 0), 0u)
        << proxy.Requests()[0];
}

// Stop: the transfer is cancelled, and nothing the lookup finds afterwards is applied.
TEST_F(CddbLookupTest, AnAbandonedLookupChangesNothing)
{
    TTestHttpServer server([](const std::string&) { return std::string(); });
    server.Mode = TTestHttpServer::Behaviour::NeverAnswer;
    UseServer(server);
    CDDBSetTimeouts(2000, 30, 60);  // only the cancel can end it soon
    bool applied = false, over = false;
    {
        TCddbLookup lookup(1, 3, handle);
        lookup.OnApply = [&](const TCddbFields&) { applied = true; };
        lookup.OnOver = [&] { over = true; };
        lookup.Start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !server.Requests().empty(); }, 10000));
        lookup.Abandon();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(applied);
    EXPECT_FALSE(over);
}

}  // namespace
