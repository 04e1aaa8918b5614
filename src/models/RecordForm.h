#pragma once
// The recorder's logic: a new recording or an opened WAV file, recorded into and played through
// the wave-audio device, saved (with an MP3 copy made by a job when asked), undone. The window
// (TfrmRecord) shows what this holds and calls its handlers; the questions go through Dialogs.
// Lives on the UI thread.

#include "Dialogs.h"
#include "WaveAudio.h"

#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>

// "0 Sec", "1.5 Sec", "12.3 Sec", "1 Min", "1Hour", "1Hour2 Min3 Sec".
std::string FormatDuration(int64_t ms);

class TRecorder {
public:
    enum TButton { btPlay, btPause, btStop, btNext, btPrev, btStep, btBack, btRecord };
    using Clock = std::chrono::steady_clock;

    TRecorder(Dialogs& dialogs, std::unique_ptr<TWaveAudio> device);
    ~TRecorder();

    // What the window shows.
    std::string Caption = "Record";
    std::string State = "-----------";
    std::string RecordTime = "00:00:00.0";
    std::string PositionText = "0.00Sec";
    std::string LengthText = "0.00Sec";
    int Slider = 0;                      // 0..400
    std::set<TButton> Enabled;
    bool SaveMp3 = false;                // "MP3 format"
    std::function<void()> OnChanged;     // something shown has changed
    // Asks the window to close (the MP3 copy cannot be made without a drive).
    std::function<void()> OnCloseRequest;
    // Runs the MP3 copy of a file (a jkRecordToMp3 job, modal); the drive handle it goes with.
    std::function<void(const std::string& wav)> RunMp3Job;
    std::function<bool()> DriveOpen;     // whether the main window has a drive open
    // The new-file dialog: false when cancelled; else the rate text, bits and channels chosen.
    std::function<bool(std::string& rate, int& bits, int& channels)> AskNewFile;
    // The clock of the recording-time display and of Stop's wait (tests set their own).
    std::function<Clock::time_point()> Now = [] { return Clock::now(); };

    // The state, as named in the design.
    std::string CurrentFile;
    const std::string TempFile;
    const std::string NewFileName;
    bool Modified = false;
    bool Mp3Done = false;
    int64_t PlayPositionMs = 0;
    int LastMilliseconds = 0;

    TWaveAudio& Device() { return *m_device; }

    // The player's buttons: the window's part, then the device's operation.
    void Play();
    void Pause();
    void Stop();
    void Next();
    void Previous();
    void Record();
    // The menu.
    void New();
    void Open();
    bool SaveWork(bool prompt);
    void SaveAs();
    void Undo();
    bool SaveEnabled() const { return Enabled.count(btRecord) > 0; }
    bool UndoEnabled() const { return Modified && State != "Recording..." && CurrentFile != NewFileName; }
    // The window closes: false when it must stay open (the user cancelled a save question).
    bool Close();
    void SliderChanged(int value);

    // The timers' handlers (tests call them).
    void Timer1Timer();
    void TimerRecordTimer();
    QTimer Timer1;         // playback, 500 ms
    QTimer TimerRecord;    // recording time, 100 ms
    // Stop waits (without blocking) until the recording time reaches a whole second; then this
    // finishes the stop. Set while such a wait runs.
    bool StopPending() const { return m_stopWait.isActive(); }
    void FinishStop();

private:
    void Buttons(std::initializer_list<TButton> buttons);
    void Changed();
    void LoadWorkingCopy(const std::string& path);
    void ExportMp3();
    bool CopyFile(const std::string& from, const std::string& to);
    void DeviceOpen(const std::string& path, bool& ok);

    Dialogs& m_dialogs;
    std::unique_ptr<TWaveAudio> m_device;
    Clock::time_point m_recordStart;
    int64_t m_recordBaseLength = 0;  // ms: the file's length when the recording began
    int64_t m_recordFrom = 0;        // ms: where in it the recording goes
    QTimer m_stopWait;
};
