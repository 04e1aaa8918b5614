#pragma once
// The audio pipe. A source (TACSInput) delivers raw interleaved little-endian PCM bytes when asked
// (16-bit signed or 8-bit unsigned samples, all channels of an instant together) and announces
// their format through three queries; a converter is a source that asks another source; an output
// (TACSOutput) owns a worker thread that keeps pulling from its source and writing until the
// source runs dry, then raises OnDone.
//
//   TWaveIn -> TRateConverter -> TWaveOut        (one Start at the end opens the whole chain)
//
// Threads: Start, SuspendWorker, State and the property setters are called by the owner (the
// UI thread). OutputStep, CompleteOutput, AbortOnError and the events OnProgress, OnDone and
// OnThreadException run on the output's worker. Within one pipe only one worker pulls.

#include "ACS_Streams.h"
#include "ACS_Types.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

class TACSInput;

// The component base: a name, and the removal notification that keeps a reference to a source
// from outliving it.
class TACSComponent {
public:
    virtual ~TACSComponent() = default;
    std::string Name;
};

// Something that holds a source and must forget it when the source is destroyed.
class TACSInputHolder {
public:
    virtual void InputRemoved(TACSInput* input) = 0;

protected:
    ~TACSInputHolder() = default;
};

// Takes and releases the spin flag that guards an input reference (acquire and release order).
void LockInput(std::atomic<bool>& flag);
inline void UnlockInput(std::atomic<bool>& flag) { flag.store(false, std::memory_order_release); }

// Replaces the input a holder (an output or a converter) pulls from, keeping the removal
// notification in step. While the holder runs, the new source is opened, swapped in under flag
// and the old one closed.
void SwapInput(TACSInputHolder* holder, TACSInput*& slot, TACSInput* input, bool running, std::atomic<bool>& flag);

class TACSInput : public TACSComponent {
public:
    ~TACSInput() override;

    virtual int32_t GetSampleBits() = 0;
    virtual int32_t GetChannelCount() = 0;
    virtual int32_t GetSamplingRate() = 0;
    virtual int32_t GetDurationSeconds() { return 0; }
    // Copies at most bufferSize bytes into buffer; 0: no more data. Raises "The Stream is not
    // opened" while not Active.
    virtual int32_t ReadAudio(void* buffer, int32_t bufferSize) = 0;
    // CloseInput, ignoring its errors, then not Active.
    virtual void ResetInput();
    virtual void OpenInput() = 0;
    virtual void CloseInput() = 0;

    int64_t DeliveredBytes = 0;   // handed out since OpenInput
    int64_t TotalBytes = 0;       // announced size; -1 when the source cannot tell
    bool Active = false;
    int32_t WindowStart = 1;      // 1-based next byte of the internal buffer
    int32_t WindowEnd = 0;        // 1-based last valid byte; empty when WindowStart > WindowEnd

    // Holders are told when this source is destroyed.
    void AddHolder(TACSInputHolder* holder) { m_holders.insert(holder); }
    void RemoveHolder(TACSInputHolder* holder) { m_holders.erase(holder); }

protected:
    // Copies from the window, after the caller has refilled it when it was empty.
    int32_t CopyFromWindow(const uint8_t* windowBuffer, void* buffer, int32_t bufferSize);

private:
    std::set<TACSInputHolder*> m_holders;
};

class TACSStreamedInput : public TACSInput {
public:
    bool Seekable = true;

protected:
    TStream* m_stream = nullptr;  // the stream read
};

class TACSFileIn : public TACSStreamedInput {
public:
    std::string FileName;
    int32_t StartSample = 0;
    int32_t EndSample = -1;       // -1: to the end
    bool Loop = false;

    int32_t GetSampleBits() override;
    int32_t GetChannelCount() override;
    int32_t GetSamplingRate() override;
    int32_t GetDurationSeconds() override;
    void OpenInput() override;
    void CloseInput() override;
    void ResetInput() override;

    int32_t OpenCount = 0;        // nesting of OpenSource
    bool Valid = false;           // the header was understood
    int32_t JumpPercent = 0;
    int32_t TotalSamples = 0;     // per channel

protected:
    virtual void OpenSource() = 0;
    virtual void CloseSource() = 0;
    virtual void SeekSample(int32_t sample) = 0;
    // A format field, read with the file open.
    int32_t Queried(const int32_t& field);

    int32_t m_bits = 0;
    int32_t m_rate = 0;
    int32_t m_channels = 0;
};

class TACSConverter : public TACSInput, public TACSInputHolder {
public:
    ~TACSConverter() override;

    TACSInput* Input() const { return m_input; }
    // Stored while not Active; while Active the new source is opened, swapped in under the flag
    // and the old one closed. A converter cannot be its own input.
    virtual void SetInput(TACSInput* input);
    // Clears this converter's flag and those of the converters below it.
    void ReleaseInputLocks();

    std::atomic<bool> InputLocked{false};

    void InputRemoved(TACSInput* input) override;

protected:
    TACSInput* m_input = nullptr;
};

// The worker of an output: runs its steps, parks between runs.
class TACSThread {
public:
    using StepHandler = std::function<bool(bool abort)>;
    using CompleteHandler = std::function<void()>;
    using ErrorHandler = std::function<void(const std::exception& e)>;

    TACSThread(StepHandler step, CompleteHandler complete, ErrorHandler error);
    // A parked worker ends without another step; a working one finishes its step and makes the
    // final OutputStep(true) first.
    ~TACSThread();

    // Whether the worker is parked or will park before its next step.
    bool Suspended();
    // Parks the worker: on return no step runs and none starts until Resume. On the worker
    // itself it only marks the park, which happens after the current step.
    void Suspend();
    void Resume();

    std::atomic<bool> SuspendWhenIdle{true};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> AbortRequested{false};
    int32_t StepDelay = 0;        // milliseconds before each step when above 5
    std::mutex StepLock;          // held for the whole of each step

private:
    void Execute();

    StepHandler m_step;
    CompleteHandler m_complete;
    ErrorHandler m_error;
    std::mutex m_parkMutex;
    std::condition_variable m_parkChanged;
    bool m_suspended = true;      // created parked
    bool m_parked = false;        // the worker is waiting now
    bool m_exitParked = false;    // leave without the final step
    std::thread m_thread;
};

class TACSOutput : public TACSComponent, public TACSInputHolder {
public:
    TACSOutput();
    ~TACSOutput() override;

    TACSInput* Input() const { return m_input; }
    virtual void SetInput(TACSInput* input);

    // Opens the output on the caller's thread and hands the steps to the worker. Raises
    // "Component is buisy" while Running and "Input is not assigned" without Input; any other
    // failure to open goes to AbortOnError and not to the caller.
    void Start();
    // On return no step runs until the next Start.
    void SuspendWorker();
    TOutputState State();
    // Percent of the input's announced bytes delivered (rounded, halves to even); -1 when the
    // input cannot tell its size, 0 without an input.
    int32_t ProgressPercent() const;

    virtual bool OutputStep(bool abort) = 0;
    virtual void CloseOutput() = 0;

    bool OutputEnabled = false;
    int32_t LastProgress = 0;
    std::atomic<bool> Running{false};
    std::atomic<bool> InputLocked{false};
    TOutputDoneEvent OnDone;
    TOutputProgressEvent OnProgress;
    TThreadExceptionEvent OnThreadException;

    bool SuspendWhenIdle() const { return m_worker->SuspendWhenIdle; }
    void SetSuspendWhenIdle(bool value) { m_worker->SuspendWhenIdle = value; }
    TACSThread& Worker() { return *m_worker; }

    void InputRemoved(TACSInput* input) override;

protected:
    virtual void OpenOutput() = 0;
    // Stops the worker (after its current step and a final step with Abort). Every concrete
    // output calls it first in its destructor, while its OutputStep can still run.
    void DestroyWorker();
    void CompleteOutput();
    void AbortOnError(const std::exception& e);

    // Steps 1 to 3 of every OutputStep (enabled? progress, abort or end seen?): the step's
    // result when it ends there, nothing when it goes on to pull.
    std::optional<bool> BeginStep(bool abort, bool endSeen);
    // Pulls from the input under InputLocked.
    int32_t PullInput(void* buffer, int32_t size);

    TACSInput* m_input = nullptr;
    std::unique_ptr<TACSThread> m_worker;
};

class TACSStreamedOutput : public TACSOutput {
protected:
    std::unique_ptr<TFileStream> m_outputStream;
};

class TACSFileOut : public TACSStreamedOutput {
public:
    std::string FileName;
    TFileOutputMode FileMode() const { return m_fileMode; }
    virtual void SetFileMode(TFileOutputMode mode) { m_fileMode = mode; }

protected:
    // The file opening every file output does first: create (or, in append mode, open an
    // existing file), then open the input. True when an existing file was opened for appending.
    bool OpenFileAndInput();
    // The closing every file output does last: the file taken out of the output's hands, then
    // dropEncoder (which may no longer write into it), the file closed, the input closed. Raises
    // the file's closing error after the input is closed.
    void CloseFileAndInput(const std::function<void()>& dropEncoder);

    TFileOutputMode m_fileMode = foRewrite;
};
