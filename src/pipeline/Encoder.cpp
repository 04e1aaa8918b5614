#include "Encoder.h"

void TEncoder::BeginRun(const std::string& input, const std::string& output, HWND sink)
{
    m_input = input;
    m_output = output;
    m_sink = sink;
}

void TEncoder::PostEnd(TEncoderEnd end, std::string text, bool partial) const
{
    auto r = std::make_unique<TEncoderEnded>();
    r->Encoder = this;
    r->End = end;
    r->Text = std::move(text);
    r->Partial = partial;
    PostMessage(m_sink, WM_ENCODEREND, 0, 0, std::move(r));
}
