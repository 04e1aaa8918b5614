#include "OutputFormats.h"

#include "OutputEncoders.h"
#include "ProcessEncoders.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// The stored numbers are what options.ini files already hold: each format keeps its own, the
// dialog lists the formats in that order, and a number naming none rips to WAV.
TEST(OutputFormatsTest, StoredNumbersKeysAndTheirOrder)
{
    const struct {
        const char* key;
        int32_t stored;
        const char* list;
        const char* extension;
        bool encoded;
        TEncoderFactory make;
    } rows[] = {{"mp3", 0, "MP3 file(*.MP3)", ".mp3", true, MakeMp3Encoder},
                {"wav", 1, "WAV file(*.WAV)", ".wav", false, nullptr},
                {"ogg", 2, "OGG file(*.OGG)", ".ogg", true, MakeOggEncoder},
                {"wma", 3, "WMA file(*.WMA)", ".wma", true, MakeWmaEncoder},
                {"flac", 4, "FLAC file(*.FLAC)", ".flac", true, MakeFlacEncoder},
                {"opus", 5, "OPUS file(*.OPUS)", ".opus", true, MakeOpusEncoder}};
    ASSERT_EQ(OutputFormats().size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].key);
        const TOutputFormat& f = OutputFormats()[i];
        EXPECT_EQ(f.Key, rows[i].key);
        EXPECT_EQ(f.Stored, rows[i].stored);
        EXPECT_EQ(f.ListText, rows[i].list);
        EXPECT_EQ(f.Extension, rows[i].extension);
        EXPECT_EQ(f.Encoded, rows[i].encoded);
        EXPECT_EQ(f.MakeEncoder, rows[i].make);
        EXPECT_EQ(&FormatOfStored(rows[i].stored), &f);
        EXPECT_EQ(FormatOfKey(rows[i].key), &f);
    }
    const std::pair<const char*, TTagFamily> tags[] = {{"mp3", TTagFamily::Id3v2},     {"wav", TTagFamily::None},
                                                        {"ogg", TTagFamily::OggVorbis}, {"wma", TTagFamily::None},
                                                        {"flac", TTagFamily::FlacXiph}, {"opus", TTagFamily::OggOpus}};
    for (const auto& [key, family] : tags)
        EXPECT_EQ(FormatOfKey(key)->Tags, family) << key;
    for (const int32_t stranger : {-1, 6, 99})
        EXPECT_EQ(FormatOfStored(stranger).Key, "wav") << stranger;
    EXPECT_EQ(FormatOfKey("fla"), nullptr);
    EXPECT_EQ(FormatOfKey("MP3"), nullptr);
    EXPECT_EQ(FormatKeys(), "mp3|wav|ogg|wma|flac|opus");
}

}  // namespace
