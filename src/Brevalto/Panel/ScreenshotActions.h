#pragma once

namespace brevalto {

class ScreenshotEditorController;
struct Clip;

// What the panel asks of the screenshot side: the editor it keeps and the per-clip screenshot
// actions of the clip cards. The screenshot workflow implements it; the panel holds it weakly
// (the implementing object is a QObject) and does nothing once it is gone.
class ScreenshotActions {
public:
    virtual ~ScreenshotActions() = default;

    // The editor controller whose session the panel may show and finish.
    virtual ScreenshotEditorController* editor() const = 0;
    // Opens a history image clip as a document in the screenshot editor.
    virtual void openInEditor(const Clip& clip) = 0;
    // Opens a history image clip as a floating pinned reference window.
    virtual void pin(const Clip& clip) = 0;
    // Uploads a history image clip and copies the resulting link.
    virtual void uploadAndCopyLink(const Clip& clip) = 0;
    // Whether uploads are set up, so that cards offer the upload control.
    virtual bool uploadsAvailable() const = 0;
};

}  // namespace brevalto
