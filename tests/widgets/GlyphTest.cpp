#include <gtest/gtest.h>

#include <QImage>
#include <memory>

#include "ButtonGlyph.h"

namespace {

// A bitmap in one colour with the bottom-left pixel in `transparent`.
QImage Bitmap(int w, int h, QColor fill = Qt::red, QColor transparent = Qt::green) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(fill);
    image.setPixelColor(0, h - 1, transparent);
    return image;
}

TEST(GlyphTest, NumGlyphsFollowsTheBitmapShape) {
    TButtonGlyph glyph;
    EXPECT_EQ(glyph.NumGlyphs(), 1);
    glyph.SetGlyph(Bitmap(64, 16));
    EXPECT_EQ(glyph.NumGlyphs(), 4);
    EXPECT_EQ(glyph.ImageSize(), QSize(16, 16));
    glyph.SetGlyph(Bitmap(80, 16));
    EXPECT_EQ(glyph.NumGlyphs(), 1);
    glyph.SetNumGlyphs(3);
    glyph.SetGlyph(Bitmap(50, 16));
    EXPECT_EQ(glyph.NumGlyphs(), 3);
    glyph.SetNumGlyphs(0);
    glyph.SetNumGlyphs(5);
    EXPECT_EQ(glyph.NumGlyphs(), 3);
}

TEST(GlyphTest, TransparentColourAndChangeNotification) {
    TButtonGlyph glyph;
    int changes = 0;
    glyph.SetOnChange([&] { ++changes; });
    EXPECT_EQ(glyph.TransparentColor(), clOlive);
    glyph.SetGlyph(Bitmap(16, 16, Qt::red, QColor(1, 2, 3)));
    EXPECT_EQ(glyph.TransparentColor(), RgbColor(1, 2, 3));
    glyph.SetNumGlyphs(2);
    glyph.SetNumGlyphs(2);  // unchanged: no notification
    EXPECT_EQ(changes, 2);

    // Up image: the transparent colour is masked out, other pixels kept.
    const QImage up = glyph.StateImage(bsUp);
    ASSERT_EQ(up.size(), QSize(8, 16));
    EXPECT_EQ(qAlpha(up.pixel(0, 15)), 0);
    EXPECT_EQ(up.pixelColor(3, 3), QColor(Qt::red));
}

TEST(GlyphTest, OneImageDownShowsUpAndDisabledIsEmbossed) {
    QImage bitmap = Bitmap(8, 8, Qt::white, Qt::white);
    bitmap.setPixelColor(2, 2, Qt::black);
    bitmap.setPixelColor(5, 5, QColor(0, 0, 160));    // dark: part of the one-bit mask
    bitmap.setPixelColor(6, 2, QColor(255, 255, 0));  // light: not part of it
    TButtonGlyph glyph;
    glyph.SetGlyph(bitmap);
    glyph.SetFaceColor(RgbColor(200, 200, 200));
    glyph.SetLightColor(RgbColor(250, 250, 250));
    glyph.SetDarkColor(RgbColor(100, 100, 100));

    EXPECT_EQ(glyph.StateImage(bsDown), glyph.StateImage(bsUp));
    EXPECT_NE(glyph.ImageIndex(bsDown), glyph.ImageIndex(bsUp));
    EXPECT_EQ(glyph.StateImage(bsExclusive), glyph.StateImage(bsUp));

    const QImage disabled = glyph.StateImage(bsDisabled);
    EXPECT_EQ(glyph.ImageIndex(bsDisabled), -1);
    EXPECT_EQ(disabled.pixelColor(2, 2), QColor(100, 100, 100));
    EXPECT_EQ(disabled.pixelColor(3, 3), QColor(250, 250, 250));
    EXPECT_EQ(disabled.pixelColor(5, 5), QColor(100, 100, 100));
    EXPECT_EQ(disabled.pixelColor(6, 6), QColor(250, 250, 250));
    EXPECT_EQ(disabled.pixelColor(6, 2), QColor(200, 200, 200));
    EXPECT_EQ(disabled.pixelColor(0, 0), QColor(200, 200, 200));
    EXPECT_EQ(disabled.pixelColor(7, 7), QColor(200, 200, 200));

    // Made anew: a new face colour shows at once.
    glyph.SetFaceColor(RgbColor(10, 20, 30));
    EXPECT_EQ(glyph.StateImage(bsDisabled).pixelColor(0, 0), QColor(10, 20, 30));
}

TEST(GlyphTest, SuppliedDisabledImageTakesTheLookStyleColours) {
    QImage bitmap = Bitmap(8, 4, Qt::red, QColor(128, 128, 0));
    bitmap.setPixelColor(4, 0, Qt::white);
    bitmap.setPixelColor(5, 0, QColor(128, 128, 128));
    bitmap.setPixelColor(6, 0, QColor(128, 128, 0));
    bitmap.setPixelColor(7, 0, QColor(0, 0, 255));
    TButtonGlyph glyph;
    glyph.SetGlyph(bitmap);
    ASSERT_EQ(glyph.NumGlyphs(), 2);
    glyph.SetFaceColor(RgbColor(1, 1, 1));
    glyph.SetLightColor(RgbColor(2, 2, 2));
    glyph.SetDarkColor(RgbColor(3, 3, 3));
    const QImage disabled = glyph.StateImage(bsDisabled);
    EXPECT_EQ(disabled.pixelColor(0, 0), QColor(2, 2, 2));
    EXPECT_EQ(disabled.pixelColor(1, 0), QColor(3, 3, 3));
    EXPECT_EQ(disabled.pixelColor(2, 0), QColor(1, 1, 1));
    EXPECT_EQ(disabled.pixelColor(3, 0), QColor(0, 0, 255));
    // The down state has no image of its own with two images: it shows the up image.
    EXPECT_EQ(glyph.StateImage(bsDown).pixelColor(0, 0), QColor(Qt::red));
}

TEST(GlyphTest, ListsAreSharedBySizeAndFreedWithTheirLastHolder) {
    ASSERT_EQ(TGlyphCache::Instance(), nullptr);
    auto first = std::make_unique<TButtonGlyph>();
    auto second = std::make_unique<TButtonGlyph>();
    ASSERT_NE(TGlyphCache::Instance(), nullptr);
    first->SetGlyph(Bitmap(32, 32));
    second->SetGlyph(Bitmap(32, 32, Qt::blue));
    first->StateImage(bsUp);
    second->StateImage(bsUp);
    second->StateImage(bsDown);
    ASSERT_NE(first->List(), nullptr);
    EXPECT_EQ(first->List(), second->List());
    EXPECT_EQ(first->List()->Count(), 3);
    EXPECT_EQ(TGlyphCache::Instance()->ListCount(), 1);

    // Another size gets its own list; changing the bitmap gives it back and frees it.
    second->SetGlyph(Bitmap(16, 16));
    second->StateImage(bsUp);
    EXPECT_EQ(TGlyphCache::Instance()->ListCount(), 2);
    second->SetGlyph(Bitmap(32, 32));
    EXPECT_EQ(TGlyphCache::Instance()->ListCount(), 1);

    first.reset();
    EXPECT_NE(TGlyphCache::Instance(), nullptr);
    second.reset();
    EXPECT_EQ(TGlyphCache::Instance(), nullptr);
}

TEST(GlyphTest, GlyphListReusesTheFirstFreeSlot) {
    TGlyphList list(4, 4);
    const QImage image = Bitmap(4, 4);
    EXPECT_EQ(list.AddMasked(image, Qt::green), 0);
    EXPECT_EQ(list.AddMasked(image, Qt::green), 1);
    EXPECT_EQ(list.AddMasked(image, Qt::green), 2);
    list.Delete(1);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Image(1).isNull());
    EXPECT_EQ(list.AddMasked(image, Qt::green), 1);
    EXPECT_EQ(list.AddMasked(image, Qt::green), 3);
    EXPECT_EQ(list.Count(), 4);
}

TEST(GlyphTest, KindBitmapsAreTwoImagesSideBySide) {
    for (int kind = 1; kind <= 10; ++kind) {
        const QImage image = KindGlyph(kind);
        ASSERT_FALSE(image.isNull()) << kind;
        EXPECT_EQ(image.size(), QSize(36, kind == 10 ? 19 : 18)) << kind;
        EXPECT_LE(image.colorCount(), 16) << kind;
        EXPECT_EQ(image.pixelColor(0, image.height() - 1), QColor(128, 128, 0)) << kind;
        EXPECT_EQ(KindGlyph(kind).cacheKey(), image.cacheKey()) << kind;
    }
    EXPECT_TRUE(KindGlyph(0).isNull());
    EXPECT_TRUE(KindGlyph(11).isNull());
}

}  // namespace
