#pragma once

#include "Platform/Task.h"

#include <QObject>

namespace brevalto {

class ReferencePins;

// Drives the screenshot editor for the workflow.
class ScreenshotEditorController : public QObject {
    Q_OBJECT
public:
    explicit ScreenshotEditorController(QObject* parent = nullptr);
    ~ScreenshotEditorController() override;

    // Commits the open session's pending gesture and cancels a running OCR task. Leaves the
    // session and its document open; safe when nothing is open.
    void finishEditing();

    // The running text recognition of the open document, if any.
    const TaskHandle& ocrTask() const { return ocrTask_; }
    void setOCRTask(TaskHandle task) { ocrTask_ = std::move(task); }

    // Where pinned references open; set by the workflow, which owns them.
    ReferencePins* pins() const { return pins_; }
    void setPins(ReferencePins* pins) { pins_ = pins; }

private:
    ReferencePins* pins_ = nullptr;
    TaskHandle ocrTask_;
};

}  // namespace brevalto
