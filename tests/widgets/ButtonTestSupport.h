#pragma once

#include <QTest>
#include <QWidget>

#include "VexButton.h"

// A "START" button of the window's size and look (102 x 40, highlight in the face colour),
// shown in an active window with the focus on it. False when the window or the focus did not
// come.
inline bool ShowFocusedStartButton(QWidget& window, TVexButton*& button) {
    window.resize(200, 100);
    button = new TVexButton(&window);
    button->setText("START");
    button->LookStyle().SetHighlightColor(clBtnFace);
    button->setGeometry(10, 10, 102, 40);
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) return false;
    button->setFocus();
    return QTest::qWaitFor([button] { return button->hasFocus(); });
}
