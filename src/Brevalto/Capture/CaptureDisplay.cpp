#include "Capture/CaptureDisplay.h"

#include "Capture/CaptureError.h"
#include "Platform/ScreenCapture.h"
#include "Platform/ScreenGeometry.h"

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

bool finite(double v) { return std::isfinite(v); }

bool sameRect(const QRectF& a, const QRectF& b) {
    return a.x() == b.x() && a.y() == b.y() && a.width() == b.width() && a.height() == b.height();
}

double maxX(const QRectF& r) { return r.x() + r.width(); }
double maxY(const QRectF& r) { return r.y() + r.height(); }

// Containment in bottom-left space, edges included.
bool contains(const QRectF& outer, const QRectF& inner) {
    return inner.x() >= outer.x() && inner.y() >= outer.y() && maxX(inner) <= maxX(outer) &&
           maxY(inner) <= maxY(outer);
}

QRectF unite(const QRectF& a, const QRectF& b) {
    const double x0 = std::min(a.x(), b.x());
    const double y0 = std::min(a.y(), b.y());
    return {x0, y0, std::max(maxX(a), maxX(b)) - x0, std::max(maxY(a), maxY(b)) - y0};
}

QRectF intersect(const QRectF& a, const QRectF& b) {
    const double x0 = std::max(a.x(), b.x());
    const double y0 = std::max(a.y(), b.y());
    const double x1 = std::min(maxX(a), maxX(b));
    const double y1 = std::min(maxY(a), maxY(b));
    if (x1 <= x0 || y1 <= y0) return {x0, y0, 0, 0};
    return {x0, y0, x1 - x0, y1 - y0};
}

void requireValid(const CaptureDisplay& display) {
    const double s = display.pixelSize.width() / display.frame.width();
    if (!isFiniteNonEmpty(display.frame) || !finite(s) || s <= 0) {
        throw CaptureError(CaptureError::Kind::invalidRegion);
    }
}

}  // namespace

bool operator==(const CaptureDisplay& a, const CaptureDisplay& b) {
    return a.id == b.id && a.identity == b.identity && sameRect(a.frame, b.frame) &&
           a.pixelSize.width() == b.pixelSize.width() && a.pixelSize.height() == b.pixelSize.height() &&
           a.rotation == b.rotation;
}

std::optional<CaptureDisplay> CaptureDisplay::fromScreen(const ScreenCaptureDisplay& screen,
                                                         const ScreenGeometry& geometry) {
    if (screen.identity.isEmpty()) return std::nullopt;
    CaptureDisplay display;
    display.id = screen.id;
    display.identity = screen.identity;
    display.frame = geometry.fromQt(screen.frame);
    display.pixelSize = QSizeF(std::round(display.frame.width() * screen.scale),
                               std::round(display.frame.height() * screen.scale));
    display.rotation = screen.rotation;
    return display;
}

std::vector<CaptureDisplay> CaptureDisplay::all(ScreenCapture& screen) {
    const auto screens = screen.displays();
    std::vector<CaptureDisplay> result;
    if (screens.empty()) return result;
    const auto geometry = ScreenGeometry::ofPrimaryScreen(screens.front().frame);
    for (const auto& s : screens) {
        if (auto display = fromScreen(s, geometry)) result.push_back(*display);
    }
    return result;
}

CaptureDisplay CaptureDisplay::surface(const std::vector<CaptureDisplay>& displays) {
    if (displays.empty()) throw CaptureError(CaptureError::Kind::invalidRegion);
    for (const auto& d : displays) requireValid(d);
    if (displays.size() == 1) return displays.front();

    CaptureDisplay result;
    result.id = displays.front().id;
    QStringList identities;
    QRectF frame = displays.front().frame;
    double scale = 0;
    for (const auto& d : displays) {
        identities << d.identity;
        frame = unite(frame, d.frame);
        scale = std::max(scale, d.scale());
    }
    result.identity = identities.join(QLatin1Char(';'));
    result.frame = frame;
    result.pixelSize = QSizeF(std::ceil(frame.width() * scale), std::ceil(frame.height() * scale));
    result.rotation = 0;
    return result;
}

QRectF CaptureDisplay::pixelRect(const QRectF& rect) const {
    const QRectF& f = frame;
    const double pw = pixelSize.width();
    const double ph = pixelSize.height();
    if (!isFiniteNonEmpty(rect) || !isFiniteNonEmpty(f) || !finite(pw) || !finite(ph) || pw <= 0 || ph <= 0 ||
        !contains(f, rect)) {
        throw CaptureError(CaptureError::Kind::invalidRegion);
    }
    const double sx = pw / f.width();
    const double sy = ph / f.height();
    const double x0 = std::floor(sx * (rect.x() - f.x()));
    const double y0 = std::floor(sy * (maxY(f) - maxY(rect)));
    const double x1 = std::ceil(sx * (maxX(rect) - f.x()));
    const double y1 = std::ceil(sy * (maxY(f) - rect.y()));
    return intersect(QRectF(x0, y0, x1 - x0, y1 - y0), QRectF(0, 0, pw, ph));
}

QRectF CaptureDisplay::pointRect(const QRectF& p) const {
    const QRectF& f = frame;
    const double pw = pixelSize.width();
    const double ph = pixelSize.height();
    if (!isFiniteNonEmpty(p) || !isFiniteNonEmpty(f) || !(pw > 0) || !(ph > 0) ||
        !contains(QRectF(0, 0, pw, ph), p)) {
        throw CaptureError(CaptureError::Kind::invalidRegion);
    }
    const double sx = pw / f.width();
    const double sy = ph / f.height();
    return {f.x() + p.x() / sx, maxY(f) - maxY(p) / sy, p.width() / sx, p.height() / sy};
}

bool CaptureRegion::isStillValid(const std::vector<CaptureDisplay>& current) const {
    CaptureDisplay whole;
    try {
        whole = CaptureDisplay::surface(displays);
    } catch (const CaptureError&) {
        return false;
    }
    for (const auto& d : displays) {
        if (std::find(current.begin(), current.end(), d) == current.end()) return false;
    }
    if (!isFiniteNonEmpty(rect) || !contains(whole.frame, rect)) return false;
    return std::any_of(displays.begin(), displays.end(), [this](const CaptureDisplay& d) {
        return isFiniteNonEmpty(intersect(d.frame, rect));
    });
}

}  // namespace brevalto
