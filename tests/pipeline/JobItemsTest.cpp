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

// A naming template: fields filled in, a field's "/" written as "-" so only the template's own
// "/" make folders, %track% in two digits, a missing artist or album named "Unknown ...".
TEST(JobItemsTest, ATemplateNamesFilesAndFolders)
{
    const TNaming disc{"%artist%/%album% (%year%)/%track% %title%", "AC/DC", "Back in Black", "1980"};
    const struct {
        TNaming naming;
        int track;
        std::string title;
        std::string path;
    } cases[] = {
        {TNaming{}, 3, "Hells Bells", "Hells Bells"},
        {disc, 1, "Hells Bells", "AC-DC/Back in Black (1980)/01 Hells Bells"},
        {disc, 10, "Shake/A Leg", "AC-DC/Back in Black (1980)/10 Shake-A Leg"},
        {TNaming{"%artist%/%album%/%title%", "", "", ""}, 2, "x", "Unknown Artist/Unknown Album/x"},
        {TNaming{"%track%-%TITLE%-100%", "", "", ""}, 7, "t", "07-%TITLE%-100%"},
        {TNaming{"%title%%title%", "", "", ""}, 7, "ab", "abab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.naming.Template);
        EXPECT_EQ(NamedTrackPath(c.naming, c.track, c.title), c.path);
    }
    const std::vector<TJobItem> items = NameJobItems(jkRipTracks, {"02Song", "03", "04.."}, "/out/", *FormatOfKey("flac"), disc);
    EXPECT_EQ(items[0].Wav, "/out/AC-DC/Back in Black (1980)/02 Song.wav");
    EXPECT_EQ(items[0].Output, "/out/AC-DC/Back in Black (1980)/02 Song.flac");
    EXPECT_TRUE(items[0].Nameable);
    // With other text around it, an empty or ".." title is a name; alone it is none.
    EXPECT_TRUE(items[1].Nameable);
    const std::vector<TJobItem> bare = NameJobItems(jkRipTracks, {"03", "04.."}, "/out/", *FormatOfKey("flac"),
                                                    TNaming{"%artist%/%title%", "A", "", ""});
    EXPECT_FALSE(bare[0].Nameable);
    EXPECT_FALSE(bare[1].Nameable);
}

// A template is refused when it is stored if it can name no file, or a file outside the output
// folder.
TEST(JobItemsTest, TemplatesThatCannotNameFilesAreRefused)
{
    const struct {
        const char* tmpl;
        const char* says;  // null: accepted
    } cases[] = {
        {"%title%", nullptr},
        {"%artist%/%album%/%track% %title%", nullptr},
        {"%year%%track%", nullptr},
        {"", "gives a file or folder name \"\""},
        {"%artist%//%title%", "gives a file or folder name \"\""},
        {"%artist%/", "gives a file or folder name \"\""},
        {"../%title%", "gives a file or folder name \"..\""},
        {"%artist%/./%title%", "gives a file or folder name \".\""},
        {"/tmp/%title%", "starts at \"/\""},
        {"%name%", "names no field %name%"},
        {"%title", "has a % without its field"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tmpl);
        const std::string problem = NamingTemplateProblem(c.tmpl);
        if (!c.says)
            EXPECT_EQ(problem, "");
        else
            EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
    }
}

}  // namespace
