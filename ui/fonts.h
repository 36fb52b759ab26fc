#pragma once
// The fonts of the window design and the fonts Debian ships in their place.
// "MS Sans Serif" and "MS Serif" become Liberation Sans and Liberation Serif
// (package fonts-liberation), "GothicE" becomes URW Gothic (fonts-urw-base35);
// DejaVu follows each as a last resort. All of them cover Cyrillic.

#include <QFont>

namespace ui {

// Registers the replacements with QFont. Safe to call more than once.
void InstallFontSubstitutions();

// "MS Sans Serif" 8.25 pt: the window's default font, the cells' and Bar1's.
QFont DefaultFont();

// "MS Serif" 6.75 pt: the column headers.
QFont HeaderFont();

// "GothicE" 15.75 pt: the About window's large red lines.
QFont DisplayFont();

}  // namespace ui
