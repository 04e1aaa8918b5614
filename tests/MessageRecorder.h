#pragma once
// A stand-in for a job window: receives the messages a worker posts or sends and records them in
// order, so a test reads the exact sequence the window would see.

#include "JobMessages.h"
#include "Messages.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

class TMessageRecorder {
public:
    struct Record {
        UINT Msg = 0;
        LPARAM LParam = 0;
        bool HasInfo = false;       // a TProcessInfo came with it
        int32_t Code = 0;
        std::string ElapsedText, EstimatedText;
        int32_t Status = 0;
        bool HasEnd = false;        // a TEncoderEnded came with it (WM_ENCODEREND)
        TEncoderEnd End = TEncoderEnd::Done;
        std::string EndText;        // ... what the user is told
        bool Partial = false;
        std::thread::id HandledOn;  // the thread the handler ran on
    };

    TMessageRecorder();

    HWND Handle() const { return m_target.Handle(); }
    const std::vector<Record>& Records() const { return m_records; }

    // Runs the event loop until done(records) holds (looked at after every message and every
    // 10 ms); false when it does not within 60 seconds (a hung worker fails the test instead of
    // hanging it).
    bool WaitUntil(const std::function<bool(const std::vector<Record>&)>& done);
    // Until the extraction's last word: WM_EXTRACTERROR, or WM_PROCESSINFO with Code 1000.
    bool WaitForExtractionEnd();
    // Handles every message queued by now.
    void Drain();

    // Forgets what was recorded (after handling what is queued).
    void Clear()
    {
        Drain();
        m_records.clear();
    }

    // The codes of the WM_PROCESSINFO records, in order.
    std::vector<int32_t> Codes() const;
    const Record& Last() const { return m_records.back(); }

private:
    TMessageTarget m_target;
    std::vector<Record> m_records;
    std::function<void()> m_onMessage;
};
