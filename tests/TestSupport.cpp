#include "TestSupport.h"

#include "ProgramFolder.h"

#include <QDialog>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

void TempDirTest::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "sonvale-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern + "/";
    // As installed in a folder the user may write: the executable and options.ini side by side.
    SetProgramFolder(m_dir);
    SetExecutableFolder(m_dir);
}

TScopedEnv::TScopedEnv(const char* name, const char* value)
    : m_name(name)
{
    if (const char* old = std::getenv(name))
        m_old = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

TScopedEnv::~TScopedEnv()
{
    if (m_old)
        setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

void TempDirTest::TearDown()
{
    // Give back write permission that a test took away, so everything can be removed.
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(m_dir, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        chmod(it->path().c_str(), 0700);
    chmod(m_dir.c_str(), 0700);
    std::filesystem::remove_all(m_dir, ec);
}

void TempDirTest::WriteFile(const std::string& name, const std::string& bytes) const
{
    std::ofstream out(Path(name), std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << name;
}

void TempDirTest::FakeProgram(const std::string& name, const std::string& body) const
{
    WriteFile(name, "#!/bin/sh\n" + body + "\n");
    ASSERT_EQ(chmod(Path(name).c_str(), 0755), 0) << name;
}

std::string TempDirTest::ReadFile(const std::string& name) const
{
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void ScriptedDialogs::MessageBox(const QString& text, Icon icon)
{
    shown.push_back({text, icon});
}

Dialogs::Answer ScriptedDialogs::AskYesNo(const QString& text, Icon icon, Answer)
{
    shown.push_back({text, icon});
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return Answer::No;
    }
    const Answer a = answers.front();
    answers.pop_front();
    return a;
}

Dialogs::Answer ScriptedDialogs::AskYesNoCancel(const QString& text, Icon icon, Answer defaultAnswer)
{
    return AskYesNo(text, icon, defaultAnswer);
}

QStringList ScriptedDialogs::OpenFiles(const QString& filter, bool, const FileDialogSetup& setup)
{
    fileDialogs.push_back(setup);
    openFilters << filter;
    if (openFiles.empty())
        return {};
    QStringList files = openFiles.front();
    openFiles.pop_front();
    return files;
}

QString ScriptedDialogs::SaveFile(const QString&, const QString&, const FileDialogSetup& setup)
{
    fileDialogs.push_back(setup);
    if (saveFiles.empty())
        return {};
    QString file = saveFiles.front();
    saveFiles.pop_front();
    return file;
}

QString ScriptedDialogs::BrowseFolder(const QString&, const QString&)
{
    if (folders.empty())
        return {};
    QString folder = folders.front();
    folders.pop_front();
    return folder;
}

int ScriptedDialogs::ShowModal(QDialog& dialog)
{
    modals << QString::fromLatin1(dialog.metaObject()->className());
    return onModal ? onModal(dialog) : 0;
}

bool ScriptedDialogs::OpenWithShell(const QString& target)
{
    opened.push_back(target);
    return true;
}

QStringList ScriptedDialogs::Texts() const
{
    QStringList texts;
    for (const Shown& s : shown)
        texts << s.text;
    return texts;
}

std::string CommandOutput(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe))
        out += buf;
    pclose(pipe);
    return out;
}

void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
