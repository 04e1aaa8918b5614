#include "JobDisplay.h"

#include "Global.h"
#include "rip.h"

#include <algorithm>
#include <cmath>

TJobDisplay::TJobDisplay(TRipView& view, TRipDisplay& display)
    : m_view(view)
    , m_display(display)
{
}

void TJobDisplay::Show()
{
    m_view.DisplayChanged(m_display);
}

void TJobDisplay::SetCaption(const std::string& prefix, int n, int count, const std::string& text)
{
    m_display.Caption = JobCaption(prefix, n, count, text);
    Show();
}

void TJobDisplay::SetStage(const std::string& stage)
{
    m_display.Stage = stage;
    Show();
}

void TJobDisplay::SetBar(int percent)
{
    m_display.Bar = percent;
    Show();
}

void TJobDisplay::Progress(const TProcessInfo& r)
{
    m_display.Elapsed = r.ElapsedText;
    if (r.Estimate) {
        // An encoder's own estimate: the bar never moves back, and until there is one the
        // times it showed stay.
        m_display.InitializingShown = false;
        if (!r.EstimatedText.empty()) {
            m_display.Estimated = r.EstimatedText;
            m_display.PercentShown = true;
            m_display.Bar = std::max(m_display.Bar, r.Code);
        }
    } else {
        m_display.Estimated = r.EstimatedText;
        if (r.Code > 0) {
            m_display.InitializingShown = false;
            m_display.PercentShown = true;
            m_display.Bar = std::min(r.Code, 100);
        }
    }
    Show();
}

void TJobDisplay::BeginItems(std::vector<double> weights)
{
    m_read.assign(weights.size(), 0.0);
    m_encoded.assign(weights.size(), 0.0);
    m_weight = std::move(weights);
    m_began = std::chrono::steady_clock::now();
}

void TJobDisplay::SetWeight(std::size_t item, double weight)
{
    if (item < m_weight.size())
        m_weight[item] = weight;
}

void TJobDisplay::Read(std::size_t item, double part)
{
    if (item < m_read.size())
        m_read[item] = std::max(m_read[item], part);
}

void TJobDisplay::Encoded(std::size_t item, double part)
{
    if (item < m_encoded.size())
        m_encoded[item] = std::max(m_encoded[item], part);
}

void TJobDisplay::ShowSideBySide(std::vector<TBusy> busy, const std::string& prefix, const std::string& resampling,
                                 const std::string& stage, bool files, bool extracting, int count)
{
    // The items at work, by their place in the job: "Encoding 3 tracks: 04, 05, 06".
    std::sort(busy.begin(), busy.end(), [](const TBusy& a, const TBusy& b) { return a.Item < b.Item; });
    std::string line;
    if (!busy.empty()) {
        line = prefix.substr(0, prefix.size() - 1) + " " + std::to_string(busy.size()) + (files ? " file" : " track") +
               (busy.size() == 1 ? "" : "s") + ":";
        for (const TBusy& b : busy)
            line += (&b == &busy.front() ? " " : ", ") + TwoDigits(b.Item + 1);
    }
    m_display.Encoding = line;
    // The caption names the extraction while the drive reads (it is what the user waits for),
    // and the first item at work after it.
    if (!extracting && !busy.empty()) {
        const TBusy& first = busy.front();
        m_display.Caption = JobCaption(first.Resampling ? resampling : prefix, first.Item + 1, count, first.Text);
        m_display.Stage = stage;
    } else if (files) {
        m_display.Stage = stage;
    }
    // The bar and the times: the whole job's. A rip's item is half read, half encoded.
    double done = 0, whole = 0;
    for (std::size_t i = 0; i < m_encoded.size(); ++i) {
        const double weight = std::max(m_weight[i], 1.0);
        done += weight * (files ? m_encoded[i] : (m_read[i] + m_encoded[i]) / 2);
        whole += weight;
    }
    const double part = whole > 0 ? done / whole : 0;
    m_display.Bar = std::max(m_display.Bar, std::min(static_cast<int>(part * 100), 100));
    if (m_display.Bar > 0) {
        m_display.InitializingShown = false;
        m_display.PercentShown = true;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_began).count();
    m_display.Elapsed = TimeText(static_cast<int64_t>(elapsed));
    m_display.Estimated = part > 0 ? TimeText(static_cast<int64_t>(std::nearbyint(elapsed / part))) : std::string();
    Show();
}
