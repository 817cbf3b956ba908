#include "Panel/PreviewPane.h"

#include "AI/AIActionModel.h"
#include "Clipboard/ClipStore.h"
#include "ClipCore/SecretScanner.h"
#include "ClipCore/UnicodeText.h"
#include "Imaging/FittedImageView.h"
#include "Panel/ClipboardView.h"
#include "Panel/OCRPreview.h"
#include "Panel/PanelController.h"
#include "Panel/TranslationPreview.h"
#include "Platform/Symbols.h"
#include "Platform/Task.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brevalto {

namespace {

const char* kStyle = R"(
QLabel#previewTitle { font-size: 13px; font-weight: 600; color: white; }
QWidget#previewBox { background: rgba(255,255,255,18); border-radius: 12px; }
QPlainTextEdit#previewText { background: transparent; border: none; color: white;
                             font-family: monospace; font-size: 13px; }
QToolButton#revealSecrets { border: 1px solid rgba(255,255,255,60); border-radius: 5px; padding: 1px 6px;
                            font-size: 11px; }
QComboBox { color: white; background: rgba(255,255,255,25); border: 1px solid rgba(255,255,255,50);
            border-radius: 5px; padding: 1px 6px; font-size: 12px; }
QComboBox::drop-down { border: none; width: 14px; }
QComboBox QAbstractItemView { background: #262626; color: white; border: 1px solid rgba(255,255,255,40);
                              selection-background-color: rgba(255,255,255,50); }
QScrollBar:vertical { background: transparent; width: 8px; }
QScrollBar::handle:vertical { background: rgba(255,255,255,70); border-radius: 4px; min-height: 20px; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }
)";

std::string textOf(const Clip& clip) {
    return clip.text ? clip.text->str() : std::string();
}

// The text body holds this many characters at first and gains as many each time the reader
// scrolls near its end, so that a text of any length opens at once.
constexpr std::size_t kTextStep = ClipStore::kPaneTextCharacters;
// Texts up to this size are searched for secrets at once; longer ones off the GUI thread.
constexpr std::size_t kSecretsCheckedAtOnce = 256 * 1024;

}  // namespace


PreviewPane::PreviewPane(ClipboardView& view, QWidget* parent) : QWidget(parent), view_(view) {
    setObjectName(QStringLiteral("previewPane"));
    setStyleSheet(QString::fromLatin1(kStyle));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(12);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("previewTitle"));
    titleRow->addWidget(title_);
    titleRow->addStretch(1);
    reveal_ = new QToolButton(this);
    reveal_->setObjectName(QStringLiteral("revealSecrets"));
    reveal_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    reveal_->setFocusPolicy(Qt::NoFocus);
    reveal_->setToolTip(QStringLiteral(
        "Likely keys, tokens or emails are masked on screen. Copy and Paste still use the original text."));
    titleRow->addWidget(reveal_);
    column->addLayout(titleRow);

    box_ = new QWidget(this);
    box_->setObjectName(QStringLiteral("previewBox"));
    box_->setAttribute(Qt::WA_StyledBackground);
    auto* boxLayout = new QVBoxLayout(box_);
    boxLayout->setContentsMargins(12, 12, 12, 12);
    stack_ = new QStackedWidget(box_);
    boxLayout->addWidget(stack_);
    column->addWidget(box_, 1);

    text_ = new QPlainTextEdit(stack_);
    text_->setObjectName(QStringLiteral("previewText"));
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    text_->setFocusPolicy(Qt::ClickFocus);
    image_ = new FittedImageView(stack_);
    image_->setObjectName(QStringLiteral("previewImage"));
    image_->setAccessibleName(QStringLiteral("Image preview"));
    ocr_ = new OCRPreview(view_.store(), view_.controller().monitor(), stack_);
    translation_ = new TranslationPreview(view_.store(), view_.controller().monitor(), stack_);
    stack_->addWidget(ocr_);
    stack_->addWidget(image_);
    stack_->addWidget(translation_);
    stack_->addWidget(text_);

    connect(text_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value >= text_->verticalScrollBar()->maximum() - text_->verticalScrollBar()->pageStep()) extendText();
    });
    connect(reveal_, &QToolButton::clicked, this, [this] {
        const std::optional<Clip> shown =
            shownClip(view_.controller().translation().get(), view_.store().items(), view_.currentClip());
        if (!shown) return;
        view_.setRevealed(view_.revealed() == shown->id ? std::nullopt : std::optional(shown->id));
    });
    connect(&view_, &ClipboardView::stateChanged, this, &PreviewPane::refresh);
    connect(&view_.controller(), &PanelController::translationChanged, this, &PreviewPane::refresh);
    connect(&view_.store(), &ClipStore::thumbnailFinished, this, &PreviewPane::refresh);
    connect(&view_.store(), &ClipStore::cardTextsFinished, this, [this](const QString& digest) {
        if (shownText_ && shownText_->waiting && digest == QString::fromStdString(shownText_->digest)) {
            shownText_->waiting = false;
            text_->clear();
            extendText();
        }
        refresh();  // a long text's secrets control is looked for now
    });
    refresh();
}

std::optional<Clip> PreviewPane::shownClip(const AIActionModel* translation, const std::vector<Clip>& items,
                                           const std::optional<Clip>& current) {
    if (translation) {
        const Uuid id = translation->item.id;
        if (std::none_of(items.begin(), items.end(), [&](const Clip& clip) { return clip.id == id; }))
            return translation->item;
    }
    return current;
}

const AIActionModel* PreviewPane::clipModel(const AIActionModel* translation, const Clip& shown) {
    return translation && translation->item.id == shown.id ? translation : nullptr;
}

QString PreviewPane::title(const Clip& shown, const AIActionModel* model) {
    if (model) return model->ocr ? QStringLiteral("Text in image (on-device OCR)") : QStringLiteral("Translation");
    return shown.kind == Clip::Kind::image ? QStringLiteral("Image preview") : QStringLiteral("Text preview");
}

PreviewPane::Body PreviewPane::body(const Clip& shown, const AIActionModel* model, bool hasThumbnail) {
    if (model && model->ocr) return Body::ocr;
    if (shown.kind == Clip::Kind::image && hasThumbnail) return Body::image;
    if (model) return Body::translation;
    return Body::text;
}

bool PreviewPane::offersReveal(const Clip& shown, const AIActionModel* model) {
    return shown.kind == Clip::Kind::text && !model && !SecretScanner::ranges(textOf(shown)).empty();
}

void PreviewPane::refresh() {
    const std::optional<Clip> shown =
        shownClip(view_.controller().translation().get(), view_.store().items(), view_.currentClip());
    title_->setVisible(shown.has_value());
    box_->setVisible(shown.has_value());
    reveal_->setVisible(shown && revealApplies(*shown, clipModel(view_.controller().translation().get(), *shown)));
    if (!shown) {
        ocr_->setModel(nullptr);
        translation_->setModel(nullptr);
        return;
    }
    const AIActionModel* model = clipModel(view_.controller().translation().get(), *shown);
    const bool revealed = view_.revealed() == shown->id;
    title_->setText(title(*shown, model));
    reveal_->setText(revealed ? QStringLiteral("Hide secrets") : QStringLiteral("Show secrets"));
    reveal_->setIcon(Symbols::icon(revealed ? QStringLiteral("eye.slash") : QStringLiteral("eye")));

    // The cached thumbnail, made off the GUI thread; a finished one refreshes the pane.
    QImage thumbnail;
    if (shown->kind == Clip::Kind::image && !(model && model->ocr)) {
        ClipStore& store = view_.store();
        if (store.requestThumbnail(*shown) == ClipStore::ThumbnailState::ready)
            if (auto hit = store.thumbnails().find(shown->digest); hit != store.thumbnails().end())
                thumbnail = hit->second;
    }
    // Only the body that shows the clip's model holds it; the others let go of any earlier one.
    const Body shownBody = body(*shown, model, !thumbnail.isNull());
    const std::shared_ptr<AIActionModel>& held = view_.controller().translation();
    ocr_->setModel(shownBody == Body::ocr ? held : nullptr);
    translation_->setModel(shownBody == Body::translation ? held : nullptr);
    switch (shownBody) {
    case Body::ocr:
        stack_->setCurrentWidget(ocr_);
        break;
    case Body::image:
        image_->setImage(thumbnail);
        stack_->setCurrentWidget(image_);
        break;
    case Body::translation:
        stack_->setCurrentWidget(translation_);
        break;
    case Body::text:
        showText(*shown, revealed);
        stack_->setCurrentWidget(text_);
        break;
    }
}

bool PreviewPane::revealApplies(const Clip& shown, const AIActionModel* model) {
    if (!shown.text || shown.text->size() <= kSecretsCheckedAtOnce) return offersReveal(shown, model);
    if (shown.kind != Clip::Kind::text || model) return false;
    // A long text is searched once, on the pool; the control appears when the answer comes.
    if (auto known = secrets_.find(shown.digest); known != secrets_.end()) return known->second;
    // Only once the clip's card texts are made: two passes over a long text at once would
    // contend with each other and with the panel's opening.
    if (!view_.store().cardTexts(shown)) return false;
    if (checking_.insert(shown.digest).second) {
        Task::run(
            TaskPool::shared(), this,
            [text = *shown.text](std::stop_token) { return !SecretScanner::ranges(text.view()).empty(); },
            [this, digest = shown.digest](TaskResult<bool>& result) {
                checking_.erase(digest);
                secrets_[digest] = result.ok() && result.get();
                refresh();
            });
    }
    return false;
}

void PreviewPane::showText(const Clip& clip, bool revealed) {
    const SharedText text = clip.text ? *clip.text : SharedText(std::string());
    if (shownText_ && shownText_->id == clip.id && shownText_->digest == clip.digest &&
        shownText_->revealed == revealed)
        return;
    shownText_ = ShownText{clip.id, clip.digest, text, revealed, 0, 0, false};
    extension_.invalidate();
    text_->clear();
    extendText();
}

bool PreviewPane::showFirstPart() {
    ShownText& shown = *shownText_;
    std::optional<Clip> clip;
    for (const Clip& item : view_.store().items())
        if (item.id == shown.id) clip = item;
    if (!clip || clip->kind != Clip::Kind::text) return false;
    const std::shared_ptr<const ClipStore::CardTexts> texts = view_.store().cardTexts(*clip);
    // The clip's masked first part is made once, off the GUI thread for a long text: bullets until then.
    shown.waiting = texts == nullptr;
    const std::string& part = texts ? texts->pane : ClipStore::maskedCardTexts()->pane;
    text_->setPlainText(QString::fromStdString(part));
    if (shown.waiting) return true;
    shown.bytes = part.size();
    shown.characters = kTextStep;
    return true;
}

void PreviewPane::extendText() {
    if (!shownText_ || shownText_->complete || shownText_->waiting || shownText_->extending) return;
    ShownText& shown = *shownText_;
    if (shown.characters == 0 && !shown.revealed && showFirstPart()) return;
    const std::size_t characters = shown.characters + kTextStep;
    if (shown.revealed) {
        appendPrefix(std::string(unicode::graphemePrefix(shown.text.view(), characters)), characters);
        return;
    }
    if (shown.text.size() <= ClipStore::kCardTextsAtOnce) {
        appendPrefix(SecretScanner::maskedPrefix(shown.text.view(), characters), characters);
        return;
    }
    // A long text's next part is masked off the GUI thread; the reader keeps scrolling meanwhile.
    shown.extending = true;
    const std::uint64_t request = extension_.next();
    Task::run(
        TaskPool::shared(), this,
        [text = shown.text, characters](std::stop_token) { return SecretScanner::maskedPrefix(text.view(), characters); },
        [this, request, characters](TaskResult<std::string>& result) {
            if (!extension_.isCurrent(request) || !shownText_) return;
            shownText_->extending = false;
            if (!result.ok()) {
                shownText_->complete = true;  // what is shown stays; nothing unmasked is added
                return;
            }
            appendPrefix(result.get(), characters);
        });
}

void PreviewPane::appendPrefix(const std::string& prefix, std::size_t characters) {
    ShownText& shown = *shownText_;
    // Each longer prefix begins with the shorter one, so only the rest is added.
    const QString rest = QString::fromUtf8(prefix.data() + shown.bytes, qsizetype(prefix.size() - shown.bytes));
    shown.complete = prefix.size() == shown.bytes || (shown.revealed && prefix.size() == shown.text.size());
    if (!rest.isEmpty()) {
        QTextCursor end(text_->document());
        end.movePosition(QTextCursor::End);
        end.insertText(rest);
    }
    shown.bytes = prefix.size();
    shown.characters = characters;
}

}  // namespace brevalto
