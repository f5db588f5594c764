#pragma once

#include <QComboBox>

// The port box: an editable drop-down whose text names the port of a run. Its edit field
// takes the whole width but a narrow arrow, so "COM10" and a typed "COM20" stay readable in
// the designed 57 pixels; while it is not being edited it shows the end of its text, where a
// long device path differs. Its tooltip (also its description for screen readers) gives the
// whole text and what it opens, then what every COMn of the list is on this machine; each
// item's tooltip says the same of its COMn. They are read again whenever the tooltip or the
// list is about to show and when the text changes.
class PortBox : public QComboBox {
    Q_OBJECT
  public:
    explicit PortBox(QWidget* parent = nullptr);

    // What the rows' part of the tooltip says now, in Polish: one line per COMn of the list,
    // e.g. "COM1 = /dev/ttyUSB0 (FTDI FT232R USB UART, 0403:6001, numer seryjny A10K1234)".
    QString PortsHint() const;
    // The line on the box's own text: "COM3 = /dev/ttyUSB0 (...)", "Auto: ...", or what the
    // box takes when the text names no port.
    QString TextHint() const;

    void showPopup() override;

  protected:
    bool event(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void RefreshHints();
    void ShowTextEnd();
};
