#pragma once

#include "Imaging/BitmapContext.h"

namespace brevalto {

// Stateless rendering of screenshot documents into bitmaps.
namespace ScreenshotRenderer {

using brevalto::rasterize;

}  // namespace ScreenshotRenderer

}  // namespace brevalto
