#include "Ctdb.h"

#include "MusicBrainz.h"
#include "akrip32Drives.h"

#include "DriveTestSupport.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

// The table a drive reads of a disc: tracks at these sectors (MSF addresses less 150), the data
// ones after count audio tracks in a second session.
TTOC TocOf(const std::vector<int32_t>& starts, int32_t leadOut, std::size_t audio)
{
    TDiscToc disc;
    for (std::size_t t = 0; t < starts.size(); ++t)
        disc.Tracks.push_back({starts[t], t < audio, t < audio ? 1 : 2});
    disc.LeadOutLba = leadOut;
    return MsfTocOf(std::make_shared<TScriptedDrive>(disc));
}

// The published examples: a 4-track disc (4+96+2D2B+6256+B327+D84A) and an Enhanced CD whose 13
// audio tracks end 11400 sectors before its data track (D+96+3B5D+...+35D56+514C8).
TEST(CtdbTest, TocIdsOfThePublishedExamples)
{
    const TTOC four = TocOf({0x96 - 150, 0x2D2B - 150, 0x6256 - 150, 0xB327 - 150}, 0xD84A - 150, 4);
    EXPECT_EQ(CtdbTocId(four), "VukMWWItblELRM.CEFpXxw0FlME-");
    EXPECT_EQ(CtdbTocParameter(four), "0:11413:25024:45713:55220");

    std::vector<int32_t> starts;
    for (const int32_t msf : {0x96, 0x3B5D, 0x78E3, 0xB441, 0xEC83, 0x134F4, 0x17225, 0x1A801, 0x1EA5C, 0x23B5B, 0x27CEF,
                              0x2B58B, 0x2F974, 0x35D56})
        starts.push_back(msf - 150);
    const TTOC enhanced = TocOf(starts, 0x514C8 - 150, 13);
    EXPECT_EQ(CtdbTocId(enhanced), "gmEsiU5wvQFA1Nq9YE_posiwgK8-");
    const std::string parameter = CtdbTocParameter(enhanced);
    EXPECT_EQ(parameter.substr(parameter.rfind(':', parameter.size() - 8) + 1),
              "-" + std::to_string(0x35D56 - 150) + ":" + std::to_string(0x514C8 - 150));
}

}  // namespace

namespace {

// The lookup's answer read: every entry with its CRCs; none is "not in database"; anything
// malformed is refused with a reason.
TEST(CtdbTest, AnswersAreReadOrRefused)
{
    const std::string good =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<ctdb xmlns=\"http://db.cuetools.net/ns/mmd-1.0#\">"
        "<entry confidence=\"12\" crc32=\"a1b2c3d4\" hasparity=\"http://x/p.bin\" id=\"77\" npar=\"8\" stride=\"5880\" "
        "toc=\"0:100:200\" trackcrcs=\"0a0b0c0d ffffffff\" />"
        "<entry confidence=\"1\" crc32=\"00000001\" id=\"78\" npar=\"16\" stride=\"5880\" trackcrcs=\"1 2\" />"
        "</ctdb>";
    std::string why;
    const auto entries = ParseCtdbAnswer(good, why);
    ASSERT_TRUE(entries) << why;
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].Crc32, 0xa1b2c3d4u);
    EXPECT_EQ((*entries)[0].Confidence, 12);
    EXPECT_EQ((*entries)[0].TrackCrcs, (std::vector<uint32_t>{0x0a0b0c0du, 0xffffffffu}));
    EXPECT_EQ((*entries)[0].Npar, 8);
    EXPECT_EQ((*entries)[0].Stride, 5880);
    EXPECT_TRUE((*entries)[0].HasParity);
    EXPECT_FALSE((*entries)[1].HasParity);
    EXPECT_EQ((*entries)[1].Id, "78");
    const auto none = ParseCtdbAnswer("<ctdb xmlns=\"http://db.cuetools.net/ns/mmd-1.0#\"/>", why);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    for (const char* bad : {"", "not xml", "<html><body>error</body></html>", "<ctdb><entry crc32=\"zz\" confidence=\"1\" "
                            "trackcrcs=\"1\"/></ctdb>", "<ctdb><entry crc32=\"1\" confidence=\"1\"/></ctdb>",
                            "<ctdb><entry crc32=\"1\" confidence=\"-4\" trackcrcs=\"1\"/></ctdb>", "<ctdb><entry"}) {
        why.clear();
        EXPECT_FALSE(ParseCtdbAnswer(bad, why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

// The lookup against a local stand-in: the request as the service documents it, an answer, a
// disc it does not know (404), an error, and no server.
TEST(CtdbTest, TheLookupOverHttp)
{
    MusicBrainzSetInterval(0);
    const std::shared_ptr<void> interval(nullptr, [](void*) { MusicBrainzSetInterval(1000); });
    int status = 200;
    TTestHttpServer server([&](const std::string&) {
        return std::string("<ctdb><entry confidence=\"3\" crc32=\"1\" trackcrcs=\"2 3 4 5\"/></ctdb>");
    });
    server.StatusFor = [&](const std::string&) { return status; };
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port());
    const TTOC toc = TocOf({0, 11413, 25024, 45713}, 55220, 4);
    TCtdbAnswer answer = FetchCtdb(url + "/", CtdbTocParameter(toc));
    ASSERT_TRUE(answer.Checked) << answer.Reason;
    ASSERT_EQ(answer.Entries.size(), 1u);
    EXPECT_EQ(answer.Entries[0].Confidence, 3);
    EXPECT_EQ(server.Requests().front(),
              "GET /lookup2.php?version=3&ctdb=1&fuzzy=1&metadata=none&toc=0:11413:25024:45713:55220 HTTP/1.1");
    EXPECT_NE(server.Heads().front().find("User-Agent: " + MusicBrainzUserAgent()), std::string::npos);
    status = 404;
    answer = FetchCtdb(url, CtdbTocParameter(toc));
    EXPECT_TRUE(answer.Checked);
    EXPECT_TRUE(answer.Entries.empty());
    status = 500;
    answer = FetchCtdb(url, CtdbTocParameter(toc));
    EXPECT_FALSE(answer.Checked);
    EXPECT_EQ(answer.Reason, "HTTP 500");
    answer = FetchCtdb("http://127.0.0.1:1", CtdbTocParameter(toc));
    EXPECT_FALSE(answer.Checked);
    EXPECT_EQ(answer.Reason.rfind("no connection to http://127.0.0.1:1 (", 0), 0u) << answer.Reason;
}

// Each track's verdict and the disc's line for every kind of answer a server gives: entries that
// confirm all tracks, some (two entries adding their confidence), none, only another track
// count's, a 404, an error, malformed XML, and a server that never answers (the wait cancelled).
TEST(CtdbTest, VerdictsForEveryAnswer)
{
    MusicBrainzSetInterval(0);
    const std::shared_ptr<void> interval(nullptr, [](void*) { MusicBrainzSetInterval(1000); });
    const std::vector<uint32_t> crcs = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    const uint32_t disc = 0xD15C0000;
    const auto entry = [](int confidence, uint32_t discCrc, const std::vector<uint32_t>& tracks) {
        std::string t;
        for (const uint32_t c : tracks) {
            char hex[12];
            std::snprintf(hex, sizeof hex, "%s%x", t.empty() ? "" : " ", c);
            t += hex;
        }
        char head[96];
        std::snprintf(head, sizeof head, "<entry confidence=\"%d\" crc32=\"%x\" trackcrcs=\"", confidence, discCrc);
        return head + t + "\" npar=\"8\" stride=\"5880\"/>";
    };
    struct Case {
        const char* name;
        std::string body;
        int status;
        std::vector<std::string> tracks;
        std::string disc;
    };
    const std::vector<Case> cases = {
        {"all", "<ctdb>" + entry(3, disc, crcs) + "</ctdb>", 200,
         {"accurately ripped (confidence 3)", "accurately ripped (confidence 3)", "accurately ripped (confidence 3)",
          "accurately ripped (confidence 3)"},
         "4 of 4 tracks accurate; disc CRC matches (confidence 3)"},
        {"some", "<ctdb>" + entry(2, 1, {crcs[0], crcs[1], 9, 9}) + entry(1, 2, {crcs[0], 8, 8, 8}) + "</ctdb>", 200,
         {"accurately ripped (confidence 3)", "accurately ripped (confidence 2)", "differs", "differs"},
         "2 of 4 tracks accurate; disc CRC differs"},
        {"none", "<ctdb>" + entry(9, 1, {1, 2, 3, 4}) + "</ctdb>", 200, {"differs", "differs", "differs", "differs"},
         "0 of 4 tracks accurate; disc CRC differs"},
        {"another disc", "<ctdb>" + entry(9, disc, {crcs[0], crcs[1], crcs[2]}) + "</ctdb>", 200,
         {"not in database", "not in database", "not in database", "not in database"}, "not in database"},
        {"404", "", 404, {"not in database", "not in database", "not in database", "not in database"}, "not in database"},
        {"500", "", 500, {"not checked (HTTP 500)", "not checked (HTTP 500)", "not checked (HTTP 500)",
                          "not checked (HTTP 500)"}, "not checked (HTTP 500)"},
    };
    std::string body;
    TTestHttpServer server([&](const std::string&) { return body; });
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port());
    const std::string toc = "0:11413:25024:45713:55220";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        body = c.body;
        server.Status = c.status;
        const TCtdbAnswer answer = TCtdbLookup(url, toc).Wait();
        for (int t = 1; t <= 4; ++t)
            EXPECT_EQ(JudgeCtdbTrack(answer, 4, t, crcs[static_cast<std::size_t>(t - 1)]).Text(), c.tracks[std::size_t(t - 1)])
                << t;
        int accurate = 0;
        for (int t = 1; t <= 4; ++t)
            accurate += JudgeCtdbTrack(answer, 4, t, crcs[static_cast<std::size_t>(t - 1)]).Result == TCtdbVerdict::Accurate;
        EXPECT_EQ(CtdbDiscText(answer, 4, accurate, 4, disc), c.disc);
    }
    // Without the disc's CRC (not every track ripped) the line stops at the tracks.
    body = "<ctdb>" + entry(3, disc, crcs) + "</ctdb>";
    server.Status = 200;
    EXPECT_EQ(CtdbDiscText(TCtdbLookup(url, toc).Wait(), 4, 1, 1, std::nullopt), "1 of 1 track accurate");

    body = "<ctdb><entry confidence=\"3\" crc32=\"1\" trackcrcs=\"1 2 3 4\"></ctdb>";
    const TCtdbAnswer malformed = TCtdbLookup(url, toc).Wait();
    EXPECT_EQ(JudgeCtdbTrack(malformed, 4, 1, 1).Text().rfind("not checked (a malformed answer: ", 0), 0u)
        << JudgeCtdbTrack(malformed, 4, 1, 1).Text();

    // A server that never answers: the lookup dropped ends on its own, and a fetch told to stop
    // says it was not checked.
    server.Mode = TTestHttpServer::Behaviour::NeverAnswer;
    std::atomic<bool> cancel{false};
    std::thread stop([&] {
        while (server.Requests().size() < 9)
            std::this_thread::yield();
        cancel = true;
    });
    const TCtdbAnswer silent = FetchCtdb(url, toc, &cancel);
    stop.join();
    EXPECT_FALSE(silent.Checked);
    EXPECT_EQ(JudgeCtdbTrack(silent, 4, 1, 1).Text().rfind("not checked (", 0), 0u);
    { TCtdbLookup dropped(url, toc); }
}

}  // namespace
