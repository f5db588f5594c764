#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>

#include "ButtonGlyph.h"

namespace {

const QRect kFace(0, 0, 102, 41);
const QSize kGlyph(32, 32);
const QSize kCaption(40, 14);

TGlyphLayout Place(TButtonLayout layout, int margin, int spacing, bool rtl = false,
                   QSize glyph = kGlyph, QSize caption = kCaption, QRect face = kFace) {
    return CalcButtonLayout(face, QPoint(0, 0), glyph, caption, layout, margin, spacing, rtl);
}

TEST(LayoutTest, CentredGlyphLeft) {
    const TGlyphLayout l = Place(blGlyphLeft, -1, 4);
    EXPECT_EQ(l.GlyphPos, QPoint(13, 5));  // (102 - 76 + 1) div 2, (41 - 32 + 1) div 2
    EXPECT_EQ(l.TextBounds, QRect(49, 14, 40, 14));
}

TEST(LayoutTest, SpacingMinusOneSpreadsEvenly) {
    // Margin -1: margin and spacing (102 - 72) div 3 = 10.
    TGlyphLayout l = Place(blGlyphLeft, -1, -1);
    EXPECT_EQ(l.GlyphPos.x(), 10);
    EXPECT_EQ(l.TextBounds.left(), 52);
    // Margin 5: spacing (102 - 5 - 72) div 2 = 12.
    l = Place(blGlyphLeft, 5, -1);
    EXPECT_EQ(l.GlyphPos.x(), 5);
    EXPECT_EQ(l.TextBounds.left(), 49);
    l = Place(blGlyphRight, 5, -1);
    EXPECT_EQ(l.GlyphPos.x(), 102 - 5 - 32);
    EXPECT_EQ(l.TextBounds.left(), 65 - 12 - 40);
}

TEST(LayoutTest, RightToLeftSwapsLeftAndRight) {
    const TGlyphLayout rtl = Place(blGlyphLeft, -1, 4, true);
    const TGlyphLayout right = Place(blGlyphRight, -1, 4);
    EXPECT_EQ(rtl.GlyphPos, QPoint(57, 5));  // 102 - 13 - 32
    EXPECT_EQ(rtl.TextBounds.left(), 13);    // ends 4 pixels left of the glyph
    EXPECT_EQ(rtl.GlyphPos, right.GlyphPos);
    EXPECT_EQ(rtl.TextBounds, right.TextBounds);
    EXPECT_EQ(Place(blGlyphRight, 3, 4, true).GlyphPos.x(), 3);
    // Top and bottom do not swap.
    EXPECT_EQ(Place(blGlyphTop, 2, 1, true).GlyphPos, Place(blGlyphTop, 2, 1).GlyphPos);
}

TEST(LayoutTest, VerticalLayouts) {
    const QRect tall(0, 0, 60, 80);
    TGlyphLayout l = Place(blGlyphTop, -1, 4, false, kGlyph, kCaption, tall);
    EXPECT_EQ(l.GlyphPos, QPoint(14, 15));  // (60 - 32 + 1) div 2, (80 - 50 + 1) div 2
    EXPECT_EQ(l.TextBounds, QRect(10, 51, 40, 14));
    l = Place(blGlyphBottom, 2, 3, false, kGlyph, kCaption, tall);
    EXPECT_EQ(l.GlyphPos, QPoint(14, 80 - 2 - 32));
    EXPECT_EQ(l.TextBounds.top(), 46 - 3 - 14);
}

TEST(LayoutTest, MissingGlyphOrCaptionDropsTheSpacing) {
    TGlyphLayout l = Place(blGlyphLeft, -1, 4, false, kGlyph, QSize(0, 0));
    EXPECT_EQ(l.GlyphPos.x(), 35);  // (102 - 32 + 1) div 2
    l = Place(blGlyphLeft, -1, -1, false, QSize(0, 0), kCaption);
    EXPECT_EQ(l.TextBounds.left(), 31);  // spacing 0, margin (102 - 40 + 1) div 2
}

TEST(LayoutTest, PositionsFollowTheFaceRectangle) {
    const TGlyphLayout l = CalcButtonLayout(QRect(10, 20, 102, 41), QPoint(1, 1), kGlyph, kCaption,
                                            blGlyphLeft, -1, 4, false);
    EXPECT_EQ(l.GlyphPos, QPoint(24, 26));
    EXPECT_EQ(l.TextBounds.topLeft(), QPoint(60, 35));
}

TEST(LayoutTest, CaptionMeasuring) {
    const QFontMetrics fm(QApplication::font());
    EXPECT_EQ(MeasureCaption(fm, QString(), 100, false), QSize(0, 0));
    const QSize plain = MeasureCaption(fm, "Help", 100, false);
    EXPECT_EQ(MeasureCaption(fm, "&Help", 100, false), plain);  // the mnemonic marker is hidden
    EXPECT_EQ(plain.height(), fm.height());
    const QString longText = "Czy sprawdzić dostępność nowych wersji oprogramowania";
    const QSize wrapped = MeasureCaption(fm, longText, 120, true);
    EXPECT_LE(wrapped.width(), 120);
    EXPECT_GT(wrapped.height(), fm.height());
    EXPECT_EQ(MeasureCaption(fm, longText, 120, false).width(), 120);
}

}  // namespace
