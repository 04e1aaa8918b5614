#include "Ctdb.h"

#include "akrip32Drives.h"

#include <gtest/gtest.h>

namespace {

// The table a drive reads of a disc: tracks at these sectors (MSF addresses less 150), the data
// ones after count audio tracks in a second session.
TTOC TocOf(const std::vector<int32_t>& starts, int32_t leadOut, std::size_t audio)
{
    TDiscToc disc;
    for (std::size_t t = 0; t < starts.size(); ++t)
        disc.Tracks.push_back({starts[t], t < audio, t < audio ? 1 : 2});
    disc.LeadOutLba = leadOut;
    AkripUseDrives({std::make_shared<TScriptedDrive>(disc)});
    TGetCDHand request{};
    request.Size = 12;
    request.Ver = 1;
    const HCDROM h = GetCDHandle(&request);
    TTOC toc{};
    ModifyCDParms(h, CDP_MSF, 1);
    EXPECT_EQ(ReadTOC(h, &toc), 1);
    CloseCDHandle(h);
    AkripUseDrives({});
    return toc;
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
