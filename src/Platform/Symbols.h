#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>

// Generated from resources/brevalto.qrc, which is compiled into the Platform library. Resources of a
// static library register only when something references them; Symbols does on first use.
int qInitResources_brevalto();

namespace brevalto {

// The named symbols of the user interface ("clipboard", "pause.fill", ...): small monochrome SVG
// drawings of our own under resources/symbols, painted in the colour of their surroundings.
// Template images ("BrevaltoGlyph") live under resources/images and are painted the same way.
class Symbols {
public:
    // Every symbol name the app uses; each must have a drawing.
    static QStringList names();
    // Whether a drawing exists for the symbol name.
    static bool has(const QString& name) {
        registerResources();
        return exists(symbolPath(name));
    }
    // The symbol as an icon painted in the colour (an empty icon for an unknown name).
    static QIcon icon(const QString& name, const QColor& color = QColor(255, 255, 255)) {
        registerResources();
        return makeIcon(symbolPath(name), color);
    }
    // The symbol painted in the colour into an image of size points at the device pixel ratio
    // (a null image for an unknown name).
    static QImage image(const QString& name, QSizeF size, const QColor& color, qreal devicePixelRatio = 1.0) {
        registerResources();
        return paintPath(symbolPath(name), size, color, devicePixelRatio);
    }
    // A template image from the resources, painted in the colour (null when it is missing or
    // unreadable).
    static QImage templateImage(const QString& name, QSizeF size, const QColor& color, qreal devicePixelRatio = 1.0) {
        registerResources();
        return paintPath(templatePath(name), size, color, devicePixelRatio);
    }

    static QString symbolPath(const QString& name) { return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg"); }
    static QString templatePath(const QString& name) { return QStringLiteral(":/images/") + name + QStringLiteral(".svg"); }
    // Paints the drawing at a resource path in the colour (registration is the caller's).
    static QImage paintPath(const QString& path, QSizeF size, const QColor& color, qreal devicePixelRatio);

    // Makes the app's resources (symbols, images, the app icon) readable. Inline so that the
    // reference to the resources is made from the app's side of the link.
    static void registerResources() {
        static const bool registered = (::qInitResources_brevalto(), true);
        (void)registered;
    }

private:
    static bool exists(const QString& path);
    static QIcon makeIcon(const QString& path, const QColor& color);
};

}  // namespace brevalto
