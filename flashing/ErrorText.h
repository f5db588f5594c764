#pragma once

#include <QString>

// Text of the error box for a failure that escaped a handler: a full stop is added when the
// code of the last character is above that of the full stop (so not after '.', ',', '-',
// ')' or a blank).
inline QString WithFullStop(const QString& text) {
    if (!text.isEmpty() && text.back().unicode() > u'.') return text + u'.';
    return text;
}

// Longest failure text an error box shows; a box must never grow past the screen.
inline constexpr qsizetype kErrorBoxTextLimit = 300;

// Text of the error box for a failure: with its full stop, and cut to kErrorBoxTextLimit
// characters ending in "..." when longer.
inline QString ErrorBoxText(const QString& text) {
    if (text.size() <= kErrorBoxTextLimit) return WithFullStop(text);
    qsizetype cut = kErrorBoxTextLimit;
    if (text.at(cut - 1).isHighSurrogate()) --cut;
    return text.left(cut) + QStringLiteral("...");
}
