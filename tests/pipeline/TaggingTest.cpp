#include "Tagging.h"

#include "id3.h"

#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>

namespace {

class TaggingTest : public TempDirTest {
protected:
    // Half a second of a tone, encoded by lame, untagged.
    bool MakeMp3(const std::string& name) const
    {
        return std::system(("sox -n -r 44100 -c 2 -b 16 -t wav - synth 0.5 sine 440 | lame --quiet - '" + Path(name) + "'")
                               .c_str()) == 0;
    }
};

// The cover a rip embeds: the first picture among the names, by its bytes (not its name); a file
// of one of the names that is no picture is passed over and said.
TEST_F(TaggingTest, TheCoverIsTheFirstPictureAmongItsNames)
{
    const std::string jpeg = "\xFF\xD8\xFF\xE0jpeg", png = "\x89PNG\r\n\x1A\npng";
    const struct {
        std::vector<std::pair<const char*, std::string>> files;
        const char* chosen;  // null: none
        const char* mime;
        bool problem;
    } cases[] = {
        {{}, nullptr, "", false},
        {{{"front.jpg", jpeg}, {"folder.jpg", jpeg}}, "folder.jpg", "image/jpeg", false},
        {{{"cover.png", png}, {"front.jpg", jpeg}}, "front.jpg", "image/jpeg", false},
        {{{"cover.png", png}}, "cover.png", "image/png", false},
        {{{"cover.jpg", "<html>not a picture</html>"}, {"folder.png", png}}, "folder.png", "image/png", true},
        {{{"cover.jpg", ""}}, nullptr, "", true},
        {{{"Cover.JPG", jpeg}}, nullptr, "", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        const std::string dir = "case" + std::to_string(n++);
        std::filesystem::create_directory(Path(dir));
        for (const auto& [name, bytes] : c.files)
            WriteFile(dir + "/" + name, bytes);
        std::string problem;
        const std::optional<TCoverArt> cover = FindCoverArt(Path(dir), &problem);
        ASSERT_EQ(cover.has_value(), c.chosen != nullptr);
        if (cover) {
            EXPECT_EQ(cover->Path, Path(dir + "/" + c.chosen));
            EXPECT_EQ(cover->Mime, c.mime);
        }
        EXPECT_EQ(!problem.empty(), c.problem) << problem;
    }
}

// The ID3 tag editor writes the ID3v1 block only: an ID3v2 tag in front of the audio stays byte
// for byte, and the other reader still finds it.
TEST_F(TaggingTest, SavingTheId3v1BlockLeavesTheId3v2TagInFront)
{
    ASSERT_TRUE(MakeMp3("a.mp3"));
    TTrackTags tags;
    tags.Title = "Μια μέρα 一日";
    ASSERT_EQ(WriteTags(Path("a.mp3"), TTagFamily::Id3v2, tags), "");
    const std::string before = ReadFile("a.mp3");
    ASSERT_EQ(before.substr(0, 3), "ID3");
    EXPECT_TRUE(IsMp3File(Path("a.mp3")));
    Tid3tag v1;
    v1.ReadFromFile(Path("a.mp3"));
    v1.SetTitle("Edited");
    ASSERT_EQ(v1.SaveToFile(Path("a.mp3")), id3Success);
    const std::string after = ReadFile("a.mp3");
    ASSERT_EQ(after.size(), before.size() + 128);
    EXPECT_TRUE(after.compare(0, before.size(), before) == 0);
    EXPECT_EQ(after.substr(after.size() - 128, 9), "TAGEdited");
    const std::string read = CommandOutput("/usr/bin/python3 " TEST_DATA "/read_tags.py '" + Path("a.mp3") + "'");
    EXPECT_EQ(read.substr(0, read.find('\n')), "Μια μέρα 一日");
}

// An edit of the ID3v1 fields reaches the ID3v2 tag players read: the fields named, whole (not cut
// to ID3v1's 30 characters); the others, the cover and the ReplayGain frames stay; the track
// keeps its total. A file without an ID3v2 tag gets none.
TEST_F(TaggingTest, AnEditChangesTheSameFieldsOfTheId3v2Tag)
{
    ASSERT_TRUE(MakeMp3("a.mp3"));
    ASSERT_EQ(std::system(("cp '" + Path("a.mp3") + "' '" + Path("plain.mp3") + "'").c_str()), 0);
    TCoverArt cover{"", "image/jpeg", {'\xFF', '\xD8', '\xFF', '\xE0', 'j'}};
    TTrackTags tags;
    tags.Title = "Old title";
    tags.Artist = "The Band";
    tags.Album = "Album";
    tags.Genre = "Rock";
    tags.Track = 3;
    tags.TrackTotal = 12;
    tags.Cover = &cover;
    tags.TrackGain = "-6.52 dB";
    ASSERT_EQ(WriteTags(Path("a.mp3"), TTagFamily::Id3v2, tags), "");
    TId3Edit edit;
    edit.Title = "A corrected title longer than thirty characters, ü";
    edit.Genre = "";
    edit.Track = 4;
    ASSERT_EQ(EditId3v2(Path("a.mp3"), edit), "");
    const std::string read = CommandOutput("/usr/bin/python3 " TEST_DATA "/read_tags.py '" + Path("a.mp3") + "'");
    std::vector<std::string> lines;
    std::istringstream in(read);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 10u) << read;
    EXPECT_EQ(lines[0], "A corrected title longer than thirty characters, ü");
    EXPECT_EQ(lines[1], "The Band");
    EXPECT_EQ(lines[2], "Album");
    EXPECT_EQ(lines[4], "") << "the genre removed";
    EXPECT_EQ(lines[5], "4");
    EXPECT_EQ(lines[6], "12");
    EXPECT_NE(lines[8], "-") << "the cover stays";
    EXPECT_NE(read.find("-6.52 dB"), std::string::npos) << read;

    const std::string plain = ReadFile("plain.mp3");
    ASSERT_EQ(EditId3v2(Path("plain.mp3"), edit), "");
    EXPECT_EQ(ReadFile("plain.mp3"), plain);
}

}  // namespace
