#include "ACS_Classes.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include <sys/stat.h>

void LockInput(std::atomic<bool>& flag)
{
    bool expected = false;
    while (!flag.compare_exchange_weak(expected, true, std::memory_order_acquire, std::memory_order_relaxed)) {
        expected = false;
        std::this_thread::yield();
    }
}

void SwapInput(TACSInputHolder* holder, TACSInput*& slot, TACSInput* input, bool running, std::atomic<bool>& flag)
{
    if (!running) {
        if (slot)
            slot->RemoveHolder(holder);
        slot = input;
        if (slot)
            slot->AddHolder(holder);
        return;
    }
    // While running: the new source is opened first, swapped in between two pulls, and the old
    // one closed after.
    if (input)
        input->OpenInput();
    TACSInput* old = slot;
    LockInput(flag);
    if (old)
        old->RemoveHolder(holder);
    slot = input;
    if (slot)
        slot->AddHolder(holder);
    UnlockInput(flag);
    if (old)
        old->CloseInput();
}

// --- sources ---------------------------------------------------------------------------------

TACSInput::~TACSInput()
{
    // Copied: a holder forgetting this source removes itself from the set.
    const std::set<TACSInputHolder*> holders = m_holders;
    for (TACSInputHolder* holder : holders)
        holder->InputRemoved(this);
}

void TACSInput::ResetInput()
{
    try {
        CloseInput();
    } catch (...) {
    }
    Active = false;
}

int32_t TACSInput::CopyFromWindow(const uint8_t* windowBuffer, void* buffer, int32_t bufferSize)
{
    if (WindowStart > WindowEnd || bufferSize <= 0)
        return 0;
    const int32_t count = std::min(bufferSize, WindowEnd - WindowStart + 1);
    std::memcpy(buffer, windowBuffer + WindowStart - 1, static_cast<std::size_t>(count));
    WindowStart += count;
    DeliveredBytes += count;
    return count;
}

int32_t TACSFileIn::Queried(const int32_t& field)
{
    // A query opens the file when it is closed (reading the header) and leaves it as it was.
    OpenSource();
    const int32_t value = field;
    CloseSource();
    return value;
}

int32_t TACSFileIn::GetSampleBits() { return Queried(m_bits); }
int32_t TACSFileIn::GetChannelCount() { return Queried(m_channels); }
int32_t TACSFileIn::GetSamplingRate() { return Queried(m_rate); }

int32_t TACSFileIn::GetDurationSeconds()
{
    const int64_t perSecond = int64_t{m_rate} * m_channels * (m_bits / 8);
    if (perSecond == 0)
        return 0;
    return static_cast<int32_t>(std::nearbyint(static_cast<double>(TotalBytes) / static_cast<double>(perSecond)));
}

void TACSFileIn::OpenInput()
{
    if (Active)
        throw EACSException("The component is buisy");
    if (FileName.empty())
        throw EACSException("The file name is not assigned");
    OpenSource();
    if (StartSample != 0)
        SeekSample(StartSample);
    if (StartSample != 0 || EndSample != -1) {
        const int64_t count = (EndSample == -1 ? TotalSamples : EndSample) - int64_t{StartSample};
        TotalBytes = (m_bits / 8) * count * m_channels;
    }
    Active = true;
    WindowStart = 1;
    WindowEnd = 0;
    DeliveredBytes = 0;
}

void TACSFileIn::CloseInput()
{
    CloseSource();
    Active = false;
}

void TACSFileIn::ResetInput()
{
    TACSInput::ResetInput();
    OpenCount = 0;
}

// --- converters ------------------------------------------------------------------------------

TACSConverter::~TACSConverter()
{
    if (m_input)
        m_input->RemoveHolder(this);
}

void TACSConverter::SetInput(TACSInput* input)
{
    if (input != this)
        SwapInput(this, m_input, input, Active, InputLocked);
}

void TACSConverter::ReleaseInputLocks()
{
    UnlockInput(InputLocked);
    if (auto* below = dynamic_cast<TACSConverter*>(m_input))
        below->ReleaseInputLocks();
}

void TACSConverter::InputRemoved(TACSInput* input)
{
    if (m_input == input)
        m_input = nullptr;
}

// --- the worker ------------------------------------------------------------------------------

TACSThread::TACSThread(StepHandler step, CompleteHandler complete, ErrorHandler error)
    : m_step(std::move(step))
    , m_complete(std::move(complete))
    , m_error(std::move(error))
    , m_thread([this] { Execute(); })
{
}

TACSThread::~TACSThread()
{
    {
        std::unique_lock lock(m_parkMutex);
        if (m_suspended)
            m_exitParked = true;  // a parked worker takes no further step
        StopRequested = true;
        m_parkChanged.notify_all();
    }
    m_thread.join();
}

bool TACSThread::Suspended()
{
    std::lock_guard lock(m_parkMutex);
    return m_suspended;
}

void TACSThread::Suspend()
{
    std::unique_lock lock(m_parkMutex);
    m_suspended = true;
    if (std::this_thread::get_id() == m_thread.get_id())
        return;
    // Wait until the worker is parked (it finishes the step it is in first).
    m_parkChanged.wait(lock, [&] { return m_parked || m_exitParked; });
}

void TACSThread::Resume()
{
    std::lock_guard lock(m_parkMutex);
    m_suspended = false;
    m_parkChanged.notify_all();
}

void TACSThread::Execute()
{
    while (true) {
        {
            std::unique_lock lock(m_parkMutex);
            if (m_suspended) {
                m_parked = true;
                m_parkChanged.notify_all();
                m_parkChanged.wait(lock, [&] { return !m_suspended || StopRequested.load(); });
                m_parked = false;
            }
            if (StopRequested) {
                if (m_exitParked || m_suspended)
                    return;  // parked at the stop: no further step
                break;
            }
        }
        std::lock_guard step(StepLock);
        if (StepDelay > 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(StepDelay));
        // The park is decided before the completion or the error handler runs: a Start made from
        // within OnDone (or from a thread OnDone waits for) then resumes the worker for certain.
        const auto endOfRun = [this] {
            AbortRequested = false;
            if (SuspendWhenIdle) {
                std::lock_guard lock(m_parkMutex);
                m_suspended = true;
            }
        };
        try {
            if (!m_step(AbortRequested)) {
                endOfRun();
                m_complete();
            }
        } catch (const std::exception& e) {
            endOfRun();
            m_error(e);
        } catch (...) {
            // Not an exception of ours or a library's, but it ends the run all the same rather
            // than the program.
            endOfRun();
            m_error(EACSException("An unknown error ended the output"));
        }
    }
    // Stopped while working: one last step with Abort, then end.
    std::lock_guard step(StepLock);
    try {
        m_step(true);
    } catch (...) {
    }
    StopRequested = false;
}

// --- outputs ---------------------------------------------------------------------------------

TACSOutput::TACSOutput()
    : m_worker(std::make_unique<TACSThread>([this](bool abort) { return OutputStep(abort); },
                                            [this] { CompleteOutput(); },
                                            [this](const std::exception& e) { AbortOnError(e); }))
{
}

TACSOutput::~TACSOutput()
{
    // The worker goes first: it may be in a step that uses this output.
    m_worker.reset();
    if (m_input)
        m_input->RemoveHolder(this);
}

void TACSOutput::SetInput(TACSInput* input)
{
    SwapInput(this, m_input, input, Running, InputLocked);
}

void TACSOutput::InputRemoved(TACSInput* input)
{
    if (m_input == input)
        m_input = nullptr;
}

void TACSOutput::Start()
{
    if (Running)
        throw EACSException("Component is buisy");
    if (!m_input)
        throw EACSException("Input is not assigned");
    UnlockInput(InputLocked);
    try {
        OpenOutput();
        Running = true;
        m_worker->AbortRequested = false;
        OutputEnabled = true;
        m_worker->Resume();
    } catch (const std::exception& e) {
        AbortOnError(e);
    }
}

void TACSOutput::SuspendWorker()
{
    m_worker->Suspend();
}

void TACSOutput::DestroyWorker()
{
    m_worker.reset();
}

TOutputState TACSOutput::State()
{
    if (!Running || !m_worker)
        return osIdle;
    return m_worker->Suspended() ? osSuspended : osWorking;
}

int32_t TACSOutput::ProgressPercent() const
{
    if (!m_input)
        return 0;
    if (m_input->TotalBytes == -1)
        return -1;
    if (m_input->TotalBytes == 0)
        return 0;
    const double percent =
        static_cast<double>(m_input->DeliveredBytes) / static_cast<double>(m_input->TotalBytes) * 100.0;
    return static_cast<int32_t>(std::nearbyint(percent));
}

void TACSOutput::CompleteOutput()
{
    if (!Running)
        return;
    OutputEnabled = false;
    CloseOutput();
    Running = false;
    if (OnDone)
        OnDone(this);
}

void TACSOutput::AbortOnError(const std::exception& e)
{
    UnlockInput(InputLocked);
    if (State() != osIdle) {
        try {
            if (auto* converter = dynamic_cast<TACSConverter*>(m_input))
                converter->ReleaseInputLocks();
            CloseOutput();
        } catch (...) {
        }
    }
    OutputEnabled = false;
    Running = false;
    if (OnThreadException)
        OnThreadException(this, e);
}

std::optional<bool> TACSOutput::BeginStep(bool abort, bool endSeen)
{
    if (!OutputEnabled)
        return true;
    const int32_t percent = ProgressPercent();
    if (percent != LastProgress) {
        LastProgress = percent;
        if (OnProgress)
            OnProgress(this);
    }
    if (abort || endSeen)
        return false;
    return std::nullopt;
}

int32_t TACSOutput::PullInput(void* buffer, int32_t size)
{
    LockInput(InputLocked);
    try {
        const int32_t n = m_input ? m_input->ReadAudio(buffer, size) : 0;
        UnlockInput(InputLocked);
        return n;
    } catch (...) {
        UnlockInput(InputLocked);
        throw;
    }
}

bool TACSFileOut::OpenFileAndInput()
{
    if (FileName.empty())
        throw EACSException("File name is not assigned.");
    m_outputStream.reset();
    struct stat st {};
    const bool appending = m_fileMode == foAppend && stat(FileName.c_str(), &st) == 0;
    m_outputStream = std::make_unique<TFileStream>(FileName, appending ? TFileStream::fmOpenReadWrite
                                                                       : TFileStream::fmCreate);
    try {
        m_input->OpenInput();
    } catch (...) {
        m_outputStream.reset();
        throw;
    }
    return appending;
}

void TACSFileOut::CloseFileAndInput(const std::function<void()>& dropEncoder)
{
    auto stream = std::move(m_outputStream);
    dropEncoder();
    std::exception_ptr failure;
    try {
        if (stream)
            stream->Close();
    } catch (...) {
        failure = std::current_exception();
    }
    m_input->CloseInput();
    if (failure)
        std::rethrow_exception(failure);
}
