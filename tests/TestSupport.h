#pragma once
// The shared test base: a temporary folder per test that is also the program's folder, and
// scripted dialogs that answer as a test tells them and remember what was shown.

#include "Dialogs.h"

#include <gtest/gtest.h>

#include <QString>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Gives each test an empty folder, made the program's folder (options.ini and cdinfo.dat go
// there) and the executable's folder (helper programs are looked for there), removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // dir + name.
    std::string Path(const std::string& name) const { return m_dir + name; }
    void WriteFile(const std::string& name, const std::string& bytes) const;
    // A shell script under name that runs body: a stand-in for a helper program (lame, WM8EUTIL).
    void FakeProgram(const std::string& name, const std::string& body) const;
    std::string ReadFile(const std::string& name) const;

    std::string m_dir;  // with a trailing "/"
};

// Sets (value) or unsets (nullptr) an environment variable for a scope, then puts back what was.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        QString text;
        Icon icon;
    };

    // Answers handed out in order to AskYesNo / AskYesNoCancel; an empty script fails the test.
    std::deque<Answer> answers;
    std::deque<QStringList> openFiles;
    std::deque<QString> saveFiles;
    std::deque<QString> folders;

    std::vector<Shown> shown;        // message boxes and questions, in order
    std::vector<QString> opened;     // targets handed to the shell
    QStringList openFilters;         // the filters of the open-file dialogs shown

    void MessageBox(const QString& text, Icon icon) override;
    Answer AskYesNo(const QString& text, Icon icon, Answer defaultAnswer) override;
    Answer AskYesNoCancel(const QString& text, Icon icon, Answer defaultAnswer) override;
    QStringList OpenFiles(const QString& filter, bool allowMany, const FileDialogSetup& setup) override;
    QString SaveFile(const QString& filter, const QString& suggestedName, const FileDialogSetup& setup) override;
    std::vector<FileDialogSetup> fileDialogs;  // what each file dialog shown was given
    QString BrowseFolder(const QString& title, const QString& start) override;
    bool OpenWithShell(const QString& target) override;
    // Records the dialog's class and runs onModal on it (which may fill it in and return
    // QDialog::Accepted); without onModal the dialog is cancelled.
    int ShowModal(QDialog& dialog) override;
    std::function<int(QDialog&)> onModal;
    QStringList modals;

    // The texts shown, in order.
    QStringList Texts() const;
};

// What a shell command prints on its standard output (add "2>&1" for the errors too).
std::string CommandOutput(const std::string& command);

// So failing expectations print QStrings as text.
void PrintTo(const QString& s, std::ostream* os);
