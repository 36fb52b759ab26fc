#pragma once
// Colour values: either a direct colour 0x00BBGGRR (red in the low byte) or,
// with the high bit set, a system colour chosen by the low byte and taken
// from the application palette.

#include <QColor>
#include <QPalette>

inline constexpr quint32 kSystemColorFlag = 0x80000000u;
inline constexpr quint32 kButtonFace = 0x8000000Fu;
inline constexpr quint32 kButtonText = 0x80000012u;
inline constexpr quint32 kWindowBackground = 0x80000005u;
inline constexpr quint32 kWindowText = 0x80000008u;

// The colour a value stands for, resolved against `palette`.
QColor ColorFromValue(quint32 value, const QPalette& palette);

// The same, against the application's palette.
QColor ColorFromValue(quint32 value);

// A direct colour value for `color` (0x00BBGGRR).
quint32 ValueFromColor(const QColor& color);
