#include "Capture/CaptureEngine.h"

#include "Capture/CaptureError.h"
#include "Errors/AIError.h"
#include "Imaging/BitmapContext.h"
#include "Platform/ScreenGeometry.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

using Kind = CaptureError::Kind;

void checkCancelled(const std::stop_token& stop) {
    if (stop.stop_requested()) throw CaptureCancelled();
}

double area(const QRectF& r) { return r.width() * r.height(); }

QRectF intersect(const QRectF& a, const QRectF& b) {
    const double x0 = std::max(a.x(), b.x());
    const double y0 = std::max(a.y(), b.y());
    const double x1 = std::min(a.x() + a.width(), b.x() + b.width());
    const double y1 = std::min(a.y() + a.height(), b.y() + b.height());
    if (!(x1 > x0) || !(y1 > y0)) return {x0, y0, 0, 0};
    return {x0, y0, x1 - x0, y1 - y0};
}

QRect wholePixels(const QRectF& r) {
    return QRect(static_cast<int>(r.x()), static_cast<int>(r.y()), static_cast<int>(r.width()),
                 static_cast<int>(r.height()));
}

// Where a part of `part` (global points) lands in an image of `rect` at scale s, in pixels from
// the image's top-left corner.
QRectF destinationOf(const QRectF& part, const QRectF& rect, double s) {
    return {(part.x() - rect.x()) * s, (rect.y() + rect.height() - part.y() - part.height()) * s, part.width() * s,
            part.height() * s};
}

bool isCurrent(const CaptureDisplay& display, const std::vector<CaptureDisplay>& current) {
    return std::find(current.begin(), current.end(), display) != current.end();
}

QImage premultiplied(QImage image) {
    if (image.format() != QImage::Format_ARGB32_Premultiplied) {
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return image;
}

}  // namespace

void CaptureEngine::requirePermission() const {
    if (!screen_.hasPermission()) throw CaptureError(Kind::permissionDenied);
}

std::vector<CaptureDisplay> CaptureEngine::displays() {
    requirePermission();
    return CaptureDisplay::all(screen_);
}

std::vector<ScreenCaptureWindow> CaptureEngine::windows(std::stop_token stop) {
    checkCancelled(stop);
    requirePermission();
    auto list = screen_.windows();
    std::erase_if(list, [](const ScreenCaptureWindow& w) { return !w.onScreen; });
    return list;
}

std::optional<std::uint32_t> CaptureEngine::frontWindowID(std::optional<std::int64_t> processId) {
    if (!processId || !screen_.hasPermission()) return std::nullopt;
    for (const auto& w : screen_.windows()) {
        if (w.onScreen && w.processId == *processId && w.ordinary()) return w.id;
    }
    return std::nullopt;
}

CapturedScreenshot CaptureEngine::captureDisplayImage(const CaptureDisplay& display, const CaptureRequest& request,
                                                      const std::optional<QRectF>& rect, std::stop_token stop) {
    checkCancelled(stop);
    requirePermission();
    if (!isCurrent(display, CaptureDisplay::all(screen_))) throw CaptureError(Kind::unavailableTarget);

    const QRectF pixels = display.pixelRect(rect.value_or(display.frame));
    const QRectF whole = display.pixelRect(display.frame);
    if (area(whole) > imageBudget) throw CaptureError(Kind::tooLarge);

    QImage image = screen_.grabDisplay(display.id, wholePixels(pixels), request.includesCursor);
    checkCancelled(stop);
    if (image.isNull() || image.width() != static_cast<int>(pixels.width()) ||
        image.height() != static_cast<int>(pixels.height())) {
        // A display that went away during the shot is a changed target, not a bad image.
        if (!isCurrent(display, CaptureDisplay::all(screen_))) throw CaptureError(Kind::unavailableTarget);
        throw CaptureError(Kind::missingImage);
    }

    CapturedScreenshot shot;
    shot.image = premultiplied(std::move(image));
    shot.scale = display.scale();
    shot.screenRect = display.pointRect(pixels);
    shot.displayID = display.id;
    return shot;
}

CapturedScreenshot CaptureEngine::captureRect(const std::vector<CaptureDisplay>& displays,
                                              const CaptureRequest& request, const std::optional<QRectF>& rect,
                                              std::stop_token stop) {
    const CaptureDisplay surface = CaptureDisplay::surface(displays);
    if (displays.size() < 2) return captureDisplayImage(surface, request, rect, stop);

    const QRectF surfacePixels = surface.pixelRect(rect.value_or(surface.frame));
    if (area(surfacePixels) > imageBudget) throw CaptureError(Kind::tooLarge);
    const QRectF aligned = surface.pointRect(surfacePixels);

    // Every part is known before the first is shot, so a set over the budget costs no shot.
    struct Piece {
        const CaptureDisplay* display;
        QRectF points;
        QRectF pixels;
    };
    std::vector<Piece> pieces;
    double total = 0;
    for (const auto& display : displays) {
        const QRectF points = intersect(display.frame, aligned);
        if (!isFiniteNonEmpty(points)) continue;
        const QRectF pixels = display.pixelRect(points);
        total += area(pixels);
        if (total > imageBudget) throw CaptureError(Kind::tooLarge);
        pieces.push_back({&display, points, pixels});
    }

    // Parts at the surface's own scale that land on whole pixels are read straight into the
    // composed image; any other part is shot on its own and drawn in.
    const double s = surface.scale();
    bool direct = !pieces.empty();
    for (const auto& piece : pieces) {
        const QRectF to = destinationOf(piece.display->pointRect(piece.pixels), aligned, s);
        direct = direct && to.x() == std::floor(to.x()) && to.y() == std::floor(to.y()) &&
                 to.size() == piece.pixels.size();
    }
    if (!direct) {
        std::vector<CapturedScreenshot> parts;
        for (const auto& piece : pieces) parts.push_back(captureDisplayImage(*piece.display, request, piece.points, stop));
        checkCancelled(stop);
        const auto current = CaptureDisplay::all(screen_);
        for (const auto& display : displays) {
            if (!isCurrent(display, current)) throw CaptureError(Kind::unavailableTarget);
        }
        return composeDisplayImages(aligned, parts, surface, stop);
    }

    checkCancelled(stop);
    requirePermission();
    auto requireCurrent = [&] {
        const auto current = CaptureDisplay::all(screen_);
        for (const auto& display : displays) {
            if (!isCurrent(display, current)) throw CaptureError(Kind::unavailableTarget);
        }
    };
    requireCurrent();
    for (const auto& piece : pieces) {
        if (area(piece.display->pixelRect(piece.display->frame)) > imageBudget) throw CaptureError(Kind::tooLarge);
    }
    QImage canvas = rasterize(QColorSpace(QColorSpace::SRgb), surfacePixels.width(), surfacePixels.height()).takeImage();
    for (const auto& piece : pieces) {
        checkCancelled(stop);
        const QRectF to = destinationOf(piece.display->pointRect(piece.pixels), aligned, s);
        if (!screen_.grabDisplayInto(piece.display->id, wholePixels(piece.pixels), request.includesCursor, canvas,
                                     QPoint(static_cast<int>(to.x()), static_cast<int>(to.y())))) {
            requireCurrent();
            throw CaptureError(Kind::missingImage);
        }
    }
    checkCancelled(stop);
    requireCurrent();

    CapturedScreenshot shot;
    shot.image = std::move(canvas);
    shot.scale = s;
    shot.screenRect = aligned;
    shot.displayID = surface.id;
    return shot;
}

CapturedScreenshot CaptureEngine::composeDisplayImages(const QRectF& rect, const std::vector<CapturedScreenshot>& parts,
                                                       const CaptureDisplay& surface, std::stop_token stop) {
    const QRectF pixels = surface.pixelRect(rect);
    // A rectangle that meets no display has nothing to compose: that is a bad region, not a
    // large one.
    if (parts.empty()) throw CaptureError(Kind::invalidRegion);
    if (area(pixels) > imageBudget) throw CaptureError(Kind::tooLarge);

    BitmapContext context = rasterize(QColorSpace(QColorSpace::SRgb), pixels.width(), pixels.height());
    const double s = surface.scale();
    QPainter& painter = context.painter();
    // Parts of lower-scale displays are enlarged by pixel repetition, never smoothed; display
    // parts do not overlap, so each simply replaces what lies below it.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const auto& part : parts) {
        checkCancelled(stop);
        const QRectF& r = part.screenRect;
        if (!isFiniteNonEmpty(r) || !std::isfinite(part.scale) || part.scale <= 0) {
            throw CaptureError(Kind::invalidRegion);
        }
        painter.drawImage(destinationOf(r, rect, s), part.image);
    }
    QImage canvas = context.takeImage();
    if (canvas.isNull()) throw CaptureError(Kind::missingImage);

    CapturedScreenshot shot;
    shot.image = std::move(canvas);
    shot.scale = s;
    shot.screenRect = rect;
    shot.displayID = surface.id;
    return shot;
}

CapturedScreenshot CaptureEngine::captureWindowImage(const ScreenCaptureWindow& window, const CaptureRequest& request,
                                                     std::stop_token stop) {
    if (window.processId != 0 && window.processId == QCoreApplication::applicationPid()) {
        throw CaptureError(Kind::unavailableTarget);
    }
    checkCancelled(stop);
    requirePermission();

    const auto screens = screen_.displays();
    const auto geometry = screens.empty() ? ScreenGeometry(0) : ScreenGeometry::ofPrimaryScreen(screens.front().frame);
    std::vector<CaptureDisplay> current;
    for (const auto& s : screens) {
        if (auto d = CaptureDisplay::fromScreen(s, geometry)) current.push_back(*d);
    }
    const QRectF windowRect = geometry.fromQt(window.frame);
    const CaptureDisplay* display = nullptr;
    double best = -1;
    for (const auto& d : current) {
        const double a = area(intersect(d.frame, windowRect));
        if (a > best) {
            best = a;
            display = &d;
        }
    }
    if (!display) throw CaptureError(Kind::unavailableTarget);

    const double p = display->scale();
    if (window.frame.width() * window.frame.height() * p * p > imageBudget) throw CaptureError(Kind::tooLarge);

    QImage image = screen_.grabWindow(window.id, request.includesCursor);
    checkCancelled(stop);
    if (image.isNull()) {
        const auto now = screen_.windows();
        const bool stillThere = std::any_of(now.begin(), now.end(), [&](const ScreenCaptureWindow& w) {
            return w.id == window.id && w.onScreen;
        });
        throw CaptureError(stillThere ? Kind::missingImage : Kind::unavailableTarget);
    }

    CapturedScreenshot shot;
    shot.image = applyWindowBackground(premultiplied(std::move(image)), windowRect, request, *display);
    shot.scale = p;
    shot.screenRect = windowRect;
    shot.displayID = display->id;
    shot.windowID = window.id;
    return shot;
}

QImage CaptureEngine::applyWindowBackground(const QImage& image, const QRectF& windowRect,
                                            const CaptureRequest& request, const CaptureDisplay& display) {
    if (request.background == CaptureBackground::transparent) return image;
    if (double(image.width()) * image.height() > imageBudget) throw CaptureError(Kind::tooLarge);

    QImage canvas(image.size(), QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull()) throw CaptureError(Kind::tooLarge);
    canvas.fill(request.backgroundColor);

    QPainter painter(&canvas);
    if (request.background == CaptureBackground::wallpaper) {
        const QImage wallpaper = screen_.wallpaper(display.id);
        if (wallpaper.isNull() || !isFiniteNonEmpty(windowRect)) throw AIError(wallpaperUnavailable);
        // Fill the display with the picture, centred, and show the part behind the window.
        const QRectF& d = display.frame;
        const double f = std::max(d.width() / wallpaper.width(), d.height() / wallpaper.height());
        const double drawnWidth = wallpaper.width() * f;
        const double drawnHeight = wallpaper.height() * f;
        const double kx = image.width() / windowRect.width();
        const double ky = image.height() / windowRect.height();
        const double x = kx * (d.center().x() - drawnWidth / 2 - windowRect.x());
        const double y = ky * (d.center().y() - drawnHeight / 2 - windowRect.y());  // from the bottom
        const double w = drawnWidth * kx;
        const double h = drawnHeight * ky;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRectF(x, image.height() - y - h, w, h), wallpaper);
    }
    painter.drawImage(QPointF(0, 0), image);
    painter.end();
    return canvas;
}

}  // namespace brevalto
