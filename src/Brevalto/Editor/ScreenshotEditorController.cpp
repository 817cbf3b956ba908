#include "Editor/ScreenshotEditorController.h"

namespace brevalto {

ScreenshotEditorController::ScreenshotEditorController(QObject* parent) : QObject(parent) {}

ScreenshotEditorController::~ScreenshotEditorController() = default;

void ScreenshotEditorController::finishEditing() {
    ocrTask_.cancel();
    ocrTask_ = TaskHandle();
}

}  // namespace brevalto
