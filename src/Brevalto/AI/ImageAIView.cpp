#include "AI/ImageAIView.h"

#include "AI/AIActionModel.h"
#include "AI/ImagePlaygroundAction.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace brevalto {

namespace {

const char* kStyle = R"(
QPlainTextEdit#imagePrompt { background: rgba(255,255,255,20); border: 1px solid rgba(255,255,255,60);
                             border-radius: 6px; color: white; }
QLabel#imagePromptCaption { color: rgba(255,255,255,140); }
QLabel#imagePromptError { color: #ff5a4f; }
QScrollArea#imagePromptResultArea { background: rgba(255,255,255,18); border: none; border-radius: 8px; }
QWidget#imagePromptResultPage { background: transparent; }
)";

// The digest of the transient clip a copy makes; it never enters the history.
const std::string kCopyDigest = "ai-preview";

}  // namespace

ImageAIView::ImageAIView(std::shared_ptr<AIActionModel> model, ClipStore& store, ClipboardMonitor& monitor,
                         ImagePlayground& playground, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), store_(store), monitor_(monitor), shownResult_(model_->result()) {
    setObjectName(QStringLiteral("imageAIView"));
    setStyleSheet(QString::fromLatin1(kStyle));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);

    if (const auto thumbnail = store_.thumbnail(model_->item)) {
        auto* image = new QLabel(this);
        image->setObjectName(QStringLiteral("imagePromptThumbnail"));
        const QImage scaled = thumbnail->scaledToWidth(kThumbnailWidth, Qt::SmoothTransformation);
        image->setPixmap(QPixmap::fromImage(scaled));
        image->setFixedWidth(kThumbnailWidth);
        image->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
        row->addWidget(image, 0, Qt::AlignTop);
    }

    auto* column = new QVBoxLayout;
    column->setSpacing(10);
    row->addLayout(column, 1);

    request_ = new QPlainTextEdit(this);
    request_->setObjectName(QStringLiteral("imagePrompt"));
    request_->setPlaceholderText(QStringLiteral("Example: remove the background, keep the object and shadow"));
    request_->setTabChangesFocus(true);
    request_->setPlainText(model_->prompt());
    const int line = QFontMetrics(request_->font()).lineSpacing();
    request_->setMinimumHeight(2 * line + 14);
    request_->setMaximumHeight(4 * line + 14);
    column->addWidget(request_);
    connect(request_, &QPlainTextEdit::textChanged, this, [this] {
        if (request_->toPlainText() == model_->prompt()) return;
        model_->setPrompt(request_->toPlainText());
        model_->clearResult();
    });

    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    write_ = new QPushButton(QStringLiteral("Write Prompt"), this);
    write_->setObjectName(QStringLiteral("writeImagePrompt"));
    actions->addWidget(write_, 0, Qt::AlignVCenter);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("imagePromptProgress"));
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedSize(16, 16);
    actions->addWidget(progress_, 0, Qt::AlignVCenter);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancelImagePrompt"));
    actions->addWidget(cancel_, 0, Qt::AlignVCenter);
    auto* caption = new QLabel(QStringLiteral("Sends this image and request to Claude. The original is unchanged."), this);
    caption->setObjectName(QStringLiteral("imagePromptCaption"));
    QFont small = caption->font();
    small.setPixelSize(11);
    caption->setFont(small);
    caption->setWordWrap(true);
    actions->addWidget(caption, 1, Qt::AlignVCenter);
    playground_ = new ImagePlaygroundAction(model_->item, store_, playground, this);
    actions->addWidget(playground_, 1, Qt::AlignVCenter);
    column->addLayout(actions);
    connect(write_, &QPushButton::clicked, this, &ImageAIView::writePrompt);
    connect(cancel_, &QPushButton::clicked, this, [this] { model_->cancel(); });

    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("imagePromptError"));
    error_->setWordWrap(true);
    error_->setTextFormat(Qt::PlainText);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(error_);

    auto* area = new QScrollArea(this);
    area->setObjectName(QStringLiteral("imagePromptResultArea"));
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* page = new QWidget(area);
    page->setObjectName(QStringLiteral("imagePromptResultPage"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(10, 10, 10, 10);
    result_ = new QLabel(page);
    result_->setObjectName(QStringLiteral("imagePromptResult"));
    result_->setWordWrap(true);
    result_->setTextFormat(Qt::PlainText);
    result_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pageLayout->addWidget(result_);
    pageLayout->addStretch(1);
    area->setWidget(page);
    column->addWidget(area, 1);

    auto* results = new QHBoxLayout;
    copy_ = new QPushButton(QStringLiteral("Copy Result"), this);
    copy_->setObjectName(QStringLiteral("copyImagePrompt"));
    save_ = new QPushButton(this);
    save_->setObjectName(QStringLiteral("saveImagePrompt"));
    results->addWidget(copy_);
    results->addWidget(save_);
    results->addStretch(1);
    column->addLayout(results);
    connect(copy_, &QPushButton::clicked, this, &ImageAIView::copyResult);
    connect(save_, &QPushButton::clicked, this, &ImageAIView::saveResult);

    connect(model_.get(), &AIActionModel::changed, this, &ImageAIView::refresh);
    refresh();
}

ImageAIView::~ImageAIView() = default;

void ImageAIView::writePrompt() {
    saved_ = false;
    model_->submit(store_.root());
    refresh();
}

void ImageAIView::copyResult() {
    const QString& text = model_->result();
    if (text.isEmpty() || model_->busy()) return;
    const QByteArray utf8 = text.toUtf8();
    const Clip clip(Clip::Kind::text, SharedText(utf8.toStdString()), std::nullopt, kCopyDigest, utf8.size(), "Claude");
    monitor_.copy(clip);
}

void ImageAIView::saveResult() {
    const QString text = model_->result();
    if (text.isEmpty() || model_->busy() || saved_) return;
    const std::string utf8 = text.toStdString();
    store_.addText(utf8, savedSource);
    // The list is written on the store's own thread: the newest history already holds the clip.
    const auto& clips = store_.current();
    saved_ = std::any_of(clips.begin(), clips.end(), [&](const Clip& clip) { return clip.text && clip.text->str() == utf8; });
    if (!saved_) model_->setError(store_.message());
    refresh();
}

void ImageAIView::refresh() {
    const AIActionModel& model = *model_;
    if (model.result() != shownResult_) {
        shownResult_ = model.result();
        saved_ = false;
    }
    const bool busy = model.busy();
    const bool empty = model.result().isEmpty();
    if (request_->toPlainText() != model.prompt()) request_->setPlainText(model.prompt());
    request_->setEnabled(!busy);
    write_->setEnabled(!busy);
    progress_->setVisible(busy);
    cancel_->setVisible(busy);
    playground_->setPrompt(empty ? model.prompt() : model.result());
    playground_->setDisabled(busy);
    error_->setText(model.error());
    error_->setVisible(!model.error().isEmpty());
    result_->setText(empty ? QStringLiteral("The prompt appears here") : model.result());
    // Both colours stated: a label whose style sheet is cleared falls back to the desktop's dark text.
    result_->setStyleSheet(empty ? QStringLiteral("color: rgba(255,255,255,110);")
                                 : QStringLiteral("color: rgba(255,255,255,230);"));
    copy_->setEnabled(!empty && !busy);
    save_->setText(saved_ ? QStringLiteral("Saved") : QStringLiteral("Save as New Item"));
    save_->setEnabled(!empty && !busy && !saved_);
}

}  // namespace brevalto
