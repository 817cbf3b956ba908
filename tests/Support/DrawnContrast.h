#pragma once

#include "Editor/ColorMeasurement.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QColor>
#include <QComboBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QScrollArea>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace brevalto {

// What a grab shows drawn on its background. The background is the colour whose band of like
// colours (a flat fill, or the shades of a gradient face) covers most of the grab; the text is the
// drawn colour furthest from it that at least `minimumPixels` pixels share (so a lone antialiasing
// pixel proves nothing either way); the ratio is the WCAG 2 ratio of the text against the shade of
// that band, around the text, that is closest to it.
struct DrawnContrast {
    QRgb background = 0;
    double ratio = 1;
};

inline double contrastOf(QRgb a, QRgb b) {
    using ScreenshotColor::RGBA;
    return ColorMeasurement::contrastRatio(RGBA::fromQColor(QColor(a)), RGBA::fromQColor(QColor(b)));
}

inline DrawnContrast drawnContrast(const QImage& grab, int minimumPixels = 3) {
    const QImage image = grab.convertToFormat(QImage::Format_RGB32);
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y) | 0xFF000000u];
    DrawnContrast drawn;
    if (counts.empty()) return drawn;
    const int share = std::max(1, int(image.width() * image.height() / 50));
    auto alike = [](QRgb a, QRgb b) { return contrastOf(a, b) < 1.25; };
    int widest = 0;
    for (const auto& [colour, count] : counts) {
        int band = 0;
        for (const auto& [other, n] : counts)
            if (n >= share && alike(colour, other)) band += n;
        if (count >= share && band > widest) {
            widest = band;
            drawn.background = colour;
        }
    }
    QRgb text = drawn.background;
    for (const auto& [colour, count] : counts)
        if (count >= minimumPixels && contrastOf(colour, drawn.background) > contrastOf(text, drawn.background))
            text = colour;
    drawn.ratio = contrastOf(text, drawn.background);
    // Against the shades of the background around the text, not those of a frame beyond it.
    QRect around;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) | 0xFF000000u) == text) around |= QRect(x, y, 1, 1);
    std::map<QRgb, int> near;
    for (int y = around.top(); y <= around.bottom(); ++y)
        for (int x = around.left(); x <= around.right(); ++x) ++near[image.pixel(x, y) | 0xFF000000u];
    const int nearShare = std::max(1, int(around.width() * around.height() / 50));
    for (const auto& [colour, count] : near)
        if (count >= nearShare && alike(colour, drawn.background)) drawn.ratio = std::min(drawn.ratio, contrastOf(text, colour));
    return drawn;
}

// Every control of `within` that shows a text, as `window` draws it: as wide as its text needs,
// drawn dark like the panel (a light control passes any contrast test with its black text), and
// its text at 4.5:1 against its face, or at 3:1 while it is disabled. Returns how many it checked.
inline int expectFittedAndLegible(QWidget* window, QWidget* within) {
    int checked = 0;
    for (QWidget* control : within->findChildren<QWidget*>()) {
        const auto* button = qobject_cast<QAbstractButton*>(control);
        const bool text = (button && !button->text().isEmpty()) || qobject_cast<QComboBox*>(control) ||
                          qobject_cast<QAbstractSpinBox*>(control) || qobject_cast<QPlainTextEdit*>(control);
        if (!text || !control->isVisible()) continue;
        for (QWidget* w = control; w; w = w->parentWidget())
            if (auto* scroll = qobject_cast<QScrollArea*>(w)) scroll->ensureWidgetVisible(control, 0, 0);
        const QImage shot = window->grab().toImage();
        const DrawnContrast d = drawnContrast(shot.copy(QRect(control->mapTo(window, QPoint(0, 0)), control->size())));
        const std::string name = control->objectName().toStdString() + (control->isEnabled() ? "" : " (disabled)");
        EXPECT_GE(control->width(), control->sizeHint().width()) << name;
        EXPECT_GE(contrastOf(d.background, qRgb(255, 255, 255)), 4.5) << name << " is drawn light";
        EXPECT_GE(d.ratio, control->isEnabled() ? 4.5 : 3.0) << name;
        ++checked;
    }
    return checked;
}

}  // namespace brevalto
