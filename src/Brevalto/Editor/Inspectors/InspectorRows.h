#pragma once

#include <QColor>
#include <QColorDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>

namespace brevalto::InspectorRows {

// The pages' small building blocks: the caption and headline texts, buttons that never take the
// sheet's default (Return closes the sheet), labelled rows and colour swatches.

inline QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    return label;
}

inline QLabel* headline(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

inline QPushButton* button(const QString& text, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

// A page: a top-aligned vertical stack without margins.
inline QVBoxLayout* pageStack(QWidget* page, const QString& name, int spacing = 8) {
    page->setObjectName(name);
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(spacing);
    stack->setAlignment(Qt::AlignTop);
    return stack;
}

// The label and its control on one row; the label also names the control for assistive tools.
inline void labelled(QVBoxLayout* stack, const QString& label, QWidget* control) {
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(label, control->parentWidget()));
    row->addWidget(control, 1);
    control->setAccessibleName(label);
    stack->addLayout(row);
}

inline void paintSwatch(QPushButton* swatch, const QColor& c) {
    swatch->setStyleSheet(QStringLiteral("background-color: rgba(%1, %2, %3, %4); min-width: 40px;")
                              .arg(c.red())
                              .arg(c.green())
                              .arg(c.blue())
                              .arg(c.alpha()));
}

// A swatch that opens a colour dialog on the current colour; every colour chosen in it is
// reported in sRGB (and painted), and cancelling reports the colour it started from again.
inline QPushButton* colorSwatch(const QString& name, std::function<QColor()> current, bool alpha,
                                std::function<void(const QColor&)> picked, QWidget* parent) {
    auto* swatch = button({}, name, parent);
    paintSwatch(swatch, current());
    QObject::connect(swatch, &QPushButton::clicked, swatch, [name, swatch, current, alpha, picked] {
        const QColor before = current();
        auto* dialog = new QColorDialog(before, swatch->window());
        dialog->setObjectName(name + QStringLiteral("Dialog"));
        dialog->setOption(QColorDialog::ShowAlphaChannel, alpha);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        auto report = [swatch, picked](const QColor& color) {
            picked(color);
            paintSwatch(swatch, color);
        };
        QObject::connect(dialog, &QColorDialog::currentColorChanged, swatch, [report, alpha](const QColor& color) {
            QColor rgb = color.toRgb();
            if (!alpha) rgb.setAlpha(255);
            report(rgb);
        });
        QObject::connect(dialog, &QColorDialog::rejected, swatch, [report, before] { report(before); });
        dialog->open();
    });
    return swatch;
}

}  // namespace brevalto::InspectorRows
