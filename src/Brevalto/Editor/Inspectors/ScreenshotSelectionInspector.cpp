#include "Editor/Inspectors/ScreenshotSelectionInspector.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Inspectors/DecimalField.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace brevalto {

ScreenshotSelectionInspector::ScreenshotSelectionInspector(ScreenshotDocumentSession& session, const QRectF& rect,
                                                           QWidget* parent)
    : QWidget(parent), session_(session), edited_(rect) {
    setObjectName(QStringLiteral("selectionInspector"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    auto* heading = new QLabel(QStringLiteral("Selection pixels"), this);
    QFont headline = heading->font();
    headline.setBold(true);
    heading->setFont(headline);
    stack->addWidget(heading);
    auto* rows = new QFormLayout;
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setVerticalSpacing(6);
    // Setting x or y keeps the size (moveLeft/moveTop), as the rectangle's components are kept apart.
    rows->addRow(QStringLiteral("X"), fields_[0] = pixelField(QStringLiteral("X"), &QRectF::moveLeft, &QRectF::x));
    rows->addRow(QStringLiteral("Y"), fields_[1] = pixelField(QStringLiteral("Y"), &QRectF::moveTop, &QRectF::y));
    rows->addRow(QStringLiteral("Width"),
                 fields_[2] = pixelField(QStringLiteral("Width"), &QRectF::setWidth, &QRectF::width));
    rows->addRow(QStringLiteral("Height"),
                 fields_[3] = pixelField(QStringLiteral("Height"), &QRectF::setHeight, &QRectF::height));
    stack->addLayout(rows);
    auto* apply = new QPushButton(QStringLiteral("Apply selection"), this);
    apply->setObjectName(QStringLiteral("applySelection"));
    apply->setAutoDefault(false);
    connect(apply, &QPushButton::clicked, this, &ScreenshotSelectionInspector::applySelection);
    stack->addWidget(apply, 0, Qt::AlignLeft);
}

DecimalField* ScreenshotSelectionInspector::pixelField(const QString& label, void (QRectF::*set)(qreal),
                                                       qreal (QRectF::*get)() const) {
    auto* field = new DecimalField(QStringLiteral("Selection ") + label, (edited_.*get)(), this);
    field->setAccessibleName(QStringLiteral("Selection ") + label);
    connect(field, &DecimalField::valueEdited, this, [this, set](double value) {
        QRectF copy = edited_;
        (copy.*set)(value);
        edited_ = copy;
    });
    return field;
}

void ScreenshotSelectionInspector::setRect(const QRectF& rect) {
    edited_ = rect;
    fields_[0]->setValue(rect.x());
    fields_[1]->setValue(rect.y());
    fields_[2]->setValue(rect.width());
    fields_[3]->setValue(rect.height());
}

void ScreenshotSelectionInspector::applySelection() {
    try {
        session_.setSelection(edited_);
    } catch (const std::exception& error) {
        session_.setStatus(QString::fromUtf8(error.what()));
    }
}

}  // namespace brevalto
