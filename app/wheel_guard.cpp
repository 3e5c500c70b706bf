#include "app/wheel_guard.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace tessel::WheelGuard {

namespace {

class Filter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus())
            return false;
        // Ignored and filtered: the application offers a spontaneous wheel event to the parents
        // next, and the scroll area among them scrolls.
        event->ignore();
        return true;
    }
};

} // namespace

void install(QWidget* control) {
    if (control->focusPolicy() == Qt::WheelFocus)
        control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new Filter(control));
}

} // namespace tessel::WheelGuard
