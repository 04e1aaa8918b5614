#include "Dialogs.h"
#include "QtDialogs.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

#include "TestSupport.h"

namespace {

TEST(DialogsTest, FileFiltersReadAsQtFilters)
{
    EXPECT_EQ(QtFileFilters(QStringLiteral("MP3 file(*.mp3)|*.mp3| Any file(*.*)|*.*")),
              QStringList({"MP3 file(*.mp3)", "Any file(*)"}));
    EXPECT_EQ(QtFileFilters(QStringLiteral("Sound file(*.wav)|*.wav;*.WAV")), QStringList({"Sound file(*.wav *.WAV)"}));
    EXPECT_EQ(QtFileFilters(QStringLiteral("Playlists|*.m3u")), QStringList({"Playlists (*.m3u)"}));
    EXPECT_TRUE(QtFileFilters(QString()).isEmpty());
}

// The shell's answer is waited for: xdg-open finding no handler (3) or failing (4), or missing,
// is a failure the caller can tell the user of; a handler that took the target is success.
TEST(DialogsTest, OpeningWithTheShellTellsWhenNothingOpened)
{
    const QString folder = QDir::tempPath() + QStringLiteral("/sonvale-xdg-") + QString::number(getpid());
    QDir().mkpath(folder);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(folder));
    QtDialogs dialogs;
    const auto fake = [&](const char* body) {
        QFile f(folder + QStringLiteral("/xdg-open"));
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray("#!/bin/sh\n") + body + "\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    EXPECT_FALSE(dialogs.OpenWithShell(QStringLiteral("https://sonvale.org/"))) << "no xdg-open at all";
    fake("exit 3");
    EXPECT_FALSE(dialogs.OpenWithShell(QStringLiteral("https://sonvale.org/")));
    fake("exit 4");
    EXPECT_FALSE(dialogs.OpenWithShell(QDir::tempPath()));
    fake("exit 0");
    EXPECT_TRUE(dialogs.OpenWithShell(QDir::tempPath()));
    qputenv("PATH", path);
    QDir(folder).removeRecursively();
}

}  // namespace
