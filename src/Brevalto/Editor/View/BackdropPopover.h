#pragma once

#include "Document/ScreenshotDocument.h"

#include <QFrame>

#include <array>

class QPushButton;
class QSlider;

namespace brevalto {

class ScreenshotDocumentSession;

// The backdrop popover under the toolbar's backdrop button: sliders for the margin, shadow,
// corner radius and angle, six gradient presets, the two gradient colours, "Remove" and "Done".
// It edits a working copy of the backdrop and hands every change on through backdropEdited, which
// the editor applies live inside one open undo step; however it closes (Done, Return, Escape, a
// click outside), it says closed, which ends that step.
class BackdropPopover : public QFrame {
    Q_OBJECT
public:
    struct Preset {
        double first[4];
        double second[4];
    };
    static const std::array<Preset, 6>& gradientPresets();

    // `session` tells whether the document has a backdrop to remove.
    BackdropPopover(ScreenshotDocumentSession& session, QWidget* parent);

    // Shows `backdrop` under the button, as the working copy that the controls edit.
    void showUnder(QWidget* button, const ScreenshotBackdrop& backdrop);
    QSlider* slider(int row) const { return sliders_[std::size_t(row)]; }

signals:
    void backdropEdited(const ScreenshotBackdrop& backdrop);
    void removeRequested();
    void closed();

protected:
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void edited();
    void load();
    void chooseColor(bool first);
    void showColors();

    ScreenshotDocumentSession& session_;
    ScreenshotBackdrop backdrop_;
    std::array<QSlider*, 4> sliders_{};
    QPushButton* remove_ = nullptr;
    std::array<QPushButton*, 2> colors_{};
    bool loading_ = false;
};

}  // namespace brevalto
