#pragma once

#include "Editor/View/EditorTool.h"

#include <QPalette>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <optional>

class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace brevalto {

class ScreenshotDocument;
class ScreenshotDocumentSession;
class ScreenshotEditorView;
class ScreenshotObjectInspector;
struct ScreenshotLayer;
struct ScreenshotStyle;

// The editor's inspector sheet: while the view's panel holds a case, a 400 x 480 frame centred
// over the editor (which it blocks) with the panel's title, its page in a scroll area and "Done",
// the default button. Escape dismisses it like Done. Switching the panel replaces the page.
class InspectorSheet : public QWidget {
    Q_OBJECT
public:
    explicit InspectorSheet(ScreenshotEditorView& view);

    QFrame* frame() const { return frame_; }
    QWidget* page() const { return page_; }

    // The selection grown by the padding on every side, rounded outwards to whole pixels and
    // clipped to the visible image; none when the padding is out of range or too little is left.
    static std::optional<QRectF> paddedSelection(const QRectF& selection, double padding,
                                                 const ScreenshotDocument& document);
    void padSelection();
    // The selected layer takes the session's style, as one open step (not images).
    void applyStyleToSelectedLayer();
    void selectLayer(const ScreenshotLayer& layer);
    void toggleLayerHidden(const ScreenshotLayer& layer);
    // "Rectangle hello world…": the row label of a layer.
    static QString layerRowTitle(const ScreenshotLayer& layer);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showPanel(std::optional<EditorPanel> panel);
    ScreenshotObjectInspector* objectInspector() const;
    // The object page follows the selected layer's changes, and its removal.
    void followSelectedLayer();
    QWidget* buildPage(EditorPanel panel);
    QWidget* stylePage();
    QWidget* layersPage();
    QWidget* selectionPage();
    void refillLayers();
    void changeStyle(const std::function<void(ScreenshotStyle&)>& change);
    void close();
    void darken(QWidget* widget);

    ScreenshotEditorView& view_;
    ScreenshotDocumentSession& session_;
    QFrame* frame_ = nullptr;
    QLabel* title_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QPushButton* done_ = nullptr;
    QPointer<QWidget> page_;
    QPointer<QVBoxLayout> layerRows_;
    QPalette dark_;
    bool rebuildQueued_ = false;
};

}  // namespace brevalto
