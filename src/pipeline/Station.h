#pragma once
// A ripping station: every audio disc put into any of its drives ripped securely (burst-first,
// AccurateRip and CTDB), named (MusicBrainz's release, else its CD-TEXT, else its disc ID as the
// album, so that two discs never share a file), into the output folder in every format asked for, recorded in the history and
// ejected; several drives at once, each its own job. A disc in the history (by its MusicBrainz,
// CTDB or AccurateRip ID) is skipped with a note unless asked again; a disc that cannot be ripped
// is recorded and ejected, and the station goes on.
//
// Drives are looked at when the media monitor reports a change and every 2 s: a drive's disc is
// new when its key differs from the last one seen there (an empty tray in between counts).
// Lives on the UI thread (a QCoreApplication's event loop); no widgets.

#include "Dialogs.h"
#include "JobSettings.h"
#include "Mp3EncodeThread.h"
#include "StationHistory.h"
#include "WMAEncodeThread.h"
#include "akrip32.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TMediaMonitor;
class TRipJob;

struct TStationOptions {
    std::vector<int> Drives;      // positions in the drive list (from 0); empty: every drive
    std::string Template = "%artist%/%album%/%track% %title%";
    bool Again = false;           // rip a disc in the history again
    bool Eject = true;
    int Jobs = 1;                 // encoders over all the drives' jobs
    // Run when a disc is done: its words get %log%, %folder%, %result%, %artist%, %album%.
    std::string OnDisc;
    std::string HistoryPath;
};

class TStation {
public:
    // settings: the jobs' (output folder, formats, secure options); say: a line for the user.
    TStation(TStationOptions options, TJobSettings settings, Dialogs& dialogs, std::function<void(const std::string&)> say);
    ~TStation();
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // Loads the history and starts watching; false (and said) when the history cannot be kept.
    bool Start(TMediaMonitor* monitor);
    // Ends the rips under way (as Stop does); done runs once every job is over and the history
    // says what each did.
    void Stop(std::function<void()> done);
    const TStationHistory& History() const { return m_history; }

private:
    struct TDrive;
    void Look();
    void LookAt(TDrive& drive);
    // The disc's lookup answered (or nothing to ask): its names, then its rip.
    void Rip(TDrive& drive);
    void Finished(TDrive& drive);
    void Record(TDrive& drive, TStationDisc disc, bool eject);
    void RunOnDisc(const TStationDisc& disc);
    void CheckStopped();

    TStationOptions m_options;
    TJobSettings m_settings;
    Dialogs& m_dialogs;
    std::function<void(const std::string&)> m_say;
    TStationHistory m_history;
    std::vector<std::unique_ptr<TDrive>> m_drives;
    QTimer m_poll;
    QTimer m_answers;  // looks for the lookups' answers while any runs
    bool m_stopping = false;
    std::function<void()> m_stopped;
};
