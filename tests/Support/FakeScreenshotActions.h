#pragma once

#include "ClipCore/Clip.h"
#include "Editor/ScreenshotEditorController.h"
#include "FakePasteboard.h"
#include "Panel/ScreenshotActions.h"
#include "Platform/Defaults.h"

#include <set>
#include <utility>
#include <vector>

namespace brevalto {

// The screenshot side as a panel test sets it up: a real editor controller, and a record of every
// action the panel asked for.
class FakeScreenshotActions final : public ScreenshotActions {
public:
    using ScreenshotActions::ScreenshotActions;

    ScreenshotEditorController* editor() const override { return editorController; }
    void openInEditor(const Clip& clip) override { opened.push_back(clip.id); }
    void pin(const Clip& clip) override { pinned.push_back(clip.id); }
    TaskHandle uploadAndCopyLink(const Clip& clip) override {
        uploaded.push_back(clip.id);
        return TaskHandle(std::make_shared<std::stop_source>());
    }
    bool uploadsAvailable() const override { return uploads; }
    bool hasLiveUpload(const Uuid& clipID) const override { return liveUploads.count(clipID) > 0; }
    bool uploadBusy() const override { return busyUploading; }
    void run(ScreenshotCommand command, bool appendToEditor) override { runs.emplace_back(command, appendToEditor); }
    void cancel() override { ++cancels; }

    FakePasteboard board;
    Defaults defaults;
    ScreenshotEditorController* editorController = new ScreenshotEditorController(board, defaults, this);
    bool uploads = false;
    std::set<Uuid> liveUploads;
    bool busyUploading = false;
    std::vector<Uuid> opened;
    std::vector<Uuid> pinned;
    std::vector<Uuid> uploaded;
    std::vector<std::pair<ScreenshotCommand, bool>> runs;
    int cancels = 0;
};

}  // namespace brevalto
