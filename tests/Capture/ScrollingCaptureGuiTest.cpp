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
    const auto button = [&](const QString& text) {
        for (auto* b : view.findChildren<QPushButton*>())
            if (b->text() == text) return b;
        throw std::runtime_error("no button " + text.toStdString());
    };
    const auto shows = [&](const QString& text) {
        const auto labels = view.findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->text() == text; });
    };
    EXPECT_FALSE(button("Select Viewport")->isHidden());
    EXPECT_TRUE(button("Pause")->isHidden());
    auto* memory = view.findChildren<QLineEdit*>().at(2);
    memory->setText(ScrollingCaptureView::formatInteger(2048));
    emit memory->textEdited(memory->text());
    EXPECT_EQ(capture->settings().memoryMB, 2048) << "fields do not clamp";
    button("Select Viewport")->click();
    EXPECT_EQ(status(), "Check memory, disk, overlap and trim settings.");

    set([](auto& s) { s.memoryMB = 256, s.overlap = 0.456; });
    EXPECT_TRUE(shows("45%"));
    select();
    EXPECT_TRUE(button("Select Viewport")->isHidden());
    EXPECT_FALSE(button("Pause")->isHidden());
    EXPECT_TRUE(shows("1 frames | 200 px high"));
    capture->togglePause();
    EXPECT_FALSE(button("Resume")->isHidden());
    capture->cancel();
}

}  // namespace
}  // namespace brevalto
