#pragma once
// Media arrival and removal in the machine's CD drives, reported to whoever listens on the UI
// thread. The udev implementation watches block devices; tests raise the events themselves.
//
// Lives on the UI thread.

#include <QObject>

#include <map>
#include <memory>
#include <optional>
#include <string>

class TMediaMonitor : public QObject {
    Q_OBJECT
public:
    enum class Event { VolumeArrived, VolumeRemoved };

    using QObject::QObject;

    // Emits the event's signal (tests, and the implementations).
    void Raise(Event event);

signals:
    void VolumeArrived();
    void VolumeRemoved();
};

// What a drive's change notices mean: udev reports a change whenever a CD drive's state moves
// (tray, media, lock); only a change of "holds a disc" is an arrival or a removal.
class TMediaPresence {
public:
    // A drive as it is at start-up: no event.
    void Seed(const std::string& drive, bool hasMedia) { m_hasMedia[drive] = hasMedia; }
    // A change notice of a drive; the event it means, if any. A drive first seen now counts as
    // having had no disc.
    std::optional<TMediaMonitor::Event> Change(const std::string& drive, bool hasMedia);

private:
    std::map<std::string, bool> m_hasMedia;
};

// A monitor on udev's block devices: a disc appearing in or leaving a CD drive (nothing when udev
// cannot be reached: a container without udev, say), and on the tray folders of
// $SONVALE_DISC_IMAGES: an image put into one is a disc arriving, the last one moved out a removal.
std::unique_ptr<TMediaMonitor> CreateMediaMonitor(QObject* parent = nullptr);
