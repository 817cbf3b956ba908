#pragma once

#include <QRectF>
#include <QWidget>

#include <array>

namespace brevalto {

class DecimalField;
class ScreenshotDocumentSession;

// Types the selection rectangle in image pixels: four fields over a local copy, handed to the
// session only by "Apply selection", which the session checks; a refusal goes to the status line
// and leaves the typed values. A new selection from the session replaces unapplied values.
class ScreenshotSelectionInspector : public QWidget {
    Q_OBJECT
public:
    ScreenshotSelectionInspector(ScreenshotDocumentSession& session, const QRectF& rect, QWidget* parent = nullptr);

    const QRectF& edited() const { return edited_; }
    void setRect(const QRectF& rect);
    void applySelection();

private:
    DecimalField* pixelField(const QString& label, void (QRectF::*set)(qreal), qreal (QRectF::*get)() const);

    ScreenshotDocumentSession& session_;
    QRectF edited_;
    std::array<DecimalField*, 4> fields_{};
};

}  // namespace brevalto
