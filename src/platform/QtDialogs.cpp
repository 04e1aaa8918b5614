#include "QtDialogs.h"

#include <QApplication>
#include <QEventLoop>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace {

QMessageBox::Icon ToQt(Dialogs::Icon icon)
{
    switch (icon) {
    case Dialogs::Icon::Information: return QMessageBox::Information;
    case Dialogs::Icon::Warning: return QMessageBox::Warning;
    case Dialogs::Icon::Error: return QMessageBox::Critical;
    case Dialogs::Icon::Question: return QMessageBox::Question;
    case Dialogs::Icon::None: return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton ToQt(Dialogs::Answer answer)
{
    switch (answer) {
    case Dialogs::Answer::Yes: return QMessageBox::Yes;
    case Dialogs::Answer::No: return QMessageBox::No;
    case Dialogs::Answer::Cancel: return QMessageBox::Cancel;
    }
    return QMessageBox::NoButton;
}

Dialogs::Answer Ask(const QString& text, Dialogs::Icon icon, QMessageBox::StandardButtons buttons,
                    Dialogs::Answer defaultAnswer)
{
    QMessageBox box(ToQt(icon), DialogCaption, text, buttons, QApplication::activeWindow());
    box.setDefaultButton(ToQt(defaultAnswer));
    switch (box.exec()) {
    case QMessageBox::Yes: return Dialogs::Answer::Yes;
    case QMessageBox::No: return Dialogs::Answer::No;
    default: return Dialogs::Answer::Cancel;  // Escape or the window's close button
    }
}

}  // namespace

QStringList QtFileFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1].trimmed();
        patterns.replace(QLatin1String("*.*"), QLatin1String("*"));
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the parentheses that end the text, and shows the text: the
        // description's own "(*.wav)" becomes the patterns, so they show once.
        QString description = parts[i].trimmed();
        if (description.endsWith(QLatin1Char(')')) && description.lastIndexOf(QLatin1Char('(')) > 0)
            description.truncate(description.lastIndexOf(QLatin1Char('(')));
        else
            description += QLatin1Char(' ');
        result << description + QLatin1Char('(') + patterns + QLatin1Char(')');
    }
    return result;
}

void QtDialogs::MessageBox(const QString& text, Icon icon)
{
    QMessageBox box(ToQt(icon), DialogCaption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

Dialogs::Answer QtDialogs::AskYesNo(const QString& text, Icon icon, Answer defaultAnswer)
{
    const Answer answer = Ask(text, icon, QMessageBox::Yes | QMessageBox::No, defaultAnswer);
    return answer == Answer::Cancel ? Answer::No : answer;
}

Dialogs::Answer QtDialogs::AskYesNoCancel(const QString& text, Icon icon, Answer defaultAnswer)
{
    return Ask(text, icon, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, defaultAnswer);
}

namespace {

void Apply(QFileDialog& dialog, const Dialogs::FileDialogSetup& setup)
{
    if (!setup.Title.isEmpty())
        dialog.setWindowTitle(setup.Title);
    if (!setup.Folder.isEmpty())
        dialog.setDirectory(setup.Folder);
    if (!setup.DefaultSuffix.isEmpty())
        dialog.setDefaultSuffix(setup.DefaultSuffix);
}

}  // namespace

QStringList QtDialogs::OpenFiles(const QString& filter, bool allowMany, const FileDialogSetup& setup)
{
    QFileDialog dialog(QApplication::activeWindow());
    Apply(dialog, setup);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(allowMany ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(QtFileFilters(filter));
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtDialogs::SaveFile(const QString& filter, const QString& suggestedName, const FileDialogSetup& setup)
{
    QFileDialog dialog(QApplication::activeWindow());
    Apply(dialog, setup);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(QtFileFilters(filter));
    dialog.selectFile(suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString QtDialogs::BrowseFolder(const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(QApplication::activeWindow(), title, start);
}

bool QtDialogs::OpenWithShell(const QString& target)
{
    const QUrl url = QFileInfo::exists(target) ? QUrl::fromLocalFile(target) : QUrl(target);
    // xdg-open tells by its exit status whether a handler took the target (3: none found, 4: it
    // failed). It returns at once when it hands over to the desktop, but on a desktop it does not
    // know it runs the handler itself until that ends: after a few seconds without an answer the
    // handler is taken to be running, and xdg-open is left to end on its own.
    auto* process = new QProcess(qApp);
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QEventLoop loop;
    bool ended = false, failed = false;
    QObject::connect(process, &QProcess::finished, &loop, [&](int code, QProcess::ExitStatus status) {
        ended = true;
        failed = status != QProcess::NormalExit || code != 0;
        loop.quit();
    });
    QObject::connect(process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            ended = failed = true;
            loop.quit();
        }
    });
    process->start(QStringLiteral("xdg-open"), {url.isLocalFile() && !url.hasFragment() ? url.toLocalFile() : url.toString()});
    if (!ended) {
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    // One that could not start never finishes: it goes now (a second deleteLater is harmless).
    if (process->state() == QProcess::NotRunning)
        process->deleteLater();
    QObject::disconnect(process, nullptr, &loop, nullptr);
    return !failed;
}

int QtDialogs::ShowModal(QDialog& dialog)
{
    return dialog.exec();
}
