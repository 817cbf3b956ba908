// The scrolling capture's control panel follows the capture and writes its settings.
#include "Capture/ScrollingCaptureView.h"
#include "ScrollingCaptureFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace brevalto {
namespace {

TEST_F(ScrollingCaptureTest, PanelFollowsTheCaptureAndWritesItsSettings) {
    ScrollingCaptureView view(*capture);
    const auto visible = [&](const QString& text) {
        for (auto* w : view.findChildren<QWidget*>()) {
            auto* b = qobject_cast<QPushButton*>(w);
            auto* l = qobject_cast<QLabel*>(w);
            if (((b && b->text() == text) || (l && l->text() == text)) && !w->isHidden()) return true;
        }
        return false;
    };
    EXPECT_TRUE(visible("Select Viewport") && !visible("Pause") && !visible("Export"));
    auto* memory = view.findChildren<QLineEdit*>().at(2);
    memory->setText(ScrollingCaptureView::formatInteger(2048));
    emit memory->textEdited(memory->text());
    EXPECT_EQ(capture->settings().memoryMB, 2048) << "fields do not clamp";
    view.findChild<QPushButton*>()->click();
    EXPECT_EQ(status(), "Check memory, disk, overlap and trim settings.");

    set([](auto& s) { s.memoryMB = 256, s.overlap = 0.456; });
    EXPECT_TRUE(visible("45%"));
    select();
    EXPECT_TRUE(!visible("Select Viewport") && visible("Pause") && visible("1 frames | 200 px high"));
    capture->togglePause();
    EXPECT_TRUE(visible("Resume"));
    capture->cancel();
}

}  // namespace
}  // namespace brevalto
