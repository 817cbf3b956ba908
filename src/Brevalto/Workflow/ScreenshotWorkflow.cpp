#include "Workflow/ScreenshotWorkflow.h"

#include "Editor/ScreenshotEditorController.h"

namespace brevalto {

ScreenshotWorkflow::ScreenshotWorkflow(QObject* parent)
    : QObject(parent), editor_(new ScreenshotEditorController(this)) {}

ScreenshotWorkflow::~ScreenshotWorkflow() = default;

}  // namespace brevalto
