#pragma once
// The windows lay their controls out in twips, as designed; this maps one
// place to pixels.

#include <QRect>

#include "platform/twips.h"

namespace ui {

inline QRect Twips(double left, double top, double width, double height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

}  // namespace ui
