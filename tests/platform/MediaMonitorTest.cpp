#include "MediaMonitor.h"

#include "TestSupport.h"

#include <QSignalSpy>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

using Event = TMediaMonitor::Event;

TEST(MediaMonitorTest, OnlyAChangeOfHoldingADiscIsAnEvent)
{
    TMediaPresence presence;
    presence.Seed("/sys/sr0", true);
    presence.Seed("/sys/sr1", false);
    struct Step {
        const char* drive;
        bool hasMedia;
        std::optional<Event> expected;
    } steps[] = {
        {"/sys/sr0", true, std::nullopt},               // a lock or tray notice: nothing changed
        {"/sys/sr0", false, Event::VolumeRemoved},
        {"/sys/sr0", false, std::nullopt},              // the tray opening after the removal
        {"/sys/sr0", true, Event::VolumeArrived},
        {"/sys/sr1", true, Event::VolumeArrived},
        {"/sys/sr2", false, std::nullopt},              // a drive plugged in later, empty
        {"/sys/sr2", true, Event::VolumeArrived},
    };
    for (const Step& s : steps)
        EXPECT_EQ(presence.Change(s.drive, s.hasMedia), s.expected) << s.drive << " " << s.hasMedia;
}

class TrayMonitorTest : public TempDirTest {};

// A tray folder of $SONVALE_DISC_IMAGES watched as a drive: an image put in is a disc arriving;
// with a second one waiting, ejecting the first is a removal and an arrival; the last one moved
// out is a removal.
TEST_F(TrayMonitorTest, ImagesPutInAndTakenOutAreArrivalsAndRemovals)
{
    std::filesystem::create_directory(Path("tray"));
    setenv("SONVALE_DISC_IMAGES", Path("tray/").c_str(), 1);
    const std::unique_ptr<TMediaMonitor> monitor = CreateMediaMonitor();
    unsetenv("SONVALE_DISC_IMAGES");
    QSignalSpy arrived(monitor.get(), &TMediaMonitor::VolumeArrived);
    QSignalSpy removed(monitor.get(), &TMediaMonitor::VolumeRemoved);
    const auto put = [&](const std::string& name) { std::ofstream(Path("tray/" + name)) << "FILE \"x.bin\" BINARY\n"; };
    put("one.cue");
    ASSERT_TRUE(arrived.wait(5000));
    EXPECT_EQ(removed.count(), 0);
    // A file that is no image changes nothing; a second image waits behind the first.
    std::ofstream(Path("tray/notes.txt")) << "x";
    const auto older = std::filesystem::last_write_time(Path("tray/one.cue")) - std::chrono::seconds(10);
    std::filesystem::last_write_time(Path("tray/one.cue"), older);
    put("two.toc");
    std::filesystem::create_directory(Path("tray/ejected"));
    std::filesystem::rename(Path("tray/one.cue"), Path("tray/ejected/one.cue"));
    ASSERT_TRUE(removed.wait(5000));
    if (arrived.count() < 2) {
        ASSERT_TRUE(arrived.wait(5000));
    }
    EXPECT_EQ(arrived.count(), 2);
    std::filesystem::rename(Path("tray/two.toc"), Path("tray/ejected/two.toc"));
    ASSERT_TRUE(removed.wait(5000));
    EXPECT_EQ(removed.count(), 2);
    EXPECT_EQ(arrived.count(), 2);
}

}  // namespace

