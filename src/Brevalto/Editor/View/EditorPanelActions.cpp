// The commands of the editor's Export options, Composition, Resize and Color & contrast pages.
#include "Editor/View/ScreenshotEditorView.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotRenderer.h"
#include "Document/BeforeFrame.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/ColorMeasurement.h"
#include "Editor/CompositionLayout.h"
#include "Errors/ScreenshotError.h"

#include <future>

namespace brevalto {

void ScreenshotEditorView::saveBeforeAfterGIF() {
    const ScreenshotDocument& document = session_->document();
    // The editor waits for both frames; the before frame renders beside the after frame.
    std::future<QImage> before = std::async(std::launch::async, [folder = session_->directory(),
                                                                 frame = BeforeFrame::document(document)] {
        return ScreenshotRenderer::render(frame, folder, true, false);
    });
    QImage after;
    try {
        after = session_->renderNow(true);
    } catch (...) {
        before.wait();
        throw;
    }
    const QImage first = before.get();
    const QByteArray gif = ScreenshotOutput::beforeAfterGIF(first, after, state_.gifDuration);
    ScreenshotOutput::save(gif, ScreenshotOutput::ContentType::gif, QStringLiteral("Screenshot"), *dialogs_,
                           controller_ ? controller_->saveFolder() : std::nullopt);
}

void ScreenshotEditorView::setComposition(bool vertical, double spacing, double alignment) {
    if (vertical == state_.vertical && spacing == state_.spacing && alignment == state_.alignment) return;
    state_.vertical = vertical;
    state_.spacing = spacing;
    state_.alignment = alignment;
    if (controller_) {
        controller_->verticalComposition = vertical;
        controller_->compositionSpacing = spacing;
        controller_->compositionAlignment = alignment;
    }
    canvas_->setDropLayout(vertical, spacing, alignment);
}

void ScreenshotEditorView::applyLayoutChange(const std::function<void(ScreenshotDocument&)>& change) {
    attemptSession([](ScreenshotDocumentSession& s) { s.commitGesture(); });
    ScreenshotDocument document = session_->document();
    change(document);  // may refuse before anything changed
    session_->beginGesture();
    session_->setDocument(std::move(document));
    session_->commitGesture();
}

void ScreenshotEditorView::arrangeImageLayers() {
    const State& s = state_;
    applyLayoutChange([&s](ScreenshotDocument& document) {
        CompositionLayout::arrangeImageLayers(document, s.vertical, s.spacing, s.alignment);
    });
}

void ScreenshotEditorView::expandCanvasToObjects() {
    attempt([this] { applyLayoutChange(CompositionLayout::expandCanvasToObjects); });
}

void ScreenshotEditorView::applyDimensions() {
    const QSizeF size = CompositionLayout::dimensions(session_->document().canvas, state_.width, state_.height,
                                                      state_.aspect, state_.editedWidth);
    attemptSession([size](ScreenshotDocumentSession& s) { s.resize(size.width(), size.height()); });
}

void ScreenshotEditorView::applyPercent() {
    const QSizeF size = CompositionLayout::percentSize(session_->document().canvas, state_.percent);
    session_->resize(size.width(), size.height());
}

void ScreenshotEditorView::sampleColor(bool foreground) {
    const ScreenshotDocument& document = session_->document();
    const QImage rendered = session_->renderNow(false);
    std::optional<QRectF> selectedFrame;
    if (const std::optional<ScreenshotLayer> layer = session_->selectedLayer()) selectedFrame = layer->frame;
    const QRectF area = ColorMeasurement::sampleArea(document, session_->selection(), selectedFrame);
    const std::optional<ScreenshotColor::RGBA> color = ColorMeasurement::sample(rendered, area, state_.sampleMode);
    if (!color) throw ScreenshotError(ColorMeasurement::kNothingToSampleMessage);
    (foreground ? state_.foreground : state_.background) = *color;
}

}  // namespace brevalto
