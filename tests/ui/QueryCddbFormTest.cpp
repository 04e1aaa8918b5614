#include "QueryCddbForm.h"

#include "Global.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "akrip32Drives.h"
#include "main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest/QTest>

namespace {

class QueryCddbFormTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        Options = TOptionsSetting{};
        LoadSaveOptions(true);
    }
    void TearDown() override
    {
        AkripUseDrives({});
        TempDirTest::TearDown();
    }
    ScriptedDialogs dialogs;
};

// The settings as stored are shown (a server typed earlier too); the proxy edits follow the box;
// Default; Query stores what is shown and closes when the lookup ended with "yes".
TEST_F(QueryCddbFormTest, TheSettingsDialog)
{
    Options.QueryCDDB.Server = "cddb.example.org:8880";
    Options.QueryCDDB.Script = "/cgi-bin/cddb.cgi";
    Options.QueryCDDB.UseProxy = true;
    Options.QueryCDDB.ProxyAddress = "proxy.local";
    Options.QueryCDDB.Port = "3128";
    TfrmQueryCDDB form(nullptr, 1, 3, 1, [](const TCddbFields&) {});
    EXPECT_EQ(form.windowTitle(), "Query CDDB");
    EXPECT_EQ(form.cbServer->itemText(0), "gnudb.gnudb.org");
    EXPECT_EQ(form.cbServer->currentText(), "cddb.example.org:8880");
    EXPECT_EQ(form.eScript->text(), "/cgi-bin/cddb.cgi");
    EXPECT_TRUE(form.cbProxy->isChecked());
    EXPECT_TRUE(form.eAddress->isEnabled());
    EXPECT_EQ(form.ePort->text(), "3128");

    form.cbProxy->setChecked(false);
    EXPECT_FALSE(form.eAddress->isEnabled());
    EXPECT_FALSE(form.ePort->isEnabled());
    form.cbProxy->setChecked(true);
    QTest::mouseClick(form.bDefault, Qt::LeftButton);
    EXPECT_EQ(form.cbServer->currentText(), "gnudb.gnudb.org");
    EXPECT_EQ(form.eScript->text(), "/~cddb/cddb.cgi");
    EXPECT_FALSE(form.cbProxy->isChecked());
    EXPECT_EQ(form.eAddress->text(), "proxy.local") << "address and port are left as they are";

    int waits = 0;
    form.RunWaitDialog = [&](TfrmStopQuery& wait) {
        ++waits;
        EXPECT_EQ(wait.windowTitle(), "Query CDDB...");
        return waits == 1 ? int(QDialog::Rejected) : int(QDialog::Accepted);
    };
    form.show();
    QTest::mouseClick(form.bQuery, Qt::LeftButton);  // stopped: the settings stay open
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Options.QueryCDDB.Server, "gnudb.gnudb.org");
    EXPECT_FALSE(Options.QueryCDDB.UseProxy);
    EXPECT_EQ(Options.QueryCDDB.Port, "3128");
    QTest::mouseClick(form.bQuery, Qt::LeftButton);  // over: both close
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

// The main window's command: the lookup through both dialogs against a local server; the titles
// reach the list; a table that cannot be read is said.
TEST_F(QueryCddbFormTest, TheLookupFromTheMainWindow)
{
    auto drive = std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750, 750}));
    AkripUseDrives({drive});
    TTestHttpServer server([](const std::string& line) -> std::string {
        if (line.find("cddb+query") != std::string::npos)
            return "200 rock 0a000002 Band / Album\r\n";
        return "210 rock 0a000002\r\nDTITLE=Band / Album\r\nTTITLE0=First\r\nTTITLE1=Second\r\n.\r\n";
    });
    TMainForm form(dialogs);  // loads the options
    Options.QueryCDDB.Server = "127.0.0.1:" + std::to_string(server.Port());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(form.aQueryCDDB->isEnabled());
    // The settings dialog opens; Query is pressed on it; the wait dialog ends by itself.
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (auto* settings = qobject_cast<TfrmQueryCDDB*>(QApplication::activeModalWidget())) {
            press.stop();
            settings->bQuery->click();
        }
    });
    press.start(10);
    form.aQueryCDDB->trigger();
    EXPECT_EQ(form.ListView1->topLevelItem(0)->text(1), "First");
    EXPECT_EQ(form.ListView1->topLevelItem(1)->text(1), "Second");
    EXPECT_EQ(Options.CDInfo.Artist, "Band");
    EXPECT_EQ(Options.CDInfo.Album, "Album");
    EXPECT_TRUE(dialogs.shown.empty());

    drive->TocUnreadable = true;
    form.aQueryCDDB->trigger();
    EXPECT_EQ(dialogs.Texts(), QStringList{"Error while reading TOC information!"});
    form.hide();
}

// No match, or a match whose entry the server refuses to give (401): the panel's four lines
// and the reason show, and the button becomes Close; the window never closes as if it worked.
TEST_F(QueryCddbFormTest, TheWaitDialogSaysWhenNothingMatched)
{
    AkripUseDrives({std::make_shared<TScriptedDrive>(TScriptedDrive::AudioToc({750}))});
    const struct {
        const char* name;
        const char* readReply;
        const char* reason;
    } cases[] = {{"no match", nullptr, "The CDDB server knows no entry for this disc."},
                 {"entry refused", "401 rock 02003101 No such CD entry in database\r\n", "The CDDB server refused the request."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTestHttpServer server([&](const std::string& line) {
            if (!c.readReply)
                return std::string("202 No match\r\n");
            return std::string(line.find("cddb+query") != std::string::npos ? "200 rock 02003101 A / B\r\n" : c.readReply);
        });
        Options.QueryCDDB.Server = "127.0.0.1:" + std::to_string(server.Port());
        TGetCDHand request{};
        request.Size = 12;
        request.Ver = 1;
        const HCDROM handle = GetCDHandle(&request);
        bool applied = false;
        TfrmStopQuery wait(nullptr, 1, 1, handle, [&](const TCddbFields&) { applied = true; });
        wait.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return wait.bStop->text() == "Close" || !wait.isVisible(); }, 10000));
        EXPECT_TRUE(wait.isVisible());
        EXPECT_TRUE(wait.Panel1->isVisible());
        EXPECT_FALSE(wait.Label1->isVisible());
        EXPECT_FALSE(applied);
        QStringList lines;
        for (const QLabel* l : wait.Panel1->findChildren<QLabel*>())
            lines << l->text();
        EXPECT_EQ(lines, (QStringList{"No match found,perhaps:", "1.No information in CDDB server", "2.error CDDB options",
                                      "3.check the network", c.reason}));
        QTest::mouseClick(wait.bStop, Qt::LeftButton);
        EXPECT_FALSE(wait.isVisible());
        CloseCDHandle(handle);
    }
}

}  // namespace
