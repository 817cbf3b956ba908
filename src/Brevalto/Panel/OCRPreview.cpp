#include "Panel/OCRPreview.h"

#include "AI/AIActionModel.h"
#include "Clipboard/ClipStore.h"
#include "ClipCore/SecretScanner.h"
#include "Panel/PreviewText.h"
#include "Panel/TranslationPreview.h"
#include "Platform/Symbols.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace brevalto {

namespace {

const char* kStyle = R"(
QLabel, QToolButton, QComboBox { font-size: 12px; color: white; }
QToolButton { border: none; padding: 1px 4px; }
QToolButton:disabled { color: rgba(255,255,255,90); }
QToolButton#qrPayload { font-size: 11px; }
QLabel#ocrStatus { font-size: 11px; color: rgba(255,255,255,150); }
QPlainTextEdit { background: transparent; border: none; color: white; font-size: 13px; }
QPlainTextEdit#ocrText { font-family: monospace; font-size: 12px; }
QPlainTextEdit[placeholder="true"] { color: rgba(255,255,255,150); }
QFrame#ocrDivider { background: rgba(255,255,255,40); }
*[failed="true"] { color: #ff6b6b; }
QProgressBar { border: none; background: rgba(255,255,255,30); border-radius: 3px; }
QProgressBar::chunk { background: rgba(255,255,255,150); border-radius: 3px; }
)";

constexpr qsizetype kQRLabelCharacters = 120;

}  // namespace

OCRPreview::OCRPreview(ClipStore& store, ClipboardMonitor& monitor, QWidget* parent)
    : QWidget(parent), store_(store), monitor_(monitor) {
    setObjectName(QStringLiteral("ocrPreview"));
    setStyleSheet(QString::fromLatin1(kStyle));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);

    // The text column.
    auto* textColumn = new QVBoxLayout;
    textColumn->setSpacing(6);
    // The header's two halves stand side by side, or one above the other where the row is too
    // narrow for both (see fitHeader).
    header_ = new QBoxLayout(QBoxLayout::LeftToRight);
    header_->setSpacing(8);
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    actions->addStretch(1);
    header_->addLayout(header, 1);
    header_->addLayout(actions);
    language_ = new QComboBox(this);
    language_->setObjectName(QStringLiteral("ocrLanguage"));
    language_->setAccessibleName(QStringLiteral("OCR language"));
    language_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    language_->setFocusPolicy(Qt::NoFocus);
    header->addWidget(language_);
    spinner_ = makeSpinner(QStringLiteral("ocrProgress"), this);
    header->addWidget(spinner_);
    header->addStretch(1);
    join_ = makePreviewButton(QStringLiteral("joinLines"), QStringLiteral("Join lines"), QStringLiteral("text.justify"), this);
    join_->setToolTip(QStringLiteral("Remove line breaks"));
    header->addWidget(join_);
    copy_ = makePreviewButton(QStringLiteral("copyOCRText"), QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), this);
    header->addWidget(copy_);
    secrets_ = makePreviewButton(QStringLiteral("ocrSecrets"), QString(), QStringLiteral("eye"), this);
    secrets_->setToolTip(
        QStringLiteral("Likely keys, tokens or emails are masked. Show them to edit the text; Copy uses the original."));
    actions->addWidget(secrets_);
    replace_ = makePreviewButton(QStringLiteral("replaceInImage"), QStringLiteral("Replace in image"),
                                 QStringLiteral("text.below.photo"), this);
    replace_->setToolTip(QStringLiteral("Translate and replace each text region inside the image"));
    actions->addWidget(replace_);
    translate_ = makePreviewButton(QStringLiteral("translateOCR"), QStringLiteral("Translate"), QStringLiteral("translate"), this);
    translate_->setToolTip(QStringLiteral("Send only this text to Claude, with secrets masked"));
    actions->addWidget(translate_);
    textColumn->addLayout(header_);

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("ocrText"));
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    textColumn->addWidget(text_, 1);

    qrRows_ = new QWidget(this);
    qrLayout_ = new QVBoxLayout(qrRows_);
    qrLayout_->setContentsMargins(0, 0, 0, 0);
    qrLayout_->setSpacing(2);
    textColumn->addWidget(qrRows_);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("ocrStatus"));
    status_->setTextFormat(Qt::PlainText);
    // It wraps where the translation column leaves too little of the row for one line.
    status_->setWordWrap(true);
    status_->setMinimumWidth(1);
    textColumn->addWidget(status_);
    row->addLayout(textColumn, 1);

    // The translation column.
    auto* divider = new QFrame(this);
    divider->setObjectName(QStringLiteral("ocrDivider"));
    divider->setFixedWidth(1);
    divider_ = divider;
    row->addWidget(divider_);
    translation_ = new QWidget(this);
    translation_->setObjectName(QStringLiteral("ocrTranslation"));
    auto* translationColumn = new QVBoxLayout(translation_);
    translationColumn->setContentsMargins(0, 0, 0, 0);
    translationColumn->setSpacing(6);
    auto* translationHeader = new QHBoxLayout;
    translationHeader->setSpacing(8);
    translationHeader_ = translationHeader;
    target_ = new QComboBox(translation_);
    target_->setObjectName(QStringLiteral("ocrTarget"));
    fillTranslationTargets(*target_);
    translationHeader->addWidget(target_);
    again_ = makePreviewButton(QStringLiteral("translateAgain"), QString(), QStringLiteral("arrow.clockwise"), translation_);
    again_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    again_->setAccessibleName(QStringLiteral("Translate again"));
    again_->setToolTip(QStringLiteral("Translate the edited text again"));
    translationHeader->addWidget(again_);
    translationSpinner_ = makeSpinner(QStringLiteral("ocrTranslationProgress"), translation_);
    translationHeader->addWidget(translationSpinner_);
    translationHeader->addStretch(1);
    copyResult_ = makePreviewButton(QStringLiteral("copyOCRTranslation"), QStringLiteral("Copy"),
                                    QStringLiteral("doc.on.doc"), translation_);
    translationHeader->addWidget(copyResult_);
    hide_ = makePreviewButton(QStringLiteral("hideTranslation"), QString(), QStringLiteral("xmark"), translation_);
    hide_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    hide_->setAccessibleName(QStringLiteral("Hide translation"));
    hide_->setToolTip(QStringLiteral("Hide translation"));
    translationHeader->addWidget(hide_);
    translationColumn->addLayout(translationHeader);
    result_ = new QPlainTextEdit(translation_);
    result_->setObjectName(QStringLiteral("ocrTranslationText"));
    result_->setReadOnly(true);
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    result_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    translationColumn->addWidget(result_, 1);
    row->addWidget(translation_, 1);

    // Every handler holds the model for its own run: a step may replace the shown model.
    connect(language_, &QComboBox::activated, this, [this](int index) {
        const auto model = model_;
        const QString language = language_->itemData(index).toString();
        if (!model || language == model->ocrLanguage()) return;
        model->setOCRLanguage(language);
        model->runOCR(store_.root());
    });
    connect(text_, &QPlainTextEdit::textChanged, this, &OCRPreview::textEdited);
    connect(join_, &QToolButton::clicked, this, [this] {
        if (const auto model = model_) model->setOCRText(joinLines(model->ocrText()));
    });
    connect(copy_, &QToolButton::clicked, this, [this] {
        if (model_ && !model_->ocrText().isEmpty()) copyTextAsClip(model_->ocrText(), "Local OCR", monitor_);
    });
    connect(secrets_, &QToolButton::clicked, this, [this] {
        revealed_ = !revealed_;
        refresh();
    });
    connect(replace_, &QToolButton::clicked, this, [this] {
        const auto model = model_;
        if (!model || !model->replaceText) return;
        try {
            model->replaceText();
        } catch (const std::exception& e) {
            model->setError(QString::fromUtf8(e.what()));
        }
    });
    connect(translate_, &QToolButton::clicked, this, [this] {
        const auto model = model_;
        if (!model) return;
        model->showsTranslation = true;
        refresh();
        model->submit(store_.root());
    });
    connect(target_, &QComboBox::activated, this, [this](int index) {
        const auto model = model_;
        if (!model) return;
        model->setTarget(target_->itemData(index).toString().toStdString());
        model->rememberTarget();
        model->submit(store_.root());
    });
    connect(again_, &QToolButton::clicked, this, [this] {
        if (const auto model = model_) model->submit(store_.root());
    });
    connect(copyResult_, &QToolButton::clicked, this, [this] {
        if (model_ && !model_->result().isEmpty()) copyTextAsClip(model_->result(), "Claude", monitor_);
    });
    connect(hide_, &QToolButton::clicked, this, [this] {
        if (!model_) return;
        model_->showsTranslation = false;
        refresh();
    });
    refresh();
}

void OCRPreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitHeader();
}

void OCRPreview::fitHeader() {
    // The columns share the row; the text column's header needs its halves' widths side by side,
    // the translation column at least its own header's.
    const int spacing = static_cast<QBoxLayout*>(layout())->spacing();
    int needed = 0;
    for (int i = 0; i < header_->count(); ++i) needed += header_->itemAt(i)->sizeHint().width();
    needed += header_->spacing() * (header_->count() - 1);
    if (!translation_->isHidden()) needed += 2 * spacing + divider_->width() + translationHeader_->sizeHint().width();
    const auto direction = needed > width() ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight;
    if (header_->direction() != direction) header_->setDirection(direction);
}

void OCRPreview::setModel(std::shared_ptr<AIActionModel> model) {
    if (model == model_) return;
    disconnect(changed_);
    model_ = std::move(model);
    revealed_ = false;
    editorText_.reset();
    scannedText_.clear();
    scannedSecret_ = false;
    language_->clear();
    if (model_) {
        language_->addItem(QStringLiteral("Auto"), QStringLiteral("auto"));
        for (const QString& code : model_->supportedOCRLanguages) language_->addItem(ocrLanguageName(code), code);
        changed_ = connect(model_.get(), &AIActionModel::changed, this, &OCRPreview::refresh);
    }
    refresh();
}

QString OCRPreview::qrLabel(const QString& payload) {
    QString shown;
    shown.reserve(std::min(payload.size(), kQRLabelCharacters) + 8);
    for (const QChar c : payload.left(kQRLabelCharacters)) {
        const QChar::Category category = c.category();
        const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
        shown += hidden ? QChar(0xFFFD) : c;
    }
    if (payload.size() > kQRLabelCharacters) shown += QChar(0x2026);
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return QStringLiteral("QR: ") + shown;
}

QString OCRPreview::statusText(const AIActionModel& model) {
    return !model.error().isEmpty() && model.result().isEmpty() ? model.error() : model.ocrNotice();
}

void OCRPreview::textEdited() {
    if (updating_ || !model_ || text_->isReadOnly()) return;
    const auto model = model_;
    model->setOCRText(text_->toPlainText());
}

void OCRPreview::rebuildQRRows() {
    const QStringList payloads = model_ ? model_->qrPayloads() : QStringList();
    if (payloads == shownPayloads_) return;
    shownPayloads_ = payloads;
    while (QLayoutItem* item = qrLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const QString& payload : payloads) {
        auto* button = makePreviewButton(QStringLiteral("qrPayload"), qrLabel(payload), QStringLiteral("qrcode"), qrRows_);
        button->setToolTip(QStringLiteral("Copy QR content. Links are not opened."));
        connect(button, &QToolButton::clicked, this, [this, payload] { copyTextAsClip(payload, "Local QR", monitor_); });
        qrLayout_->addWidget(button, 0, Qt::AlignLeft);
    }
    qrRows_->setVisible(!payloads.isEmpty());
}

void OCRPreview::refresh() {
    const auto model = model_;
    rebuildQRRows();
    if (!model) {
        const bool was = updating_;
        updating_ = true;
        text_->clear();
        result_->clear();
        updating_ = was;
        status_->clear();
        divider_->hide();
        translation_->hide();
        return;
    }
    const QString& text = model->ocrText();
    const bool empty = text.isEmpty();
    const bool busy = model->busy();
    if (text != scannedText_) {
        scannedText_ = text;
        const QByteArray utf8 = text.toUtf8();
        scannedSecret_ = !SecretScanner::ranges(std::string_view(utf8.constData(), std::size_t(utf8.size()))).empty();
    }
    const bool masked = !revealed_ && scannedSecret_;

    // The text area: masked and read-only, or the editor of the model's text.
    const bool was = updating_;
    updating_ = true;
    text_->setReadOnly(masked);
    if (masked) {
        editorText_.reset();
        const QByteArray utf8 = text.toUtf8();
        showPlainText(*text_, QString::fromStdString(
                                  SecretScanner::masked(std::string_view(utf8.constData(), std::size_t(utf8.size())))));
    } else {
        if (text_->toPlainText() != text) text_->setPlainText(text);
        // A translation never stands beside a text it was not made from.
        const bool changedText = editorText_ && *editorText_ != text;
        editorText_ = text;
        if (changedText) model->clearResult();
    }
    updating_ = was;

    const int index = language_->findData(model->ocrLanguage());
    if (language_->currentIndex() != index) language_->setCurrentIndex(index);
    spinner_->setVisible(busy && empty);
    join_->setEnabled(!empty);
    copy_->setEnabled(!empty);
    secrets_->setVisible(revealed_ || masked);
    secrets_->setText(revealed_ ? QStringLiteral("Hide secrets") : QStringLiteral("Show secrets"));
    secrets_->setIcon(Symbols::icon(revealed_ ? QStringLiteral("eye.slash") : QStringLiteral("eye")));
    replace_->setVisible(static_cast<bool>(model->replaceText));
    replace_->setEnabled(!busy && !empty);
    translate_->setVisible(!model->showsTranslation);
    translate_->setEnabled(!busy && !empty);
    status_->setText(statusText(*model));
    setStyleFlag(*status_, "failed", !model->error().isEmpty());

    divider_->setVisible(model->showsTranslation);
    translation_->setVisible(model->showsTranslation);
    fitHeader();
    showTranslationTarget(*target_, model->target());
    again_->setEnabled(!busy && !empty);
    translationSpinner_->setVisible(busy && !empty);
    copyResult_->setEnabled(!model->result().isEmpty());
    const QString shown = !model->result().isEmpty() ? model->result()
                          : busy                     ? QStringLiteral("Translating...")
                                                     : QStringLiteral("No translation yet.");
    showPlainText(*result_, shown);
    setStyleFlag(*result_, "placeholder", model->result().isEmpty());
}

}  // namespace brevalto
