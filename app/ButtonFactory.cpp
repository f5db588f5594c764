#include "ButtonFactory.h"

#include "VexButton.h"

ButtonPicture WindowPicture(const QString& file) {
    QString doubled = file;
    doubled.insert(file.lastIndexOf(u'.'), QStringLiteral("@2x"));
    return {QImage(QStringLiteral(":/app/") + file), QImage(QStringLiteral(":/app/") + doubled)};
}

TVexButton* MakeButton(QWidget* parent, const QString& name, const QRect& geometry,
                       const QString& caption, const ButtonPicture& picture) {
    auto* button = new TVexButton(parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setText(caption);
    button->SetGlyph(picture.glyph);  // the bottom-left pixel is the transparent colour
    button->SetHighResGlyph(picture.glyph2x);
    button->LookStyle().SetHighlightColor(clBtnFace);
    return button;
}
