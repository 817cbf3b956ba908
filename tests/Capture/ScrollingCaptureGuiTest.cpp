// The scrolling capture's control panel follows the capture and writes its settings.
#include "Capture/ScrollingCaptureView.h"
#include "ScrollingCaptureFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

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
    EXPECT_TRUE(!visible("Select Viewport") && visible("Pause") && visible("1 frame | 200 px high"));
    capture->togglePause();
    EXPECT_TRUE(visible("Resume"));
    capture->cancel();
}

// The panel is never in the frames: it moves to a corner clear of the viewport, and again when
// its options open over it; the options grow the window and closing them shrinks it back.
TEST_F(ScrollingCaptureTest, PanelKeepsClearOfTheViewportAndFitsItsOptions) {
    screen.screens[0].frame = QRectF(0, 0, 1200, 900);
    QImage desktop(1200, 900, QImage::Format_ARGB32_Premultiplied);
    desktop.fill(Qt::white);
    QPainter(&desktop).drawImage(0, 0, screen.displayImages[display]);
    screen.displayImages[display] = desktop;
    std::unique_ptr<QWidget> window(ScrollingCaptureView::makePanel(*capture));  // as the workflow hosts it
    QWidget& panel = *window;
    const QRect viewport(0, 0, 400, 300);
    select(viewport);
    ASSERT_TRUE(panel.isVisible() && capture->running()) << status();
    EXPECT_FALSE(panel.frameGeometry().intersects(viewport));
    const QSize closed = panel.size();
    auto* options = panel.findChild<QToolButton*>();
    options->click();
    EXPECT_GT(panel.height(), closed.height() + 100);
    EXPECT_FALSE(panel.frameGeometry().intersects(viewport));
    // Rows that come and go with the state inside the open options resize the window too.
    const QSize open = panel.size();
    capture->togglePause();
    EXPECT_GT(panel.height(), open.height()) << "the displacement row";
    capture->togglePause();
    EXPECT_TRUE(capture->running() && !capture->paused()) << status();
    EXPECT_EQ(panel.size(), open);
    options->click();
    EXPECT_EQ(panel.size(), closed);
    capture->cancel();
}

}  // namespace
}  // namespace brevalto
