#include "Editor/Inspectors/ColorContrastPage.h"

#include "Editor/ColorMeasurement.h"
#include "Editor/Inspectors/InspectorRows.h"
#include "Editor/View/EditorControls.h"
#include "Editor/View/ScreenshotEditorView.h"

#include <QComboBox>
#include <QDesktopServices>

#include <algorithm>

namespace brevalto {

using namespace InspectorRows;
using ScreenshotColor::RGBA;

ColorContrastPage::ColorContrastPage(ScreenshotEditorView& view, QWidget* parent) : QWidget(parent), view_(view) {
    QVBoxLayout* stack = pageStack(this, QStringLiteral("colorPage"));
    ScreenshotEditorView::State& state = view.state();
    stack->addWidget(headline(QStringLiteral("Color / measurement"), this));

    auto* mode = new QComboBox(this);
    mode->setObjectName(QStringLiteral("sampleMode"));
    mode->addItem(QStringLiteral("Pixel"), QStringLiteral("pixel"));
    mode->addItem(QStringLiteral("Text estimate"), QStringLiteral("text"));
    mode->addItem(QStringLiteral("Average"), QStringLiteral("average"));
    mode->setCurrentIndex(std::max(0, mode->findData(state.sampleMode)));
    connect(mode, &QComboBox::currentIndexChanged, this,
            [&state, mode](int) { state.sampleMode = mode->currentData().toString(); });
    labelled(stack, QStringLiteral("Sample"), mode);

    using Member = RGBA ScreenshotEditorView::State::*;
    auto picker = [&](const QString& label, const QString& name, Member member) {
        QPushButton* swatch = colorSwatch(
            name, [&state, member] { return (state.*member).qColor(); }, true,
            [this, &state, member](const QColor& color) {
                state.*member = RGBA::fromQColor(color);
                refresh();
            },
            this);
        labelled(stack, label, swatch);
        return swatch;
    };
    foreground_ = picker(QStringLiteral("Foreground"), QStringLiteral("foregroundColor"),
                         &ScreenshotEditorView::State::foreground);
    background_ = picker(QStringLiteral("Background"), QStringLiteral("backgroundColor"),
                         &ScreenshotEditorView::State::background);

    auto* buttons = new QHBoxLayout;
    auto* text = button(QStringLiteral("Sample text color"), QStringLiteral("sampleTextColor"), this);
    connect(text, &QPushButton::clicked, this, [this] { sample(true); });
    auto* back = button(QStringLiteral("Sample background"), QStringLiteral("sampleBackground"), this);
    connect(back, &QPushButton::clicked, this, [this] { sample(false); });
    buttons->addWidget(text);
    buttons->addWidget(back);
    buttons->addStretch(1);
    stack->addLayout(buttons);

    lines_ = new QLabel(this);
    lines_->setObjectName(QStringLiteral("colorLines"));
    lines_->setTextFormat(Qt::PlainText);
    lines_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(lines_);

    stack->addWidget(caption(QStringLiteral("Text sampling estimates pixels unlike the area's average. Inspect "
                                            "antialiased text manually. px/pt uses capture scale."),
                             this));
    QLabel* apca = caption(QStringLiteral("APCA is not included: its current Limited W3 License does not clearly "
                                          "authorize general native screenshots. WCAG 2 results are not APCA Lc."),
                           this);
    apca->setForegroundRole(QPalette::PlaceholderText);
    stack->addWidget(apca);
    // Rich text colours a link from the application's palette, not from the label's.
    const QString linkColor = editorDarkPalette(palette()).color(QPalette::Link).name();
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\" style=\"color: %2\">APCA license</a>")
                                .arg(apcaLicense.toString(), linkColor),
                            this);
    link->setObjectName(QStringLiteral("apcaLicense"));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(link, &QLabel::linkActivated, this, [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
    stack->addWidget(link);
    refresh();
}

void ColorContrastPage::sample(bool foreground) {
    view_.attempt([this, foreground] { view_.sampleColor(foreground); });
    refresh();
}

void ColorContrastPage::refresh() {
    const ScreenshotEditorView::State& state = view_.state();
    paintSwatch(foreground_, state.foreground.qColor());
    paintSwatch(background_, state.background.qColor());
    lines_->setText(ColorMeasurement::describe(state.foreground, state.background).join(QLatin1Char('\n')));
}

}  // namespace brevalto
