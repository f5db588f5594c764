#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "VexColor.h"

class QPainter;
class QFontMetrics;

enum TButtonLayout : uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
// Glyph states; the number is the image's place in a multi-image glyph bitmap.
enum TButtonState : uint8_t { bsUp, bsDisabled, bsDown, bsExclusive };

// An image list of one fixed image size whose slots are reused: adding takes the first free
// slot, deleting only frees it.
class TGlyphList {
  public:
    TGlyphList(int width, int height) : width_(width), height_(height) {}

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Count() const { return count_; }

    // Stores `image` (scaled to the list's size if needed) with every pixel of `maskColor`
    // made transparent; returns the slot.
    int AddMasked(const QImage& image, const QColor& maskColor);
    void Delete(int index);
    // The image of a used slot; a null image for a free or unknown slot.
    QImage Image(int index) const;

  private:
    int width_;
    int height_;
    int count_ = 0;
    std::vector<QImage> images_;
    std::vector<bool> used_;
};

// The program-wide set of glyph lists, one per image size. It exists while at least one glyph
// holder exists (or a list is still held).
class TGlyphCache {
  public:
    // The cache, or null while no glyph holder exists.
    static TGlyphCache* Instance();

    // The list of that size (the most recently created one first), made if there is none.
    TGlyphList* GetList(int width, int height);
    // Gives a list back: freed once no slot of it is used.
    void ReturnList(TGlyphList* list);
    int ListCount() const { return static_cast<int>(lists_.size()); }

  private:
    friend class TButtonGlyph;
    static void AddHolder();
    static void RemoveHolder();

    std::vector<std::unique_ptr<TGlyphList>> lists_;
};

// Where the glyph and the caption go inside a button face.
struct TGlyphLayout {
    QPoint GlyphPos;
    QRect TextBounds;
};

// Places a glyph of `glyphSize` and a caption of `textSize` in `client` (positions are absolute,
// `offset` added). Margin -1 centres the pair; Spacing -1 spreads glyph and caption evenly;
// with right-to-left reading the left and right layouts swap.
TGlyphLayout CalcButtonLayout(const QRect& client, QPoint offset, QSize glyphSize, QSize textSize,
                              TButtonLayout layout, int margin, int spacing, bool rightToLeft);

// The caption's extent as drawn: centred, mnemonic '&' hidden, word breaks when `wordWrap`,
// limited to `maxWidth`. An empty caption measures 0 x 0.
QSize MeasureCaption(const QFontMetrics& metrics, const QString& caption, int maxWidth,
                     bool wordWrap);

// Owns one button's glyph bitmap and makes the image of each button state.
class TButtonGlyph {
  public:
    TButtonGlyph();
    ~TButtonGlyph();
    TButtonGlyph(const TButtonGlyph&) = delete;
    TButtonGlyph& operator=(const TButtonGlyph&) = delete;

    const QImage& Glyph() const { return glyph_; }
    // Drops the made images, takes the transparent colour from the bottom-left pixel, sets
    // NumGlyphs to width / height when the width is a multiple of the height (1 above 4) and
    // calls the change handler.
    void SetGlyph(const QImage& glyph);

    // The same bitmap drawn at twice the size, used where the button is painted at a device
    // pixel ratio above 1; a bitmap of any other size is ignored. SetGlyph drops it.
    void SetHighResGlyph(const QImage& glyph2x);
    const QImage& HighResGlyph() const { return highRes_; }

    int NumGlyphs() const { return numGlyphs_; }
    // 1..4; other values are ignored.
    void SetNumGlyphs(int value);

    TColor TransparentColor() const { return transparentColor_; }

    // Colours of the owner's look style, given before each paint.
    void SetFaceColor(TColor c) { faceColor_ = c; }
    TColor FaceColor() const { return faceColor_; }
    void SetLightColor(TColor c) { lightColor_ = c; }
    void SetDarkColor(TColor c) { darkColor_ = c; }

    // Called after every change of the bitmap (the owner repaints).
    void SetOnChange(std::function<void()> handler) { onChange_ = std::move(handler); }

    // The image of `state` (made if needed; the disabled image is made anew every time).
    // A null image without a bitmap.
    QImage StateImage(TButtonState state);
    // Slot of a made state image in List(), -1 when not made (the disabled image never is).
    int ImageIndex(TButtonState state) const { return indexes_[state]; }
    // The shared list holding this glyph's images, null before the first image is made.
    TGlyphList* List() const { return list_; }
    // Glyph size of one image; 0 x 0 without a bitmap.
    QSize ImageSize() const;

    // Drops the made images and gives the list back (the images are made again when asked).
    void Invalidate();

    // Lays out and draws glyph and caption in `client`. The glyph goes on the face colour when
    // not `transparent`; the caption is drawn with a hollow brush in `captionColor` using the
    // painter's font.
    TGlyphLayout Draw(QPainter& canvas, const QRect& client, QPoint offset, const QString& caption,
                      TButtonLayout layout, int margin, int spacing, TButtonState state,
                      bool transparent, const QColor& captionColor, bool wordWrap,
                      bool rightToLeft);

  private:
    QImage SourceImage(const QImage& bitmap, int number) const;
    QImage MakeDisabledImage(const QImage& bitmap) const;
    // The state image from the high-resolution bitmap at `scale` device pixels per pixel.
    QImage HighResStateImage(TButtonState state, qreal scale);

    QImage glyph_;
    QImage highRes_;
    std::array<QImage, 4> highResImages_;
    int numGlyphs_ = 1;
    TColor transparentColor_ = clOlive;
    TColor faceColor_ = clBtnFace;
    TColor lightColor_;
    TColor darkColor_;
    TGlyphList* list_ = nullptr;
    std::array<int, 4> indexes_{-1, -1, -1, -1};
    std::function<void()> onChange_;
};

// The glyph bitmap of a predefined button kind 1..10 (two images side by side: up, disabled),
// loaded from the resources on first use and kept until the program ends. A null image for other
// kinds.
QImage KindGlyph(int kind);
