#pragma once

#include <cstdint>

namespace brevalto {

// The size rule that every image entering or leaving a screenshot document passes.
inline constexpr std::int64_t kMaxImageBytes = 67'108'864;  // 64 MiB per image file or image data
inline constexpr double kMaxImageSide = 65'536;              // pixels per side
inline constexpr double kMaxImagePixels = 64'000'000;        // ceil(width) * ceil(height)

inline constexpr const char* kInvalidImageSizeMessage =
    "Invalid size. The editor allows up to 64 MP and 65,536 px per side.";
inline constexpr const char* kUnreadableImageMessage = "Could not read the image, or it exceeds 64 MiB.";
inline constexpr const char* kUndecodableImageMessage = "Could not decode the image.";
inline constexpr const char* kInvalidImageBytesMessage = "Invalid image bytes or image exceeds 64 MiB.";
inline constexpr const char* kRenderMemoryMessage = "Not enough memory to render the image.";

// Passes when both sides are finite and within 1 ... 65,536 and ceil(w) * ceil(h) is at most
// 64,000,000; throws ScreenshotError otherwise.
void validateImageSize(double width, double height);

}  // namespace brevalto
