#pragma once

#include <QLabel>

// A picture that reports clicks (the start page's logo). It takes the keyboard focus like a
// link, shows it with a focus frame, and Enter, Return or Space press it as a click does.
class ClickableImage : public QLabel {
    Q_OBJECT
  public:
    explicit ClickableImage(QWidget* parent = nullptr);
    void Activate() { emit clicked(); }
  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
