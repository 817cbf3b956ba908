#pragma once

#include "Panel/PanelController.h"

#include <QString>
#include <QWidget>

#include <cstddef>
#include <optional>

class QLabel;
class QToolButton;

namespace brevalto {

class ClipboardView;

// The row under the clip list: the button that empties the image group, the capture status line,
// and "Enable Capture" while the desktop restricts clipboard access.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(ClipboardView& view, QWidget* parent = nullptr);

    // "Capture paused" while paused, otherwise the store's message.
    static QString statusText(bool paused, const QString& message);
    // "Clear N selected".
    static QString clearSelectionText(std::size_t count);

    void refresh();
    // Asks for the clipboard once and catches up with it at once.
    void enableCapture();

private:
    ClipboardView& view_;
    QToolButton* clearSelection_;
    QLabel* text_;
    QToolButton* enableCapture_;
};

// The title row above the image-AI and region-translation workspaces, with "Done".
class WorkspaceHeader : public QWidget {
    Q_OBJECT
public:
    explicit WorkspaceHeader(PanelController& controller, QWidget* parent = nullptr);

    // The title of a workspace kind; none for the editor, which shows no header.
    static std::optional<QString> title(PanelController::Workspace::Kind kind);

    void refresh();

private:
    PanelController& controller_;
    QLabel* title_;
};

}  // namespace brevalto
