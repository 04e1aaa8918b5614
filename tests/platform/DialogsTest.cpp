#include "Dialogs.h"

#include "TestSupport.h"

namespace {

TEST(DialogsTest, FileFiltersReadAsQtFilters)
{
    EXPECT_EQ(QtFileFilters(QStringLiteral("MP3 file(*.mp3)|*.mp3| Any file(*.*)|*.*")),
              QStringList({"MP3 file(*.mp3) (*.mp3)", "Any file(*.*) (*)"}));
    EXPECT_EQ(QtFileFilters(QStringLiteral("Sound file(*.wav)|*.wav;*.WAV")),
              QStringList({"Sound file(*.wav) (*.wav *.WAV)"}));
    EXPECT_TRUE(QtFileFilters(QString()).isEmpty());
}

}  // namespace
