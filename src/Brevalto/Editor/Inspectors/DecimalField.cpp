#include "Editor/Inspectors/DecimalField.h"

#include <QEvent>
#include <QLocale>

#include <cmath>
#include <optional>

namespace brevalto {

DecimalField::DecimalField(const QString& objectName, double value, QWidget* parent)
    : QLineEdit(parent), value_(value) {
    setObjectName(objectName);
    display(value);
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        const std::optional<double> number = read(text, locale());
        if (!number || (accepts_ && !accepts_(*number))) return;
        value_ = *number;
        emit valueEdited(*number);
    });
    connect(this, &QLineEdit::editingFinished, this, [this] {
        if (accepts_) display(value_);
    });
}

std::optional<double> DecimalField::read(const QString& text, const QLocale& locale) {
    bool ok = false;
    const double number = locale.toDouble(text.trimmed(), &ok);
    if (!ok) return std::nullopt;
    return number;
}

void DecimalField::setValue(double value) {
    value_ = value;
    display(value);
}

void DecimalField::display(double value) {
    // At most three decimals, as a number is written for reading (the value itself keeps them all).
    double shown = std::abs(value) < 1e15 ? std::round(value * 1000) / 1000 : value;
    if (shown == 0) shown = 0;  // no "-0"
    setText(locale().toString(shown, 'g', QLocale::FloatingPointShortest));
}

void DecimalField::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        display(value_);  // the last number read, written the new way
    }
}

}  // namespace brevalto
