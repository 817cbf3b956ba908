#pragma once

#include <QFrame>

#include <array>

class QPushButton;
class QSlider;

namespace brevalto {

class ScreenshotEditorView;
struct ScreenshotBackdrop;

// The backdrop popover under the toolbar's backdrop button: sliders for the margin, shadow,
// corner radius and angle, six gradient presets, the two gradient colours, "Remove" and "Done".
// Every change goes live into the document inside one open undo step; however it closes (Done,
// Return, Escape, a click outside), the view's showBackdrop becomes false, which ends that step.
class BackdropPopover : public QFrame {
    Q_OBJECT
public:
    struct Preset {
        double first[4];
        double second[4];
    };
    static const std::array<Preset, 6>& gradientPresets();

    explicit BackdropPopover(ScreenshotEditorView& view);

    // Shows the view's working copy of the backdrop under the button.
    void showUnder(QWidget* button);
    QSlider* slider(int row) const { return sliders_[std::size_t(row)]; }

protected:
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void edited();
    void load();
    void chooseColor(bool first);
    void showColors();

    ScreenshotEditorView& view_;
    std::array<QSlider*, 4> sliders_{};
    QPushButton* remove_ = nullptr;
    std::array<QPushButton*, 2> colors_{};
    bool loading_ = false;
};

}  // namespace brevalto
