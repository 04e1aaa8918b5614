#include "JobItems.h"
#include "JobSettings.h"

#include <gtest/gtest.h>

namespace {

// A rip's files come from its title, made a name any file system takes (the title stays as
// typed): "/" and NUL become "-", '"' "'", control characters and the characters FAT refuses a
// space, spaces and dots at the ends go, a long name is cut to 255 bytes with its extension at a
// UTF-8 character's edge, a title that gives no name at all is "Track NN". Names stay in the
// output folder whatever the title says.
TEST(JobItemsTest, ARipNamesItsFilesFromTheTitles)
{
    const std::string folder = "/music/Out/";
    const std::string japanese = [] {
        std::string s;
        for (int i = 0; i < 111; ++i)
            s += "\xE6\x97\xA5";  // three bytes
        return s;
    }();
    const struct {
        std::string text;
        std::string title;
        std::string name;  // without extension
    } cases[] = {
        {"01Intro", "Intro", "Intro"},
        {"12AC/DC", "AC/DC", "AC-DC"},
        {"03../escape", "../escape", "-escape"},
        {std::string("04nul\0inside", 12), std::string("nul\0inside", 10), "nul-inside"},
        {"05", "", "Track 05"},
        {"06.", ".", "Track 06"},
        {"07..", "..", "Track 07"},
        {"08Say \"Hi\"\tnow\n", "Say \"Hi\"\tnow\n", "Say 'Hi' now"},
        {"09Live: 1999?", "Live: 1999?", "Live 1999"},
        {"10a*b<c>d\\e|f", "a*b<c>d\\e|f", "a b c d e f"},
        {"11 .hidden. ", " .hidden. ", "hidden"},
        {"13line\r\nbreak", "line\r\nbreak", "line break"},
        {"14" + std::string(300, 'x'), std::string(300, 'x'), std::string(250, 'x')},
        {"15" + std::string(250, 'y'), std::string(250, 'y'), std::string(250, 'y')},
        {"16" + std::string(251, 'z'), std::string(251, 'z'), std::string(250, 'z')},
        // 333 bytes: cut to 249 (83 characters), never inside one.
        {"17" + japanese, japanese, japanese.substr(0, 249)},
    };
    std::vector<std::string> texts;
    for (const auto& c : cases)
        texts.push_back(c.text);
    const std::vector<TJobItem> items = NameJobItems(jkRipTracks, texts, folder, *FormatOfKey("flac"));
    ASSERT_EQ(items.size(), std::size(cases));
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].Title, cases[i].title);
        EXPECT_EQ(items[i].Wav, folder + cases[i].name + ".wav");
        EXPECT_EQ(items[i].Output, folder + cases[i].name + ".flac");
        EXPECT_LE(cases[i].name.size() + 5, MaxNameBytes);
    }
    EXPECT_EQ(items[0].Track, 1);
    EXPECT_EQ(items[1].Track, 12);
    EXPECT_EQ(NameJobItems(jkRipTracks, {"02Song"}, folder, *FormatOfKey("wav"))[0].Output, "/music/Out/Song.wav");
    EXPECT_EQ(TrackItemText(7, "AC/DC"), "07AC/DC");
    // Names for systems that take them: only "/", NUL, '"' and control characters are changed.
    EXPECT_EQ(NamedTrackPath(TNaming{"%title%", "", "", "", false}, 1, "Who? Me: \"x\"|y\tz"), "Who? Me: 'x'|y z");
}

// Two tracks whose names come out the same stay two files: two long titles cut to the same
// bytes, two of one title; a third gets " (3)"; the WAV and the output move together.
TEST(JobItemsTest, TracksThatNameTheSameFileStayApart)
{
    const std::string a = std::string(260, 'a') + "1", b = std::string(260, 'a') + "2";
    const std::vector<TJobItem> items =
        NameJobItems(jkRipTracks, {"01" + a, "02" + b, "03" + a, "04Song", "05Song"}, "/o/", *FormatOfKey("opus"),
                     TNaming{"%artist%/%title%", "X", "", ""});
    const std::string cut = std::string(250, 'a');
    EXPECT_EQ(items[0].Output, "/o/X/" + cut + ".opus");
    EXPECT_EQ(items[1].Output, "/o/X/" + std::string(246, 'a') + " (2).opus");
    EXPECT_EQ(items[1].Wav, "/o/X/" + std::string(246, 'a') + " (2).wav");
    EXPECT_EQ(items[2].Output, "/o/X/" + std::string(246, 'a') + " (3).opus");
    EXPECT_EQ(items[3].Output, "/o/X/Song.opus");
    EXPECT_EQ(items[4].Output, "/o/X/Song (2).opus");
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

// A template: fields filled in, a field's "/" written as "-" so only the template's own "/" make
// folders, %track% in two digits, a missing artist or album named "Unknown ...". An empty field
// leaves out its folder, or takes its separators and brackets along; the template's own text
// around a field that is there stays.
TEST(JobItemsTest, ATemplateNamesFilesAndFolders)
{
    const TNaming disc{"%artist%/%album% (%year%)/%track% %title%", "AC/DC", "Back in Black", "1980"};
    const auto noYear = [](const char* tmpl) { return TNaming{tmpl, "Test Artist", "Test Album", ""}; };
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
        {TNaming{"%artist%/%album%/%title%", "..", "\n", ""}, 2, "x", "Unknown Artist/Unknown Album/x"},
        {TNaming{"%track%-%TITLE%-100%", "", "", ""}, 7, "t", "07-%TITLE%-100%"},
        {TNaming{"%title%%title%", "", "", ""}, 7, "ab", "abab"},
        {noYear("%year%/%track% %title%"), 1, "First Song", "01 First Song"},
        {noYear("%artist%/%year% %album%"), 1, "x", "Test Artist/Test Album"},
        {noYear("%artist% - %year% - %album%/%title%"), 1, "x", "Test Artist - Test Album/x"},
        {noYear("%album% (%year%)/%title%"), 1, "x", "Test Album/x"},
        {noYear("%album% [%year%] %track%/%title%"), 4, "x", "Test Album 04/x"},
        {noYear("%year%-%album%/%title%"), 1, "x", "Test Album/x"},
        {noYear("%artist%/%year%/%title%"), 1, "x", "Test Artist/x"},
        {noYear("%track% - %title%"), 3, "", "03"},
        {noYear("%track%. %title%"), 3, "", "03"},
        {noYear("%year%"), 3, "x", "Track 03"},
        {noYear("%artist%/Disc: %album%?/%title%"), 1, "x", "Test Artist/Disc Test Album/x"},
        {TNaming{"%album% (%year%)", "", "A", "1999"}, 1, "x", "A (1999)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.naming.Template);
        EXPECT_EQ(NamedTrackPath(c.naming, c.track, c.title), c.path);
    }
    const std::vector<TJobItem> items = NameJobItems(jkRipTracks, {"02Song", "03"}, "/out/", *FormatOfKey("flac"), disc);
    EXPECT_EQ(items[0].Wav, "/out/AC-DC/Back in Black (1980)/02 Song.wav");
    EXPECT_EQ(items[0].Output, "/out/AC-DC/Back in Black (1980)/02 Song.flac");
    EXPECT_EQ(items[1].Output, "/out/AC-DC/Back in Black (1980)/03.flac");
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
        {"%artist%/%year%", nullptr},
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

// A template edited into options.ini by hand that the Options dialog would refuse: refused on
// loading, with that reason, and "%title%" used; a good one is kept without a word.
TEST(JobItemsTest, ATemplateTheDialogWouldRefuseIsRefusedOnLoading)
{
    for (const auto& [stored, used] : std::vector<std::pair<std::string, std::string>>{
             {"../%title%", "%title%"}, {"", "%title%"}, {"%name%", "%title%"},
             {"%year%/%track% %title%", "%year%/%track% %title%"}}) {
        SCOPED_TRACE(stored);
        TOptionsSetting options;
        options.Naming.Template = stored;
        OptionsLoadNotes.clear();
        CheckLoadedNaming(options);
        EXPECT_EQ(options.Naming.Template, used);
        if (stored == used) {
            EXPECT_TRUE(OptionsLoadNotes.empty());
        } else {
            ASSERT_EQ(OptionsLoadNotes.size(), 1u);
            EXPECT_EQ(OptionsLoadNotes[0], "options.ini: " + NamingTemplateProblem(stored) + " \"%title%\" is used.");
        }
    }
}

}  // namespace
