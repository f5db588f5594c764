#include "ButtonGlyph.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <utility>

// ---------------------------------------------------------------------------------------------
// TGlyphList

namespace {

// A copy of `image` in which every pixel of `color` is transparent.
QImage MaskedCopy(const QImage& image, const QColor& color) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = color.rgb() & RGB_MASK;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((line[x] & RGB_MASK) == key) line[x] = qRgba(0, 0, 0, 0);
        }
    }
    return out;
}

TGlyphCache* g_cache = nullptr;
int g_holders = 0;

}  // namespace

int TGlyphList::AddMasked(const QImage& image, const QColor& maskColor) {
    QImage stored = image.size() == QSize(width_, height_)
                        ? image
                        : image.scaled(width_, height_, Qt::IgnoreAspectRatio);
    stored = MaskedCopy(stored, maskColor);
    int index = 0;
    while (index < static_cast<int>(used_.size()) && used_[index]) ++index;
    if (index == static_cast<int>(used_.size())) {
        used_.push_back(false);
        images_.emplace_back();
    }
    used_[index] = true;
    images_[index] = std::move(stored);
    ++count_;
    return index;
}

void TGlyphList::Delete(int index) {
    if (index < 0 || index >= static_cast<int>(used_.size()) || !used_[index]) return;
    used_[index] = false;
    images_[index] = QImage();
    --count_;
}

QImage TGlyphList::Image(int index) const {
    if (index < 0 || index >= static_cast<int>(used_.size()) || !used_[index]) return QImage();
    return images_[index];
}

// ---------------------------------------------------------------------------------------------
// TGlyphCache

TGlyphCache* TGlyphCache::Instance() {
    return g_cache;
}

TGlyphList* TGlyphCache::GetList(int width, int height) {
    for (auto it = lists_.rbegin(); it != lists_.rend(); ++it) {
        if ((*it)->Width() == width && (*it)->Height() == height) return it->get();
    }
    lists_.push_back(std::make_unique<TGlyphList>(width, height));
    return lists_.back().get();
}

void TGlyphCache::ReturnList(TGlyphList* list) {
    if (list == nullptr || list->Count() != 0) return;
    std::erase_if(lists_, [list](const auto& owned) { return owned.get() == list; });
}

void TGlyphCache::AddHolder() {
    if (g_cache == nullptr) g_cache = new TGlyphCache;
    ++g_holders;
}

void TGlyphCache::RemoveHolder() {
    --g_holders;
    if (g_holders == 0 && g_cache != nullptr && g_cache->lists_.empty()) {
        delete g_cache;
        g_cache = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Layout

TGlyphLayout CalcButtonLayout(const QRect& client, QPoint offset, QSize glyphSize, QSize textSize,
                              TButtonLayout layout, int margin, int spacing, bool rightToLeft) {
    if (rightToLeft) {
        if (layout == blGlyphLeft) {
            layout = blGlyphRight;
        } else if (layout == blGlyphRight) {
            layout = blGlyphLeft;
        }
    }
    const int cw = client.width();
    const int ch = client.height();
    const int gw = glyphSize.width();
    const int gh = glyphSize.height();
    const int tw = textSize.width();
    const int th = textSize.height();
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;

    QPoint glyphPos;
    QPoint textPos;
    // Across the layout axis both are centred.
    if (horizontal) {
        glyphPos.setY((ch - gh + 1) / 2);
        textPos.setY((ch - th + 1) / 2);
    } else {
        glyphPos.setX((cw - gw + 1) / 2);
        textPos.setX((cw - tw + 1) / 2);
    }

    if (tw == 0 || gw == 0) spacing = 0;
    const int extent = horizontal ? cw : ch;
    const int g = horizontal ? gw : gh;
    const int t = horizontal ? tw : th;
    if (margin == -1) {
        if (spacing == -1) {
            margin = (extent - g - t) / 3;
            spacing = margin;
        } else {
            margin = (extent - (g + spacing + t) + 1) / 2;
        }
    } else if (spacing == -1) {
        spacing = (extent - margin - g - t) / 2;
    }

    switch (layout) {
        case blGlyphLeft:
            glyphPos.setX(margin);
            textPos.setX(margin + gw + spacing);
            break;
        case blGlyphRight:
            glyphPos.setX(cw - margin - gw);
            textPos.setX(glyphPos.x() - spacing - tw);
            break;
        case blGlyphTop:
            glyphPos.setY(margin);
            textPos.setY(margin + gh + spacing);
            break;
        case blGlyphBottom:
            glyphPos.setY(ch - margin - gh);
            textPos.setY(glyphPos.y() - spacing - th);
            break;
    }

    const QPoint origin = client.topLeft() + offset;
    return TGlyphLayout{origin + glyphPos, QRect(origin + textPos, textSize)};
}

namespace {

int CaptionFlags(bool wordWrap) {
    return Qt::AlignCenter | Qt::TextShowMnemonic | (wordWrap ? Qt::TextWordWrap : 0);
}

}  // namespace

QSize MeasureCaption(const QFontMetrics& metrics, const QString& caption, int maxWidth,
                     bool wordWrap) {
    if (caption.isEmpty()) return QSize(0, 0);
    const QRect r =
        metrics.boundingRect(QRect(0, 0, qMax(maxWidth, 0), 0), CaptionFlags(wordWrap), caption);
    return QSize(qMin(r.width(), qMax(maxWidth, 0)), r.height());
}

// ---------------------------------------------------------------------------------------------
// TButtonGlyph

TButtonGlyph::TButtonGlyph()
    : lightColor_(LightenColor(clBtnFace, 100)), darkColor_(DarkenColor(clBtnFace, 100)) {
    TGlyphCache::AddHolder();
}

TButtonGlyph::~TButtonGlyph() {
    Invalidate();
    TGlyphCache::RemoveHolder();
}

void TButtonGlyph::Invalidate() {
    std::fill(highResImages_.begin(), highResImages_.end(), QImage());
    if (list_ == nullptr) return;
    for (int& index : indexes_) {
        list_->Delete(index);
        index = -1;
    }
    TGlyphCache::Instance()->ReturnList(list_);
    list_ = nullptr;
}

void TButtonGlyph::SetGlyph(const QImage& glyph) {
    Invalidate();
    glyph_ = glyph;
    highRes_ = QImage();
    if (!glyph_.isNull() && glyph_.height() > 0) {
        transparentColor_ = ColorFromQColor(glyph_.pixelColor(0, glyph_.height() - 1));
        if (glyph_.width() % glyph_.height() == 0) {
            const int n = glyph_.width() / glyph_.height();
            numGlyphs_ = n >= 1 && n <= 4 ? n : 1;
        }
    }
    if (onChange_) onChange_();
}

void TButtonGlyph::SetHighResGlyph(const QImage& glyph2x) {
    highRes_ = glyph2x.size() == glyph_.size() * 2 ? glyph2x : QImage();
    std::fill(highResImages_.begin(), highResImages_.end(), QImage());
    if (onChange_) onChange_();
}

QImage TButtonGlyph::HighResStateImage(TButtonState state, qreal scale) {
    const QSize size = ImageSize();
    const QSize device(qRound(size.width() * scale), qRound(size.height() * scale));
    QImage& made = highResImages_[state];
    if (state == bsDisabled || made.isNull() || made.size() != device) {
        QImage image = state == bsDisabled ? MakeDisabledImage(highRes_)
                                           : MaskedCopy(SourceImage(highRes_, state),
                                                        ColorToRGB(transparentColor_));
        if (image.size() != device) {
            image = image.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        image.setDevicePixelRatio(scale);
        if (state == bsDisabled) return image;
        made = std::move(image);
    }
    return made;
}

void TButtonGlyph::SetNumGlyphs(int value) {
    if (value < 1 || value > 4 || value == numGlyphs_) return;
    Invalidate();
    numGlyphs_ = value;
    if (onChange_) onChange_();
}

QSize TButtonGlyph::ImageSize() const {
    if (glyph_.isNull()) return QSize(0, 0);
    return QSize(glyph_.width() / numGlyphs_, glyph_.height());
}

QImage TButtonGlyph::SourceImage(const QImage& bitmap, int number) const {
    const int width = bitmap.width() / numGlyphs_;
    const int n = number < numGlyphs_ ? number : 0;
    return bitmap.copy(n * width, 0, width, bitmap.height()).convertToFormat(QImage::Format_ARGB32);
}

QImage TButtonGlyph::MakeDisabledImage(const QImage& bitmap) const {
    const QRgb face = ColorToRGB(faceColor_).rgb();
    const QRgb light = ColorToRGB(lightColor_).rgb();
    const QRgb dark = ColorToRGB(darkColor_).rgb();
    const QRgb transparent = ColorToRGB(transparentColor_).rgb() & RGB_MASK;

    if (numGlyphs_ > 1) {
        // A supplied disabled image: white and grey take the look style's colours.
        QImage image = SourceImage(bitmap, bsDisabled);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = line[x] & RGB_MASK;
                if (p == transparent) {
                    line[x] = face;
                } else if (p == (qRgb(255, 255, 255) & RGB_MASK)) {
                    line[x] = light;
                } else if (p == (qRgb(128, 128, 128) & RGB_MASK)) {
                    line[x] = dark;
                }
            }
        }
        return image;
    }

    // Embossed from the up image: its one-bit mask (pixels that turn black in a one-bit copy,
    // i.e. darker than mid grey, the transparent colour excepted) in LightColor one pixel down
    // and right, then in DarkColor in place.
    const QImage up = SourceImage(bitmap, bsUp);
    QImage image(up.size(), QImage::Format_ARGB32);
    image.fill(face);
    auto isBlack = [&](int x, int y) {
        const QRgb p = up.pixel(x, y);
        return (p & RGB_MASK) != transparent && qGray(p) < 128;
    };
    for (int y = 0; y < up.height(); ++y) {
        for (int x = 0; x < up.width(); ++x) {
            if (isBlack(x, y) && x + 1 < image.width() && y + 1 < image.height()) {
                image.setPixel(x + 1, y + 1, light);
            }
        }
    }
    for (int y = 0; y < up.height(); ++y) {
        for (int x = 0; x < up.width(); ++x) {
            if (isBlack(x, y)) image.setPixel(x, y, dark);
        }
    }
    return image;
}

QImage TButtonGlyph::StateImage(TButtonState state) {
    if (glyph_.isNull()) return QImage();
    if (state == bsDisabled) return MakeDisabledImage(glyph_);
    if (indexes_[state] < 0) {
        const QSize size = ImageSize();
        if (list_ == nullptr) list_ = TGlyphCache::Instance()->GetList(size.width(), size.height());
        indexes_[state] =
            list_->AddMasked(SourceImage(glyph_, state), ColorToRGB(transparentColor_));
    }
    return list_->Image(indexes_[state]);
}

TGlyphLayout TButtonGlyph::Draw(QPainter& canvas, const QRect& client, QPoint offset,
                                const QString& caption, TButtonLayout layout, int margin,
                                int spacing, TButtonState state, bool transparent,
                                const QColor& captionColor, bool wordWrap, bool rightToLeft) {
    const QSize glyphSize = ImageSize();
    const QSize textSize =
        MeasureCaption(QFontMetrics(canvas.font()), caption, client.width(), wordWrap);
    const TGlyphLayout placed =
        CalcButtonLayout(client, offset, glyphSize, textSize, layout, margin, spacing, rightToLeft);

    if (!glyph_.isNull()) {
        // Painted at a device pixel ratio (a scaling painter), the glyph is drawn from the
        // high-resolution bitmap when there is one, at whole device pixels.
        const qreal scale = canvas.transform().m11();
        const bool highRes = scale > 1.0 && !highRes_.isNull();
        QImage image = highRes ? HighResStateImage(state, scale) : StateImage(state);
        const QColor face = ColorToRGB(faceColor_);
        if (!transparent) {
            canvas.fillRect(QRect(placed.GlyphPos, glyphSize), face);
        } else if (state == bsDisabled) {
            image = MaskedCopy(image, face);
        }
        if (highRes) {
            const QPointF at(qRound(placed.GlyphPos.x() * scale) / scale,
                             qRound(placed.GlyphPos.y() * scale) / scale);
            canvas.drawImage(at, image);
        } else {
            canvas.drawImage(placed.GlyphPos, image);
        }
    }

    if (!caption.isEmpty()) {
        canvas.save();
        canvas.setBrush(Qt::NoBrush);
        canvas.setPen(captionColor);
        canvas.drawText(placed.TextBounds, CaptionFlags(wordWrap), caption);
        canvas.restore();
    }
    return placed;
}

// ---------------------------------------------------------------------------------------------
// Kind bitmaps

QImage KindGlyph(int kind) {
    static const char* const kNames[] = {nullptr, "OK",    "CANCEL", "HELP",   "YES", "NO",
                                         "CLOSE", "ABORT", "RETRY",  "IGNORE", "ALL"};
    static std::array<QImage, 11> loaded;
    if (kind < 1 || kind > 10) return QImage();
    if (loaded[kind].isNull()) {
        loaded[kind] =
            QImage(QStringLiteral(":/widgets/glyphs/VEXBB%1.bmp").arg(QLatin1String(kNames[kind])));
    }
    return loaded[kind];
}
