#pragma once
// The options dialog: the settings of Options in seven pages, the current disc's artist, album,
// year, genre and comment, and the choice of drive. OK checks and stores (the file is written
// when the program closes) and switches the drive when another was chosen; Cancel and the close
// box store nothing. Modal; UI thread.

#include "Dialogs.h"
#include "DiscScan.h"
#include "DriveOffsets.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QLabel;
class QSlider;
class QSpinBox;
class QTabWidget;

class TOptionSetForm : public QDialog {
    Q_OBJECT
public:
    TOptionSetForm(QWidget* owner, Dialogs& dialogs, TDiscScan& disc);

    QTabWidget* PageControl1;
    // Output
    QLineEdit* editOutputDir;
    QPushButton* btBrowser;
    QCheckBox* ckbKeepWav;
    QLineEdit* eNamingTemplate;
    QComboBox* cbOutputFormat;
    QCheckBox* ckNormalize;
    QSpinBox* SpinEdit1;
    QSpinBox* seEncoders;
    // "Also encode to": each encoded format's box (its stored number), [JobOptions] Formats.
    std::vector<std::pair<int32_t, QCheckBox*>> ckAlso;
    QGroupBox* gbRipTime;
    QCheckBox* cbRipTime;
    QLineEdit* eRipTime;
    // LAME
    QCheckBox* ckbSelectVBR;
    QCheckBox* ckbVBRHead;
    QComboBox* cbBitRate;
    QComboBox* cbMaxBitRate;
    QComboBox* cbVBRQuality;
    QComboBox* cbMpegQuality;
    QComboBox* cbStereoMode;
    QPushButton* bDefault;
    // OGG
    QCheckBox* cbUseCompress;
    QSlider* tbCompression;
    QComboBox* cbOggNomBit;
    QComboBox* cbOggMaxBit;
    QComboBox* cbOggMinBit;
    // WMA
    QComboBox* cbWMABitrate;
    QPushButton* bWMADefault;
    // ID3 Tag
    QCheckBox* cbUseID3;
    QLineEdit* ID3artist;
    QLineEdit* ID3album;
    QLineEdit* ID3year;
    QComboBox* ID3genre;
    QLineEdit* ID3comment;
    QCheckBox* ckReplayGain;
    // CD-ROM
    QComboBox* cbCDList;
    QCheckBox* ckbCDDb;
    // Secure
    QCheckBox* ckSecureMode;
    QSpinBox* seReadOffset;
    QCheckBox* ckRefuseDamaged;
    QCheckBox* ckAccurateRip;
    QLineEdit* eAccurateRipServer;
    QCheckBox* ckWriteLog;
    QCheckBox* ckBurstFirst;
    QCheckBox* ckWriteCue;
    QCheckBox* ckRipHiddenTrack;
    QCheckBox* ckCtdb;
    QLineEdit* eCtdbServer;
    QCheckBox* ckImage;
    // FLAC, Opus
    QSpinBox* seFlacLevel;
    QSpinBox* seOpusBitRate;
    // MusicBrainz
    QLineEdit* eMusicBrainzServer;
    QLineEdit* eCoverArtServer;
    QCheckBox* ckFetchCover;

    QPushButton* btFindOffset;    // the drive's offset found with a disc AccurateRip knows
    QPushButton* btLookUpOffset;  // the drive's offset from the AccurateRip drive list
    QLabel* lbOffsetSource;       // whose offset the box shows, and where it comes from
    QPushButton* btOk;
    QPushButton* btCancel;

    void btOkClick();
    void bDefaultClick();
    void bWMADefaultClick();
    void btBrowserClick();
    // Refills the drive list (the CD-ROM page being shown).
    void FillDrives();
    // Whether OK opened another drive (its disc listed anew).
    bool DriveChanged() const { return m_driveChanged; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildOutputPage();
    void BuildLamePage();
    void BuildOggPage();
    void BuildWmaPage();
    void BuildId3Page();
    void BuildCdRomPage();
    void BuildSecurePage();
    void BuildFlacPage();
    void BuildOpusPage();
    void BuildMusicBrainzPage();
    QSpinBox* AddNumberPage(const QString& tab, const QString& caption, int low, int high, const QString& unit,
                            const char* name);
    void Fill();
    void UpdateEnabling();
    // An error box; the dialog stays open.
    void Refuse(const QString& text, int page, QWidget* focus);

    Dialogs& m_dialogs;
    TDiscScan& m_disc;
    // The open drive's model ("VENDOR - MODEL"; empty without one), the offset shown for it when
    // the page was filled, and the source a look-up gave since.
    std::string m_driveKey, m_driveVendor, m_driveProduct;
    TReadOffset m_shownOffset;
    std::optional<TOffsetSource> m_offsetSource;
    void LookUpOffset();
    void FindOffset();
    void ShowOffsetSource(const std::string& source);
    int m_shownDrive = 0;
    bool m_shownCDDb = false;
    bool m_placed = false;
    bool m_driveChanged = false;
};
