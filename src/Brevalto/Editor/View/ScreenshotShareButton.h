#pragma once

#include "Editor/View/EditorControls.h"

#include <QImage>

#include <exception>
#include <filesystem>
#include <functional>

class QMenu;

namespace brevalto {

class ScreenshotEditorView;

// The toolbar's share button. A click renders the image (through `image`, which may throw; the
// error goes to `failed` and no menu opens) and then opens a small menu under the button:
// "Copy image", "Save As…" and "Open with default app". The image of the last click is kept
// until the next one.
class ScreenshotShareButton : public EditorIconButton {
    Q_OBJECT
public:
    static inline const QString openFailedMessage = QStringLiteral("No application could open the image.");

    explicit ScreenshotShareButton(ScreenshotEditorView& view, QWidget* parent = nullptr);

    std::function<QImage()> image;
    std::function<void(const std::exception&)> failed;

    // The share menu (made when first needed).
    QMenu* menu();
    const QImage& shared() const { return shared_; }
    // Renders and opens the menu (the button's click).
    void share();

    // Writes the image as "Brevalto-Share-<UUID>.png" (0600) into the folder and returns the file;
    // every such file is removed when the application quits. Throws.
    static std::filesystem::path writeShareFile(const QImage& image, const std::filesystem::path& folder);

private:
    void openWithDefaultApp();

    ScreenshotEditorView& view_;
    QMenu* menu_ = nullptr;
    QImage shared_;
};

}  // namespace brevalto
