#pragma once

#include <QColor>
#include <QString>

namespace brevalto {

// One translated text region of an image as the region translator edits it: the recognised and
// the translated text, its box as fractions of the translated area (origin at the bottom left),
// a text-size multiplier, its colours and whether it is used.
struct EditableImageRegion {
    int id = 0;
    QString original;
    QString text;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double scale = 1;
    QColor background = Qt::white;
    QColor foreground = Qt::black;
    bool enabled = true;

    bool operator==(const EditableImageRegion&) const = default;
};

}  // namespace brevalto
