#pragma once
// The CD logic of the main window: opens a drive, tells an audio disc from none, turns the
// disc's table of contents into the track list with remembered titles, follows media arrival
// and removal, and writes the titles back when the program closes. No widgets: the main window
// shows Rows and StatusText and calls the steps below. Lives on the UI thread.

#include "Dialogs.h"
#include "akrip32.h"

#include <functional>
#include <string>
#include <vector>

struct TCDInfo;

// One row of the track list. Its position + 1 is the track position extraction goes by.
struct TTrackRow {
    int TrackNumber = 0;      // "No."
    bool Checked = true;
    std::string Title;
    std::string LengthText;   // "MM:SS"
    std::string SizeText;     // mebibytes of WAV data, "42.06"
};

// A table read in minute/second/frame mode that the program can use: tracks numbered 1..99, the
// last not below the first.
bool TocIsUsable(const TTOC& toc);

// Frames of an MSF address (75 per second, 4500 per minute).
int32_t TocFrames(const TTOCTrack& entry);

// The rows of a usable table. Row r takes title r + 1 of info when info remembers that many
// (rememberedTitles), else the default title, which is then stored in info as well.
std::vector<TTrackRow> TrackRows(const TTOC& toc, TCDInfo& info, int rememberedTitles);

// Length and size texts of a track of minutes:seconds ("04:10", "42.06").
std::string LengthText(int minutes, int seconds);
std::string SizeText(int minutes, int seconds);

// The disc key of a table read in MSF mode: the serial number the Windows CD file system gives
// an audio disc, as signed decimal.
std::string DiscKeyOfToc(const TTOC& toc);
// The key of the first drive of the list that holds an audio disc; empty when none does.
std::string DiscKey();

// "Vendor" followed directly by "Product", at most 26 characters.
std::string DriveDisplayName(const TCDRec& rec);

class TDiscScan {
public:
    explicit TDiscScan(Dialogs& dialogs);

    HCDROM CDHandle = 0;          // the open drive; 0: none
    bool NoAudioCD = false;       // the start-up check found no audio disc
    std::string DriveStatusText;  // the status text after start-up or a drive change
    std::vector<TTrackRow> Rows;

    // The text of the status bar's first panel.
    const std::string& StatusText() const { return m_statusText; }
    // Called after Rows or StatusText changed.
    std::function<void()> OnChanged;

    // Opens the drive at position in the drive list; sets the status text. 0 on failure.
    HCDROM OpenDrive(int position);
    // Whether the first drive of the list holds an audio disc.
    bool AudioCDPresent();
    // Rebuilds Rows from the disc in the drive of CDHandle (nothing when CDHandle is 0).
    void ScanDisc();
    // True when the output folder exists; otherwise tells the user and returns false.
    bool OutputFolderExists();
    bool AnyTrackChecked() const;

    // The main window's steps.
    void FormShow();               // open the first drive, scan an audio disc, or mark none
    void Refresh();                // rescan, or say that there is no audio disc
    void ChangeDrive(int position); // the options dialog chose another drive
    void VolumeArrived();
    void VolumeRemoved();
    // Titles into Options.CDInfo, saved under the disc key, drive closed. Throws
    // EProfileWriteError when cdinfo.dat cannot be written (the drive stays open then).
    void FormClose();

private:
    void SetStatus(const std::string& text);
    void Changed();

    Dialogs& m_dialogs;
    std::string m_statusText;
};
