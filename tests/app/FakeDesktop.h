#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>

#include "DesktopServices.h"

// Answers the window's boxes in code and records what they said.
class FakeDesktop : public DesktopServices {
  public:
    struct Box {
        QString kind;  // "information", "error", "alert", "message", "question", "ask"
        QString title;
        QString text;
        QString detail;
    };
    void Information(const QString& title, const QString& text, const QString& detail) override {
        boxes.push_back({"information", title, text, detail});
    }
    void Error(const QString& title, const QString& text, const QString& detail) override {
        boxes.push_back({"error", title, text, detail});
    }
    void Alert(const QString& title, const QString& text) override {
        boxes.push_back({"alert", title, text, {}});
    }
    void Message(const QString& text, const QString& detail) override {
        boxes.push_back({"message", "TANDEL", text, detail});
    }
    bool YesNo(const QString& caption, const QString& text) override {
        boxes.push_back({"question", caption, text, {}});
        return answerYes;
    }
    // A question left open: Answer() answers it, and it is gone once the window closes it.
    struct Open final : OpenQuestion {
        explicit Open(std::function<void(bool)>& a) : answer(a) {}
        ~Open() override { answer = nullptr; }
        std::function<void(bool)>& answer;
    };
    std::unique_ptr<OpenQuestion> Ask(const QString& caption, const QString& text, bool yesDefault,
                                      std::function<void(bool)> answered) override {
        boxes.push_back({"ask", caption, text, yesDefault ? "Yes" : "No"});
        answer = std::move(answered);
        return std::make_unique<Open>(answer);
    }
    bool Asking() const { return static_cast<bool>(answer); }
    void Answer(bool yes) { std::exchange(answer, nullptr)(yes); }
    void OpenUrl(const QString& url) override { urls.push_back(url); }

    std::vector<Box> boxes;
    QStringList urls;
    bool answerYes = true;
    std::function<void(bool)> answer;  // of the open question
};
