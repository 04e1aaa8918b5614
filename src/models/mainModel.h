#pragma once
// The main window's logic without widgets: the playback state and its commands, the enabling
// rules of the actions, the Extract list, the check toggling. The window shows what this holds
// and asks it whether an action may run. Lives on the UI thread.

#include "CdPlayer.h"
#include "DiscScan.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TMainModel {
public:
    TMainModel(TDiscScan& disc, std::unique_ptr<TCdPlayer> player);

    bool Playing = false;
    bool Paused = false;
    int PlayingRow = -1;   // the row whose track plays or is paused
    int SelectedRow = -1;   // -1: no row selected

    // Sets the status bar's text.
    std::function<void(const std::string&)> OnStatus;

    // The rules of the actions.
    bool ExtractEnabled() const { return m_disc.AnyTrackChecked(); }
    bool RowSelected() const { return SelectedRow >= 0 && SelectedRow < static_cast<int>(m_disc.Rows.size()); }
    bool PlayEnabled() const { return RowSelected(); }
    bool PauseEnabled() const { return Playing && !Paused; }
    bool StopEnabled() const { return Playing; }
    bool RenameEnabled() const { return RowSelected(); }
    bool QueryEnabled() const { return !m_disc.Rows.empty(); }

    // The playback commands, each running only when its rule holds.
    void Play();
    void Pause();
    void Stop();
    // The player's report that a play ended: a successful one stops.
    void PlayCompleted(TCdPlayer::TCompletion completion);
    // Extract, and closing, stop a playing track first.
    void StopPlayback();

    // Ctrl+click: the row's check box changes.
    void ToggleChecked(int row);
    // The Extract list: for every checked row its position (from 1) in two digits and its title.
    std::vector<std::string> ExtractItems() const;

    TCdPlayer& Player() { return *m_player; }

private:
    void Status(const std::string& text);

    TDiscScan& m_disc;
    std::unique_ptr<TCdPlayer> m_player;
};
