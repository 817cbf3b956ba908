// Images that enter the history from an image file or the clipboard and are then treated like a
// capture.
#include "Workflow/ScreenshotWorkflow.h"

#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Platform/AtomicFile.h"
#include "Platform/Pasteboard.h"
#include "Workflow/WorkflowDialogs.h"

#include <QPointer>

#include <filesystem>

namespace brevalto {

void ScreenshotWorkflow::importFile(const std::vector<AutomationPostAction>& actions) {
    const auto file = dialogs_.chooseImageFile();
    if (!file) return;
    QByteArray bytes;
    try {
        // The size of what the chosen name leads to; a size that cannot be read counts as too large.
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(*file, error);
        if (error || size > static_cast<std::uintmax_t>(ClipStore::kMaxInputBytes)) {
            store_.setMessage(QString::fromUtf8(kImageTooLarge));
            return;
        }
        const std::string data = AtomicFile::read(*file, ClipStore::kMaxInputBytes, false);
        bytes = QByteArray(data.data(), static_cast<qsizetype>(data.size()));
    } catch (const std::exception& e) {
        store_.setMessage(QString::fromUtf8(e.what()));
        return;
    }
    importBytes(bytes, "Imported image", actions);
}

void ScreenshotWorkflow::importClipboard(const std::vector<AutomationPostAction>& actions) {
    readClipboardImage(actions, false);
}

// PNG first; TIFF only when the clipboard has no PNG.
void ScreenshotWorkflow::readClipboardImage(const std::vector<AutomationPostAction>& actions, bool tiff) {
    QPointer<ScreenshotWorkflow> self(this);
    monitor_.board().readData(tiff ? PasteboardType::tiff : PasteboardType::png, ClipStore::kMaxInputBytes, this,
                              [self, actions, tiff](PasteboardData data) {
                                  if (!self) return;
                                  if (data.ok() && !data.bytes.isEmpty())
                                      return self->importBytes(data.bytes, "Imported clipboard", actions);
                                  if (data.status == PasteboardData::Status::tooLarge)
                                      return self->store_.setMessage(QString::fromUtf8(kImageTooLarge));
                                  if (!tiff) return self->readClipboardImage(actions, true);
                                  self->store_.setMessage(QString::fromUtf8(kNoClipboardImage));
                              });
}

void ScreenshotWorkflow::importBytes(const QByteArray& bytes, const std::string& source,
                                     const std::vector<AutomationPostAction>& actions) {
    QPointer<ScreenshotWorkflow> self(this);
    store_.addImage(bytes, source, std::nullopt, {}, [self, actions](std::optional<Clip> clip) {
        if (self && clip) self->afterCapture(*clip, true, actions);
    });
}

}  // namespace brevalto
