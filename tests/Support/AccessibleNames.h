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
// picker) it reaches from the widget through the accessibility tree, by object name.
inline std::vector<std::pair<std::string, std::string>> accessibleControlNames(QObject& root) {
    std::vector<std::pair<std::string, std::string>> names;
    std::vector<QAccessibleInterface*> open{QAccessible::queryAccessibleInterface(&root)};
    while (!open.empty()) {
        QAccessibleInterface* node = open.back();
        open.pop_back();
        if (!node) continue;
        QObject* control = node->object();
        if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QAbstractSlider*>(control) ||
            qobject_cast<QAbstractSpinBox*>(control) || qobject_cast<QComboBox*>(control))
            names.emplace_back(control->objectName().toStdString(), node->text(QAccessible::Name).toStdString());
        // Children in their order: the last pushed is taken first.
        for (int i = node->childCount() - 1; i >= 0; --i) open.push_back(node->child(i));
    }
    return names;
}

}  // namespace brevalto
