#pragma once

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QWidget>

#include <string>
#include <utility>
#include <vector>

namespace brevalto {

// What assistive technology reads as the name of each control (button, slider, spin box,
// picker) under the widget, by object name.
inline std::vector<std::pair<std::string, std::string>> accessibleControlNames(const QWidget& root) {
    std::vector<std::pair<std::string, std::string>> names;
    for (QWidget* control : root.findChildren<QWidget*>())
        if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QAbstractSlider*>(control) ||
            qobject_cast<QAbstractSpinBox*>(control) || qobject_cast<QComboBox*>(control))
            names.emplace_back(control->objectName().toStdString(),
                               QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).toStdString());
    return names;
}

}  // namespace brevalto
