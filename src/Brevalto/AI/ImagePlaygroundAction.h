#pragma once

#include "ClipCore/Clip.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace brevalto {

class ClipStore;
class ImagePlayground;

// Hands an image clip and a prompt to the image generator and stores the picture the user accepts
// there as a new image clip. The source clip is never changed.
class ImagePlaygroundAction : public QWidget {
    Q_OBJECT
public:
    // The largest result (and source) read into memory.
    static constexpr std::uint64_t kMaxImageBytes = 32ull * 1024 * 1024;
    static inline const QString unavailableHint = QStringLiteral(
        "Image Playground is unavailable: Linux has no such service. OCR and Claude still work.");
    static inline const QString availableHint = QStringLiteral(
        "Use this image and a prompt in Image Playground. Review the result, then save; text and layout may change.");
    static inline const QString goneMessage =
        QStringLiteral("The source image or Image Playground is no longer available.");
    static inline const QString undecodableMessage = QStringLiteral("Could not read the source image.");
    static inline const QString tooLargeMessage = QStringLiteral("The result image exceeds 32 MB or cannot be read.");
    static inline const QString cancelledMessage = QStringLiteral("Cancelled. The original image is unchanged.");
    static inline const QString savedMessage =
        QStringLiteral("Saved the image to clipboard history. Select it to copy or drag.");
    static inline const std::string resultSource = "Apple Image Playground";

    ImagePlaygroundAction(Clip item, ClipStore& store, ImagePlayground& playground, QWidget* parent = nullptr);

    void setPrompt(const QString& prompt);
    void setDisabled(bool disabled);

    // The button's action: reads and decodes the source image and presents the sheet.
    void open();
    // The sheet's outcomes.
    void finish(const QString& file);
    void cancelled();
    // The store's answer to the image add.
    void saved(const std::optional<Clip>& clip);

    bool presented() const { return presented_; }
    const QImage& sourceImage() const { return sourceImage_; }
    const QString& submittedPrompt() const { return submittedPrompt_; }
    bool saving() const { return saving_; }
    const QString& status() const { return status_; }

private:
    void setStatus(const QString& status);
    void refresh();

    const Clip item_;
    ClipStore& store_;
    ImagePlayground& playground_;
    QString prompt_;
    bool disabled_ = false;
    bool presented_ = false;
    QImage sourceImage_;
    QString submittedPrompt_;
    bool saving_ = false;
    QString status_;

    QPushButton* button_;
    QLabel* hint_;
    QWidget* savingRow_;
    QLabel* statusLabel_;
};

}  // namespace brevalto
