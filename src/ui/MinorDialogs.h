#pragma once
// The small dialogs: the rename dialog, the hint shown when no drive could be opened, the about
// box; and the start button, a button that opens its menu beside itself. Each dialog is modal,
// fixed-size and centred on its owner. UI thread.

#include <QDialog>
#include <QFrame>

#include <functional>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

// The program's pictures, drawn here: a disc with a note (the icon) and the about box's banner.
QPixmap SonvaleIcon(int size);
QPixmap SonvaleBanner(int width, int height);
// The tool bar's and menus' icons, one style and one size: "extract", "encode", "record",
// "options", "exit", "play", "pause", "stop".
QIcon ActionIcon(const QString& kind);

class TfrmEditTrackName : public QDialog {
    Q_OBJECT
public:
    TfrmEditTrackName(QWidget* owner, const QString& title);
    QString Title() const;

    QLineEdit* eName;
    QPushButton* bOK;
    QPushButton* bCancel;

protected:
    void showEvent(QShowEvent* event) override;
};

class TfrmNoDeviceHint : public QDialog {
    Q_OBJECT
public:
    // problems: lines naming each disc image that could not be opened and why.
    TfrmNoDeviceHint(QWidget* owner, const QStringList& problems, std::function<void(const QString&)> openLink);

    QPushButton* bClose;
    QStringList Texts() const;   // the panel's lines, top to bottom
};

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    TfrmAbout(QWidget* owner, std::function<void(const QString&)> openLink);

    QLabel* Image1;      // the banner, 360 x 50
    QLabel* Icon1;       // 32 x 32
    QLabel* lHomePage;
    QLabel* lUpdate;
    QPushButton* bOK;
};

// Where the start button's menu opens. items: the menu's top-level items, separators among them
// "-" ... given as the count of items and separators and the heights: the item height (17 at
// 96 dpi, 21 at 120 dpi, or the system's), the separator height (9). buttonTop: the button's top
// edge on the screen, buttonHeight its height. The menu opens above the button when it fits
// there (H < top), else below it. Returns the menu's top edge.
int StartMenuHeight(int items, int separators, int itemHeight, int separatorHeight);
int StartMenuTop(int menuHeight, int buttonTop, int buttonHeight);

class TAfStartButton : public QFrame {
    Q_OBJECT
public:
    explicit TAfStartButton(QWidget* parent = nullptr);

    void SetCaption(const QString& caption);
    QString Caption() const;
    // The picture at the left edge, centred vertically; it takes the button's mouse events.
    void SetImage(const QPixmap& picture);
    QLabel* m_Image = nullptr;
    QMenu* m_PopupMenu = nullptr;
    // The button's own click, before the menu opens.
    std::function<void()> OnClick;
    // Where the menu was last put (for tests), and whether the button is pressed now.
    QPoint LastMenuPosition;
    bool Pressed() const { return m_pressed; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Click();
    void PlaceImage();

    QLabel* m_caption;
    bool m_pressed = false;
};

class Dialogs;

// Opens a web address, or a page of the help (DocFolder(): "Tavrel.html#id"),
// with the desktop's handler; when none takes it, or the page is not installed, a box says so.
void OpenLinkOrSay(Dialogs& dialogs, const QString& link);
