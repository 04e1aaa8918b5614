#include "Global.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <vector>
#include <string>

namespace {

// The order the list was sorted in: without regard to case, hyphens skipped, other
// punctuation and spaces before digits, digits before letters ("Pop/Funk" < "Pop-Folk",
// "Eurodance" < "Euro-House", "Hard Rock" < "Hardcore").
std::vector<int> SortKey(const std::string& name)
{
    std::vector<int> key;
    for (const char ch : name) {
        const int c = std::tolower(static_cast<unsigned char>(ch));
        if (c == '-')
            continue;
        if (c >= 'a' && c <= 'z')
            key.push_back(512 + c);
        else if (c >= '0' && c <= '9')
            key.push_back(256 + c);
        else
            key.push_back(c);
    }
    return key;
}

TEST(TablesTest, GenreNamesAreSortedWithEveryCodeOnce)
{
    std::set<int> codes;
    for (int i = 0; i < GenreCount; ++i) {
        codes.insert(GenreNames[i].Code);
        if (i > 0) {
            EXPECT_LT(SortKey(GenreNames[i - 1].Name), SortKey(GenreNames[i].Name))
                << GenreNames[i - 1].Name << " / " << GenreNames[i].Name;
        }
    }
    EXPECT_EQ(codes.size(), 148u);
    EXPECT_EQ(*codes.begin(), 0);
    EXPECT_EQ(*codes.rbegin(), 147);
    EXPECT_STREQ(GenreNames.front().Name, "A Cappella");
    EXPECT_STREQ(GenreNames.back().Name, "Vocal");
}

TEST(TablesTest, GenreIndexOfIsExact)
{
    EXPECT_EQ(GenreIndexOf("Rock"), 117);
    EXPECT_EQ(GenreNames[117].Code, 17);
    EXPECT_EQ(GenreIndexOf("rock"), -1);
    EXPECT_EQ(GenreIndexOf("Alt. Rock"), 5);
    EXPECT_EQ(GenreIndexOf("Drum & Base"), 43);
    EXPECT_EQ(GenreIndexOf("Folk/Rock"), 54);
    EXPECT_EQ(GenreIndexOf(""), -1);
    EXPECT_EQ(GenreIndexOf("Vocal"), 147);
}

TEST(TablesTest, WMAProfileTextsAgreeWithTheirSettings)
{
    // Each shown text names the same rate, bit rate and channels as the encoder setting.
    for (int i = 0; i < WMAProfileCount; ++i) {
        const std::string setting = WMAProfiles[i].Setting, text = WMAProfiles[i].Text;
        const auto u1 = setting.find('_'), u2 = setting.rfind('_');
        const std::string kbit = setting.substr(0, u1), khz = setting.substr(u1 + 1, u2 - u1 - 1);
        const std::string channels = setting.substr(u2 + 1);
        EXPECT_NE(text.find(" " + kbit + " kbit/s"), std::string::npos) << text;
        EXPECT_EQ(std::stoi(text), std::stoi(khz)) << text;
        EXPECT_NE(text.find(channels == "2" ? "Stereo" : "Mono"), std::string::npos) << text;
        EXPECT_GT(WMASizeRatios[i], 7000);
    }
    EXPECT_STREQ(WMAProfiles[DefaultWMAProfile].Text, "44.100 kHz,  64 kbit/s, Stereo");
    EXPECT_STREQ(WMAProfiles[0].Setting, "192_48_2");
    EXPECT_STREQ(WMAProfiles[32].Setting, "5_8_1");
    EXPECT_EQ(WMASizeRatios[8], 21790);
    EXPECT_EQ(WMASizeRatios[32], 261485);
}

}  // namespace
