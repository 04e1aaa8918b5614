#include "Application.h"

#include <cstdio>
#include <exception>

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Sonvale"));
    setApplicationVersion(QStringLiteral("2.1"));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("Unknown error"));
    }
    return false;
}

void TApplication::ShowException(const QString& text)
{
    if (m_dialogs)
        m_dialogs->MessageBox(text, Dialogs::Icon::Error);
    else
        std::fprintf(stderr, "sonvale: %s\n", text.toLocal8Bit().constData());
}
