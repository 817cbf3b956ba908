#include "AI/ImagePlaygroundAction.h"

#include "AI/ImagePlayground.h"
#include "Clipboard/ClipStore.h"
#include "Platform/AtomicFile.h"

#include <QBuffer>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

namespace brevalto {

namespace {

QLabel* captionLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    return label;
}

}  // namespace

ImagePlaygroundAction::ImagePlaygroundAction(Clip item, ClipStore& store, ImagePlayground& playground, QWidget* parent)
    : QWidget(parent), item_(std::move(item)), store_(store), playground_(playground) {
    setObjectName(QStringLiteral("imagePlayground"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    button_ = new QPushButton(QStringLiteral("Open Image Playground"), this);
    button_->setObjectName(QStringLiteral("openImagePlayground"));
    layout->addWidget(button_, 0, Qt::AlignLeft);
    connect(button_, &QPushButton::clicked, this, &ImagePlaygroundAction::open);

    hint_ = captionLabel(QStringLiteral("imagePlaygroundHint"), this);
    hint_->setStyleSheet(QStringLiteral("color: rgba(255,255,255,140);"));
    layout->addWidget(hint_);

    savingRow_ = new QWidget(this);
    savingRow_->setObjectName(QStringLiteral("imagePlaygroundSaving"));
    auto* saving = new QHBoxLayout(savingRow_);
    saving->setContentsMargins(0, 0, 0, 0);
    auto* progress = new QProgressBar(savingRow_);
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setFixedSize(16, 16);
    saving->addWidget(progress);
    saving->addWidget(captionLabel(QStringLiteral("imagePlaygroundSavingLabel"), savingRow_));
    savingRow_->findChild<QLabel*>()->setText(QStringLiteral("Saving new image\u2026"));
    saving->addStretch(1);
    layout->addWidget(savingRow_);

    statusLabel_ = captionLabel(QStringLiteral("imagePlaygroundStatus"), this);
    statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLabel_->setTextFormat(Qt::PlainText);
    layout->addWidget(statusLabel_);
    refresh();
}

void ImagePlaygroundAction::setPrompt(const QString& prompt) {
    prompt_ = prompt;
    refresh();
}

void ImagePlaygroundAction::setDisabled(bool disabled) {
    disabled_ = disabled;
    refresh();
}

void ImagePlaygroundAction::open() {
    if (!playground_.available() || !item_.imageFile) {
        setStatus(goneMessage);
        return;
    }
    QByteArray bytes;
    try {
        bytes = QByteArray::fromStdString(AtomicFile::read(store_.root() / *item_.imageFile, kMaxImageBytes));
    } catch (const std::exception& error) {
        setStatus(QString::fromStdString(error.what()));
        return;
    }
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) {
        setStatus(undecodableMessage);
        return;
    }
    sourceImage_ = image;
    submittedPrompt_ = prompt_;
    presented_ = true;
    setStatus(QString());
    QPointer<ImagePlaygroundAction> self(this);
    playground_.present(
        sourceImage_, submittedPrompt_,
        [self](const QString& file) {
            if (self) self->finish(file);
        },
        [self] {
            if (self) self->cancelled();
        });
}

void ImagePlaygroundAction::finish(const QString& file) {
    const std::filesystem::path path = file.toStdString();
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        setStatus(QString::fromStdString(error.message()));
    } else if (size < 1 || size > kMaxImageBytes) {
        setStatus(tooLargeMessage);
    } else {
        // The file may change between the size query and the read: the read holds the same bound.
        QByteArray bytes;
        bool read = false;
        try {
            bytes = QByteArray::fromStdString(AtomicFile::read(path, kMaxImageBytes, false));
            read = true;
        } catch (const std::exception& failure) {
            const std::string what = failure.what();
            setStatus(what.starts_with("File too large") ? tooLargeMessage : QString::fromStdString(what));
        }
        if (read && bytes.isEmpty()) {
            setStatus(tooLargeMessage);
        } else if (read) {
            saving_ = true;
            QPointer<ImagePlaygroundAction> self(this);
            store_.addImage(bytes, resultSource, std::nullopt, {}, [self](std::optional<Clip> clip) {
                if (self) self->saved(clip);
            });
        }
    }
    presented_ = false;
    sourceImage_ = QImage();
    refresh();
}

void ImagePlaygroundAction::cancelled() {
    presented_ = false;
    sourceImage_ = QImage();
    setStatus(cancelledMessage);
}

void ImagePlaygroundAction::saved(const std::optional<Clip>& clip) {
    saving_ = false;
    setStatus(clip ? savedMessage : store_.message());
}

void ImagePlaygroundAction::setStatus(const QString& status) {
    status_ = status;
    refresh();
}

void ImagePlaygroundAction::refresh() {
    const bool available = playground_.available();
    button_->setEnabled(!disabled_ && !saving_ && available && !prompt_.trimmed().isEmpty());
    hint_->setText(available ? availableHint : unavailableHint);
    savingRow_->setVisible(saving_);
    statusLabel_->setText(status_);
    statusLabel_->setVisible(!status_.isEmpty());
}

}  // namespace brevalto
