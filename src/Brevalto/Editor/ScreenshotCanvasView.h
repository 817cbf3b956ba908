#pragma once

#include <QWidget>

namespace brevalto {

// The editor's drawing canvas. It handles Escape itself, so the panel leaves that key to it
// while it has the keyboard focus.
class ScreenshotCanvasView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
};

}  // namespace brevalto
