#include "VexLookStyle.h"

#include <utility>

TVexCustomLookStyle::TVexCustomLookStyle(TChangeHandler onChange)
    : onChange_(std::move(onChange)),
      lightColor_(LightenColor(clBtnFace, 100)),
      darkColor_(DarkenColor(buttonColor_, 100)),
      borderLightColor_(LightenColor(borderColor_, 100)) {}

void TVexCustomLookStyle::Assign(const TVexCustomLookStyle& source) {
    if (&source == this) return;
    SetAlwaysShowBorder(source.alwaysShowBorder_);
    SetBorderColor(source.borderColor_);
    SetButtonColor(source.buttonColor_);
    downColor_ = source.downColor_;
    downTextColor_ = source.downTextColor_;
    SetGradient(source.gradient_);
    SetGradStartColor(source.gradStartColor_);
    SetGradStartDownColor(source.gradStartDownColor_);
    SetGradStartHighlightColor(source.gradStartHighlightColor_);
    highlightColor_ = source.highlightColor_;
    highlightOnFocused_ = source.highlightOnFocused_;
    highlightTextColor_ = source.highlightTextColor_;
    highlightTrack_ = source.highlightTrack_;
    SetStyle(source.style_);
}

void TVexCustomLookStyle::Changed(TLookChange change) {
    if (onChange_) onChange_(change);
}

void TVexCustomLookStyle::SetAlwaysShowBorder(bool v) {
    if (v == alwaysShowBorder_) return;
    alwaysShowBorder_ = v;
    Changed(TLookChange::Face);
}

void TVexCustomLookStyle::SetBorderColor(TColor v) {
    if (v == borderColor_) return;
    borderColor_ = v;
    borderLightColor_ = LightenColor(v, 100);
    Changed(TLookChange::Face);
}

void TVexCustomLookStyle::SetButtonColor(TColor v) {
    if (v == buttonColor_) return;
    buttonColor_ = v;
    lightColor_ = LightenColor(v, 100);
    darkColor_ = DarkenColor(v, 100);
    Changed(TLookChange::ButtonColor);
}

void TVexCustomLookStyle::SetGradient(bool v) {
    if (v == gradient_) return;
    gradient_ = v;
    Changed(TLookChange::Face);
}

void TVexCustomLookStyle::SetGradStartColor(TColor v) {
    if (v == gradStartColor_) return;
    gradStartColor_ = v;
    Changed(TLookChange::Face);
}

void TVexCustomLookStyle::SetGradStartDownColor(TColor v) {
    if (v == gradStartDownColor_) return;
    gradStartDownColor_ = v;
    Changed(TLookChange::Face);
}

void TVexCustomLookStyle::SetGradStartHighlightColor(TColor v) {
    if (v == gradStartHighlightColor_) return;
    gradStartHighlightColor_ = v;
    Changed(TLookChange::Face);
}

void TVexCustomLookStyle::SetStyle(TVexStyle v) {
    if (v == style_) return;
    style_ = v;
    Changed(TLookChange::Face);
}
