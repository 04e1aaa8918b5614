#include "main.h"
#include "ripForm.h"

#include "Global.h"
#include "ProfileFile.h"
#include "TestSupport.h"
#include "akrip32Drives.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest/QTest>

#include <sys/stat.h>

#include <filesystem>

namespace {

class MainFormTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        Options.Ctdb.Server = "http://127.0.0.1:1";  // no test asks a real host
        AkripUseDrives({});
    }

    void TearDown() override
    {
        AkripUseDrives({});
        TempDirTest::TearDown();
    }

    int FilesInFolder() const
    {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(m_dir))
            ++n;
        return n;
    }

    ScriptedDialogs dialogs;
};

QStringList Captions(const QList<QAction*>& actions)
{
    QStringList out;
    for (const QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

TEST_F(MainFormTest, TheWindowHasItsMenusToolBarListAndStatusBar)
{
    TMainForm form(dialogs);
    EXPECT_EQ(form.windowTitle(), "Sonvale 2.1");
    EXPECT_EQ(form.size(), QSize(551, 501));

    QStringList menus;
    for (const QAction* a : form.menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Actions", "&Edit", "&Help"}));
    const QList<QAction*> top = form.menuBar()->actions();
    EXPECT_EQ(Captions(top[0]->menu()->actions()),
              QStringList({"&WAV to MP3...", "&MP3 to WAV...", "WAV to O&GG...", "WAV to WM&A...",
                           "WAV to &FLAC...", "WAV to &Opus...", "F&LAC to WAV...", "-",
                           "&Open output directory...", "-", "&Refresh", "-", "&Eject CD", "&Close CD", "-",
                           "E&xit"}));
    EXPECT_EQ(Captions(top[1]->menu()->actions()),
              QStringList({"E&xtract", "-", "&Record...", "-", "&Play", "P&ause", "&Stop", "-",
                           "&Volume Control...", "-", "&Clear History"}));
    EXPECT_EQ(Captions(top[2]->menu()->actions()),
              QStringList({"Select &All", "Select &None", "-", "&Query Freedb", "Query &MusicBrainz", "-", "Rename &Title",
                           "&ID3 Tag Edit", "-", "&Options..."}));
    EXPECT_EQ(Captions(top[3]->menu()->actions()).first(), "&Help");
    EXPECT_EQ(Captions(top[3]->menu()->actions()).last(), "&About...");
    EXPECT_EQ(form.ActionExtract->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
    EXPECT_EQ(form.aEditTrackName->shortcut(), QKeySequence(QStringLiteral("F2")));
    EXPECT_EQ(form.ActionWavToMp3->toolTip(), "Convert  WAV file to MP3 file");

    QStringList buttons;
    for (QAction* a : form.ToolBar1->actions())
        buttons << (a->isSeparator() ? QStringLiteral("-") : a->iconText());
    EXPECT_EQ(buttons, QStringList({"Extract", "Encode", "-", "Record", "-", "Options", "-", "Exit"}));

    QTreeWidget* list = form.ListView1;
    ASSERT_EQ(list->columnCount(), 4);
    const QTreeWidgetItem* header = list->headerItem();
    EXPECT_EQ(header->text(0), "No.");
    EXPECT_EQ(header->text(1), "Title");
    EXPECT_EQ(header->text(2), "Length(min)");
    EXPECT_EQ(header->text(3), "Size(MB)");
    EXPECT_EQ(list->columnWidth(0), 90);
    EXPECT_EQ(list->columnWidth(1), 230);
    EXPECT_EQ(list->columnWidth(2), 100);
    EXPECT_EQ(list->columnWidth(3), 90);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(239, 239, 255));
    EXPECT_EQ(form.ToolBar1->palette().color(QPalette::Window), QColor(228, 228, 255));
    EXPECT_EQ(form.StatusBar1->palette().color(QPalette::Window), QColor(220, 225, 255));
    EXPECT_EQ(form.centralWidget()->palette().color(QPalette::Window), QColor(214, 223, 247));

    // The list and the status bar sit 10 pixels in from the edges and stretch with the window.
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QRect listBox = list->geometry();
    const QRect statusBox = form.StatusBar1->geometry();
    const QWidget* client = form.centralWidget();
    EXPECT_EQ(listBox.left(), 10);
    EXPECT_EQ(listBox.width(), client->width() - 20);
    EXPECT_EQ(statusBox.bottom(), client->height() - 11);
    EXPECT_EQ(statusBox.top(), listBox.bottom() + 1);
    form.resize(800, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(list->geometry().width(), client->width() - 20);
    form.hide();
}

TEST_F(MainFormTest, StartingAndClosingWritesOnlyTheOptionsAtTheEnd)
{
    WriteFile("options.ini", "[Mp3Options]\nBitRate=192\n");
    {
        TMainForm form(dialogs);
        EXPECT_EQ(Options.Mp3Options.BitRate, 192);  // loaded at creation
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        QCoreApplication::processEvents();
        EXPECT_EQ(ReadFile("options.ini"), "[Mp3Options]\nBitRate=192\n") << "written before the close";
        EXPECT_EQ(FilesInFolder(), 1);
        EXPECT_TRUE(form.close());
    }
    EXPECT_TRUE(dialogs.shown.empty());
    const std::string saved = ReadFile("options.ini");
    EXPECT_NE(saved.find("BitRate=192\n"), std::string::npos);
    EXPECT_NE(saved.find("[ID3]\nUse=0\n"), std::string::npos);
    EXPECT_EQ(FilesInFolder(), 1) << "no Output folder or other file is made";
}

TEST_F(MainFormTest, ARefusedSaveKeepsTheWindowOpen)
{
    TMainForm form(dialogs);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    Options.Mp3Options.BitRate = 64;
    chmod(m_dir.c_str(), 0555);

    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, QString::fromStdString("Unable to write to " + Path("options.ini")));
    EXPECT_EQ(dialogs.shown[0].icon, Dialogs::Icon::Error);

    // The user makes the folder writable and closes again: nothing was lost.
    chmod(m_dir.c_str(), 0700);
    EXPECT_TRUE(form.close());
    EXPECT_NE(ReadFile("options.ini").find("BitRate=64\n"), std::string::npos);
}

// A job's remark (a cover fetched) goes to the window's own status line, not to a second status
// bar made below it.
TEST_F(MainFormTest, AJobsNoticeShowsInTheStatusLine)
{
    TMainForm form(dialogs);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TMp3EncodeProcess mp3(dialogs);
    TWMAEncodeProcess wma(dialogs);
    TRipForm rip(&form, dialogs, mp3, wma, jkWavToMp3, 0, {Path("a.wav")});
    rip.Notice("The cover was fetched into /music/cover.jpg.");
    EXPECT_EQ(form.StatusBar1->currentMessage(), "The cover was fetched into /music/cover.jpg.");
    EXPECT_EQ(form.findChildren<QStatusBar*>().size(), 1);
}

TEST_F(MainFormTest, OpenOutputDirectoryOpensOnlyAnExistingFolder)
{
    TMainForm form(dialogs);
    form.Openoutputdirectory1->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              QString::fromStdString(m_dir + "Output,The output directory does not exist."));
    EXPECT_TRUE(dialogs.opened.empty());

    std::filesystem::create_directory(Path("Output"));
    form.Openoutputdirectory1->trigger();
    EXPECT_EQ(dialogs.opened, std::vector<QString>{QString::fromStdString(m_dir + "Output")});
}

class MainFormDiscTest : public MainFormTest {
protected:
    void SetUp() override
    {
        MainFormTest::SetUp();
        drive = std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({18750, 2250, 750}), "VENDOR  ", "Model 1");
        AkripUseDrives({drive});
    }

    static QStringList Row(const QTreeWidgetItem* item)
    {
        return {item->text(0), item->text(1), item->text(2), item->text(3)};
    }

    std::shared_ptr<TScriptedDrive> drive;
};

TEST_F(MainFormDiscTest, TheTrackListShowsTheDisc)
{
    auto monitor = std::make_unique<TMediaMonitor>();
    TMediaMonitor* events = monitor.get();
    TMainForm form(dialogs, std::move(monitor));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTreeWidget* list = form.ListView1;
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(Row(list->topLevelItem(0)), QStringList({"1", "Track01", "04:10", "42.06"}));
    EXPECT_EQ(Row(list->topLevelItem(1)), QStringList({"2", "Track02", "00:30", "05.05"}));
    EXPECT_EQ(list->topLevelItem(2)->checkState(0), Qt::Checked);
    EXPECT_EQ(form.StatusText(), "VENDOR  Model 1");

    // The user's check boxes reach the rows.
    list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(form.Disc().Rows[1].Checked);
    form.ActionNoSelect->trigger();
    EXPECT_FALSE(form.Disc().AnyTrackChecked());
    form.ActionSelectAll->trigger();
    EXPECT_TRUE(form.Disc().AnyTrackChecked());

    // Removing the disc empties the list; a disc arriving fills it again. Both come as messages.
    events->Raise(TMediaMonitor::Event::VolumeRemoved);
    EXPECT_EQ(list->topLevelItemCount(), 3) << "handled as a message, not inside the event";
    QCoreApplication::processEvents();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    drive->Toc = TScriptedDrive::AudioToc({750, 750});
    events->Raise(TMediaMonitor::Event::VolumeArrived);
    QCoreApplication::processEvents();
    EXPECT_EQ(list->topLevelItemCount(), 2);

    // Refresh rescans; with the disc gone it says so.
    drive->TocUnreadable = true;
    ASSERT_TRUE(form.bRefresh->isEnabled());
    form.bRefresh->trigger();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Please check if have Audio CD in your CD device."});
    EXPECT_EQ(list->topLevelItemCount(), 2) << "Refresh without a disc leaves the list";
    form.hide();
}

// Options cancelled (or OK on the same drive) leaves the list as it was: the selection, Play and
// Rename stay, and a playing track stays named in the status bar.
TEST_F(MainFormDiscTest, OptionsWithoutAnotherDriveKeepTheListAndItsSelection)
{
    setenv("SONVALE_AUDIO", "null", 1);
    TMainForm form(dialogs);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.ListView1->setCurrentItem(form.ListView1->topLevelItem(1));
    ASSERT_TRUE(form.aPlay->isEnabled());
    form.aPlay->trigger();
    EXPECT_EQ(form.StatusText(), "Play Track02");
    form.ActionOptionSet->trigger();  // cancelled (no script fills it in)
    EXPECT_EQ(dialogs.modals, QStringList{"TOptionSetForm"});
    EXPECT_EQ(form.ListView1->currentItem(), form.ListView1->topLevelItem(1));
    EXPECT_TRUE(form.ListView1->topLevelItem(1)->isSelected());
    EXPECT_TRUE(form.aPlay->isEnabled());
    EXPECT_TRUE(form.aEditTrackName->isEnabled());
    EXPECT_EQ(form.StatusText(), "Play Track02");
    form.aStop->trigger();
    form.hide();
    unsetenv("SONVALE_AUDIO");
}

TEST_F(MainFormDiscTest, ClosingSavesTheDiscsTitles)
{
    const std::string key = DiscKey();
    {
        TMainForm form(dialogs);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        form.Disc().Rows[0].Title = "First";
        EXPECT_TRUE(form.close());
    }
    const TProfileFile cdinfo(Path("cdinfo.dat"));
    EXPECT_EQ(cdinfo.ReadInteger(key, "TrackNumber", -1), 3);
    EXPECT_EQ(cdinfo.ReadString(key, "1", ""), "First");
    EXPECT_EQ(cdinfo.ReadString(key, "3", ""), "Track03");
    EXPECT_NE(ReadFile("options.ini").find("[ID3]"), std::string::npos);
    EXPECT_EQ(drive->OpenCount, 0) << "the drive is closed";

    TMainForm again(dialogs);
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_EQ(again.ListView1->topLevelItem(0)->text(1), "First");
    again.hide();
}

TEST_F(MainFormDiscTest, TheMissingAudioDiscIsReportedOnceAfterStartUp)
{
    drive->TocUnreadable = true;
    TMainForm form(dialogs);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_TRUE(form.Disc().NoAudioCD);
    form.FormActivate();
    form.FormActivate();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Please check if have Audio CD in your CD device."});
    EXPECT_EQ(dialogs.shown[0].icon, Dialogs::Icon::Error);
    form.hide();
}

TEST_F(MainFormTest, ClosingKillsARunningEncoder)
{
    FakeProgram("lame", "exec sleep 600");
    TMainForm form(dialogs);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.Mp3Encoder->Engaged = true;
    form.Mp3Encoder->StartProcess();
    const pid_t child = form.Mp3Encoder->ChildPid();
    ASSERT_GT(child, 0);
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.Mp3Encoder->Engaged);
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(child))) << "the encoder was killed and reaped";
}

// Extract: the folder question (No: nothing; a folder whose parent is missing cannot be made;
// Yes: made, and the job runs), then one item per checked row, its position in two digits and
// its title; the job window closes by itself after the last track.
TEST_F(MainFormDiscTest, ExtractAsksForTheFolderThenRipsTheCheckedRows)
{
    drive->Toc = TScriptedDrive::AudioToc({20, 30, 40});
    LoadSaveOptions(true);
    TMainForm form(dialogs);
    Options.CommonOptions.OutputFormat = 1;  // WAV
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.ListView1->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(form.ExtractItems(), (std::vector<std::string>{"01Track01", "03Track03"}));
    ASSERT_TRUE(form.ActionExtract->isEnabled());

    const QString question = QStringLiteral(",The output directory does not exist.\ncreates a new directory?");
    Options.CommonOptions.OutputFolder = Path("missing/Output");
    dialogs.answers = {Dialogs::Answer::No, Dialogs::Answer::Yes};
    form.ActionExtract->trigger();
    form.ActionExtract->trigger();
    const QString deep = QString::fromStdString(Path("missing/Output"));
    EXPECT_EQ(dialogs.Texts(), (QStringList{deep + question, deep + question, "Cannot create " + deep}));
    EXPECT_EQ(dialogs.shown[2].icon, Dialogs::Icon::Error);

    dialogs.shown.clear();
    Options.CommonOptions.OutputFolder = Path("Output");
    dialogs.answers = {Dialogs::Answer::Yes};
    form.ActionExtract->trigger();  // returns when the job window has closed
    EXPECT_EQ(dialogs.Texts(), QStringList{QString::fromStdString(Path("Output")) + question});
    EXPECT_EQ(std::filesystem::file_size(Path("Output/Track01.wav")), 44u + 20 * 2352);
    EXPECT_FALSE(std::filesystem::exists(Path("Output/Track02.wav")));
    EXPECT_EQ(std::filesystem::file_size(Path("Output/Track03.wav")), 44u + 40 * 2352);
    form.hide();
}

// The four conversions: the file dialog's filter; cancel does nothing; the output folder must
// exist; a job that cannot start says why, whatever the conversion.
TEST_F(MainFormTest, FileConversionsAskForFilesThenRunTheJob)
{
    LoadSaveOptions(true);
    TMainForm form(dialogs);
    const QString wavs = QStringLiteral("Sound file(*.wav)|*.wav| Any file(*.*)|*.*");
    for (QAction* action : {form.ActionWavToMp3, form.mnuMp3ToWav, form.miWAVtoOGG, form.miWAVtoWMA}) {
        EXPECT_TRUE(action->isEnabled()) << action->objectName().toStdString();
        action->trigger();  // cancelled
    }
    EXPECT_EQ(dialogs.openFilters,
              (QStringList{wavs, QStringLiteral("MP3 file(*.mp3)|*.mp3| Any file(*.*)|*.*"), wavs, wavs}));
    EXPECT_TRUE(dialogs.shown.empty());

    Options.CommonOptions.OutputFolder = Path("Output");
    dialogs.openFiles = {{QString::fromStdString(Path("a.wav"))}};
    form.miWAVtoOGG->trigger();
    EXPECT_EQ(dialogs.Texts(),
              QStringList{"The output directory does not exist.Please check the output directory setting."});

    dialogs.shown.clear();
    std::filesystem::create_directory(Path("Output"));
    dialogs.openFiles = {{QString::fromStdString(Path("missing.wav"))}};
    form.miWAVtoOGG->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith("Cannot open file " + QString::fromStdString(Path("missing.wav"))))
        << dialogs.shown[0].text.toStdString();
    EXPECT_EQ(dialogs.shown[0].icon, Dialogs::Icon::Error);
}

}  // namespace
