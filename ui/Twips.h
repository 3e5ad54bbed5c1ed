// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <QSize>

// Window layouts are written in twips, 1/1440 inch: 15 twips to a pixel at 96 dots per inch.
// Qt's device-independent pixels are 96-dpi pixels, and Qt scales them for high-DPI screens.
namespace twips {

constexpr int perPixel = 15;

constexpr int toPixels(int twips) {
    return twips / perPixel;
}

inline QRect rect(int left, int top, int width, int height) {
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

inline QSize size(int width, int height) {
    return QSize(toPixels(width), toPixels(height));
}

} // namespace twips
