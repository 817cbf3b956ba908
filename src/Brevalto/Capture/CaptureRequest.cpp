#include "Capture/CaptureRequest.h"

namespace brevalto {

namespace {

template <class E, std::size_t N>
std::optional<E> fromRaw(const std::array<E, N>& all, const QString& raw) {
    for (E value : all) {
        if (rawValue(value) == raw) return value;
    }
    return std::nullopt;
}

}  // namespace

QString rawValue(CaptureMode mode) {
    switch (mode) {
    case CaptureMode::region: return QStringLiteral("region");
    case CaptureMode::screen: return QStringLiteral("screen");
    case CaptureMode::window: return QStringLiteral("window");
    case CaptureMode::activeWindow: return QStringLiteral("activeWindow");
    case CaptureMode::repeatRegion: return QStringLiteral("repeatRegion");
    }
    return {};
}

QString rawValue(CaptureBackground background) {
    switch (background) {
    case CaptureBackground::transparent: return QStringLiteral("transparent");
    case CaptureBackground::solid: return QStringLiteral("solid");
    case CaptureBackground::wallpaper: return QStringLiteral("wallpaper");
    }
    return {};
}

QString rawValue(CaptureState state) {
    switch (state) {
    case CaptureState::idle: return QStringLiteral("idle");
    case CaptureState::selecting: return QStringLiteral("selecting");
    case CaptureState::capturing: return QStringLiteral("capturing");
    case CaptureState::processing: return QStringLiteral("processing");
    case CaptureState::completed: return QStringLiteral("completed");
    case CaptureState::cancelled: return QStringLiteral("cancelled");
    case CaptureState::failed: return QStringLiteral("failed");
    }
    return {};
}

std::optional<CaptureMode> captureModeFromRaw(const QString& raw) { return fromRaw(allCaptureModes, raw); }
std::optional<CaptureBackground> captureBackgroundFromRaw(const QString& raw) {
    return fromRaw(allCaptureBackgrounds, raw);
}
std::optional<CaptureState> captureStateFromRaw(const QString& raw) { return fromRaw(allCaptureStates, raw); }

}  // namespace brevalto
