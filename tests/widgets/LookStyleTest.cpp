#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "VexLookStyle.h"

namespace {

using Changes = std::vector<TLookChange>;
constexpr TLookChange kFace = TLookChange::Face;
constexpr TLookChange kButtonColor = TLookChange::ButtonColor;

// What the owner of a fresh look style is told while `write` runs.
Changes ToldOwner(const std::function<void(TVexLookStyle&)>& write) {
    Changes told;
    TVexLookStyle style([&told](TLookChange change) { told.push_back(change); });
    write(style);
    return told;
}

struct Case {
    const char* what;
    std::function<void(TVexLookStyle&)> write;
    Changes told;
};

// The button repaints on a face change and makes its glyph images anew on a new button colour;
// a write that changes nothing, or a property read only while painting, tells nothing.
TEST(LookStyleTest, TellsItsOwnerWhatAWriteChanged) {
    const Case cases[] = {
        {"always show border", [](TVexLookStyle& s) { s.SetAlwaysShowBorder(true); }, {kFace}},
        {"border colour", [](TVexLookStyle& s) { s.SetBorderColor(clRed); }, {kFace}},
        {"gradient", [](TVexLookStyle& s) { s.SetGradient(true); }, {kFace}},
        {"gradient start", [](TVexLookStyle& s) { s.SetGradStartColor(clAqua); }, {kFace}},
        {"gradient start down", [](TVexLookStyle& s) { s.SetGradStartDownColor(clNavy); }, {kFace}},
        {"gradient start hot",
         [](TVexLookStyle& s) { s.SetGradStartHighlightColor(clLime); },
         {kFace}},
        {"style", [](TVexLookStyle& s) { s.SetStyle(vls3D); }, {kFace}},
        {"button colour", [](TVexLookStyle& s) { s.SetButtonColor(clTeal); }, {kButtonColor}},
        {"each write once",
         [](TVexLookStyle& s) {
             s.SetStyle(vlsFlat);
             s.SetStyle(vlsFlat);
             s.SetButtonColor(clTeal);
             s.SetButtonColor(clTeal);
         },
         {kFace, kButtonColor}},
        {"same values",
         [](TVexLookStyle& s) {
             s.SetAlwaysShowBorder(false);
             s.SetBorderColor(clWindowFrame);
             s.SetButtonColor(clBtnFace);
             s.SetGradient(false);
             s.SetGradStartColor(clDefault);
             s.SetStyle(vlsUltraFlat);
         },
         {}},
        {"paint-time colours and flags",
         [](TVexLookStyle& s) {
             s.SetDownColor(clGreen);
             s.SetDownTextColor(clWhite);
             s.SetHighlightColor(clBtnFace);
             s.SetHighlightTextColor(clMaroon);
             s.SetHighlightOnFocused(false);
             s.SetHighlightTrack(false);
         },
         {}},
        {"assigned style",
         [](TVexLookStyle& s) {
             TVexLookStyle source;
             source.SetButtonColor(clYellow);
             source.SetDownColor(clGreen);
             source.SetStyle(vlsFlat);
             s.Assign(source);
         },
         {kButtonColor, kFace}},
        {"assigned to itself", [](TVexLookStyle& s) { s.Assign(s); }, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ToldOwner(c.write), c.told) << c.what;
}

}  // namespace
