#include <QtTest>

#include "ButtonTestSupport.h"
#include "VexButton.h"

// Runs at a device pixel ratio of 2 (QT_SCALE_FACTOR=2 in the test's environment).
class HiDpiPaintTest : public QObject {
    Q_OBJECT

    static QImage Render(TVexButton& b) {
        return b.grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

  private slots:
    void ratioIsTwo() { QCOMPARE(qApp->devicePixelRatio(), 2.0); }

    // One-pixel lines are two device pixels wide; the focus dots are whole 2 x 2 blocks.
    void linesAndFocusDotsAtWholeDevicePixels() {
        QWidget window;
        TVexButton* b = nullptr;
        QVERIFY(ShowFocusedStartButton(window, b));
        b->setDown(true);
        const QImage pressed = Render(*b);
        b->setDown(false);
        QCOMPARE(pressed.size(), QSize(204, 80));

        const QColor border = ColorToRGB(clWindowFrame);
        const QColor borderLight = ColorToRGB(LightenColor(clWindowFrame, 100));
        const QColor down = ColorToRGB(DarkenColor(clBtnFace, 100));
        const int y = 40;
        QCOMPARE(pressed.pixelColor(0, y), border);
        QCOMPARE(pressed.pixelColor(1, y), border);
        QCOMPARE(pressed.pixelColor(2, y), borderLight);
        QCOMPARE(pressed.pixelColor(3, y), borderLight);
        QCOMPARE(pressed.pixelColor(4, y), down);
        QCOMPARE(pressed.pixelColor(203, y), border);
        QCOMPARE(pressed.pixelColor(201, y), borderLight);
        QCOMPARE(pressed.pixelColor(199, y), down);
        QCOMPARE(pressed.pixelColor(100, 1), border);
        QCOMPARE(pressed.pixelColor(100, 2), borderLight);

        // A dot at face pixel (3, 3) or (4, 3) covers its four device pixels.
        const QImage up = Render(*b);
        const QColor black(0, 0, 0);
        const int dotX = up.pixelColor(6, 6) == black ? 6 : 8;
        for (int dx = 0; dx < 2; ++dx) {
            for (int dy = 0; dy < 2; ++dy) QCOMPARE(up.pixelColor(dotX + dx, 6 + dy), black);
        }
        QVERIFY(up.pixelColor(dotX + 2, 6) != black);

        // The caption is drawn at device resolution: a face painted at 1x and scaled up
        // would be made of uniform 2 x 2 blocks only.
        const QColor face = ColorToRGB(clBtnFace);
        int inkPixels = 0;
        int leftmost = 1000;
        bool finerThanBlocks = false;
        for (int py = 10; py < 70; py += 2) {
            for (int px = 10; px < 194; px += 2) {
                const QColor c = up.pixelColor(px, py);
                if (c != face) {
                    ++inkPixels;
                    leftmost = std::min(leftmost, px);
                }
                if (c != up.pixelColor(px + 1, py) || c != up.pixelColor(px, py + 1) ||
                    c != up.pixelColor(px + 1, py + 1)) {
                    finerThanBlocks = true;
                }
            }
        }
        QVERIFY(inkPixels > 20);
        QVERIFY(finerThanBlocks);
        // The caption is centred: its left edge lies left of the face's middle, clear of
        // the focus frame.
        QVERIFY(leftmost > 10 && leftmost < 102);
    }

    // The twice-size glyph shows its single device pixels; without one the glyph is doubled.
    void glyphFromTwiceSizeArtwork() {
        QImage normal(32, 32, QImage::Format_RGB32);
        normal.fill(QColor(255, 0, 255));
        QImage doubled(64, 64, QImage::Format_RGB32);
        doubled.fill(QColor(255, 0, 255));
        for (int y = 16; y < 48; ++y) {
            for (int x = 16; x < 48; ++x) doubled.setPixelColor(x, y, QColor(0, 0, 128));
        }
        for (int y = 8; y < 24; ++y) {
            for (int x = 8; x < 24; ++x) normal.setPixelColor(x, y, QColor(0, 0, 128));
        }
        doubled.setPixelColor(21, 21, QColor(255, 0, 0));  // one device pixel

        TVexButton b;
        b.resize(102, 40);
        b.SetGlyph(normal);
        b.SetHighResGlyph(doubled);
        QImage image = Render(b);
        const QColor red(255, 0, 0);
        const QColor navy(0, 0, 128);
        QPoint found(-1, -1);
        for (int y = 0; y < image.height() && found.x() < 0; ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) == red) {
                    found = QPoint(x, y);
                    break;
                }
            }
        }
        QVERIFY(found.x() > 0);
        QCOMPARE(image.pixelColor(found + QPoint(1, 0)), navy);
        QCOMPARE(image.pixelColor(found + QPoint(-1, 0)), navy);
        QCOMPARE(image.pixelColor(found + QPoint(0, 1)), navy);

        // A new glyph drops the artwork of the old one.
        b.SetGlyph(normal);
        QVERIFY(b.GlyphHolder().HighResGlyph().isNull());
        image = Render(b);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) QVERIFY(image.pixelColor(x, y) != red);
        }
    }
};

QTEST_MAIN(HiDpiPaintTest)
#include "HiDpiPaintTest.moc"
