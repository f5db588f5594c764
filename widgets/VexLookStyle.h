#pragma once

#include <cstdint>
#include <functional>

#include "VexColor.h"

enum TVexStyle : uint8_t { vls3D, vlsFlat, vlsUltraFlat };

// What a write of the look style changed for the button that paints it.
enum class TLookChange : uint8_t {
    Face,         // repaint
    ButtonColor,  // the glyph's state images are made anew with the new colours, then repaint
};

// Colours and style of a TVexButton's face. Writes store only changed values; a write that
// changes the look is told to the change handler given at construction (the owner button's).
// LightColor, DarkColor and BorderLightColor are derived from ButtonColor and BorderColor and
// are resolved to RGB when derived.
class TVexCustomLookStyle {
  public:
    using TChangeHandler = std::function<void(TLookChange change)>;

    explicit TVexCustomLookStyle(TChangeHandler onChange = {});
    virtual ~TVexCustomLookStyle() = default;
    TVexCustomLookStyle(const TVexCustomLookStyle&) = delete;
    TVexCustomLookStyle& operator=(const TVexCustomLookStyle&) = delete;

    // Copies all fourteen properties (the look-changing ones through their writes).
    void Assign(const TVexCustomLookStyle& source);

    bool AlwaysShowBorder() const { return alwaysShowBorder_; }
    void SetAlwaysShowBorder(bool v);
    TColor BorderColor() const { return borderColor_; }
    void SetBorderColor(TColor v);
    TColor ButtonColor() const { return buttonColor_; }
    void SetButtonColor(TColor v);
    TColor DownColor() const { return downColor_; }
    void SetDownColor(TColor v) { downColor_ = v; }
    TColor DownTextColor() const { return downTextColor_; }
    void SetDownTextColor(TColor v) { downTextColor_ = v; }
    bool Gradient() const { return gradient_; }
    void SetGradient(bool v);
    TColor GradStartColor() const { return gradStartColor_; }
    void SetGradStartColor(TColor v);
    TColor GradStartDownColor() const { return gradStartDownColor_; }
    void SetGradStartDownColor(TColor v);
    TColor GradStartHighlightColor() const { return gradStartHighlightColor_; }
    void SetGradStartHighlightColor(TColor v);
    TColor HighlightColor() const { return highlightColor_; }
    void SetHighlightColor(TColor v) { highlightColor_ = v; }
    bool HighlightOnFocused() const { return highlightOnFocused_; }
    void SetHighlightOnFocused(bool v) { highlightOnFocused_ = v; }
    TColor HighlightTextColor() const { return highlightTextColor_; }
    void SetHighlightTextColor(TColor v) { highlightTextColor_ = v; }
    bool HighlightTrack() const { return highlightTrack_; }
    void SetHighlightTrack(bool v) { highlightTrack_ = v; }
    TVexStyle Style() const { return style_; }
    void SetStyle(TVexStyle v);

    // Derived colours (RGB).
    TColor LightColor() const { return lightColor_; }
    TColor DarkColor() const { return darkColor_; }
    TColor BorderLightColor() const { return borderLightColor_; }

  private:
    void Changed(TLookChange change);

    TChangeHandler onChange_;
    bool alwaysShowBorder_ = false;
    TColor borderColor_ = clWindowFrame;
    TColor buttonColor_ = clBtnFace;
    TColor downColor_ = clDefault;
    TColor downTextColor_ = clDefault;
    bool gradient_ = false;
    TColor gradStartColor_ = clDefault;
    TColor gradStartDownColor_ = clDefault;
    TColor gradStartHighlightColor_ = clDefault;
    TColor highlightColor_ = clDefault;
    bool highlightOnFocused_ = true;
    TColor highlightTextColor_ = clDefault;
    bool highlightTrack_ = true;
    TVexStyle style_ = vlsUltraFlat;
    TColor lightColor_;
    TColor darkColor_;
    TColor borderLightColor_;
};

// The look style a button owns and publishes.
class TVexLookStyle : public TVexCustomLookStyle {
  public:
    using TVexCustomLookStyle::TVexCustomLookStyle;
};
