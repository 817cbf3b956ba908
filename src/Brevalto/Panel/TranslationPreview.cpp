#include "Panel/TranslationPreview.h"

#include "AI/AIActionModel.h"
#include "Clipboard/ClipStore.h"
#include "ClipCore/LanguagePolicy.h"
#include "Panel/PreviewText.h"
#include "Platform/Symbols.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace brevalto {

namespace {

const char* kStyle = R"(
QLabel, QToolButton, QComboBox { font-size: 12px; color: white; }
QToolButton { border: none; padding: 1px 4px; }
QToolButton:disabled { color: rgba(255,255,255,90); }
QLabel#translationSource { color: rgba(255,255,255,150); }
QPlainTextEdit { background: transparent; border: none; color: white; font-size: 13px; }
*[failed="true"] { color: #ff6b6b; }
QProgressBar { max-width: 40px; max-height: 6px; border: none; background: rgba(255,255,255,30); border-radius: 3px; }
QProgressBar::chunk { background: rgba(255,255,255,150); border-radius: 3px; }
)";

const QString kTranslating = QStringLiteral("Translating...");

}  // namespace

void fillTranslationTargets(QComboBox& picker) {
    for (const TranslationLanguage& language : translationLanguages)
        picker.addItem(QString::fromUtf8(language.name.data(), qsizetype(language.name.size())),
                       QString::fromLatin1(language.code.data(), qsizetype(language.code.size())));
    picker.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    picker.setAccessibleName(QStringLiteral("Translate to"));
    picker.setFocusPolicy(Qt::NoFocus);
}

void showTranslationTarget(QComboBox& picker, const std::string& code) {
    picker.setCurrentIndex(picker.findData(QString::fromStdString(code)));
}

QProgressBar* makeSpinner(const QString& name, QWidget* parent) {
    auto* spinner = new QProgressBar(parent);
    spinner->setObjectName(name);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(40, 6);
    return spinner;
}

QToolButton* makePreviewButton(const QString& name, const QString& title, const QString& symbol, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(title);
    button->setIcon(Symbols::icon(symbol));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

void setStyleFlag(QWidget& widget, const char* flag, bool on) {
    if (widget.property(flag).toBool() == on) return;
    widget.setProperty(flag, on);
    widget.style()->unpolish(&widget);
    widget.style()->polish(&widget);
}

void showPlainText(QPlainTextEdit& view, const QString& text) {
    if (view.toPlainText() != text) view.setPlainText(text);
}

TranslationPreview::TranslationPreview(ClipStore& store, ClipboardMonitor& monitor, QWidget* parent)
    : QWidget(parent), store_(store), monitor_(monitor) {
    setObjectName(QStringLiteral("translationPreview"));
    setStyleSheet(QString::fromLatin1(kStyle));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    source_ = new QLabel(this);
    source_->setObjectName(QStringLiteral("translationSource"));
    source_->setTextFormat(Qt::PlainText);
    header->addWidget(source_);
    target_ = new QComboBox(this);
    target_->setObjectName(QStringLiteral("translationTarget"));
    fillTranslationTargets(*target_);
    header->addWidget(target_);
    spinner_ = makeSpinner(QStringLiteral("translationProgress"), this);
    header->addWidget(spinner_);
    header->addStretch(1);
    copy_ = makePreviewButton(QStringLiteral("copyTranslation"), QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), this);
    header->addWidget(copy_);
    column->addLayout(header);

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("translationText"));
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    column->addWidget(text_, 1);

    connect(target_, &QComboBox::activated, this, [this](int index) {
        const auto model = model_;  // the submit may replace the shown model
        if (!model) return;
        model->setTarget(target_->itemData(index).toString().toStdString());
        model->rememberTarget();
        model->submit(store_.root());
    });
    connect(copy_, &QToolButton::clicked, this, [this] {
        if (model_ && !model_->result().isEmpty())
            copyTextAsClip(model_->result(), "Claude", monitor_, aiPreviewDigest);
    });
    refresh();
}

void TranslationPreview::setModel(std::shared_ptr<AIActionModel> model) {
    if (model == model_) return;
    disconnect(changed_);
    model_ = std::move(model);
    if (model_) changed_ = connect(model_.get(), &AIActionModel::changed, this, &TranslationPreview::refresh);
    refresh();
}

QString TranslationPreview::sourceText(const AIActionModel& model) {
    const QString name = model.source() ? QString::fromStdString(languageName(*model.source())) : QStringLiteral("Auto");
    return name + QStringLiteral(" ->");
}

QString TranslationPreview::bodyText(const AIActionModel& model) {
    if (!model.error().isEmpty()) return model.error();
    if (!model.result().isEmpty()) return model.result();
    return kTranslating;
}

void TranslationPreview::refresh() {
    if (!model_) {
        source_->clear();
        target_->setCurrentIndex(-1);
        spinner_->hide();
        copy_->setEnabled(false);
        showPlainText(*text_, QString());
        return;
    }
    source_->setText(sourceText(*model_));
    showTranslationTarget(*target_, model_->target());
    spinner_->setVisible(model_->busy());
    copy_->setEnabled(!model_->result().isEmpty() && !model_->busy());
    showPlainText(*text_, bodyText(*model_));
    setStyleFlag(*text_, "failed", !model_->error().isEmpty());
}

}  // namespace brevalto
