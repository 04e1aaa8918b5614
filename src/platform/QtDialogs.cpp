#include "QtDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
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
        result << parts[i].trimmed() + QLatin1String(" (") + patterns + QLatin1Char(')');
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

QStringList QtDialogs::OpenFiles(const QString& filter, bool allowMany)
{
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(allowMany ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(QtFileFilters(filter));
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtDialogs::SaveFile(const QString& filter, const QString& suggestedName)
{
    QFileDialog dialog(QApplication::activeWindow());
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
    return QDesktopServices::openUrl(url);
}

int QtDialogs::ShowModal(QDialog& dialog)
{
    return dialog.exec();
}
