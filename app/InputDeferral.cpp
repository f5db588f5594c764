#include "InputDeferral.h"

#include <QCoreApplication>
#include <QEvent>

InputDeferral::InputDeferral(QObject* parent) : QObject(parent) {
    QCoreApplication::instance()->installEventFilter(this);
}

InputDeferral::~InputDeferral() {
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

InputDeferral::Hold::Hold(InputDeferral& deferral) : deferral_(deferral) {
    ++deferral_.holds_;
}

InputDeferral::Hold::~Hold() {
    --deferral_.holds_;
}

bool InputDeferral::IsUserInput(const QEvent& event) {
    switch (event.type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Enter:
        case QEvent::Leave:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::TabletEnterProximity:
        case QEvent::TabletLeaveProximity:
        case QEvent::NativeGesture:
            return true;
        default:
            return false;
    }
}

bool InputDeferral::eventFilter(QObject* receiver, QEvent* event) {
    // Only what the window system delivers is held back: a replayed event is delivered with
    // no hold on, and events the program sends itself are not the user's.
    if (holds_ == 0 || !event->spontaneous() || !IsUserInput(*event)) return false;
    kept_.push_back({receiver, std::unique_ptr<QEvent>(event->clone())});
    return true;
}

void InputDeferral::Replay() {
    while (!kept_.empty()) {
        HeldEvent next = std::move(kept_.front());
        kept_.pop_front();
        // Delivered as it came from the window system (spontaneous), as the first delivery
        // would have been; sendEvent would mark it as sent by the program.
        if (next.receiver) QCoreApplication::instance()->notify(next.receiver, next.event.get());
    }
}

void InputDeferral::Drop() {
    kept_.clear();
}
