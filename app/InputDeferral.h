#pragma once

#include <QObject>
#include <QPointer>
#include <deque>
#include <memory>

class QEvent;

// Keeps the user's mouse, keyboard, wheel, touch and tablet input away from the window while a
// run blocks, and hands it over, in the order it came, at the run's next processing point.
//
// While a Hold is alive, every spontaneous input event is taken out of the delivery (the
// application event filter) and kept; everything else (paint, expose, timers, posted events,
// the window manager's ping, clipboard requests, the close of a window) goes on as usual.
// Replay delivers the kept events to their receivers that still exist.
class InputDeferral final : public QObject {
    Q_OBJECT
  public:
    explicit InputDeferral(QObject* parent = nullptr);
    ~InputDeferral() override;

    class Hold {
      public:
        explicit Hold(InputDeferral& deferral);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        InputDeferral& deferral_;
    };

    // Delivers the kept events. Input that a replayed event lets in (a handler that processes
    // events) comes after the rest, as it came later.
    void Replay();
    // Forgets the kept events.
    void Drop();
    size_t Kept() const { return kept_.size(); }

    // The event kinds that are the user's input.
    static bool IsUserInput(const QEvent& event);

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

  private:
    struct HeldEvent {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
    };
    int holds_ = 0;
    std::deque<HeldEvent> kept_;
};
