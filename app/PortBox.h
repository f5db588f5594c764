#pragma once

#include <QComboBox>

// The port box: an editable drop-down whose text names the port of a run. Its edit field
// takes the whole width but a narrow arrow, so "COM10" and a typed "COM20" stay readable in
// the designed 57 pixels. Its tooltip, and each item's, say what COMn is on this machine;
// they are read again whenever the tooltip or the list is about to show.
class PortBox : public QComboBox {
    Q_OBJECT
  public:
    explicit PortBox(QWidget* parent = nullptr);

    // What the tooltip says now, in Polish: one line per COMn of the list, e.g.
    // "COM1 = /dev/ttyUSB0 (FTDI FT232R USB UART, 0403:6001, numer seryjny A10K1234)".
    QString PortsHint() const;

    void showPopup() override;

  protected:
    bool event(QEvent* event) override;

  private:
    void RefreshHints();
};
