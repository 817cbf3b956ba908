#include "AI/TranslatedImageView.h"

#include "AI/TranslatedImageModel.h"
#include "ClipCore/LanguagePolicy.h"
#include "Imaging/FittedImageView.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

#include <cmath>

namespace brevalto {

namespace {

const char* kStyle = R"(
QLabel { color: rgba(255,255,255,210); }
QLabel#regionsHintMasks, QLabel#regionsHintPrivacy { color: rgba(255,255,255,140); font-size: 11px; }
QLabel#regionsStatus { font-size: 11px; }
QLabel#regionsOutdated { color: rgb(255,196,80); font-size: 11px; }
QScrollArea#regionsEditorScroll, QWidget#regionsEditor { background: transparent; }
)";

// The colour dialog keeps the desktop's own look inside the dark panel.
const char* kDialogStyle = "QLabel, QCheckBox { color: palette(window-text); }";

// A widget that keeps its place in the layout while hidden, so the controls never jump.
template <class W>
W* steady(W* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, bool wrap = false) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    return label;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// A colour swatch as the button's icon.
QIcon swatch(const QColor& color) {
    QPixmap pixmap(14, 14);
    pixmap.fill(color);
    QPainter painter(&pixmap);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(0, 0, 13, 13);
    return QIcon(pixmap);
}

}  // namespace

QString TranslatedImageView::regionLabel(std::size_t index, const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int count = 0; count < kRegionLabelCharacters && end < text.size(); ++count) end = finder.toNextBoundary();
    return QString::number(index + 1) + QStringLiteral(". ") + text.left(std::max<qsizetype>(end, 0));
}

TranslatedImageView::TranslatedImageView(std::shared_ptr<TranslatedImageModel> model, TranslatedImageStore& store,
                                         QWidget* parent)
    : QWidget(parent), model_(std::move(model)), store_(store) {
    setObjectName(QStringLiteral("translatedImageView"));
    setStyleSheet(QString::fromLatin1(kStyle));
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(12);

    auto* main = new QVBoxLayout;
    main->setSpacing(6);
    preview_ = new FittedImageView(this);
    preview_->setObjectName(QStringLiteral("regionsPreview"));
    preview_->setMinimumSize(200, 120);
    preview_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    main->addWidget(preview_, 1);
    main->addWidget(label(this, "regionsHintMasks",
                          QStringLiteral("Best for screenshots and flat backgrounds. Masks are white by default; adjust "
                                         "the color to match. Patterns behind text are not restored."),
                          true));
    main->addWidget(label(this, "regionsHintPrivacy",
                          QStringLiteral("Translate Regions sends only the enabled text to the Claude API (paid). The "
                                         "image stays on this computer."),
                          true));
    auto* actions = new QHBoxLayout;
    actions->addWidget(label(this, "regionsTargetLabel", QStringLiteral("Translate to")));
    target_ = new QComboBox(this);
    target_->setObjectName(QStringLiteral("regionsTarget"));
    for (const TranslationLanguage& language : translationLanguages)
        target_->addItem(QString::fromUtf8(language.name.data(), qsizetype(language.name.size())),
                         QString::fromUtf8(language.code.data(), qsizetype(language.code.size())));
    actions->addWidget(target_);
    translate_ = button(this, "regionsTranslate", QStringLiteral("Translate Regions"));
    update_ = button(this, "regionsUpdatePreview", QStringLiteral("Update Preview"));
    save_ = button(this, "regionsSave", QString());
    actions->addWidget(translate_);
    actions->addWidget(update_);
    actions->addWidget(save_);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("regionsProgress"));
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(60);
    actions->addWidget(steady(progress_));
    cancel_ = button(this, "regionsCancel", QStringLiteral("Cancel"));
    actions->addWidget(steady(cancel_));
    actions->addStretch(1);
    main->addLayout(actions);
    status_ = label(this, "regionsStatus", QString(), true);
    main->addWidget(status_);
    outdated_ = label(this, "regionsOutdated", QStringLiteral("Preview is out of date."));
    main->addWidget(steady(outdated_));
    root->addLayout(main, 1);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("regionsEditorScroll"));
    scroll->setFixedWidth(kEditorWidth);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    editor_ = new QWidget(scroll);
    editor_->setObjectName(QStringLiteral("regionsEditor"));
    auto* column = new QVBoxLayout(editor_);
    column->setContentsMargins(0, 0, 8, 0);
    column->addWidget(label(editor_, "regionsRegionLabel", QStringLiteral("Region")));
    region_ = new QComboBox(editor_);
    region_->setObjectName(QStringLiteral("regionsRegion"));
    column->addWidget(region_);
    enabled_ = new QCheckBox(QStringLiteral("Replace text in this region"), editor_);
    enabled_->setObjectName(QStringLiteral("regionsEnabled"));
    column->addWidget(enabled_);
    original_ = label(editor_, "regionsOriginal", QString(), true);
    original_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    column->addWidget(original_);
    text_ = new QPlainTextEdit(editor_);
    text_->setObjectName(QStringLiteral("regionsText"));
    text_->setMinimumHeight(130);
    column->addWidget(text_);
    auto* colors = new QHBoxLayout;
    maskColor_ = button(editor_, "regionsMaskColor", QStringLiteral("Mask color"));
    textColor_ = button(editor_, "regionsTextColor", QStringLiteral("Text color"));
    colors->addWidget(maskColor_);
    colors->addWidget(textColor_);
    column->addLayout(colors);
    column->addWidget(label(editor_, "regionsScaleLabel", QStringLiteral("Font size (shrinks to fit if needed)")));
    scale_ = new QSlider(Qt::Horizontal, editor_);
    scale_->setObjectName(QStringLiteral("regionsScale"));
    scale_->setRange(40, 200);  // hundredths of the scale, 0.4 to 2.0
    column->addWidget(scale_);
    column->addWidget(label(editor_, "regionsCoordinatesLabel", QStringLiteral("Coordinates 0-1, origin at bottom left")));
    auto* form = new QFormLayout;
    const char* names[] = {"regionsX", "regionsY", "regionsWidth", "regionsHeight"};
    const QString titles[] = {QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("Width"), QStringLiteral("Height")};
    for (int i = 0; i < 4; ++i) {
        coordinates_[i] = new QDoubleSpinBox(editor_);
        coordinates_[i]->setObjectName(QString::fromLatin1(names[i]));
        coordinates_[i]->setRange(0, 1);
        coordinates_[i]->setDecimals(4);
        coordinates_[i]->setSingleStep(0.01);
        form->addRow(label(editor_, "regionsCoordinateLabel", titles[i]), coordinates_[i]);
    }
    column->addLayout(form);
    column->addStretch(1);
    scroll->setWidget(editor_);
    root->addWidget(scroll);

    TranslatedImageModel* m = model_.get();
    connect(translate_, &QPushButton::clicked, m, &TranslatedImageModel::translateRegions);
    connect(update_, &QPushButton::clicked, m, &TranslatedImageModel::updatePreview);
    connect(save_, &QPushButton::clicked, this, [this] { model_->save(store_); });
    connect(cancel_, &QPushButton::clicked, m, &TranslatedImageModel::cancel);
    connect(target_, &QComboBox::activated, this, [this](int index) {
        model_->setTarget(target_->itemData(index).toString().toStdString());
        model_->rememberTarget();
    });
    connect(region_, &QComboBox::activated, this, [this](int index) { model_->setSelected(std::size_t(index)); });
    connect(enabled_, &QCheckBox::toggled, this, [this](bool on) { edit([on](EditableImageRegion& r) { r.enabled = on; }); });
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = text_->toPlainText();
        edit([&text](EditableImageRegion& r) { r.text = text; });
    });
    connect(scale_, &QSlider::valueChanged, this, [this](int value) {
        edit([value](EditableImageRegion& r) {
            // Keep a scale the slider cannot show exactly until the slider really moves.
            if (std::lround(r.scale * 100) != value) r.scale = value / 100.0;
        });
    });
    for (int i = 0; i < 4; ++i)
        connect(coordinates_[i], &QDoubleSpinBox::valueChanged, this, [this, i](double value) {
            edit([i, value](EditableImageRegion& r) {
                double* fields[] = {&r.x, &r.y, &r.width, &r.height};
                *fields[i] = value;
            });
        });
    connect(maskColor_, &QPushButton::clicked, this, [this] { pickColor(true); });
    connect(textColor_, &QPushButton::clicked, this, [this] { pickColor(false); });
    connect(m, &TranslatedImageModel::changed, this, &TranslatedImageView::refresh);
    refresh();
}

TranslatedImageView::~TranslatedImageView() = default;

void TranslatedImageView::edit(const std::function<void(EditableImageRegion&)>& change) {
    if (refreshing_) return;
    const std::size_t index = model_->selected();
    if (index >= model_->regions().size()) return;
    EditableImageRegion region = model_->regions()[index];
    change(region);
    model_->setRegion(index, region);
}

void TranslatedImageView::pickColor(bool mask) {
    const std::size_t index = model_->selected();
    if (index >= model_->regions().size()) return;
    const EditableImageRegion& region = model_->regions()[index];
    auto* dialog = new QColorDialog(mask ? region.background : region.foreground, this);
    dialog->setObjectName(QStringLiteral("regionsColorDialog"));
    dialog->setWindowTitle(mask ? QStringLiteral("Mask color") : QStringLiteral("Text color"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setStyleSheet(QString::fromLatin1(kDialogStyle));
    connect(dialog, &QColorDialog::colorSelected, this, [this, mask](const QColor& color) {
        edit([mask, color](EditableImageRegion& r) { (mask ? r.background : r.foreground) = color; });
    });
    dialog->open();
}

void TranslatedImageView::refresh() {
    refreshing_ = true;
    const TranslatedImageModel& m = *model_;
    const bool busy = m.busy();
    const bool hasRegions = !m.regions().empty();
    if (preview_->image() != m.preview()) preview_->setImage(m.preview());
    status_->setText(m.status());
    outdated_->setVisible(m.dirty());
    const int targetIndex = target_->findData(QString::fromStdString(m.target()));
    if (targetIndex >= 0) target_->setCurrentIndex(targetIndex);
    translate_->setEnabled(!busy && hasRegions);
    update_->setEnabled(!busy && hasRegions);
    save_->setText(m.appliesToDocument() ? QStringLiteral("Apply to Document") : QStringLiteral("Save New Image"));
    save_->setEnabled(!busy && !m.dirty());
    progress_->setVisible(busy);
    cancel_->setVisible(busy && !m.saving());

    editor_->setEnabled(!busy && hasRegions);
    const auto& regions = m.regions();
    if (region_->count() != int(regions.size())) {
        region_->clear();
        for (std::size_t i = 0; i < regions.size(); ++i) region_->addItem(regionLabel(i, regions[i].text));
    } else {
        for (std::size_t i = 0; i < regions.size(); ++i) region_->setItemText(int(i), regionLabel(i, regions[i].text));
    }
    if (m.selected() < regions.size()) {
        const EditableImageRegion& r = regions[m.selected()];
        region_->setCurrentIndex(int(m.selected()));
        enabled_->setChecked(r.enabled);
        original_->setText(QStringLiteral("Original OCR: ") + r.original);
        if (text_->toPlainText() != r.text) text_->setPlainText(r.text);
        maskColor_->setIcon(swatch(r.background));
        textColor_->setIcon(swatch(r.foreground));
        if (std::lround(r.scale * 100) != scale_->value()) scale_->setValue(int(std::lround(r.scale * 100)));
        const double values[] = {r.x, r.y, r.width, r.height};
        for (int i = 0; i < 4; ++i)
            if (coordinates_[i]->value() != values[i]) coordinates_[i]->setValue(values[i]);
    } else {
        original_->clear();
        text_->clear();
    }
    refreshing_ = false;
}

}  // namespace brevalto
