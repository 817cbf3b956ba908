#pragma once

#include "Panel/ScreenshotActions.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstddef>

class QAction;
class QLabel;
class QMenu;
class QToolButton;

namespace brevalto {

class ClipboardView;

// The top row of the expanded panel: the product's name and glyph on the left, an empty gap as
// wide as the camera housing, and on the right the capture menu, the item count, pause and
// resume of clipboard capture, the more-actions menu (settings, clear all, quit) and the
// collapse button. It keeps no state of its own and follows the store and the controller.
class PanelHeader : public QWidget {
    Q_OBJECT
public:
    explicit PanelHeader(ClipboardView& view, QWidget* parent = nullptr);

    // "N items", for every clip of the store whatever the search shows.
    static QString countText(std::size_t count);

    // Follows the store (count, pause, clear-all), the geometry (gap) and the screenshot side
    // (the capture menu exists only while it is alive).
    void rebuild();
    // Collapses the panel and asks the app's dispatcher to open the settings window; a refused
    // request is dropped silently.
    void openSettings();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildCaptureMenu(ScreenshotActions* actions);

    ClipboardView& view_;
    QWidget* gap_;
    QToolButton* capture_;
    QMenu* captureMenu_ = nullptr;
    QPointer<ScreenshotActions> captureTarget_;
    QLabel* count_;
    QToolButton* pause_;
    QToolButton* more_;
    QAction* clearAll_;
    QToolButton* collapse_;
};

}  // namespace brevalto
