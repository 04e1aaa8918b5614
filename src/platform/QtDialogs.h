#pragma once
// The real dialogs: QMessageBox, QFileDialog and the desktop's "open" handler.

#include "Dialogs.h"

class QtDialogs final : public Dialogs {
public:
    void MessageBox(const QString& text, Icon icon) override;
    Answer AskYesNo(const QString& text, Icon icon, Answer defaultAnswer) override;
    Answer AskYesNoCancel(const QString& text, Icon icon, Answer defaultAnswer) override;
    QStringList OpenFiles(const QString& filter, bool allowMany, const FileDialogSetup& setup) override;
    QString SaveFile(const QString& filter, const QString& suggestedName, const FileDialogSetup& setup) override;
    QString BrowseFolder(const QString& title, const QString& start) override;
    bool OpenWithShell(const QString& target) override;
    int ShowModal(QDialog& dialog) override;
};
