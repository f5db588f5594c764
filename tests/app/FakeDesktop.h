#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "DesktopServices.h"

// Answers the window's boxes in code and records what they said.
class FakeDesktop : public DesktopServices {
  public:
    struct Box {
        QString kind;  // "information", "error", "message", "question"
        QString title;
        QString text;
        QString detail;
    };
    void Information(const QString& title, const QString& text) override {
        boxes.push_back({"information", title, text, {}});
    }
    void Error(const QString& title, const QString& text) override {
        boxes.push_back({"error", title, text, {}});
    }
    void Message(const QString& text, const QString& detail) override {
        boxes.push_back({"message", "TANDEL", text, detail});
    }
    bool YesNo(const QString& caption, const QString& text) override {
        boxes.push_back({"question", caption, text, {}});
        return answerYes;
    }
    void OpenUrl(const QString& url) override { urls.push_back(url); }

    std::vector<Box> boxes;
    QStringList urls;
    bool answerYes = true;
};
