#pragma once

#include <QImage>
#include <QRect>
#include <QString>

class QWidget;
class TVexButton;

// A button picture: the 32 x 32 glyph and its twice-size artwork for HiDPI screens.
struct ButtonPicture {
    QImage glyph;
    QImage glyph2x;
};

// The picture of the window's resources named `file` ("forward.png", with "forward@2x.png").
ButtonPicture WindowPicture(const QString& file);

// Every button of the main window is made here, so their kind and look change in one place.
TVexButton* MakeButton(QWidget* parent, const QString& name, const QRect& geometry,
                       const QString& caption, const ButtonPicture& picture);
