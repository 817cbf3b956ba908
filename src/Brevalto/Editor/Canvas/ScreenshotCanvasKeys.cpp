// The canvas's keys (tools by letter, undo, delete, nudge, crop, Escape, Tab) and image drops.
#include "Editor/Canvas/ScreenshotCanvasView.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/CanvasTools.h"
#include "Platform/KeyCodes.h"
#include "Platform/Pasteboard.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <algorithm>

namespace brevalto {

namespace {

using namespace CanvasTools;

}  // namespace

void ScreenshotCanvasView::deleteLayer(ScreenshotDocumentSession& session, const Uuid& id) {
    try {
        session.edit([&](ScreenshotDocument& d) {
            ScreenshotLayerList kept;
            for (const ScreenshotLayer& layer : d.layers)
                if (layer.id != id) kept.push_back(layer);
            d.layers = std::move(kept);
        });
    } catch (const std::exception& error) {
        session.setStatus(deleteFailedPrefix + QString::fromUtf8(error.what()));
        return;
    }
    session.setSelectedID(std::nullopt);
}

bool ScreenshotCanvasView::textFieldHasFocus() const {
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus == this) return false;
    return qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus) ||
           qobject_cast<QAbstractSpinBox*>(focus) || focus->testAttribute(Qt::WA_InputMethodEnabled);
}

void ScreenshotCanvasView::undo() { session_->undo(); }

void ScreenshotCanvasView::redo() { session_->redo(); }

void ScreenshotCanvasView::keyPressEvent(QKeyEvent* event) {
    // Keys typed into a text field, an input method's composition included, are never the canvas's.
    const std::optional<KeyPress> press = keyPressOf(*event);
    if (textFieldHasFocus() || !press || !handleKey(*press, static_cast<Qt::Key>(event->key()))) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool ScreenshotCanvasView::handleKey(const KeyPress& press, Qt::Key key) {
    ScreenshotDocumentSession& s = *session_;
    const bool shift = press.flags & KeyPress::shift, option = press.flags & KeyPress::option;
    const bool command = press.flags & KeyPress::command, control = press.flags & KeyPress::control;
    if (command && key == Qt::Key_Z) {
        if (shift)
            s.redo();
        else
            s.undo();
        return true;
    }
    if (press.code == KeyPress::deleteKey || press.code == KeyPress::forwardDelete) {
        if (const auto id = s.selectedID()) {
            deleteLayer(s, *id);
            update();
        }
        return true;
    }
    if (press.code == KeyPress::escape) {
        if (gesture_) resetGesture();
        if (s.selection() || s.smartCandidate() || s.selectedID()) {
            s.setSelectionRect(std::nullopt);
            s.cancelSmartSelection();
            s.setSmartCandidate(std::nullopt);
            s.setSelectedID(std::nullopt);
        } else if (close_) {
            close_();
        }
        return true;
    }
    if ((press.code == KeyPress::returnKey || press.code == KeyPress::keypadEnter) && s.selection()) {
        try {
            s.crop();
        } catch (const std::exception& error) {
            setStatus(error);
        }
        return true;
    }
    if (press.code == KeyPress::tab) {
        if (copyColor_) copyColor_();
        return true;
    }
    if (!command && !option && !control && key >= Qt::Key_A && key <= Qt::Key_Z) {
        if (const auto tool = toolForLetter(QChar(u'a' + (key - Qt::Key_A)))) {
            s.setSelectionRect(std::nullopt);
            s.selectTool(*tool);
            return true;
        }
    }
    if (const auto unit = arrowStep(press.code)) {
        const double step = shift ? 10 : 1;
        if (const auto selection = s.selection()) {
            QRectF r = *selection;
            if (option) {
                r.setWidth(std::max(r.width() + unit->x() * step, 1.0));
                r.setHeight(std::max(r.height() + unit->y() * step, 1.0));
            } else {
                r.translate(unit->x() * step, unit->y() * step);
            }
            s.setSelectionRect(r.intersected(canvasRect()));
        } else {
            try {
                s.nudgeSelected(unit->x(), unit->y(), step, option);
            } catch (const std::exception& error) {
                s.setStatus(QString::fromUtf8(error.what()));
            }
        }
        update();
        return true;
    }
    return false;
}

// ---- drop

std::vector<QImage> ScreenshotCanvasView::dropImages(const QMimeData& data) {
    PasteboardItem item;
    if (data.hasFormat(QStringLiteral("text/uri-list")))
        item.setData(PasteboardType::fileURL, data.data(QStringLiteral("text/uri-list")));
    if (data.hasFormat(QStringLiteral("image/png"))) item.setData(PasteboardType::png, data.data(QStringLiteral("image/png")));
    if (data.hasFormat(QStringLiteral("image/tiff")))
        item.setData(PasteboardType::tiff, data.data(QStringLiteral("image/tiff")));
    return ScreenshotDocumentSession::pasteboardImages({item});
}

bool ScreenshotCanvasView::importDrop(const QMimeData& data) {
    try {
        session_->importImages(dropImages(data), vertical_, spacing_, alignment_);
        return true;
    } catch (const std::exception& error) {
        setStatus(error);
        return false;
    }
}

void ScreenshotCanvasView::dragEnterEvent(QDragEnterEvent* event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ScreenshotCanvasView::dragMoveEvent(QDragMoveEvent* event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ScreenshotCanvasView::dropEvent(QDropEvent* event) {
    if (importDrop(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace brevalto
