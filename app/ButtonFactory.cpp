#include "ButtonFactory.h"

#include <QBitmap>
#include <QPixmap>
#include <QPushButton>

QPushButton* MakeButton(QWidget* parent, const QString& name, const QRect& geometry,
                        const QString& caption, const QImage& glyph) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    QPixmap pixmap = QPixmap::fromImage(glyph);
    // The bottom-left pixel is the transparent colour of a glyph.
    const QColor transparent = glyph.pixelColor(0, glyph.height() - 1);
    pixmap.setMask(pixmap.createMaskFromColor(transparent, Qt::MaskInColor));
    button->setIcon(QIcon(pixmap));
    button->setIconSize(glyph.size());
    return button;
}
