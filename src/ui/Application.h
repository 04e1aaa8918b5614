#pragma once
// The application object. An exception that a command does not handle ends up here: it is shown
// in the general error box (its text, OK) and the program goes on.

#include "Dialogs.h"

#include <QApplication>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    // Where the general error box is shown; until set, errors go to standard error.
    void SetDialogs(Dialogs* dialogs) { m_dialogs = dialogs; }

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows text in the general error box.
    void ShowException(const QString& text);

private:
    Dialogs* m_dialogs = nullptr;
};
