#include "Editor/Inspectors/ExportOptionsPage.h"

#include "Editor/Inspectors/DecimalField.h"
#include "Editor/Inspectors/InspectorRows.h"
#include "Editor/View/ScreenshotEditorView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace brevalto {

using namespace InspectorRows;

namespace {
constexpr int kQualitySteps = 1000;  // slider steps over 0 ... 1
}

QWidget* exportOptionsPage(ScreenshotEditorView& view) {
    auto* page = new QWidget;
    QVBoxLayout* stack = pageStack(page, QStringLiteral("exportPage"));
    ScreenshotEditorView::State& state = view.state();
    stack->addWidget(headline(QStringLiteral("Export"), page));

    auto* format = new QComboBox(page);
    format->setObjectName(QStringLiteral("exportFormat"));
    format->addItem(QStringLiteral("PNG"), int(ScreenshotOutput::Format::png));
    format->addItem(QStringLiteral("JPEG"), int(ScreenshotOutput::Format::jpeg));
    format->setCurrentIndex(format->findData(int(state.format)));
    QObject::connect(format, &QComboBox::currentIndexChanged, page, [&state, format](int) {
        state.format = ScreenshotOutput::Format(format->currentData().toInt());
    });
    labelled(stack, QStringLiteral("Format"), format);

    auto toggle = [&](const QString& label, const char* name, bool ScreenshotEditorView::State::*member) {
        auto* box = new QCheckBox(label, page);
        box->setObjectName(QString::fromUtf8(name));
        box->setChecked(state.*member);
        QObject::connect(box, &QCheckBox::toggled, page, [&state, member](bool on) { state.*member = on; });
        stack->addWidget(box);
    };
    toggle(QStringLiteral("1\u00D7 (divide by capture scale)"), "exportOneX", &ScreenshotEditorView::State::oneX);
    toggle(QStringLiteral("Convert to sRGB"), "exportSRGB", &ScreenshotEditorView::State::srgb);

    stack->addWidget(caption(QStringLiteral("JPEG quality"), page));
    auto* quality = new QSlider(Qt::Horizontal, page);
    quality->setObjectName(QStringLiteral("jpegQuality"));
    quality->setAccessibleName(QStringLiteral("JPEG quality"));
    quality->setRange(0, kQualitySteps);
    quality->setValue(int(std::lround(std::clamp(state.quality, 0.0, 1.0) * kQualitySteps)));
    QObject::connect(quality, &QSlider::valueChanged, page,
                     [&state](int step) { state.quality = double(step) / kQualitySteps; });
    stack->addWidget(quality);

    labelled(stack, QStringLiteral("JPEG background"),
             colorSwatch(
                 QStringLiteral("jpegBackground"), [&state] { return state.jpegBackground; }, false,
                 [&state](const QColor& color) { state.jpegBackground = color; }, page));

    auto* seconds = new DecimalField(QStringLiteral("gifDuration"), state.gifDuration, page);
    QObject::connect(seconds, &DecimalField::valueEdited, page, [&state](double value) { state.gifDuration = value; });
    labelled(stack, QStringLiteral("GIF frame seconds"), seconds);

    stack->addWidget(caption(QStringLiteral("PNG preserves alpha. JPEG flattens onto its background. Exports contain "
                                            "rendered pixels only, not source assets or document layers. GIF is two "
                                            "frames, not a recording."),
                             page));
    return page;
}

}  // namespace brevalto
