#include "Cli.h"

#include "AccurateRip.h"
#include "DiscScan.h"
#include "akrip32Drives.h"

#include "DriveTestSupport.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

std::string Le32(uint32_t v)
{
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

class OffsetFindTest : public TempDirTest {
protected:
    void TearDown() override
    {
        AkripUseDrives({});
        TempDirTest::TearDown();
    }

    // sonvale-cli with these arguments in this process: its exit status and standard output.
    int Run(const std::vector<std::string>& args, std::string& output)
    {
        std::fflush(stdout);
        const int saved = dup(1);
        const int file = open(Path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, 1);
        close(file);
        const int status = RunCli(*QCoreApplication::instance(), args);
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        output = ReadFile("stdout");
        return status;
    }

    // The database's entry for the image: a pressing of v1 sums and one of v2 sums of the audio as
    // it is on the disc.
    std::string Entry(const std::vector<int32_t>& lengths)
    {
        const TTOC toc = MsfTocOf(OpenImageDrive(Path("disc.cue")));
        const TAccurateRipDiscId id = AccurateRipDiscId(toc);
        const std::string bin = ReadFile("disc.bin");
        std::string v1s, v2s;
        int32_t start = 0;
        for (std::size_t t = 0; t < lengths.size(); ++t) {
            TTrackChecksums sums(int64_t{lengths[t]} * 588, t == 0, t + 1 == lengths.size());
            sums.Add(reinterpret_cast<const uint8_t*>(bin.data()) + std::size_t(start) * 2352, std::size_t(lengths[t]) * 2352);
            v1s += std::string(1, '\3') + Le32(sums.V1()) + Le32(0);
            v2s += std::string(1, '\7') + Le32(sums.V2()) + Le32(0);
            start += lengths[t];
        }
        const std::string head = std::string(1, static_cast<char>(lengths.size())) + Le32(id.Id1) + Le32(id.Id2) + Le32(id.CddbId);
        return head + v1s + head + v2s;
    }
};

// For drives whose offsets are +6, +667 and -1164: one read of each of the two longest tracks
// after the first (and five sectors beyond each end) finds the offset, confirmed on both; --apply
// stores it for the drive as found. A disc the database does not know: exit 1, said why.
TEST_F(OffsetFindTest, OneReadOfTwoTracksFindsTheOffset)
{
    const std::vector<int32_t> lengths = {300, 600, 450, 375};
    std::string command = std::string(MKDISC) + " " + Path("disc.cue");
    for (const int32_t n : lengths)
        command += " " + std::to_string(n / 75.0);
    ASSERT_EQ(std::system((command + " > /dev/null").c_str()), 0);
    const std::string entry = Entry(lengths);
    int status = 200;
    TTestHttpServer server([&](const std::string&) { return status == 200 ? entry : std::string(); });
    server.StatusFor = [&](const std::string&) { return status; };
    WriteFile("options.ini", "[SecureOptions]\nAccurateRipServer=http://127.0.0.1:" + std::to_string(server.Port()) + "\n");

    for (const int offset : {0, 6, 667, -1164}) {
        SCOPED_TRACE(offset);
        const auto drive = std::make_shared<TOffsetDrive>(OpenImageDrive(Path("disc.cue")), offset);
        AkripUseDrives({drive});
        std::string out;
        ASSERT_EQ(Run({"offset", "find", "--json", "--apply"}, out), cliOk) << out;
        const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
        EXPECT_EQ(doc["offset"].toInt(-99999), offset) << out;
        EXPECT_EQ(doc["confirmed_on"].toArray(), (QJsonArray{2, 3})) << out;
        // Each track once, with its margins: no read per candidate.
        EXPECT_LE(drive->SectorsRead(), 600 + 450 + 4 * 5 + 26 * 2) << "sectors read";
        EXPECT_NE(ReadFile("options.ini").find("[DriveOffsets]\nSonvale - Image disc.cue=" +
                                               std::string(offset > 0 ? "+" : "") + std::to_string(offset) + " found\n"),
                  std::string::npos)
            << ReadFile("options.ini");
    }

    // Asked for one track; a disc the database does not know; no track matches.
    AkripUseDrives({std::make_shared<TOffsetDrive>(OpenImageDrive(Path("disc.cue")), 48)});
    std::string out;
    EXPECT_EQ(Run({"offset", "find", "--tracks", "4", "--json"}, out), cliOk);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(out)).object()["confirmed_on"].toArray(), QJsonArray{4});
    status = 404;
    EXPECT_EQ(Run({"offset", "find", "--json"}, out), cliFailed);
    EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(out)).object()["offset"].isNull()) << out;
    EXPECT_NE(out.find("does not know this disc"), std::string::npos) << out;
    status = 200;
    AkripUseDrives({std::make_shared<TOffsetDrive>(OpenImageDrive(Path("disc.cue")), 2941)});
    EXPECT_EQ(Run({"offset", "find"}, out), cliFailed);
    EXPECT_EQ(Run({"offset", "find", "--tracks", "9"}, out), cliUsage);
}

}  // namespace
