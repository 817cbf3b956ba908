#pragma once

#include "Document/ScreenshotLayer.h"

#include <QString>
#include <QWidget>

#include <optional>

class QPlainTextEdit;

namespace brevalto {

class DecimalField;
class ScreenshotDocumentSession;

// Edits the selected layer by numbers: position, size, rotation, the kind's value, the text of
// text-bearing layers and its place in the list; duplicates and deletes it. Field edits go into the
// document at once and join one undo step, closed when the text editor loses the focus, when the
// inspector goes away (commitPending) or by the session's next edit.
class ScreenshotObjectInspector : public QWidget {
    Q_OBJECT
public:
    ScreenshotObjectInspector(ScreenshotDocumentSession& session, ScreenshotLayer layer, QWidget* parent = nullptr);

    const ScreenshotLayer& layer() const { return layer_; }
    // The host hands over the layer as it is now whenever the document changes.
    void setLayer(const ScreenshotLayer& layer);

    void updateText(const QString& text);
    void commitText();
    void applyGeometry();
    void commitPending();
    void duplicate();
    void remove();
    void move(int step);

    // The number a counter's text stands for: an optional sign, then digits only.
    static std::optional<long long> counterNumber(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadFields();
    void report(const std::exception& error);
    std::optional<std::size_t> index() const;

    ScreenshotDocumentSession& session_;
    ScreenshotLayer layer_;
    QString text_;
    double x_, y_, width_, height_, rotation_, value_;
    QPlainTextEdit* editor_ = nullptr;
    DecimalField* fields_[6] = {};
    bool loading_ = false;
};

}  // namespace brevalto
