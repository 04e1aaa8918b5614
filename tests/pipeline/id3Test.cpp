#include "id3.h"

#include "GlobalTables.h"
#include "TestSupport.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

class Id3Test : public TempDirTest {
protected:
    // A fake MP3 body: any bytes will do for the tag, which only looks at the end.
    std::string Body(std::size_t n) const { return std::string(n, '\x55'); }

    std::string Block(const std::string& name) const
    {
        const std::string all = ReadFile(name);
        return all.size() >= 128 ? all.substr(all.size() - 128) : std::string();
    }

    static std::string Field(const std::string& text, std::size_t width)
    {
        std::string f = text;
        f.resize(width, '\0');
        return f;
    }
};

TEST_F(Id3Test, ANewTagIsAppendedEmpty)
{
    WriteFile("a.mp3", Body(1000));
    Tid3tag tag;
    EXPECT_EQ(tag.SaveToFile(Path("a.mp3")), id3Success);
    EXPECT_EQ(ReadFile("a.mp3").size(), 1128u);
    EXPECT_EQ(Block("a.mp3"), "TAG" + std::string(124, '\0') + "\xFF");
    EXPECT_EQ(tag.TagFileName(), Path("a.mp3"));
}

TEST_F(Id3Test, SavingOverAnExistingTagKeepsTheLength)
{
    WriteFile("a.mp3", Body(500));
    Tid3tag first;
    first.SetTitle("Something long enough to fill");
    first.SetComment(std::string(30, 'c'));
    ASSERT_EQ(first.SaveToFile(Path("a.mp3")), id3Success);

    Tid3tag tag;
    tag.SetTitle("Intro");
    tag.SetTrack(3);
    tag.Genre = 17;
    ASSERT_EQ(tag.SaveToFile(Path("a.mp3")), id3Success);
    EXPECT_EQ(ReadFile("a.mp3").size(), 628u);
    const std::string b = Block("a.mp3");
    EXPECT_EQ(b.substr(3, 30), Field("Intro", 30));
    EXPECT_EQ(b.substr(97, 28), std::string(28, '\0'));
    EXPECT_EQ(b[125], '\0');
    EXPECT_EQ(b[126], '\x03');
    EXPECT_EQ(b[127], '\x11');
    EXPECT_EQ(ReadFile("a.mp3").substr(0, 500), Body(500));
}

TEST_F(Id3Test, SettersKeepTheFieldWidths)
{
    WriteFile("a.mp3", Body(10));
    Tid3tag tag;
    tag.SetTitle(std::string(40, 't'));
    tag.SetYear("19999");
    tag.SetComment(std::string(30, 'c'));
    EXPECT_EQ(tag.Title(), std::string(30, 't'));
    EXPECT_EQ(tag.Year(), "1999");
    ASSERT_EQ(tag.SaveToFile(Path("a.mp3")), id3Success);
    EXPECT_EQ(Block("a.mp3").substr(97, 30), std::string(30, 'c'));  // no track: all 30 written

    tag.SetTrack(5);
    ASSERT_EQ(tag.SaveToFile("="), id3Success);  // "=" is the file last used
    const std::string b = Block("a.mp3");
    EXPECT_EQ(b.substr(97, 28), std::string(28, 'c'));
    EXPECT_EQ(b.substr(125, 2), std::string("\0\x05", 2));
}

TEST_F(Id3Test, ReadingTrimsAndTellsTheTwoCommentForms)
{
    struct Case {
        const char* name;
        std::string comment;  // 30 bytes at 97
        std::string title;    // 30 bytes at 3
        uint8_t genre;
        uint16_t result;
        std::string wantTitle, wantComment;
        uint8_t wantTrack;
    } cases[] = {
        {"v1.1 with track", std::string("note") + std::string(24, ' ') + std::string("\0\x07", 2), "Song",
         12, id3Success, "Song", "note", 7},
        {"byte 125 not 0", std::string(30, 'x'), "Song" + std::string(26, ' '), 255, id3Success, "Song",
         std::string(30, 'x'), 0},
        {"both 0", std::string("ab") + std::string(28, '\0'), std::string("Pad") + std::string(27, '\xFF'), 0,
         id3Success, "Pad", "ab", 0},
        {"odd genre", std::string(30, '\0'), "", 200, id3GenreWarning, "", "", 0},
        {"last listed genre", std::string(30, '\0'), "", 147, id3Success, "", "", 0},
        {"first genre past the list", std::string(30, '\0'), "", 148, id3GenreWarning, "", "", 0},
        {"no genre", std::string(30, '\0'), "", 255, id3Success, "", "", 0},
        {"inner spaces stay", std::string(30, '\0'), "  a  b", 1, id3Success, "  a  b", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string block = "TAG" + Field(c.title, 30) + Field("Artist", 30) + Field("Album", 30) + "2004";
        block += Field(c.comment, 30);
        block += static_cast<char>(c.genre);
        ASSERT_EQ(block.size(), 128u);
        WriteFile("r.mp3", Body(300) + block);

        Tid3tag tag;
        EXPECT_EQ(tag.ReadFromFile(Path("r.mp3")), c.result);
        EXPECT_EQ(tag.Title(), c.wantTitle);
        EXPECT_EQ(tag.Artist(), "Artist");
        EXPECT_EQ(tag.Album(), "Album");
        EXPECT_EQ(tag.Year(), "2004");
        EXPECT_EQ(tag.Comment(), c.wantComment);
        EXPECT_EQ(tag.Track(), c.wantTrack);
        EXPECT_EQ(tag.Genre, c.genre);
    }
    EXPECT_EQ(ID3ToGenre(200), 0);
}

TEST_F(Id3Test, FilesThatCannotHoldATagGiveResultCodes)
{
    WriteFile("short.mp3", Body(100));
    WriteFile("notag.mp3", Body(1000));
    std::filesystem::create_directory(Path("folder.mp3"));

    Tid3tag tag;
    tag.SetTitle("kept");
    EXPECT_EQ(tag.ReadFromFile(Path("missing.mp3")), id3NoFile);
    EXPECT_EQ(tag.TagFileName(), "");
    EXPECT_EQ(tag.ReadFromFile(Path("folder.mp3")), id3NoFile);
    EXPECT_EQ(tag.ReadFromFile(Path("notag.mp3")), id3NoTag);
    EXPECT_EQ(tag.TagFileName(), Path("notag.mp3"));
    EXPECT_EQ(tag.ReadFromFile(Path("short.mp3")), id3NoTag);
    EXPECT_EQ(tag.Title(), "kept");

    EXPECT_EQ(tag.SaveToFile(Path("missing.mp3")), id3NoFile);
    EXPECT_EQ(tag.SaveToFile(Path("folder.mp3")), id3NoFile);
    tag.RemoveTag();  // short.mp3 has no tag: nothing happens
    EXPECT_EQ(ReadFile("short.mp3").size(), 100u);
    EXPECT_EQ(tag.SaveToFile(Path("short.mp3")), id3Success);
    EXPECT_EQ(ReadFile("short.mp3").size(), 228u);

    WriteFile("ro.mp3", Body(400));
    chmod(Path("ro.mp3").c_str(), 0444);
    EXPECT_EQ(tag.SaveToFile(Path("ro.mp3")), id3ReadOnly);
    EXPECT_EQ(ReadFile("ro.mp3"), Body(400));
    EXPECT_EQ(tag.TagFileName(), Path("short.mp3"));  // a failed save keeps the last file
}

TEST_F(Id3Test, RemoveTagCutsOnlyAWritableTag)
{
    WriteFile("a.mp3", Body(700));
    Tid3tag tag;
    ASSERT_EQ(tag.SaveToFile(Path("a.mp3")), id3Success);
    chmod(Path("a.mp3").c_str(), 0444);
    tag.RemoveTag();
    EXPECT_EQ(ReadFile("a.mp3").size(), 828u);
    chmod(Path("a.mp3").c_str(), 0644);
    tag.RemoveTag();
    EXPECT_EQ(ReadFile("a.mp3"), Body(700));
}

TEST_F(Id3Test, TextsCrossTheEdgeAsUtf8)
{
    WriteFile("a.mp3", Body(200));
    Tid3tag tag;
    // "Café Åsa" is Latin-1; the Greek and CJK letters are not.
    tag.SetTitle("Caf\xC3\xA9 \xC3\x85sa");
    tag.SetArtist("\xCE\xB1\xCE\xB2 \xE6\x97\xA5");
    // 29 ASCII letters then "é": the 30th character is whole, nothing of a sequence is cut.
    tag.SetAlbum(std::string(29, 'a') + "\xC3\xA9" + "b");
    tag.SetComment("bad \xFF byte \xE6\x97");
    ASSERT_EQ(tag.SaveToFile(Path("a.mp3")), id3Success);
    const std::string b = Block("a.mp3");
    EXPECT_EQ(b.substr(3, 8), "Caf\xE9 \xC5sa");
    EXPECT_EQ(b.substr(33, 4), "?? ?");
    EXPECT_EQ(b.substr(63, 30), std::string(29, 'a') + "\xE9");

    Tid3tag back;
    ASSERT_EQ(back.ReadFromFile(Path("a.mp3")), id3Success);
    EXPECT_EQ(back.Title(), "Caf\xC3\xA9 \xC3\x85sa");
    EXPECT_EQ(back.Artist(), "?? ?");
    EXPECT_EQ(back.Album(), std::string(29, 'a') + "\xC3\xA9");
    EXPECT_EQ(back.Comment(), "bad ? byte ?");
}

TEST(Id3GenreTest, ChoicesAndCodesConvertBothWays)
{
    EXPECT_EQ(GenreToID3(0), 255);
    EXPECT_EQ(GenreToID3(255), 255);
    EXPECT_EQ(GenreToID3(149), 255);
    EXPECT_EQ(GenreToID3(118), 17);   // Rock
    EXPECT_EQ(GenreToID3(1), 123);    // A Cappella
    EXPECT_EQ(GenreToID3(148), 28);   // Vocal
    EXPECT_EQ(ID3ToGenre(12), GenreIndexOf("Other") + 1);
    EXPECT_EQ(ID3ToGenre(255), 0);
    EXPECT_EQ(ID3ToGenre(148), 0);
    for (int choice = 1; choice <= GenreCount; ++choice)
        EXPECT_EQ(ID3ToGenre(GenreToID3(static_cast<uint8_t>(choice))), choice);
}

// The id3v2 tool (id3lib) reads the tag we wrote.
TEST_F(Id3Test, APeerReadsOurTagAndWeReadThePeers)
{
    // A real MP3 stream from lame: one second of a tone.
    const std::string mp3 = Path("peer.mp3");
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 " + Path("s.wav") + " synth 1 sine 440 && lame --quiet " +
                           Path("s.wav") + " " + mp3).c_str()),
              0)
        << "sox and lame are needed (scripts/install-deps.sh installs them)";

    Tid3tag tag;
    tag.SetTitle("Opening Theme");
    tag.SetArtist("The Sample Band");
    tag.SetAlbum("Sonvale Sessions");
    tag.SetYear("2026");
    tag.SetComment("made in a test");
    tag.SetTrack(4);
    tag.Genre = GenreToID3(118);
    ASSERT_EQ(tag.SaveToFile(mp3), id3Success);

    const std::string listed = CommandOutput("id3v2 -l '" + mp3 + "' 2>&1");
    EXPECT_NE(listed.find("Title  : Opening Theme"), std::string::npos) << listed;
    EXPECT_NE(listed.find("Artist: The Sample Band"), std::string::npos) << listed;
    EXPECT_NE(listed.find("Album  : Sonvale Sessions"), std::string::npos) << listed;
    EXPECT_NE(listed.find("Year: 2026"), std::string::npos) << listed;
    EXPECT_NE(listed.find("Genre: Rock (17)"), std::string::npos) << listed;
    EXPECT_NE(listed.find("Comment: made in a test"), std::string::npos) << listed;
    EXPECT_NE(listed.find("Track: 4"), std::string::npos) << listed;

    // And the other way: id3v2 writes a v1 tag, we read it.
    WriteFile("other.mp3", ReadFile("peer.mp3").substr(0, ReadFile("peer.mp3").size() - 128));
    ASSERT_EQ(std::system(("id3v2 -1 -t 'Peer Title' -a 'Peer Artist' -y 1987 -T 9 -g 8 " + Path("other.mp3") +
                           " >/dev/null 2>&1").c_str()),
              0);
    Tid3tag peer;
    EXPECT_EQ(peer.ReadFromFile(Path("other.mp3")), id3Success);
    EXPECT_EQ(peer.Title(), "Peer Title");
    EXPECT_EQ(peer.Artist(), "Peer Artist");
    EXPECT_EQ(peer.Year(), "1987");
    EXPECT_EQ(peer.Track(), 9);
    EXPECT_EQ(peer.Genre, 8);
}

// What may be decoded as MP3: a tag or a frame at the start, a tag at the end, binary data a
// decoder may find frames in after some junk; never an empty file, text, or a WAV, Ogg or FLAC.
TEST_F(Id3Test, WhatMayBeAnMp3File)
{
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 '" + Path("a.wav") + "' synth 0.3 sine 440 && lame --quiet '" +
                           Path("a.wav") + "' '" + Path("real.mp3") + "'").c_str()),
              0);
    const std::string real = ReadFile("real.mp3");
    const struct {
        const char* name;
        std::string bytes;
        bool mp3;
    } cases[] = {
        {"empty", "", false},
        {"text", "just some notes\nabout a song\n", false},
        {"UTF-8 text", "Caf\xc3\xa9 del Mar\r\n\tnotes", false},
        {"a WAV", ReadFile("a.wav"), false},
        {"an Ogg page", std::string("OggS\0\x02", 6) + std::string(100, '\x01'), false},
        {"lame's MP3", real, true},
        {"an MP3 after junk", std::string(100, '\0') + real, true},
        {"an ID3v2 tag", "ID3\x04" + std::string(20, '\0'), true},
        {"an ID3v1 tag at the end of text", "notes\n" + std::string("TAG") + std::string(125, ' '), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile("f.mp3", c.bytes);
        EXPECT_EQ(IsMp3File(Path("f.mp3")), c.mp3);
    }
    EXPECT_FALSE(IsMp3File(Path("missing.mp3")));
}

}  // namespace
