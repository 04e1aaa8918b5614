#include "ID3Edit.h"

#include "Global.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

const QString Caption = QStringLiteral("ID3 Tag Edit");
const QString Filter = QStringLiteral("Index files (*.mp3)|*.mp3");

QLineEdit* Edit(QWidget* parent, const char* name, int maxLength)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(maxLength);
    return edit;
}

}  // namespace

TfrmID3Edit::TfrmID3Edit(QWidget* owner, Dialogs& dialogs)
    : QDialog(owner)
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("frmID3Edit"));
    setWindowTitle(Caption);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("ID3 Tag"), this);
    auto* form = new QFormLayout(group);
    ID3title = Edit(group, "ID3title", 30);
    ID3artist = Edit(group, "ID3artist", 30);
    ID3album = Edit(group, "ID3album", 30);
    ID3year = Edit(group, "ID3year", 4);
    ID3genre = new QComboBox(group);
    ID3genre->setObjectName(QStringLiteral("ID3genre"));
    ID3genre->addItem(QString());
    for (const TGenreName& g : GenreNames)
        ID3genre->addItem(QString::fromLatin1(g.Name));
    ID3genre->setCurrentIndex(-1);
    ID3comment = Edit(group, "ID3comment", 30);
    ID3track = Edit(group, "ID3track", 2);
    // Digits only: anything else typed is swallowed.
    ID3track->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), ID3track));
    ID3title->setMinimumWidth(260);
    form->addRow(QStringLiteral("Title:"), ID3title);
    form->addRow(QStringLiteral("Artist:"), ID3artist);
    form->addRow(QStringLiteral("Album:"), ID3album);
    form->addRow(QStringLiteral("Year:"), ID3year);
    form->addRow(QStringLiteral("Genre:"), ID3genre);
    form->addRow(QStringLiteral("Comment:"), ID3comment);
    form->addRow(QStringLiteral("Track #:"), ID3track);
    layout->addWidget(group);

    const auto button = [this](const QString& text, const char* name) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    bLoadTag = button(QStringLiteral("&Load Tag..."), "bLoadTag");
    bSaveTag = button(QStringLiteral("&Save Tag"), "bSaveTag");
    bSaveAS = button(QStringLiteral("&Save As..."), "bSaveAS");
    bRemoveTag = button(QStringLiteral("&Remove Tag"), "bRemoveTag");
    bClose = button(QStringLiteral("&Close"), "bClose");
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {bLoadTag, bSaveTag, bSaveAS, bRemoveTag, bClose})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    connect(bLoadTag, &QPushButton::clicked, this, &TfrmID3Edit::bLoadTagClick);
    connect(bSaveTag, &QPushButton::clicked, this, &TfrmID3Edit::aSaveTagExecute);
    connect(bSaveAS, &QPushButton::clicked, this, &TfrmID3Edit::bSaveASClick);
    connect(bRemoveTag, &QPushButton::clicked, this, &TfrmID3Edit::aRemoveTagExecute);
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject);
    UpdateActions();
    setFixedSize(sizeHint());
}

void TfrmID3Edit::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_placed && parentWidget()) {
        m_placed = true;
        const QRect o = parentWidget()->frameGeometry(), d = frameGeometry();
        move(o.left() + (o.width() - d.width()) / 2, o.top() + (o.height() - d.height()) / 2);
    }
}

void TfrmID3Edit::UpdateActions()
{
    const bool chosen = windowTitle() != Caption;
    bSaveTag->setEnabled(chosen);
    bRemoveTag->setEnabled(chosen);
}

void TfrmID3Edit::SetFile(const QString& path)
{
    setWindowTitle(Caption + QStringLiteral(": ") + path);
    UpdateActions();
}

void TfrmID3Edit::ClearFields()
{
    for (QLineEdit* e : {ID3title, ID3artist, ID3album, ID3year, ID3comment})
        e->clear();
    ID3genre->setCurrentIndex(-1);
    ID3track->setText(QStringLiteral("0"));
}

void TfrmID3Edit::bLoadTagClick()
{
    const QStringList files = m_dialogs.OpenFiles(Filter, false);
    if (files.isEmpty())
        return;
    const QString path = files.front();
    if (!QFileInfo::exists(path)) {
        // The caption and the file in hand stay as they were: Save Tag never acts on a file
        // other than the one the caption names.
        m_dialogs.MessageBox(QStringLiteral("Could not find ") + path, Dialogs::Icon::Information);
        return;
    }
    if (m_tag.ReadFromFile(path.toStdString()) < 256) {
        ID3title->setText(QString::fromStdString(m_tag.Title()));
        ID3artist->setText(QString::fromStdString(m_tag.Artist()));
        ID3album->setText(QString::fromStdString(m_tag.Album()));
        ID3year->setText(QString::fromStdString(m_tag.Year()));
        ID3comment->setText(QString::fromStdString(m_tag.Comment()));
        ID3genre->setCurrentIndex(ID3ToGenre(m_tag.Genre));  // 148..255: the empty entry
        ID3track->setText(QString::number(m_tag.Track()));
    } else {
        ClearFields();
    }
    m_loaded = Fields();
    SetFile(path);
}

QStringList TfrmID3Edit::Fields() const
{
    return {ID3title->text(), ID3artist->text(), ID3album->text(), ID3year->text(), ID3comment->text(),
            ID3genre->currentText(), ID3track->text()};
}

void TfrmID3Edit::SaveId3v2(const std::string& path, bool sameFile)
{
    const QStringList now = Fields();
    const auto changed = [&](int i) { return !sameFile || m_loaded.value(i) != now[i]; };
    TId3Edit edit;
    std::optional<std::string>* texts[] = {&edit.Title, &edit.Artist, &edit.Album, &edit.Year, &edit.Comment, &edit.Genre};
    for (int i = 0; i < 6; ++i)
        if (changed(i))
            *texts[i] = now[i].toStdString();
    if (changed(6))
        edit.Track = now[6].toInt();
    if (const std::string error = EditId3v2(path, edit); !error.empty())
        m_dialogs.MessageBox(QString::fromStdString(error), Dialogs::Icon::Information);
    else if (sameFile)
        m_loaded = now;
}

bool TfrmID3Edit::FillTag()
{
    const QString trackText = ID3track->text();
    int track = -1;
    if (!trackText.isEmpty()) {
        bool ok = false;
        track = trackText.toInt(&ok);
        if (!ok || track < 0 || track > 255 || trackText.contains(QLatin1Char('+')) || trackText.contains(QLatin1Char('-'))) {
            m_dialogs.MessageBox(QStringLiteral("Please check the track number."), Dialogs::Icon::Information);
            return false;
        }
    }
    m_tag.SetTitle(ID3title->text().toStdString());
    m_tag.SetArtist(ID3artist->text().toStdString());
    m_tag.SetAlbum(ID3album->text().toStdString());
    m_tag.SetYear(ID3year->text().toStdString());
    m_tag.SetComment(ID3comment->text().toStdString());
    m_tag.Genre = GenreToID3(static_cast<uint8_t>(std::max(ID3genre->currentIndex(), 0)));
    if (track >= 0)
        m_tag.SetTrack(static_cast<uint8_t>(track));
    return true;
}

void TfrmID3Edit::aSaveTagExecute()
{
    if (windowTitle() == Caption || !FillTag())
        return;
    if (m_tag.SaveToFile("=") >= 256) {
        m_dialogs.MessageBox(QStringLiteral("Could not save Tag!"), Dialogs::Icon::Information);
        return;
    }
    SaveId3v2(m_tag.TagFileName(), true);
}

void TfrmID3Edit::bSaveASClick()
{
    const QStringList files = m_dialogs.OpenFiles(Filter, false);
    if (files.isEmpty())
        return;
    if (!FillTag())
        return;
    const QString path = files.front();
    if (m_tag.SaveToFile(path.toStdString()) >= 256) {
        m_dialogs.MessageBox(QStringLiteral("Could not save Tag!"), Dialogs::Icon::Information);
        return;
    }
    SaveId3v2(path.toStdString(), false);
    m_loaded = Fields();
    SetFile(path);
}

void TfrmID3Edit::aRemoveTagExecute()
{
    if (windowTitle() == Caption)
        return;
    if (m_dialogs.AskYesNo(QStringLiteral("Do you want to remove these tags?"), Dialogs::Icon::Information,
                           Dialogs::Answer::No) != Dialogs::Answer::Yes)
        return;
    m_tag.RemoveTag();
    ClearFields();
}
