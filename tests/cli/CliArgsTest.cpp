#include "CliArgs.h"

#include <gtest/gtest.h>

namespace {

using Tracks = std::optional<std::vector<int>>;

// Track lists at their edges: 1 and 99 are tracks, 0 and 100 are not; a range runs low to high
// and includes both ends; a track named twice is ripped once, in the order first given.
TEST(CliArgsTest, TrackLists)
{
    const std::vector<std::pair<const char*, Tracks>> cases = {
        {"1", std::vector<int>{1}},
        {"1,3-5", std::vector<int>{1, 3, 4, 5}},
        {"5-5", std::vector<int>{5}},
        {"99", std::vector<int>{99}},
        {"1-99", [] { std::vector<int> v; for (int i = 1; i <= 99; ++i) v.push_back(i); return v; }()},
        {"3,1,3,2-3", std::vector<int>{3, 1, 2}},
        {"07", std::vector<int>{7}},
        {"", std::nullopt},
        {"0", std::nullopt},
        {"100", std::nullopt},
        {"5-3", std::nullopt},
        {"1,", std::nullopt},
        {",1", std::nullopt},
        {"1-", std::nullopt},
        {"-2", std::nullopt},
        {"1-2-3", std::nullopt},
        {"+1", std::nullopt},
        {"1 ,2", std::nullopt},
        {"a", std::nullopt},
        {"99999999999", std::nullopt},
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(ParseTrackList(text), want) << '"' << text << '"';
}

TEST(CliArgsTest, Numbers)
{
    EXPECT_EQ(ParseNumber("1", 1, 100), 1);
    EXPECT_EQ(ParseNumber("100", 1, 100), 100);
    EXPECT_EQ(ParseNumber("0", 1, 100), std::nullopt);
    EXPECT_EQ(ParseNumber("101", 1, 100), std::nullopt);
    EXPECT_EQ(ParseNumber("-1", -5, 5), std::nullopt);
    EXPECT_EQ(ParseNumber("12x", 0, 100), std::nullopt);
}

// Titles reach the terminal without the characters that would steer it; letters of every
// script stay, and the ends of each range are pinned.
TEST(CliArgsTest, TerminalText)
{
    const struct {
        std::string in, out;
    } cases[] = {{"Say \"Hi\"", "Say \"Hi\""},
                 {"a\tb\nc\rd", "a b c d"},
                 {"\x1b]0;pwned\x07x", " ]0;pwned x"},
                 {std::string("\x00\x1f\x20\x7e\x7f", 5), "  \x20\x7e "},
                 {"\xc2\x80|\xc2\x9b|\xc2\x9f|\xc2\xa0|\xc2\x7f", " | | |\xc2\xa0|\xc2 "},
                 {"Καλημέρα こんにちは", "Καλημέρα こんにちは"},
                 {"\xc2", "\xc2"}};
    for (const auto& c : cases)
        EXPECT_EQ(TerminalText(c.in), c.out) << c.in;
}

// Options with values in both spellings, flags, plain arguments in order, "--" ending the options.
TEST(CliArgsTest, CommandLines)
{
    const std::set<std::string> values = {"to", "drive"};
    TCliArgs a = ParseCliArgs({"convert", "--to", "ogg", "a.wav", "--json", "--drive=2", "b.wav", "--", "--c.wav"}, values);
    EXPECT_EQ(a.Error, "");
    EXPECT_EQ(a.Command, "convert");
    EXPECT_EQ(a.Values, (std::map<std::string, std::string>{{"to", "ogg"}, {"drive", "2"}}));
    EXPECT_EQ(a.Flags, std::set<std::string>{"json"});
    EXPECT_EQ(a.Plain, (std::vector<std::string>{"a.wav", "b.wav", "--c.wav"}));

    EXPECT_EQ(ParseCliArgs({"rip", "--drive"}, values).Error, "--drive needs a value");
    EXPECT_EQ(ParseCliArgs({"rip", "--json=1"}, values).Error, "--json takes no value");
    EXPECT_EQ(ParseCliArgs({"rip", "-x"}, values).Error, "unknown option -x");
    EXPECT_EQ(ParseCliArgs({"rip", "--to", "--json"}, values).Values.at("to"), "--json");  // a value may look like an option
    EXPECT_TRUE(ParseCliArgs({"rip", "-h"}, values).Has("help"));
    EXPECT_EQ(ParseCliArgs({"convert", "-"}, values).Plain, std::vector<std::string>{"-"});
}

}  // namespace
