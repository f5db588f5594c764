#pragma once

#include <QImage>
#include <QRect>
#include <QString>

class QPushButton;
class QWidget;

// Every button of the main window is made here, so their kind and look change in one place.
QPushButton* MakeButton(QWidget* parent, const QString& name, const QRect& geometry,
                        const QString& caption, const QImage& glyph);
