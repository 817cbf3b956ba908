#pragma once

#include "ClipCore/Clip.h"
#include "Panel/ScreenshotActions.h"

#include <QObject>

#include <string>
#include <vector>

namespace brevalto {

// The screenshot side as the panel sees it, recording each call as "verb:<clip id>".
class FakeScreenshotActions : public QObject, public ScreenshotActions {
public:
    ScreenshotEditorController* editor() const override { return editorController; }
    void openInEditor(const Clip& clip) override { calls.push_back("edit:" + clip.id.string()); }
    void pin(const Clip& clip) override { calls.push_back("float:" + clip.id.string()); }
    void uploadAndCopyLink(const Clip& clip) override { calls.push_back("upload:" + clip.id.string()); }
    bool uploadsAvailable() const override { return uploads; }

    ScreenshotEditorController* editorController = nullptr;
    bool uploads = false;
    std::vector<std::string> calls;
};

}  // namespace brevalto
