#pragma once

class QWidget;

namespace brevalto {

class ScreenshotEditorView;

// The inspector's "Export options" page: format, 1x, sRGB, JPEG quality and background, and the
// GIF frame time, bound to the editor view's export state that saving reads.
QWidget* exportOptionsPage(ScreenshotEditorView& view);

}  // namespace brevalto
