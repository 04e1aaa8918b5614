#include "JobItems.h"

#include <gtest/gtest.h>

namespace {

// A rip's files come from its title: "/" and NUL become "-" in the name only (the title stays as
// typed); a title that gives no file name ("", ".", "..", too long) is marked so, and the job
// writes nothing for it. Names stay in the output folder whatever the title says.
TEST(JobItemsTest, ARipNamesItsFilesFromTheTitles)
{
    const std::string folder = "/music/Out/";
    const TOutputFormat& mp3 = *FormatOfKey("mp3");
    const struct {
        std::string text;
        int track;
        std::string title;
        std::string wav;
        bool nameable;
    } cases[] = {
        {"01Intro", 1, "Intro", "/music/Out/Intro.wav", true},
        {"12AC/DC", 12, "AC/DC", "/music/Out/AC-DC.wav", true},
        {"03../escape", 3, "../escape", "/music/Out/..-escape.wav", true},
        {std::string("04nul\0inside", 12), 4, std::string("nul\0inside", 10), "/music/Out/nul-inside.wav", true},
        {"05", 5, "", "/music/Out/.wav", false},
        {"06.", 6, ".", "/music/Out/..wav", false},
        {"07..", 7, "..", "/music/Out/...wav", false},
        {"08" + std::string(252, 'x'), 8, std::string(252, 'x'), "/music/Out/" + std::string(252, 'x') + ".wav", false},
        {"09" + std::string(251, 'y'), 9, std::string(251, 'y'), "/music/Out/" + std::string(251, 'y') + ".wav", true},
    };
    std::vector<std::string> texts;
    for (const auto& c : cases)
        texts.push_back(c.text);
    const std::vector<TJobItem> items = NameJobItems(jkRipTracks, texts, folder, mp3);
    ASSERT_EQ(items.size(), std::size(cases));
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].Track, cases[i].track);
        EXPECT_EQ(items[i].Title, cases[i].title);
        EXPECT_EQ(items[i].Wav, cases[i].wav);
        EXPECT_EQ(items[i].Output, cases[i].wav.substr(0, cases[i].wav.size() - 4) + ".mp3");
        EXPECT_EQ(items[i].Nameable, cases[i].nameable);
    }
    EXPECT_EQ(NameJobItems(jkRipTracks, {"02Song"}, folder, *FormatOfKey("wav"))[0].Output, "/music/Out/Song.wav");
    EXPECT_EQ(TrackItemText(7, "AC/DC"), "07AC/DC");
}

// A conversion's output takes its source's name in the output folder; the recorder's MP3 copy
// goes beside its WAV.
TEST(JobItemsTest, FileJobsNameTheirOutputsAfterTheirSources)
{
    const TOutputFormat& wav = *FormatOfKey("wav");
    const struct {
        TJobKind kind;
        const char* output;
    } cases[] = {{jkWavToMp3, "/out/a.b.mp3"}, {jkMp3ToWav, "/out/a.b.wav"}, {jkWavToOgg, "/out/a.b.ogg"},
                 {jkWavToWma, "/out/a.b.wma"}, {jkRecordToMp3, "/in.d/a.b.mp3"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const TJobItem item = NameJobItems(c.kind, {"/in.d/a.b.wav"}, "/out/", wav).front();
        EXPECT_EQ(item.Source, "/in.d/a.b.wav");
        EXPECT_EQ(item.Output, c.output);
    }
}

}  // namespace
