#pragma once
// Media arrival and removal in the machine's CD drives, reported to whoever listens on the UI
// thread. The udev implementation watches block devices; tests raise the events themselves.
//
// Lives on the UI thread.

#include <QObject>

#include <memory>

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

// A monitor on udev's block devices: a disc appearing in or leaving a CD drive. A monitor that
// reports nothing when udev cannot be reached (a container without udev, say).
std::unique_ptr<TMediaMonitor> CreateMediaMonitor(QObject* parent = nullptr);
