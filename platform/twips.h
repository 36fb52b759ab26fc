#pragma once
// Positions and sizes are given in twips, 1/1440 inch: 15 twips to a pixel at
// 96 dots per inch. Geometry is computed in twips and mapped to pixels last.

#include <QtGlobal>

#include <cmath>

inline constexpr double kTwipsPerPixel = 15.0;

// Twips to whole pixels, rounded half away from zero.
inline int TwipsToPixels(double twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

inline double PixelsToTwips(double pixels) {
    return pixels * kTwipsPerPixel;
}
