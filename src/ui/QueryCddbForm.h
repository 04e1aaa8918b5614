#pragma once
// The lookup's two dialogs: TfrmQueryCDDB, the settings ("Query CDDB": server, script, proxy),
// whose Query button opens TfrmStopQuery, the wait dialog ("Query CDDB..."), which runs the
// lookup (TCddbLookup) and ends with "yes" when it is over. Modal; UI thread.

#include "MusicBrainz.h"
#include "QueryCddb.h"

#include <QDialog>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// The servers offered: hosts that answer this protocol today.
extern const QStringList CddbServers;

class TfrmStopQuery : public QDialog {
    Q_OBJECT
public:
    // The CDDB lookup.
    TfrmStopQuery(QWidget* parent, int firstTrack, int lastTrack, HCDROM handle,
                  std::function<void(const TCddbFields&)> apply);
    // Another lookup: the caption ("Query MusicBrainz...") and the no-match panel's lines.
    TfrmStopQuery(QWidget* parent, std::unique_ptr<TDiscLookup> lookup, const QString& caption,
                  const QStringList& noMatchLines, std::function<void(const TCddbFields&)> apply);
    ~TfrmStopQuery() override;

    QLabel* Label1;
    QPushButton* bStop;
    QFrame* Panel1;   // the no-match text, hidden until there is no match
    QLabel* lbReason; // in it: why the lookup found nothing
    TDiscLookup& Lookup() { return *m_lookup; }

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    std::unique_ptr<TDiscLookup> m_lookup;
    bool m_started = false;
};

// Several releases hold the disc: the user picks one (Enter: the selected one; Escape: none).
class TfrmChooseRelease : public QDialog {
    Q_OBJECT
public:
    TfrmChooseRelease(QWidget* parent, const std::vector<TMbRelease>& releases);

    class QTreeWidget* lvReleases;
    QPushButton* bOk;
    QPushButton* bCancel;
    // The release taken: its index, or -1.
    int Chosen() const;
};

class TfrmQueryCDDB : public QDialog {
    Q_OBJECT
public:
    TfrmQueryCDDB(QWidget* parent, int firstTrack, int lastTrack, HCDROM handle,
                  std::function<void(const TCddbFields&)> apply);

    QComboBox* cbServer;
    QLineEdit* eScript;
    QCheckBox* cbProxy;
    QLineEdit* eAddress;
    QLineEdit* ePort;
    QPushButton* bQuery;
    QPushButton* bClose;
    QPushButton* bDefault;

    // The wait dialog is made by this; tests replace how it is run.
    std::function<int(TfrmStopQuery&)> RunWaitDialog = [](TfrmStopQuery& d) { return d.exec(); };

    void FormShow();
    void bQueryClick();
    void bDefaultClick();

private:
    int m_first, m_last;
    HCDROM m_handle;
    std::function<void(const TCddbFields&)> m_apply;
};
