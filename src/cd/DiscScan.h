#pragma once
// The CD logic of the main window: opens a drive, tells an audio disc from none, turns the
// disc's table of contents into the track list with remembered titles, follows media arrival
// and removal, and writes the titles back when the program closes. No widgets: the main window
// shows Rows and StatusText and calls the steps below. Lives on the UI thread.

#include "Dialogs.h"
#include "akrip32.h"

#include "GlobalOptions.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

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

// Whether the entry is a data track (control bit 0x04).
bool IsDataTrack(const TTOCTrack& entry);

// Where the track at position (1-based, entry position - 1) of a usable MSF table lies on the
// disc. MSF addresses count the 2-second lead-in, so 00:02:00 is sector 0: a disc whose track 1
// starts at 00:34:00 (32 seconds of audio before it) has it at sector 2400. A track ends where
// the next entry starts, except the last audio track of a session followed by a track of a later
// session: it ends where its session does, 11400 sectors before that track (an Enhanced CD).
struct TTrackSectors {
    int32_t Start = 0;     // logical block address
    int32_t Length = 0;    // sectors; never negative
    bool Data = false;     // a data track: no audio to extract
};
TTrackSectors TrackSectors(const TTOC& toc, int position);

// The rows of a usable table. Row r takes title r + 1 of info when info remembers that many
// (rememberedTitles), else the default title, which is then stored in info as well.
std::vector<TTrackRow> TrackRows(const TTOC& toc, TCDInfo& info, int rememberedTitles);

// Length and size texts of a track of minutes:seconds ("04:10", "42.06").
std::string LengthText(int minutes, int seconds);
std::string SizeText(int minutes, int seconds);

// The disc key of a table read in MSF mode: the serial number the Windows CD file system gives
// an audio disc, as signed decimal.
std::string DiscKeyOfToc(const TTOC& toc);
// The CDDB disc ID of a table read in MSF mode: (sum of the digit sums of each track's start
// in seconds) mod 255 in the top byte, the seconds from the first track to the lead-out in the
// middle two, the number of tracks in the low byte. Starts count the 2-second lead-in.
uint32_t CddbDiscId(const TTOC& toc);

// The key of the first drive of the list that holds an audio disc; empty when none does.
std::string DiscKey();
// The key of the audio disc a handle is open on; empty when it holds none (or no handle).
std::string DiscKeyOf(HCDROM handle);

// The drives in the program's order (physical drives, then disc images).
TCDList DriveList();
// The request for a handle to the drive of a list entry.
TGetCDHand HandleRequest(const TCDRec& rec);
// The table of the disc in drive position of the list, in MSF mode, through a handle of its own;
// false when the drive cannot be opened or holds no usable table.
bool ReadDriveToc(const TCDList& list, int position, TTOC& toc);
// The table of the disc a handle is open on, in MSF mode; false when it cannot be read or is of
// no use (TocIsUsable).
bool ReadMsfToc(HCDROM handle, TTOC& toc);
// "Please check if have Audio CD in your CD device." and why, where the drive can tell: the tray
// is open, there is no disc, the disc holds no audio tracks.
std::string NoAudioDiscText(HCDROM handle);
// An audio disc is one whose first track is audio.
bool IsAudioDisc(const TTOC& toc);

// "Vendor" followed directly by "Product", at most 26 characters.
std::string DriveDisplayName(const TCDRec& rec);
// The same name of drive position of the list, not cut ("Sonvale Image my-long-album-name.cue");
// the short name when the drive cannot be opened.
std::string DriveFullName(const TCDList& list, int position);

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
    // Whether the open drive (before one is open: the first of the list) holds an audio disc.
    bool AudioCDPresent();
    // The key of the disc whose tracks Rows shows; empty when none is listed.
    const std::string& ListedKey() const { return m_listedKey; }
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
    // Titles into Options.CDInfo, saved under the disc key, together with every disc remembered
    // since it left the drive; drive closed. Throws EProfileWriteError when cdinfo.dat cannot be
    // written (the drive stays open then).
    void FormClose();

    // The discs listed earlier in this run, by disc key: their information as the user left it.
    const std::map<std::string, TCDInfo>& RememberedDiscs() const { return m_remembered; }

private:
    void SetStatus(const std::string& text);
    void Changed();
    // Keeps the listed disc's information, titles as the rows show them, under its key, so that
    // a disc taken out (or replaced) before the program closes loses nothing the user typed.
    void RememberListedDisc();
    // Fills the disc's information from its CD-TEXT (a disc cdinfo.dat does not know).
    void ApplyDiscText();

    Dialogs& m_dialogs;
    std::string m_statusText;
    std::string m_listedKey;      // the key of the disc whose tracks Rows shows
    std::map<std::string, TCDInfo> m_remembered;
};
