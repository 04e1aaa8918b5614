#include "Mp3EncodeThreadParse.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string Fixture(const std::string& name)
{
    std::ifstream in(std::string(TEST_DATA) + "/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(EncoderParseTest, LinesSplitAtEveryKindOfBreak)
{
    EXPECT_EQ(SplitOutputLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitOutputLines("\r\r\n  \n\x1b\x07\nx"), (std::vector<std::string>{"x"}));
    EXPECT_EQ(SplitOutputLines(""), std::vector<std::string>{});
}

TEST(EncoderParseTest, EncodeProgressAtTheColumnTheFirstLineFixes)
{
    // The first "%" at position 20 fixes column 17.
    int32_t column = 0;
    std::string first(40, ' ');
    first[19] = '%';
    EXPECT_TRUE(ParseEncodeOutput(first, column).empty());
    EXPECT_EQ(column, 17);
    struct Case {
        std::string at17;
        int32_t code;  // 0: no report
    } cases[] = {{"( 7", 7}, {"100", 100}, {"(42", 42}, {"abc", 0}, {"( 0", 0}, {"101", 0}};
    for (const Case& c : cases) {
        std::string line(40, ' ');
        line.replace(16, 3, c.at17);
        line[19] = '%';
        const auto reports = ParseEncodeOutput(line, column);
        if (c.code == 0) {
            EXPECT_TRUE(reports.empty()) << c.at17;
        } else {
            ASSERT_EQ(reports.size(), 1u) << c.at17;
            EXPECT_EQ(reports[0].Code, c.code);
        }
    }
}

// What lame 3.100 prints on its standard error through a pipe, recorded: progress lines redrawn
// with CR, its bit-rate histogram (whose lines also hold "%"), and the final "(100%)" line, which
// starts a column earlier than the "( 0%)" lines so that its three digits land on the fixed
// column. The only report is 100, with the times of its CPU columns.
TEST(EncoderParseTest, Lame3100EncodeOutput)
{
    const std::string chunk = Fixture("lame-3.100-encode-stderr.txt");
    int32_t column = 0;
    const auto reports = ParseEncodeOutput(chunk, column);
    EXPECT_EQ(column, 15);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Code, 100);
    EXPECT_EQ(reports[0].ElapsedText, "0:00");
    EXPECT_EQ(reports[0].EstimatedText, "0:00");

    // Delivered a line at a time, as lame writes them: the same.
    column = 0;
    std::vector<int32_t> codes;
    std::size_t from = 0;
    while (from < chunk.size()) {
        std::size_t to = chunk.find_first_of("\r\n", from);
        to = to == std::string::npos ? chunk.size() : to + 1;
        for (const auto& r : ParseEncodeOutput(std::string_view(chunk).substr(from, to - from), column))
            codes.push_back(r.Code);
        from = to;
    }
    EXPECT_EQ(codes, std::vector<int32_t>{100});
}

TEST(EncoderParseTest, DecodeProgressFromTheFrameCounter)
{
    int32_t column = 0;
    auto reports = ParseDecodeOutput("Frame#   250/1000  128 kbps", column, 10.0);
    EXPECT_EQ(column, 7);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Code, 25);
    EXPECT_EQ(reports[0].ElapsedText, "00:10");
    EXPECT_EQ(reports[0].EstimatedText, "00:40");

    // lame 3.100's decoder, recorded: frames 2 to 78 of 78.
    column = 0;
    reports = ParseDecodeOutput(Fixture("lame-3.100-decode-stderr.txt"), column, 1.0);
    ASSERT_FALSE(reports.empty());
    for (std::size_t i = 1; i < reports.size(); ++i)
        EXPECT_GE(reports[i].Code, reports[i - 1].Code);
    EXPECT_EQ(reports.front().Code, 2);  // 2 * 100 / 78
    EXPECT_EQ(reports.back().Code, 100);
}

TEST(EncoderParseTest, WmaOutputGivesTheDoneReportOrTheErrorLine)
{
    auto out = ParseWMAOutput("10%\n55%\n100%\n", 0.2);
    ASSERT_EQ(out.Reports.size(), 1u);
    EXPECT_EQ(out.Reports[0].Code, 100);
    EXPECT_EQ(out.Reports[0].ElapsedText, "00:01") << "a run under half a second counts as 1 s";
    EXPECT_FALSE(out.ErrorLine);

    out = ParseWMAOutput("100%\r\nERROR: cannot open x.wav \nmore\n100%\n", 75);
    EXPECT_TRUE(out.ErrorLine);
    EXPECT_EQ(out.Line, "ERROR: cannot open x.wav ");
    ASSERT_EQ(out.Reports.size(), 1u) << "the rest of the chunk is not parsed";
    EXPECT_EQ(out.Reports[0].ElapsedText, "01:15");
    EXPECT_FALSE(ParseWMAOutput("error in lower case\n", 1).ErrorLine);
}

}  // namespace
