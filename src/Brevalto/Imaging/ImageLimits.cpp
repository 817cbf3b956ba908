#include "Imaging/ImageLimits.h"

#include "Errors/ScreenshotError.h"

#include <cmath>

namespace brevalto {

void validateImageSize(double width, double height) {
    const bool sidesOk = std::isfinite(width) && std::isfinite(height) && width >= 1 && height >= 1 &&
                         width <= kMaxImageSide && height <= kMaxImageSide;
    if (!sidesOk || std::ceil(width) * std::ceil(height) > kMaxImagePixels)
        throw ScreenshotError(kInvalidImageSizeMessage);
}

}  // namespace brevalto
