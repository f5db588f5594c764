#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include "VexColor.h"

namespace {

QColor Rgb(TColor c) {
    return ColorToRGB(c);
}

TEST(ColorTest, LightenAndDarkenByHundred) {
    EXPECT_EQ(Rgb(LightenColor(clBlack, 100)), QColor(127, 127, 127));
    EXPECT_EQ(Rgb(DarkenColor(clWhite, 100)), QColor(155, 155, 155));
    // A zero channel becomes 127, others grow by v / 255 * amount and are clamped.
    EXPECT_EQ(Rgb(LightenColor(RgbColor(0, 100, 200), 100)), QColor(127, 139, 255));
    EXPECT_EQ(Rgb(DarkenColor(RgbColor(0, 100, 200), 100)), QColor(0, 61, 122));
    EXPECT_EQ(Rgb(DarkenColor(RgbColor(10, 20, 30), 300)), QColor(0, 0, 0));
}

TEST(ColorTest, RoundingTiesGoToEven) {
    // 51 * 2.5 / 255 = 0.5 and 51 * 7.5 / 255 = 1.5 exactly.
    EXPECT_EQ(Rgb(LightenColor(RgbColor(51, 51, 51), 2.5)).red(), 52);  // 51.5
    EXPECT_EQ(Rgb(LightenColor(RgbColor(51, 51, 51), 7.5)).red(), 52);  // 52.5
    EXPECT_EQ(Rgb(DarkenColor(RgbColor(51, 51, 51), 2.5)).red(), 50);   // 50.5
    EXPECT_EQ(Rgb(DarkenColor(RgbColor(51, 51, 51), 7.5)).red(), 50);   // 49.5
}

TEST(ColorTest, SystemRolesResolveFromThePalette) {
    const QPalette p = QGuiApplication::palette();
    auto role = [&p](QPalette::ColorRole r) { return QColor(p.color(QPalette::Active, r).rgb()); };
    EXPECT_EQ(Rgb(clBtnFace), role(QPalette::Button));
    EXPECT_EQ(Rgb(clWindowFrame), role(QPalette::Shadow));
    EXPECT_EQ(Rgb(clBtnHighlight), role(QPalette::Light));
    EXPECT_EQ(Rgb(clBtnShadow), role(QPalette::Dark));
    EXPECT_EQ(Rgb(clWindow), role(QPalette::Base));
    EXPECT_EQ(Rgb(clOlive), QColor(128, 128, 0));
    EXPECT_EQ(Rgb(clFuchsia), QColor(255, 0, 255));
    // The colour functions work on the resolved role.
    EXPECT_EQ(LightenColor(clBtnFace, 100), LightenColor(ColorFromQColor(Rgb(clBtnFace)), 100));
    EXPECT_TRUE(IsUnsetColor(clDefault));
    EXPECT_TRUE(IsUnsetColor(clNone));
    EXPECT_FALSE(IsUnsetColor(clBlack));
}

QImage Canvas() {
    QImage image(10, 10, QImage::Format_RGB32);
    image.fill(Qt::green);
    return image;
}

TEST(ColorTest, GradientOfOneRowIsTheStartColour) {
    QImage image = Canvas();
    {
        QPainter p(&image);
        FillGradient(p, QRect(2, 4, 5, 1), clRed, true, clBlue);
    }
    for (int x = 2; x < 7; ++x) EXPECT_EQ(image.pixelColor(x, 4), QColor(255, 0, 0)) << x;
    EXPECT_EQ(image.pixelColor(1, 4), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(7, 4), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(2, 5), QColor(Qt::green));
}

TEST(ColorTest, GradientRowsBlendAndTruncate) {
    QImage image = Canvas();
    QPainter p(&image);
    const QPen pen(QColor(1, 2, 3), 3);
    p.setPen(pen);
    FillGradient(p, QRect(1, 1, 4, 3), RgbColor(0, 255, 10), true, RgbColor(255, 0, 11));
    EXPECT_EQ(p.pen(), pen);
    p.end();
    EXPECT_EQ(image.pixelColor(1, 1), QColor(0, 255, 10));
    EXPECT_EQ(image.pixelColor(4, 1), QColor(0, 255, 10));
    // Halfway: 127.5 both ways and 10.5, truncated toward zero.
    EXPECT_EQ(image.pixelColor(2, 2), QColor(127, 127, 10));
    EXPECT_EQ(image.pixelColor(4, 3), QColor(255, 0, 11));
    EXPECT_EQ(image.pixelColor(1, 4), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(5, 2), QColor(Qt::green));
}

TEST(ColorTest, HorizontalGradientBlendsPerColumn) {
    QImage image = Canvas();
    {
        QPainter p(&image);
        FillGradient(p, QRect(0, 0, 3, 2), clBlack, false, clWhite);
    }
    EXPECT_EQ(image.pixelColor(0, 1), QColor(0, 0, 0));
    EXPECT_EQ(image.pixelColor(1, 0), QColor(127, 127, 127));
    EXPECT_EQ(image.pixelColor(2, 1), QColor(255, 255, 255));
}

}  // namespace
