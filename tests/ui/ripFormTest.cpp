#include "ripForm.h"

#include "Global.h"
#include "TestSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QApplication>
#include <QPushButton>
#include <QtTest/QTest>

namespace {

class RipFormTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        Options.Ctdb.Server = "http://127.0.0.1:1";  // no test asks a real host
        LoadSaveOptions(true);
        mp3 = std::make_unique<TMp3EncodeProcess>(dialogs);
        wma = std::make_unique<TWMAEncodeProcess>(dialogs);
    }

    // a.wav to convert, an output folder, and a lame that runs until it is killed.
    void WavAndAnEncoderThatWaits()
    {
        FakeProgram("lame", "exec sleep 600");
        std::system(("sox -n -r 44100 -c 2 -b 16 " + Path("a.wav") + " synth 0.2 sine 440").c_str());
        std::filesystem::create_directory(Path("Output"));
        Options.CommonOptions.OutputFolder = Path("Output");
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<TMp3EncodeProcess> mp3;
    std::unique_ptr<TWMAEncodeProcess> wma;
};

// The window shows what the job tells it: caption, stage, times, the bar with or without its
// percentage, "Initializing..." over the bar; it is 273 x 117 and centred over its owner.
TEST_F(RipFormTest, ShowsTheJobAndSitsOverTheMainWindow)
{
    QMainWindow main;
    main.setGeometry(100, 80, 551, 501);
    main.show();
    TRipForm form(&main, dialogs, *mp3, *wma, jkWavToMp3, 0, {Path("a.wav")});
    EXPECT_EQ(form.size(), QSize(273, 117));
    EXPECT_EQ(form.GroupBox1->title(), "Extracting");
    EXPECT_EQ(form.Label10->text(), "Time elapsed:");
    EXPECT_EQ(form.Label20->text(), "Time estimated:");
    EXPECT_EQ(form.btStop->text(), "Stop");
    EXPECT_EQ(form.Label3->text(), "Initializing...");

    TRipDisplay d;
    d.Caption = "Encoding(01/01): /a.wav";
    d.Stage = "Encoding WAV to MP3";
    d.Elapsed = "00:03";
    d.Estimated = "00:10";
    d.Bar = 30;
    d.PercentShown = true;
    d.InitializingShown = false;
    form.DisplayChanged(d);
    EXPECT_EQ(form.windowTitle(), "Encoding(01/01): /a.wav");
    EXPECT_EQ(form.GroupBox1->title(), "Encoding WAV to MP3");
    EXPECT_EQ(form.Label1->text(), "00:03");
    EXPECT_EQ(form.Label2->text(), "00:10");
    EXPECT_EQ(form.FlatGauge1->value(), 30);
    EXPECT_TRUE(form.FlatGauge1->isTextVisible());

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_TRUE(form.Label3->isHidden());
    EXPECT_TRUE(form.lbEncoding->isHidden()) << "one encoder: no second line";
    EXPECT_EQ(form.size(), QSize(273, 117));
    const QRect m = main.frameGeometry(), f = form.frameGeometry();
    EXPECT_EQ(f.left(), m.left() + (m.width() - f.width()) / 2);
    EXPECT_EQ(f.top(), m.top() + (m.height() - f.height()) / 2);

    // Several encoders: a line under the group box says what they work on, above Stop, and a
    // line too long for it is cut with an ellipsis rather than past the window's edge.
    d.EncodingShown = true;
    d.Encoding = "Encoding 3 tracks: 04, 05, 06";
    form.DisplayChanged(d);
    EXPECT_EQ(form.size(), QSize(273, 135));
    EXPECT_FALSE(form.lbEncoding->isHidden());
    EXPECT_EQ(form.lbEncoding->text(), "Encoding 3 tracks: 04, 05, 06");
    EXPECT_GE(form.btStop->geometry().top(), form.lbEncoding->geometry().bottom());
    EXPECT_LE(form.btStop->geometry().bottom(), form.height());
    d.Encoding = "Encoding 16 tracks: 01, 02, 03, 04, 05, 06, 07, 08, 09, 10, 11, 12, 13, 14, 15, 16";
    form.DisplayChanged(d);
    EXPECT_TRUE(form.lbEncoding->text().endsWith(QChar(0x2026))) << form.lbEncoding->text().toStdString();
    EXPECT_LE(form.lbEncoding->fontMetrics().horizontalAdvance(form.lbEncoding->text()), form.lbEncoding->width());
    form.hide();
}

// Stop ends the job and closes the window; so does the close box, and a job over before the
// window shows closes it at once.
TEST_F(RipFormTest, StopAndTheCloseBoxEndTheJob)
{
    WavAndAnEncoderThatWaits();
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox);
        TRipForm form(nullptr, dialogs, *mp3, *wma, jkWavToMp3, 0, {Path("a.wav")});
        form.Start();
        const pid_t child = mp3->ChildPid();
        ASSERT_GT(child, 0);
        QTimer::singleShot(0, &form, [&] {
            if (closeBox)
                form.close();
            else
                QTest::mouseClick(form.btStop, Qt::LeftButton);
        });
        form.RunModal();
        EXPECT_TRUE(form.Job().Finished());
        EXPECT_FALSE(mp3->Busy());
        EXPECT_FALSE(form.isVisible());
    }

    TRipForm empty(nullptr, dialogs, *mp3, *wma, jkWavToMp3, 0, {});
    empty.Start();
    empty.RunModal();  // returns at once
    EXPECT_TRUE(empty.Job().Finished());
}

// Enter, Return and Space pressed while a job runs do not end it: Stop is no default button and
// has no focus to take them.
TEST_F(RipFormTest, AStrayKeyDoesNotStopTheJob)
{
    WavAndAnEncoderThatWaits();
    TRipForm form(nullptr, dialogs, *mp3, *wma, jkWavToMp3, 0, {Path("a.wav")});
    form.Start();
    bool running = false;
    QTimer::singleShot(0, &form, [&] {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &form, key);
        running = !form.Job().Finished() && mp3->Busy();
        QTest::mouseClick(form.btStop, Qt::LeftButton);
    });
    form.RunModal();
    EXPECT_TRUE(running);
    EXPECT_FALSE(form.btStop->isDefault());
    EXPECT_TRUE(form.Job().Finished());
}

}  // namespace
