#include "ButtonFactory.h"

#include "VexButton.h"

QPushButton* MakeButton(QWidget* parent, const QString& name, const QRect& geometry,
                        const QString& caption, const QImage& glyph) {
    auto* button = new TVexButton(parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setText(caption);
    button->SetGlyph(glyph);  // the bottom-left pixel is the transparent colour
    button->LookStyle().SetHighlightColor(clBtnFace);
    return button;
}
