#pragma once
// The window definitions give positions and sizes in twips (1/1440 inch): 15 twips are one
// device-independent pixel, and Qt scales pixels for high-density screens.
#include <QRect>

namespace Twips {

inline constexpr int kPerPixel = 15;

// The nearest pixel.
constexpr int toPixels(int twips) {
    return (twips + kPerPixel / 2) / kPerPixel;
}

inline QRect rect(int left, int top, int width, int height) {
    return {toPixels(left), toPixels(top), toPixels(width), toPixels(height)};
}

} // namespace Twips
