#include "Platform/Symbols.h"

#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace brevalto {

namespace {

// The names the user interface asks for. A name here without a drawing fails a test.
const QStringList kSymbolNames = {
    QStringLiteral("clipboard"),
    QStringLiteral("pause.fill"),
    // The settings window's tabs.
    QStringLiteral("gearshape"),
    QStringLiteral("keyboard"),
    QStringLiteral("camera.viewfinder"),
    QStringLiteral("sparkles"),
    QStringLiteral("icloud.and.arrow.up"),
    QStringLiteral("cloud"),
    // The clip browser: search, cards and their actions.
    QStringLiteral("magnifyingglass"),
    QStringLiteral("xmark.circle.fill"),
    QStringLiteral("photo"),
    QStringLiteral("text.alignleft"),
    QStringLiteral("pin.fill"),
    QStringLiteral("pin"),
    QStringLiteral("pin.slash"),
    QStringLiteral("ellipsis"),
    QStringLiteral("doc.on.doc"),
    QStringLiteral("doc.on.clipboard"),
    QStringLiteral("pencil"),
    QStringLiteral("text.viewfinder"),
    QStringLiteral("translate"),
    QStringLiteral("macwindow.on.rectangle"),
    QStringLiteral("wand.and.stars"),
    QStringLiteral("rectangle.expand.vertical"),
    QStringLiteral("trash"),
    QStringLiteral("link.icloud"),
    // The drag handle of finished screenshots.
    QStringLiteral("arrow.up.doc"),
    // The drag image of dragged clips.
    QStringLiteral("doc.text"),
    // The capture countdown.
    QStringLiteral("timer"),
    // The panel header and the preview pane.
    QStringLiteral("viewfinder"),
    QStringLiteral("play.fill"),
    QStringLiteral("power"),
    QStringLiteral("chevron.up"),
    // The editor's context bar.
    QStringLiteral("chevron.left"),
    QStringLiteral("ellipsis.circle"),
    QStringLiteral("square"),
    QStringLiteral("app"),
    QStringLiteral("eye"),
    QStringLiteral("eye.slash"),
    // The OCR and translation previews.
    QStringLiteral("text.justify"),
    QStringLiteral("qrcode"),
    QStringLiteral("text.below.photo"),
    QStringLiteral("arrow.clockwise"),
    QStringLiteral("xmark"),
    // The floating thumbnail after a capture.
    QStringLiteral("line.3.horizontal"),
    QStringLiteral("square.and.arrow.down"),
    // The model picker of the AI settings.
    QStringLiteral("chevron.up.chevron.down"),
    QStringLiteral("checkmark"),
    QStringLiteral("plus"),
    // The screenshot editor: its tools, toolbar and selection bar.
    QStringLiteral("cursorarrow"),
    QStringLiteral("arrow.up.right"),
    QStringLiteral("textformat"),
    QStringLiteral("rectangle"),
    QStringLiteral("drop"),
    QStringLiteral("pencil.tip"),
    QStringLiteral("1.circle"),
    QStringLiteral("oval"),
    QStringLiteral("highlighter"),
    QStringLiteral("text.bubble"),
    QStringLiteral("arrow.turn.up.right"),
    QStringLiteral("light.max"),
    QStringLiteral("plus.magnifyingglass"),
    QStringLiteral("square.grid.3x3"),
    QStringLiteral("wand.and.rays"),
    QStringLiteral("ruler"),
    QStringLiteral("eyedropper"),
    QStringLiteral("hand.raised"),
    QStringLiteral("square.and.arrow.up"),
    QStringLiteral("rectangle.inset.filled"),
    QStringLiteral("arrow.uturn.backward"),
    QStringLiteral("arrow.uturn.forward"),
    QStringLiteral("exclamationmark.shield"),
    QStringLiteral("arrow.up.left.and.arrow.down.right"),
    QStringLiteral("eraser"),
    QStringLiteral("rectangle.fill"),
    QStringLiteral("xmark.circle"),
    // The shortcuts of the intents (the desktop entry's actions draw them too).
    QStringLiteral("camera"),
};

class SymbolIconEngine : public QIconEngine {
public:
    SymbolIconEngine(QString path, QColor color) : path_(std::move(path)), color_(std::move(color)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QColor color = color_;
        if (mode == QIcon::Disabled) color.setAlphaF(color.alphaF() * 0.4f);
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawImage(rect, Symbols::paintPath(path_, rect.size(), color, ratio));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new SymbolIconEngine(path_, color_); }

private:
    QString path_;
    QColor color_;
};

}  // namespace

QStringList Symbols::names() {
    return kSymbolNames;
}

bool Symbols::exists(const QString& path) {
    return QFile::exists(path);
}

QIcon Symbols::makeIcon(const QString& path, const QColor& color) {
    if (!QFile::exists(path)) return QIcon();
    return QIcon(new SymbolIconEngine(path, color));
}

QImage Symbols::paintPath(const QString& path, QSizeF size, const QColor& color, qreal devicePixelRatio) {
    if (!(size.width() > 0 && size.height() > 0) || !(devicePixelRatio > 0)) return QImage();
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) return QImage();
    const QSize pixels(std::max(1, int(std::ceil(size.width() * devicePixelRatio))),
                       std::max(1, int(std::ceil(size.height() * devicePixelRatio))));
    if (pixels.width() > 4096 || pixels.height() > 4096) return QImage();
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        // Keep the drawing's aspect ratio, centred.
        QSizeF drawn = renderer.defaultSize().isEmpty() ? QSizeF(pixels) : QSizeF(renderer.defaultSize());
        drawn.scale(QSizeF(pixels), Qt::KeepAspectRatio);
        renderer.render(&painter, QRectF(QPointF((pixels.width() - drawn.width()) / 2, (pixels.height() - drawn.height()) / 2), drawn));
        // A template: only the drawing's coverage counts, painted in the colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

}  // namespace brevalto
