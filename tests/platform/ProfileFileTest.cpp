#include "ProfileFile.h"

#include "TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

namespace {

class ProfileFileTest : public TempDirTest {
protected:
    TProfileFile Load(const std::string& text)
    {
        WriteFile("p.ini", text);
        return TProfileFile(Path("p.ini"));
    }
};

TEST_F(ProfileFileTest, IntegersFollowTheProfileRules)
{
    struct Case {
        const char* stored;
        int32_t expected;
    } cases[] = {
        {"42", 42},
        {"  -7  ", -7},
        {"+5", 5},
        {"0x1F", 31},
        {"0XfF", 255},
        {"-0x10", -16},
        {"0xFFFFFFFF", -1},         // eight hex digits are the bits of a 32-bit number
        {"0x100000000", 99},        // nine are too many
        {"2147483647", 2147483647},
        {"2147483648", 99},         // beyond 32 bits
        {"-2147483648", INT32_MIN},
        {"abc", 99},
        {"12abc", 99},              // a number followed by text is no number
        {"", 99},
        {"0x", 99},
        {"1.5", 99},
        {"\"17\"", 17},             // quotes are removed before the number is read
    };
    for (const Case& c : cases) {
        const TProfileFile ini = Load(std::string("[S]\nk=") + c.stored + "\n");
        EXPECT_EQ(ini.ReadInteger("S", "k", 99), c.expected) << "stored: " << c.stored;
    }
}

TEST_F(ProfileFileTest, BooleansAreIntegersWithTheirDefault)
{
    const TProfileFile ini = Load("[S]\none=1\ntwo=2\nzero=0\nneg=-1\ntext=yes\n");
    EXPECT_TRUE(ini.ReadBool("S", "one", false));
    EXPECT_TRUE(ini.ReadBool("S", "two", false));
    EXPECT_FALSE(ini.ReadBool("S", "zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "neg", false));
    EXPECT_TRUE(ini.ReadBool("S", "text", true));   // not a number: the default
    EXPECT_FALSE(ini.ReadBool("S", "text", false));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
}

TEST_F(ProfileFileTest, StringsAreTrimmedUnquotedAndCut)
{
    const std::string longValue(3000, 'x');
    // 2046 ASCII characters then "é" (two bytes) then more: the cut keeps "é" whole as the
    // 2047th character.
    const std::string accented = std::string(2046, 'a') + "\xC3\xA9" + "zzz";
    const TProfileFile ini = Load("[S]\n"
                                  "plain =  hello world  \n"
                                  "quoted=\"  spaced  \"\n"
                                  "single='x'\n"
                                  "mixed=\"x'\n"
                                  "lone=\"\n"
                                  "empty=\n"
                                  "long=" + longValue + "\n"
                                  "accented=" + accented + "\n"
                                  "crlf=windows\r\n");
    EXPECT_EQ(ini.ReadString("S", "plain", "d"), "hello world");
    EXPECT_EQ(ini.ReadString("S", "quoted", "d"), "  spaced  ");
    EXPECT_EQ(ini.ReadString("S", "single", "d"), "x");
    EXPECT_EQ(ini.ReadString("S", "mixed", "d"), "\"x'");
    EXPECT_EQ(ini.ReadString("S", "lone", "d"), "\"");
    EXPECT_EQ(ini.ReadString("S", "empty", "d"), "");
    EXPECT_EQ(ini.ReadString("S", "long", "d"), std::string(2047, 'x'));
    EXPECT_EQ(ini.ReadString("S", "accented", "d"), std::string(2046, 'a') + "\xC3\xA9");
    EXPECT_EQ(ini.ReadString("S", "crlf", "d"), "windows");
    EXPECT_EQ(ini.ReadString("S", "missing", "d"), "d");
    EXPECT_EQ(ini.ReadString("Missing", "plain", "d"), "d");
}

TEST_F(ProfileFileTest, NamesIgnoreCaseAndTheFirstMatchWins)
{
    const TProfileFile ini = Load("[Sec]\nKey=first\nkey=second\n[SEC]\nKey=third\nOther=only here\n");
    EXPECT_EQ(ini.ReadString("sec", "KEY", ""), "first");
    EXPECT_EQ(ini.ReadString("Sec", "other", ""), "only here");

    // Blanks around a section's name inside the brackets do not count; those within it do.
    const TProfileFile spaced = Load("[ 57600 ]\nTitle=padded\n[My  Disc]\nTitle=inner\n");
    EXPECT_EQ(spaced.ReadString("57600", "Title", ""), "padded");
    EXPECT_EQ(spaced.ReadString("My  Disc", "Title", ""), "inner");
    EXPECT_EQ(spaced.ReadString("My Disc", "Title", "none"), "none");
    EXPECT_EQ(spaced.ReadString("MyDisc", "Title", "none"), "none");
}

TEST_F(ProfileFileTest, GarbageReadsAsDefaultsAndSurvivesAWrite)
{
    std::string garbage = "\xEF\xBB\xBF[S]\n";   // an editor's byte-order mark
    garbage += std::string("bin\0ary\x01\xFF=\xFE", 11) + "\n";
    garbage += "no equals sign here\n";
    garbage += "[broken section\n";
    garbage += std::string(100000, 'L') + "\n";
    garbage += "k=1\n";
    garbage += "=value without key\n";
    TProfileFile ini = Load(garbage);
    EXPECT_EQ(ini.ReadInteger("S", "k", 7), 1);
    EXPECT_EQ(ini.ReadString("S", "", "d"), "d");

    ini.WriteInteger("S", "k", 2);
    ini.WriteString("T", "new", "v");
    ini.UpdateFile();
    const std::string written = ReadFile("p.ini");
    std::string expected = garbage.substr(3);
    expected.replace(expected.find("k=1"), 3, "k=2");
    expected += "[T]\nnew=v\n";
    EXPECT_EQ(written, expected);
}

TEST_F(ProfileFileTest, WritesUpdateInPlaceOrAppendToTheirSection)
{
    TProfileFile ini = Load("; comment\n[A]\nx=1\ny=2\n\n[B]\nz=3\n");
    ini.WriteString("a", "Y", "20");     // in place, the key spelled as in the file
    ini.WriteString("A", "w", "new");    // after the section's last key, before the blank line
    ini.WriteString("C", "c", "3");      // a new section at the end
    EXPECT_EQ(ini.Text(), "; comment\n[A]\nx=1\ny=20\nw=new\n\n[B]\nz=3\n[C]\nc=3\n");
}

TEST_F(ProfileFileTest, ValuesReadBackExactly)
{
    const std::string values[] = {"plain", "  lead", "trail  ", "\"quoted\"", "'single'", "\"", "a=b", "",
                                  "[not a section]", "\xC3\xA9t\xC3\xA9"};
    TProfileFile ini(Path("v.ini"));
    for (std::size_t i = 0; i < std::size(values); ++i)
        ini.WriteString("S", "k" + std::to_string(i), values[i]);
    ini.WriteString("S", "breaks", "one\ntwo\r\n[S]\nk0=evil");
    ini.UpdateFile();

    const TProfileFile back(Path("v.ini"));
    for (std::size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(back.ReadString("S", "k" + std::to_string(i), "?"), values[i]);
    // A line break cannot start a line of its own in the file.
    EXPECT_EQ(back.ReadString("S", "breaks", "?"), "one two  [S] k0=evil");
    EXPECT_EQ(back.ReadString("S", "k0", "?"), "plain");
}

TEST_F(ProfileFileTest, RefusedWritesLeaveTheOldFileWhole)
{
    const std::string original = "[S]\nk=1\n";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string file;
    } cases[] = {
        {"read-only file", [this] { chmod(Path("p.ini").c_str(), 0444); }, "p.ini"},
        {"read-only folder", [this] { chmod(m_dir.c_str(), 0555); }, "p.ini"},
        {"file is a folder", [this] { std::filesystem::create_directory(Path("dir.ini")); },
         "dir.ini"},
        {"folder is missing", [] {}, "missing/p.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile("p.ini", original);
        c.arrange();
        TProfileFile ini(Path(c.file));
        ini.WriteString("S", "k", "2");
        try {
            ini.UpdateFile();
            ADD_FAILURE() << "the write was not refused";
        } catch (const EProfileWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path(c.file));
        }
        chmod(m_dir.c_str(), 0700);
        chmod(Path("p.ini").c_str(), 0644);
        EXPECT_EQ(ReadFile("p.ini"), original);
        // No temporary file is left behind.
        int entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(m_dir))
            ++entries;
        EXPECT_EQ(entries, c.file == "dir.ini" ? 2 : 1);
        std::filesystem::remove_all(Path("dir.ini"));
    }
}

TEST_F(ProfileFileTest, AWriteKeepsPermissionsAndSymbolicLinks)
{
    WriteFile("real.ini", "[S]\nk=1\n");
    chmod(Path("real.ini").c_str(), 0640);
    std::filesystem::create_symlink(Path("real.ini"), Path("link.ini"));
    TProfileFile ini(Path("link.ini"));
    ini.WriteInteger("S", "k", 5);
    ini.UpdateFile();

    EXPECT_TRUE(std::filesystem::is_symlink(Path("link.ini")));
    EXPECT_EQ(ReadFile("real.ini"), "[S]\nk=5\n");
    struct stat st {};
    ASSERT_EQ(stat(Path("real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
