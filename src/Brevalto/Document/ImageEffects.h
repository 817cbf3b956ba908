#pragma once

#include <QImage>
#include <QPointF>

#include <stop_token>

namespace brevalto {

// Filters that effect layers and the backdrop shadow run on pixels. Each works in place on an
// image of premultiplied ARGB32 (four channels) or Alpha8 (one channel); other formats are
// converted to premultiplied ARGB32 first. Edge pixels repeat outward without end, so a region
// filtered on its own darkens or fades nowhere at its borders. Pure functions of their input,
// safe on any thread.
namespace ImageEffects {

// Gaussian blur of standard deviation sigma (pixels), approximated by three box blurs per axis.
// Each pass keeps a running sum, so the cost per pixel does not depend on sigma. A sigma too
// small for a box of three pixels leaves the image unchanged. A stop request ends it part way,
// the image then half blurred.
void gaussianBlur(QImage& image, double sigma, const std::stop_token& stop = {});

// Replaces each block of blockSize x blockSize pixels (at least 1) by the mean of its pixels.
// The block grid has a corner at anchor, in image pixels from the top-left corner; blocks cut by
// the image's edges average the pixels inside it.
void pixelate(QImage& image, double blockSize, QPointF anchor);

}  // namespace ImageEffects

}  // namespace brevalto
