#include "Panel/OCRActionButton.h"

#include "Platform/Symbols.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>

namespace brevalto {

OCRActionButton::OCRActionButton(std::function<void(bool)> action, bool shift, QWidget* parent)
    : QToolButton(parent), action_(std::move(action)), shift_(shift), poll_(new QTimer(this)) {
    poll_->setInterval(kPollIntervalMs);
    connect(poll_, &QTimer::timeout, this,
            [this] { setShift(QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier)); });
    connect(this, &QToolButton::clicked, this, [this] {
        const bool translate = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
        if (action_) action_(translate);
    });
    refreshLabel();
}

OCRActionButton::~OCRActionButton() {
    if (filtering_) qApp->removeEventFilter(this);
}

QString OCRActionButton::title(bool shift) {
    return shift ? QStringLiteral("OCR and translate") : QStringLiteral("OCR");
}

QString OCRActionButton::symbol(bool shift) {
    return shift ? QStringLiteral("translate") : QStringLiteral("text.viewfinder");
}

void OCRActionButton::setShift(bool shift) {
    if (shift_ == shift) return;
    shift_ = shift;
    refreshLabel();
}

bool OCRActionButton::polling() const {
    return poll_->isActive();
}

void OCRActionButton::refreshLabel() {
    setText(title(shift_));
    setIcon(Symbols::icon(symbol(shift_), QColor(255, 255, 255, 210)));
}

void OCRActionButton::updateTracking() {
    const bool visible = isVisible();
    const bool keyboard = visible && window()->isActiveWindow();
    // With the keyboard, Shift arrives as key events; without it, the keyboard is polled.
    if (keyboard != filtering_) {
        if (keyboard)
            qApp->installEventFilter(this);
        else
            qApp->removeEventFilter(this);
        filtering_ = keyboard;
    }
    if (visible && !keyboard) {
        if (!poll_->isActive()) {
            poll_->start();
            setShift(QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier));
        }
    } else {
        poll_->stop();
    }
}

bool OCRActionButton::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ActivationChange: {
        const bool handled = QToolButton::event(event);
        updateTracking();
        return handled;
    }
    default:
        return QToolButton::event(event);
    }
}

bool OCRActionButton::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Shift)
            setShift(event->type() == QEvent::KeyPress);
        else
            setShift(key->modifiers().testFlag(Qt::ShiftModifier));
    }
    return QToolButton::eventFilter(watched, event);
}

}  // namespace brevalto
