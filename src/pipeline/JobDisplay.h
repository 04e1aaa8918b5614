#pragma once
// What a job shows, kept apart from what it does: the caption, the stage and the bar of one item
// at a time from its stages' progress reports; side by side, the whole job's bar and times from
// each item's share (its length or size) and how far its reading and encoding are, and the line
// that names the items the encoders work on. The job sets what it starts; this tells the view.
// Lives on the UI thread, owned by the job.

#include "JobMessages.h"

#include <chrono>
#include <string>
#include <vector>

struct TRipDisplay;
class TRipView;

class TJobDisplay {
public:
    TJobDisplay(TRipView& view, TRipDisplay& display);

    // Tells the view what is shown now.
    void Show();
    // The caption of item n (from 1) of count: prefix + "07/12): " + text; shown.
    void SetCaption(const std::string& prefix, int n, int count, const std::string& text);
    void SetStage(const std::string& stage);
    void SetBar(int percent);
    // One stage's progress report (one item at a time): its bar and times.
    void Progress(const TProcessInfo& r);

    // Side by side: the job's items begin, each its share of the whole (at least 1).
    void BeginItems(std::vector<double> weights);
    void SetWeight(std::size_t item, double weight);
    // How far item's reading and its encoding are, 0..1 (never back).
    void Read(std::size_t item, double part);
    void Encoded(std::size_t item, double part);
    // An item at work in an encoder: its place in the job, its caption's text, and whether the
    // stage is the resampling before the encoding.
    struct TBusy {
        int Item = 0;
        std::string Text;
        bool Resampling = false;
    };
    // Side by side: the line of the items at work ("Encoding 3 tracks: 04, 05, 06"), the caption
    // (unless the drive reads: extracting), and the whole job's bar and times; shown.
    // prefix: the encoding caption's ("Encoding("); stage: a file job's first stage (else
    // "Encoding"); files: the items are files, not tracks; resampling: the resampling prefix.
    void ShowSideBySide(std::vector<TBusy> busy, const std::string& prefix, const std::string& resampling,
                        const std::string& stage, bool files, bool extracting, int count);

private:
    TRipView& m_view;
    TRipDisplay& m_display;
    std::vector<double> m_read, m_encoded;  // side by side: each item's stages, 0..1
    std::vector<double> m_weight;           // ... and its share of the job: sectors, or bytes of a file
    std::chrono::steady_clock::time_point m_began;  // the job's start, for its times
};
