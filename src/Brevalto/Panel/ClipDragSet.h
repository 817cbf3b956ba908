#pragma once

#include "ClipCore/Clip.h"

#include <QImage>
#include <QRectF>
#include <QString>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class QMimeData;

namespace brevalto {

class ClipStore;
class ScreenshotFilePromise;

// What a drag of clips out of the panel carries: each clip's text, or its image as a PNG file
// promise whose file is created under the history's "ScreenshotDocuments/<clip id>/Drag" folder
// only when a drop target asks for it.
class ClipDragSet {
public:
    static constexpr std::size_t maxItems = 32;
    static constexpr std::size_t imageBudget = 268'435'456;  // bytes of PNG data per drag

    static inline const QString noItemMessage = QStringLiteral("No item to drag.");
    static inline const QString tooManyMessage = QStringLiteral("Select at most 32 images per drag.");
    static inline const QString overBudgetMessage =
        QStringLiteral("Selected drag images exceed the 256 MiB export budget.");
    static inline const QString unavailableMessage = QStringLiteral("Image is no longer available.");

    struct Item {
        std::optional<QString> text;
        std::shared_ptr<ScreenshotFilePromise> promise;
        QImage image;  // the clip's thumbnail; null for the document symbol
        QRectF frame;  // where the drag shows it, relative to the press: a diagonal stack
    };

    // The set dragged when item is pressed: selectedItems when it holds item (in that order),
    // else item alone. Loads and encodes every image before it returns. Throws ScreenshotError
    // with one of the messages above, or the image loader's or encoder's error unchanged; nothing
    // is written to disk either way. budget is imageBudget but for tests.
    static ClipDragSet build(const Clip* item, ClipStore* store, const std::vector<Clip>& selectedItems,
                             std::size_t budget = imageBudget);

    // The folder of a clip's dragged files.
    static std::filesystem::path dragFolder(const ClipStore& store, const Clip& clip);

    const std::vector<Item>& items() const { return items_; }
    std::vector<std::shared_ptr<ScreenshotFilePromise>> promises() const;
    // Drag data: the texts as plain text (one per line), the images through their promises. The
    // caller owns it.
    QMimeData* mimeData() const;

private:
    std::vector<Item> items_;
};

}  // namespace brevalto
