#pragma once

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <string>

// A fresh, empty working directory for one window test: the program's base directory.
// The previous working directory comes back when it goes.
class TempWorkDir {
  public:
    explicit TempWorkDir(const std::string& tag)
        : previous_(std::filesystem::current_path()),
          path_(std::filesystem::temp_directory_path() /
                ("tandel-" + tag + "-" + std::to_string(QCoreApplication::applicationPid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        std::filesystem::current_path(path_);
    }
    ~TempWorkDir() {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(path_);
    }
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    void Write(const std::filesystem::path& relative, const std::string& bytes) const {
        std::filesystem::create_directories((path_ / relative).parent_path());
        std::ofstream(path_ / relative, std::ios::binary) << bytes;
    }

  private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

// A control of the window by its name; a missing one ends the test program.
template <typename T>
T* FindControl(QWidget* window, const char* name) {
    auto* child = window->findChild<T*>(name);
    if (!child) qFatal("no control %s", name);
    return child;
}

// The lines of the programming page's status log.
inline QStringList StatusLog(QWidget* window) {
    const QString text = FindControl<QPlainTextEdit>(window, "Memo2")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

inline void ClickButton(QWidget* window, const char* name) {
    QTest::mouseClick(FindControl<QPushButton>(window, name), Qt::LeftButton);
}

// Shows the window and waits for its first activation (which runs the start-up work).
inline bool ShowAndActivate(QWidget* window) {
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}
