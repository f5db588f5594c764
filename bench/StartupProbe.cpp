// Loaded into the program by `tandel-bench startup` (LD_PRELOAD). It reports on stdout, as
// "name nanoseconds" of CLOCK_MONOTONIC, the moments of the window's start-up, then quits:
//   app      the application object exists
//   shown    the main window receives its first show event
//   painted  the main window is first painted
//   ready    the first activation has been handled (the start-up work has run)
//   devices  the number of device types the window lists (not a time)
// The program itself is the unchanged release binary.

#include <time.h>

#include <QApplication>
#include <QEvent>
#include <QListWidget>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {

void Mark(const char* what, long long value) {
    std::printf("%s %lld\n", what, value);
    std::fflush(stdout);
}

long long NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

class StartupWatch : public QObject {
  public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!watched->isWidgetType() || watched->objectName() != "Form1") return false;
        auto* window = static_cast<QWidget*>(watched);
        switch (event->type()) {
            case QEvent::Show:
                if (!shown_) Mark("shown", NowNs());
                shown_ = true;
                break;
            case QEvent::Paint:
                if (!painted_) Mark("painted", NowNs());
                painted_ = true;
                QuitWhenDone();
                break;
            case QEvent::WindowActivate:
                // Runs once the window has handled the activation (and its start-up work).
                if (!activated_) {
                    activated_ = true;
                    QTimer::singleShot(0, this, [this, window] {
                        Mark("ready", NowNs());
                        const auto* list = window->findChild<QListWidget*>("ListBox2");
                        Mark("devices", list != nullptr ? list->count() : -1);
                        ready_ = true;
                        QuitWhenDone();
                    });
                }
                break;
            default:
                break;
        }
        return false;
    }

  private:
    void QuitWhenDone() {
        if (ready_ && painted_) QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

    bool shown_ = false;
    bool painted_ = false;
    bool activated_ = false;
    bool ready_ = false;
};

void Install() {
    Mark("app", NowNs());
    qApp->installEventFilter(new StartupWatch(qApp));
    // A window that never shows or activates must not hold the benchmark.
    QTimer::singleShot(10000, qApp, &QCoreApplication::quit);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
