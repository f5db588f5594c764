#pragma once

#include <QLabel>
#include <QString>
#include <string>

#include "ClickableImage.h"

class QComboBox;
class QGroupBox;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QStackedWidget;
class QWidget;
class TVexButton;

// The main window's form: the window's look and its five pages, with every control under its
// design name, placed and styled as designed and connected to nothing. The window inherits it,
// as a window inherits a Qt Designer form, and connects the controls to its handlers.
class FormPages {
  public:
    // Page indices of the page set.
    enum Page {
        kStartPage = 0,
        kLiveUpdatePage = 1,
        kFirmwarePage = 2,
        kProgrammingPage = 3,
        kDeviceTypePage = 4
    };

    static constexpr int kClientWidth = 534;
    static constexpr int kDesignedClientHeight = 282;
    static constexpr int kHeightReduction = 14;
    // The page set keeps its own page selector row out of sight above the client area: its
    // top edge is -7 as designed and -21 after the start-up work.
    static constexpr int kPageSetDesignTop = -7;
    static constexpr int kPageSetRunTop = -21;

    // Gives `window` its caption, frame, designed size, font and colours, and builds the page
    // set into it with the start page showing.
    void BuildForm(QWidget& window);
    // Places the page set with its top edge at `top`.
    void SetPageSetTop(int top);

    // A device-type item shows at most 1000 characters of its line, the rest as "...": the
    // lines of an init.cfg are short, and one of megabytes would take hundreds of MiB and
    // seconds to lay out. The line itself is kept whole.
    static QString ItemText(const std::string& utf8);
    // Appends a line to the description box. The box lays a line out as one block, which costs
    // far more than linear time for a long one (a one-line opis.txt of 1 MiB took half a
    // minute): a line longer than 10000 characters is shown as blocks of that many, its text
    // whole.
    static void AppendDescriptionLine(QPlainTextEdit* memo, const std::string& utf8);

    QStackedWidget* PageControl1 = nullptr;
    // Start page.
    ClickableImage* Image1 = nullptr;
    TVexButton* VexButton1 = nullptr;
    TVexButton* VexButton2 = nullptr;
    // LiveUpdate page.
    QLabel* Label6 = nullptr;
    QLabel* Label5 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    TVexButton* VexButton6 = nullptr;
    TVexButton* VexButton7 = nullptr;
    // Firmware-version page.
    QLabel* Label2 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* Memo3 = nullptr;
    TVexButton* VexButton12 = nullptr;
    TVexButton* VexButton11 = nullptr;
    // Programming page.
    QLabel* Label3 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QProgressBar* prog = nullptr;
    TVexButton* VexButton13 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    TVexButton* VexButton15 = nullptr;
    TVexButton* VexButton14 = nullptr;
    // Device-type page.
    QGroupBox* GroupBox1 = nullptr;
    QListWidget* ListBox2 = nullptr;
    TVexButton* VexButton9 = nullptr;
    TVexButton* VexButton10 = nullptr;

  private:
    void BuildStartPage(QWidget* page, qreal ratio);
    void BuildLiveUpdatePage(QWidget* page);
    void BuildFirmwarePage(QWidget* page, const QColor& base);
    void BuildProgrammingPage(QWidget* page);
    void BuildDeviceTypePage(QWidget* page);
};
