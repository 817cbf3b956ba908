#pragma once

class QWidget;

namespace brevalto {

class ScreenshotEditorView;

// The inspector's "Composition" page (how imports are laid out, arranging the image layers,
// growing the canvas, rasterizing) and its "Resize" page (new pixel dimensions or a percentage).
QWidget* compositionPage(ScreenshotEditorView& view);
QWidget* resizePage(ScreenshotEditorView& view);

}  // namespace brevalto
