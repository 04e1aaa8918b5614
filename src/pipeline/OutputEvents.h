#pragma once
// An audio output tells its owner of an error as a window message. The output's worker raises
// OnThreadException on its own thread (or on the caller's, when Start cannot open the output);
// the owner lives on the UI thread and must not be touched from there, so the error's text is
// posted to it as WM_OUTPUTERROR. The run has ended by then: no OnDone follows.

#include "ACS_Classes.h"
#include "Messages.h"

// From now on every error of output's runs reaches window as WM_OUTPUTERROR with a TOutputError
// (Output = &output). Replaces output.OnThreadException.
void PostErrorsTo(TACSOutput& output, HWND window);
