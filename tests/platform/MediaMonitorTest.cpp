#include "MediaMonitor.h"

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

}  // namespace
