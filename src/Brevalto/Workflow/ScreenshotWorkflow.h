#pragma once

#include <QObject>

namespace brevalto {

class ScreenshotEditorController;

// Runs screenshot commands end to end. The panel holds it weakly and reaches only its editor.
class ScreenshotWorkflow : public QObject {
    Q_OBJECT
public:
    explicit ScreenshotWorkflow(QObject* parent = nullptr);
    ~ScreenshotWorkflow() override;

    ScreenshotEditorController* editor() const { return editor_; }

private:
    ScreenshotEditorController* editor_;
};

}  // namespace brevalto
