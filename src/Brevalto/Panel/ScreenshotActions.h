#pragma once

#include "Capture/ScreenshotCommand.h"
#include "ClipCore/Uuid.h"
#include "Platform/Task.h"

#include <QObject>

namespace brevalto {

struct Clip;
class ScreenshotEditorController;

// What the panel asks of the screenshot side: the editor it finishes when it drops an editor
// workspace, the clip cards' edit, pin and upload actions, and the capture menu. The screenshot
// workflow implements it; the panel holds it weakly (a QObject, so that a QPointer sees it go).
class ScreenshotActions : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ScreenshotActions() override = default;

    // The editor controller whose open session the panel finishes; null when there is none.
    virtual ScreenshotEditorController* editor() const = 0;

    // Opens a history image clip as a document in the screenshot editor.
    virtual void openInEditor(const Clip& clip) = 0;
    // Opens a history image clip as a floating pinned reference window.
    virtual void pin(const Clip& clip) = 0;
    // Uploads a history image clip and copies the link; the handle is of the running upload.
    virtual TaskHandle uploadAndCopyLink(const Clip& clip) = 0;
    // True when uploads are set up, so that the clip cards offer the upload control.
    virtual bool uploadsAvailable() const = 0;
    // Whether the clip has a live upload on the active destination (its link can be copied), and
    // whether an upload operation runs now; uploadStateChanged follows changes of either.
    virtual bool hasLiveUpload(const Uuid&) const { return false; }
    virtual bool uploadBusy() const { return false; }

    // Runs a screenshot command from the capture menu; failures end in the store's message.
    virtual void run(ScreenshotCommand command, bool appendToEditor) = 0;
    // Cancels the running capture, if any.
    virtual void cancel() = 0;

signals:
    // The upload history, the busy state or the destination changed.
    void uploadStateChanged();
};

}  // namespace brevalto
