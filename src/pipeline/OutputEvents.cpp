#include "OutputEvents.h"

#include "JobMessages.h"

void PostErrorsTo(TACSOutput& output, HWND window)
{
    output.OnThreadException = [window, &output](TACSComponent*, const std::exception& e) {
        auto error = std::make_unique<TOutputError>();
        error->Output = &output;
        error->Text = e.what();
        PostMessage(window, WM_OUTPUTERROR, 0, 0, std::move(error));
    };
}
