#include "Workflow/ScreenshotPinController.h"

#include "Platform/Defaults.h"
#include "Platform/Screens.h"
#include "Workflow/ScreenshotReferencePanel.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

constexpr const char* kShowInDock = "showInDock";
constexpr int kMappingAttempts = 8;
constexpr int kMappingInterval = 250;  // milliseconds

}  // namespace

ScreenshotPinController::ScreenshotPinController(Screens& screens, const Defaults& defaults, QObject* parent)
    : QObject(parent), screens_(screens), defaults_(defaults) {
    connect(&screens_, &Screens::windowManagerChanged, this, [this] {
        QTimer::singleShot(kMappingInterval, this, [this] { ensureMapped(kMappingAttempts); });
    });
}

ScreenshotPinController::~ScreenshotPinController() {
    for (ScreenshotReferencePanel* panel : panels_) delete panel;
    for (const QPointer<ScreenshotReferencePanel>& panel : released_) delete panel.data();
}

int ScreenshotPinController::contentHeight(QSize imagePixels) {
    if (imagePixels.width() <= 0 || imagePixels.height() <= 0) return kMinimumContentHeight;
    const double height = double(imagePixels.height()) * kContentWidth / imagePixels.width() + kChromeHeight;
    return int(std::lround(std::clamp(height, double(kMinimumContentHeight), double(kMaximumContentHeight))));
}

int ScreenshotPinController::cascadeOffset(std::size_t openCount) {
    return kCascadeStep * int(openCount % kCascadeLength);
}

QRect ScreenshotPinController::initialFrame(QSize imagePixels, const QRect& visibleArea, std::size_t openCount) {
    const int height = contentHeight(imagePixels);
    const int offset = cascadeOffset(openCount);
    const int x = visibleArea.x() + (visibleArea.width() - kContentWidth) / 2;
    const int y = visibleArea.y() + (visibleArea.height() - height) / 2;
    return {x + offset, y + offset, kContentWidth, height};
}

void ScreenshotPinController::showReference(const QImage& image, std::function<void()> reopen) {
    QRect visibleArea(0, 0, kContentWidth, kMaximumContentHeight);
    if (const std::optional<ScreenInfo> main = screens_.mainScreen())
        visibleArea = screens_.geometry().toQt(main->visibleFrame).toAlignedRect();

    auto* panel = new ScreenshotReferencePanel(image, std::move(reopen), &screens_, defaults_.boolValue(kShowInDock));
    panel->setGeometry(initialFrame(image.size(), visibleArea, panels_.size()));
    connect(panel, &ScreenshotReferencePanel::closed, this, &ScreenshotPinController::windowWillClose);
    panels_.push_back(panel);
    panel->present();
}

void ScreenshotPinController::applyTaskbarPolicy(bool shown) {
    for (ScreenshotReferencePanel* panel : panels_) panel->setShownInTaskbar(shown);
}

void ScreenshotPinController::ensureMapped(int attemptsLeft) {
    bool remaining = false;
    for (ScreenshotReferencePanel* panel : panels_) {
        if (!panel->isVisible() || screens_.isViewable(panel->windowHandle())) continue;
        screens_.mapAgain(panel->windowHandle());
        remaining = true;
    }
    if (remaining && attemptsLeft > 1)
        QTimer::singleShot(kMappingInterval, this, [this, attemptsLeft] { ensureMapped(attemptsLeft - 1); });
}

void ScreenshotPinController::windowWillClose(ScreenshotReferencePanel* panel) {
    const auto found = std::find(panels_.begin(), panels_.end(), panel);
    if (found == panels_.end()) return;
    panels_.erase(found);
    // The window may be inside its own close handling: it goes on the next turn of the loop.
    std::erase_if(released_, [](const QPointer<ScreenshotReferencePanel>& p) { return p.isNull(); });
    released_.emplace_back(panel);
    panel->deleteLater();
}

}  // namespace brevalto
