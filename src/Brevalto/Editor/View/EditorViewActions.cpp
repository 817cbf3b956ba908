// The editor view's commands: copying, saving, pinning, the backdrop, the zoom and size readouts,
// the selection bar and the More menu's own handlers.
#include "Editor/View/ScreenshotEditorView.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"
#include "Platform/Pasteboard.h"

#include <QFileInfo>

#include <cmath>

namespace brevalto {

void ScreenshotEditorView::copyHoverColor() {
    const auto color = session_->hoverColor();
    if (!color) {
        session_->setStatus(noHoverColorStatus);
        return;
    }
    if (!controller_) return;
    const QString hex = QString::fromStdString(color->hex());
    PasteboardItem item;
    item.setString(PasteboardType::string, hex);
    if (!controller_->board().write(item)) {
        session_->setStatus(QString::fromUtf8(ScreenshotOutput::kClipboardMessage));
        return;
    }
    session_->setStatus(QStringLiteral("Copied ") + hex + QLatin1Char('.'));
}

void ScreenshotEditorView::copyImage() {
    if (!controller_) return;
    attemptOutput(Output::copy, [this] {
        const QImage image = controller_->selectionImage(false, true);
        const QByteArray png =
            ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, Qt::white, false, 1, 0.9);
        PasteboardItem item;
        item.setData(PasteboardType::png, png);
        ScreenshotOutput::writeToPasteboard(std::move(item), controller_->board());
        session_->setStatus(copiedImageStatus);
    });
}

void ScreenshotEditorView::saveImage(bool copyURL) {
    if (!controller_) throw ScreenshotError(ScreenshotEditorController::noDocumentMessage.toStdString());
    const QImage image = controller_->selectionImage(true, true);
    const double scale = state_.oneX ? session_->document().sourceScale : 1;
    const QByteArray data =
        ScreenshotOutput::encode(image, state_.format, state_.jpegBackground, state_.srgb, scale, state_.quality);
    const std::optional<QUrl> saved = ScreenshotOutput::save(data, ScreenshotOutput::contentType(state_.format),
                                                             QStringLiteral("Screenshot"), *dialogs_,
                                                             controller_->saveFolder());
    if (!saved) return;  // cancelled: no message
    if (copyURL) ScreenshotOutput::copyFileURL(*saved, controller_->board());
    session_->setStatus(savedStatus(*saved));
}

QString ScreenshotEditorView::savedStatus(const QUrl& file) {
    return QStringLiteral("Saved ") + QFileInfo(file.toLocalFile()).fileName() +
           QStringLiteral(". The file is yours; thumbnail and history cleanup will not delete it.");
}

void ScreenshotEditorView::pinReference() {
    if (controller_) attemptOutput(Output::pin, [this] { controller_->pinReference(); });
}

void ScreenshotEditorView::toggleBackdrop() {
    setShowBackdrop(!showBackdrop_);
}

void ScreenshotEditorView::applyBackdrop(const ScreenshotBackdrop& backdrop) {
    const ScreenshotBackdrop& current = session_->document().backdrop;
    if (backdrop == current) return;
    ScreenshotBackdrop enabled = backdrop;
    enabled.enabled = true;
    if (enabled == current) return;
    session_->beginGesture();
    ScreenshotDocument document = session_->document();
    document.backdrop = enabled;
    session_->setDocument(std::move(document));
    session_->scheduleRender();
}

void ScreenshotEditorView::removeBackdrop() {
    session_->beginGesture();
    ScreenshotDocument document = session_->document();
    document.backdrop.enabled = false;
    session_->setDocument(std::move(document));
    session_->scheduleRender();
    setShowBackdrop(false);
}

void ScreenshotEditorView::applySmartCandidate() {
    session_->setSelectionRect(session_->smartCandidate());
    session_->setSmartCandidate(std::nullopt);
}

void ScreenshotEditorView::cancelSmartCandidate() {
    session_->cancelSmartSelection();
    session_->setSmartCandidate(std::nullopt);
}

void ScreenshotEditorView::toggleZoom() {
    session_->sendViewport(std::abs(session_->zoom() - 1) >= 0.001 ? QStringLiteral("actual") : QStringLiteral("fit"));
}

QString ScreenshotEditorView::sizeText() const {
    QSizeF size;
    if (const auto selection = session_->selection()) {
        size = selection->size();
    } else {
        const ScreenshotDocument& document = session_->document();
        size = document.crop ? document.crop->size() : document.canvas;
        if (document.backdrop.enabled) {
            const double margin = ScreenshotRenderer::backdropMargin(document.backdrop);
            size += QSizeF(2 * margin, 2 * margin);
        }
    }
    // Whole numbers, the fraction dropped.
    return QStringLiteral("%1\u00D7%2 px").arg(static_cast<long long>(size.width())).arg(static_cast<long long>(size.height()));
}

void ScreenshotEditorView::copySelection() {
    if (!controller_) return;
    attemptOutput(Output::copy, [this] {
        ScreenshotOutput::copyImage(controller_->selectionImage(true, true), controller_->board());
        session_->setStatus(copiedSelectionStatus);
    });
}

ScreenshotLayer ScreenshotEditorView::coverLayer(ScreenshotLayerKind kind, const QRectF& frame) {
    ScreenshotLayer layer;
    layer.kind = kind;
    layer.frame = frame;
    layer.style = ScreenshotStyle{};
    layer.style.stroke = {0.9, 0.15, 0.12, 1.0};
    const bool redact = rawValue(kind) == "redact";
    layer.style.fill = redact ? ScreenshotColor::RGBA{0, 0, 0, 1} : ScreenshotColor::RGBA{1, 1, 1, 1};
    layer.style.filled = redact;
    layer.style.strokeWidth = 3;
    layer.style.fontSize = 24;
    layer.style.fontName = "Helvetica";
    layer.style.opacity = 1;
    layer.style.handDrawn = false;
    layer.rotation = 0;
    layer.value = 2;
    layer.hidden = false;
    return layer;
}

void ScreenshotEditorView::coverSelection(ScreenshotLayerKind kind) {
    const auto selection = session_->selection();
    if (!selection) return;
    const ScreenshotLayer layer = coverLayer(kind, *selection);
    // A save that fails leaves the document and the selection as they were, with the reason shown.
    bool added = false;
    attemptSession([&](ScreenshotDocumentSession& s) {
        s.addLayer(layer);
        added = true;
    });
    if (added) session_->setSelectionRect(std::nullopt);
}

void ScreenshotEditorView::cancelSelection() { session_->setSelectionRect(std::nullopt); }

void ScreenshotEditorView::resetCrop() {
    attemptSession([](ScreenshotDocumentSession& s) { s.commitGesture(); });
    session_->beginGesture();
    ScreenshotDocument document = session_->document();
    document.crop.reset();
    session_->setDocument(std::move(document));
    attemptSession([](ScreenshotDocumentSession& s) { s.commitGesture(); });
}

void ScreenshotEditorView::autoAdjustSelection() {
    const auto selection = session_->selection();
    if (!selection) {
        session_->setStatus(selectFirstStatus);
        return;
    }
    session_->startSmartSelection(selection->center().x(), selection->center().y());
}

void ScreenshotEditorView::cancelMaskOCR() {
    if (!controller_) return;
    TaskHandle task = controller_->ocrTask();
    task.cancel();
    if (controller_->session()) controller_->session()->setStatus(masksCancelledStatus);
}

void ScreenshotEditorView::printImage() {
    if (!controller_) return;
    attemptOutput(Output::print,
                  [this] { ScreenshotOutput::print(controller_->selectionImage(true, true), *dialogs_); });
}

}  // namespace brevalto
