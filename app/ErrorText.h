#pragma once

#include <QString>

// Text of the error box for a failure that escaped a handler: a full stop is added when the
// code of the last character is above that of the full stop (so not after '.', ',', '-',
// ')' or a blank).
inline QString WithFullStop(const QString& text) {
    if (!text.isEmpty() && text.back().unicode() > u'.') return text + u'.';
    return text;
}
