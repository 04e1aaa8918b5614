#pragma once
// Types shared by the audio components: their exception, the enumerations and the event types.

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

// Raised by the audio components for misuse and for failures they cannot go on from. Carries a
// message text only.
class EACSException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TFileOutputMode { foRewrite = 0, foAppend = 1 };
enum TOutputState { osWorking = 0, osSuspended = 1, osIdle = 2 };

class TACSComponent;

// Events run on the output's worker thread; a handler that touches a window must hand the work
// to the UI thread.
using TOutputDoneEvent = std::function<void(TACSComponent* sender)>;
using TOutputProgressEvent = std::function<void(TACSComponent* sender)>;
using TThreadExceptionEvent = std::function<void(TACSComponent* sender, const std::exception& e)>;
