#include "Panel/ClipDragSet.h"

#include "Clipboard/ClipStore.h"
#include "Document/ScreenshotFilePromise.h"
#include "Document/ScreenshotOutput.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageDecoding.h"

#include <QMimeData>
#include <QStringList>

#include <algorithm>

namespace brevalto {

std::filesystem::path ClipDragSet::dragFolder(const ClipStore& store, const Clip& clip) {
    return store.root() / "ScreenshotDocuments" / clip.id.string() / "Drag";
}

ClipDragSet ClipDragSet::build(const Clip* item, ClipStore* store, const std::vector<Clip>& selectedItems,
                               std::size_t budget) {
    if (!item || !store) throw ScreenshotError(noItemMessage.toStdString());
    const bool inSelection =
        std::any_of(selectedItems.begin(), selectedItems.end(), [&](const Clip& c) { return c.id == item->id; });
    const std::vector<Clip> clips = inSelection ? selectedItems : std::vector<Clip>{*item};
    if (clips.size() > maxItems) throw ScreenshotError(tooManyMessage.toStdString());

    ClipDragSet set;
    std::size_t total = 0;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const Clip& clip = clips[i];
        Item entry;
        entry.frame = QRectF(8.0 * static_cast<double>(i), 8.0 * static_cast<double>(i), 110, 70);
        if (clip.text) {
            entry.text = QString::fromStdString(clip.text->str());
        } else if (clip.imageFile) {
            const std::filesystem::path source = store->root() / *clip.imageFile;
            const QImage image = loadScreenshotImage(source);
            QByteArray png =
                ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, QColor(Qt::white), false, 1.0, 0.9);
            const QString name = ScreenshotOutput::fileName(QStringLiteral("Brevalto"), clip.createdAt) +
                                 QStringLiteral(".png");
            const auto size = static_cast<std::size_t>(png.size());
            if (size > budget || total + size > budget) throw ScreenshotError(overBudgetMessage.toStdString());
            total += size;
            entry.promise =
                std::make_shared<ScreenshotFilePromise>(std::move(png), name, dragFolder(*store, clip), source);
            if (auto thumbnail = store->thumbnail(clip)) entry.image = *thumbnail;
        } else {
            throw ScreenshotError(unavailableMessage.toStdString());
        }
        set.items_.push_back(std::move(entry));
    }
    return set;
}

std::vector<std::shared_ptr<ScreenshotFilePromise>> ClipDragSet::promises() const {
    std::vector<std::shared_ptr<ScreenshotFilePromise>> result;
    for (const Item& item : items_)
        if (item.promise) result.push_back(item.promise);
    return result;
}

QMimeData* ClipDragSet::mimeData() const {
    QMimeData* data = ScreenshotFilePromise::mimeData(promises());
    QStringList texts;
    for (const Item& item : items_)
        if (item.text) texts << *item.text;
    if (!texts.isEmpty()) data->setText(texts.join(QLatin1Char('\n')));
    return data;
}

}  // namespace brevalto
