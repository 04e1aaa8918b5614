#include "MessageRecorder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

TMessageRecorder::TMessageRecorder()
    : m_target([this](TMessage& message) {
        Record r;
        r.Msg = message.Msg;
        r.LParam = message.LParam;
        if (auto info = message.Take<TProcessInfo>()) {
            r.HasInfo = true;
            r.Code = info->Code;
            r.ElapsedText = info->ElapsedText;
            r.EstimatedText = info->EstimatedText;
            r.Status = info->Status;
        }
        if (auto end = message.Take<TEncoderEnded>()) {
            r.HasEnd = true;
            r.End = end->End;
            r.EndText = end->Text;
            r.Partial = end->Partial;
        }
        r.HandledOn = std::this_thread::get_id();
        m_records.push_back(std::move(r));
        if (m_onMessage)
            m_onMessage();
    })
{
}

bool TMessageRecorder::WaitUntil(const std::function<bool(const std::vector<Record>&)>& done)
{
    if (done(m_records))
        return true;
    QEventLoop loop;
    const auto check = [&] {
        if (done(m_records))
            loop.quit();
    };
    m_onMessage = check;
    // Also every 10 ms, for conditions that change without a message to this window.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, check);
    poll.start(10);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    m_onMessage = nullptr;
    return done(m_records);
}

bool TMessageRecorder::WaitForExtractionEnd()
{
    return WaitUntil([](const std::vector<Record>& records) {
        return !records.empty() && (records.back().Msg == WM_EXTRACTERROR ||
                                    (records.back().HasInfo && records.back().Code == piExtracted));
    });
}

void TMessageRecorder::Drain()
{
    QCoreApplication::processEvents();
    while (m_target.HasPending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

std::vector<int32_t> TMessageRecorder::Codes() const
{
    std::vector<int32_t> codes;
    for (const Record& r : m_records)
        if (r.Msg == WM_PROCESSINFO)
            codes.push_back(r.Code);
    return codes;
}
