#include "MediaMonitor.h"

#include <QSocketNotifier>

#include <libudev.h>

#include <map>
#include <string>

void TMediaMonitor::Raise(Event event)
{
    if (event == Event::VolumeArrived)
        emit VolumeArrived();
    else
        emit VolumeRemoved();
}

std::optional<TMediaMonitor::Event> TMediaPresence::Change(const std::string& drive, bool hasMedia)
{
    bool& had = m_hasMedia[drive];
    const bool before = had;
    had = hasMedia;
    if (hasMedia && !before)
        return TMediaMonitor::Event::VolumeArrived;
    if (!hasMedia && before)
        return TMediaMonitor::Event::VolumeRemoved;
    return std::nullopt;
}

namespace {

bool HasMedia(udev_device* device)
{
    const char* media = udev_device_get_property_value(device, "ID_CDROM_MEDIA");
    return media && std::string(media) == "1";
}

bool IsCdDrive(udev_device* device)
{
    const char* cdrom = udev_device_get_property_value(device, "ID_CDROM");
    return cdrom && std::string(cdrom) == "1";
}

// Turns udev's "change" events of CD drives into arrival and removal.
class TUdevMediaMonitor final : public TMediaMonitor {
public:
    TUdevMediaMonitor(udev* context, udev_monitor* monitor, QObject* parent)
        : TMediaMonitor(parent)
        , m_udev(context)
        , m_monitor(monitor)
        , m_notifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read, this)
    {
        SeedDrives();
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { Receive(); });
    }

    ~TUdevMediaMonitor() override
    {
        udev_monitor_unref(m_monitor);
        udev_unref(m_udev);
    }

private:
    void SeedDrives()
    {
        udev_enumerate* list = udev_enumerate_new(m_udev);
        udev_enumerate_add_match_subsystem(list, "block");
        udev_enumerate_add_match_property(list, "ID_CDROM", "1");
        udev_enumerate_scan_devices(list);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list))
        {
            if (udev_device* device = udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry))) {
                m_presence.Seed(udev_device_get_syspath(device), HasMedia(device));
                udev_device_unref(device);
            }
        }
        udev_enumerate_unref(list);
    }

    void Receive()
    {
        while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
            if (IsCdDrive(device)) {
                if (const auto event = m_presence.Change(udev_device_get_syspath(device), HasMedia(device)))
                    Raise(*event);
            }
            udev_device_unref(device);
        }
    }

    udev* m_udev;
    udev_monitor* m_monitor;
    QSocketNotifier m_notifier;
    TMediaPresence m_presence;
};

}  // namespace

std::unique_ptr<TMediaMonitor> CreateMediaMonitor(QObject* parent)
{
    udev* context = udev_new();
    if (!context)
        return std::make_unique<TMediaMonitor>(parent);
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor)
            udev_monitor_unref(monitor);
        udev_unref(context);
        return std::make_unique<TMediaMonitor>(parent);
    }
    return std::make_unique<TUdevMediaMonitor>(context, monitor, parent);
}
