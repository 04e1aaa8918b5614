#include "mainModel.h"

#include "Global.h"
#include "JobItems.h"

TMainModel::TMainModel(TDiscScan& disc, std::unique_ptr<TCdPlayer> player)
    : m_disc(disc)
    , m_player(std::move(player))
{
    m_player->OnComplete = [this](TCdPlayer::TCompletion c) { PlayCompleted(c); };
}

void TMainModel::Status(const std::string& text)
{
    if (OnStatus)
        OnStatus(text);
}

void TMainModel::Play()
{
    if (!PlayEnabled())
        return;
    const int r = SelectedRow;
    const bool wasStop = StopEnabled(), wasPause = PauseEnabled();
    // Resuming plays the paused track, whichever row is selected now: the status names it.
    const bool resume = wasStop && !wasPause && PlayingRow >= 0 && PlayingRow < static_cast<int>(m_disc.Rows.size());
    Status("Play " + m_disc.Rows[static_cast<std::size_t>(resume ? PlayingRow : r)].Title);
    Playing = true;
    Paused = false;
    // Player errors are not shown: the flags keep what was set.
    if (wasStop && !wasPause) {
        m_player->Resume();
        return;
    }
    PlayingRow = r;
    if (wasStop)
        m_player->Close();
    if (!m_player->Open(m_disc.CDHandle))
        return;
    TTmsf start = 0, end = 0;
    if (!m_player->TrackPosition(r + 1, start))
        return;
    const bool last = r + 1 >= static_cast<int>(m_disc.Rows.size());
    if (!last && !m_player->TrackPosition(r + 2, end))
        end = 0;
    m_player->Play(start, last ? 0 : end);
}

void TMainModel::Pause()
{
    if (!PauseEnabled())
        return;
    Paused = true;
    m_player->Pause();
}

void TMainModel::Stop()
{
    if (!StopEnabled())
        return;
    StopPlayback();
}

void TMainModel::StopPlayback()
{
    if (!Playing)
        return;
    Playing = false;
    Paused = false;
    if (m_player->Stop())
        m_player->Close();
    Status(m_disc.DriveStatusText);
}

void TMainModel::PlayCompleted(TCdPlayer::TCompletion completion)
{
    // Superseded, aborted or failed plays change nothing.
    if (completion == TCdPlayer::cpSuccessful && Playing)
        StopPlayback();
}

void TMainModel::ToggleChecked(int row)
{
    if (row >= 0 && row < static_cast<int>(m_disc.Rows.size()))
        m_disc.Rows[static_cast<std::size_t>(row)].Checked = !m_disc.Rows[static_cast<std::size_t>(row)].Checked;
}

std::vector<std::string> TMainModel::ExtractItems() const
{
    std::vector<std::string> items;
    for (std::size_t r = 0; r < m_disc.Rows.size(); ++r)
        if (m_disc.Rows[r].Checked)
            items.push_back(TrackItemText(static_cast<int>(r) + 1, m_disc.Rows[r].Title));
    return items;
}
