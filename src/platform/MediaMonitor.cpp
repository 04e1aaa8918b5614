#include "MediaMonitor.h"

#include "FileSystem.h"

#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include <cstdlib>
#include <filesystem>
#include <sstream>

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

// The tray folders of $SONVALE_DISC_IMAGES ("/path/tray/", or any entry that is a folder)
// watched as drives: the disc in one is its first image (FirstTrayImage); another one there is a
// disc taken out and the next put in, as udev reports them for a real drive.
void WatchTrayFolders(TMediaMonitor& monitor)
{
    const char* images = std::getenv("SONVALE_DISC_IMAGES");
    if (!images)
        return;
    auto* watcher = new QFileSystemWatcher(&monitor);
    auto discs = std::make_shared<std::map<std::string, std::string>>();  // folder -> its disc
    std::istringstream list(images);
    for (std::string path; std::getline(list, path, ':');) {
        std::error_code ec;
        if (path.empty() || (path.back() != '/' && !std::filesystem::is_directory(path, ec)))
            continue;
        (*discs)[path] = FirstTrayImage(path);
        watcher->addPath(QString::fromStdString(path));
    }
    QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, &monitor, [&monitor, discs](const QString& folder) {
        std::string& disc = (*discs)[folder.toStdString()];
        const std::string now = FirstTrayImage(folder.toStdString());
        if (now == disc)
            return;
        const bool had = !disc.empty();
        disc = now;
        if (had)
            monitor.Raise(TMediaMonitor::Event::VolumeRemoved);
        if (!now.empty())
            monitor.Raise(TMediaMonitor::Event::VolumeArrived);
    });
}

}  // namespace

std::unique_ptr<TMediaMonitor> CreateMediaMonitor(QObject* parent)
{
    std::unique_ptr<TMediaMonitor> made;
    udev* context = udev_new();
    udev_monitor* monitor = context ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
        made = std::make_unique<TMediaMonitor>(parent);
    } else {
        made = std::make_unique<TUdevMediaMonitor>(context, monitor, parent);
    }
    WatchTrayFolders(*made);
    return made;
}
