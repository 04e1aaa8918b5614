#pragma once
// Every question the program puts to the user, and every message box it shows, goes through this
// interface: the windows ask it, the Qt implementation shows real dialogs, and tests script the
// answers. Message boxes carry the caption "Sonvale".
//
// Lives on the UI thread.

#include <QString>
#include <QStringList>

class QDialog;

class Dialogs {
public:
    enum class Icon { Information, Warning, Error, Question, None };
    enum class Answer { Yes, No, Cancel };

    virtual ~Dialogs() = default;

    // A message with an OK button.
    virtual void MessageBox(const QString& text, Icon icon) = 0;
    // Yes/No; defaultAnswer is the button that Enter presses.
    virtual Answer AskYesNo(const QString& text, Icon icon, Answer defaultAnswer) = 0;
    virtual Answer AskYesNoCancel(const QString& text, Icon icon, Answer defaultAnswer) = 0;

    // What a file dialog shows beside its filter: its title, the folder it starts in, and the
    // extension a name typed without one gets ("wav"); each empty for the toolkit's own.
    struct FileDialogSetup {
        QString Title;
        QString Folder;
        QString DefaultSuffix;
    };

    // File dialogs. filter is in the form "Sound file(*.wav)|*.wav| Any file(*.*)|*.*": pairs of
    // a description and its patterns. Cancel gives an empty list or text.
    virtual QStringList OpenFiles(const QString& filter, bool allowMany, const FileDialogSetup& setup = {}) = 0;
    virtual QString SaveFile(const QString& filter, const QString& suggestedName, const FileDialogSetup& setup = {}) = 0;
    // A folder chosen by the user, starting at start; empty when cancelled.
    virtual QString BrowseFolder(const QString& title, const QString& start) = 0;

    // Opens a folder, document or web address with the desktop's handler; false when nothing could.
    virtual bool OpenWithShell(const QString& target) = 0;

    // Shows one of the program's own dialogs modally; its result (QDialog::Accepted or Rejected).
    virtual int ShowModal(QDialog& dialog) = 0;
};

// Caption of every message box.
inline const QString DialogCaption = QStringLiteral("Sonvale");

// Turns "Desc(*.a)|*.a| Any(*.*)|*.*" into the filter list of Qt's file dialogs ("Desc(*.a)",
// "Any(*)"): each pattern shown once, "*.*" as "*" (files without an extension too).
QStringList QtFileFilters(const QString& filter);
