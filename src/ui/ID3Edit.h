#pragma once
// The ID3 tag editor: reads, changes, copies and removes the ID3v1 tag of an MP3 file through one
// Tid3tag it owns. The caption says which file is in hand ("ID3 Tag Edit: /music/a.mp3"); Save Tag
// and Remove Tag act on that file and are enabled only then. A save also changes the fields the
// user changed in the file's ID3v2 tag, when it has one (players read that one first). Modal;
// UI thread.

#include "Dialogs.h"
#include "Tagging.h"
#include "id3.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

class TfrmID3Edit : public QDialog {
    Q_OBJECT
public:
    TfrmID3Edit(QWidget* owner, Dialogs& dialogs);

    QLineEdit* ID3title;
    QLineEdit* ID3artist;
    QLineEdit* ID3album;
    QLineEdit* ID3year;
    QComboBox* ID3genre;
    QLineEdit* ID3comment;
    QLineEdit* ID3track;
    QPushButton* bLoadTag;
    QPushButton* bSaveTag;
    QPushButton* bSaveAS;
    QPushButton* bRemoveTag;
    QPushButton* bClose;

    void bLoadTagClick();
    void aSaveTagExecute();
    void bSaveASClick();
    void aRemoveTagExecute();

    const Tid3tag& Tag() const { return m_tag; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void SetFile(const QString& path);
    void ClearFields();
    // The fields into the tag; false (and the user told) when the track box holds no number.
    bool FillTag();
    void UpdateActions();
    // The boxes as they read now: title, artist, album, year, comment, genre, track.
    QStringList Fields() const;
    // After the ID3v1 tag of path was saved: the boxes changed since the file was loaded (all
    // of them for another file) into its ID3v2 tag; said when that fails.
    void SaveId3v2(const std::string& path, bool sameFile);

    Dialogs& m_dialogs;
    Tid3tag m_tag;
    QStringList m_loaded;  // Fields() when the file in hand was loaded
    bool m_placed = false;
};
