#include "platform/colors.h"

#include <QGuiApplication>

namespace {
// System colour indexes and the palette role that stands in for each.
QColor SystemColor(quint32 index, const QPalette& p) {
    switch (index) {
        case 0:
            return p.color(QPalette::Button);  // scroll bar
        case 1:
            return p.color(QPalette::Dark);  // desktop
        case 2:
            return p.color(QPalette::Highlight);  // active caption
        case 3:
            return p.color(QPalette::Mid);  // inactive caption
        case 4:
            return p.color(QPalette::Window);  // menu
        case 5:
            return p.color(QPalette::Base);  // window background
        case 6:
            return p.color(QPalette::Shadow);  // window frame
        case 7:
            return p.color(QPalette::WindowText);  // menu text
        case 8:
            return p.color(QPalette::Text);  // window text
        case 9:
            return p.color(QPalette::HighlightedText);  // caption text
        case 10:
            return p.color(QPalette::Button);  // active border
        case 11:
            return p.color(QPalette::Button);  // inactive border
        case 12:
            return p.color(QPalette::Mid);  // application workspace
        case 13:
            return p.color(QPalette::Highlight);
        case 14:
            return p.color(QPalette::HighlightedText);
        case 15:
            return p.color(QPalette::Button);  // button face
        case 16:
            return p.color(QPalette::Dark);  // button shadow
        case 17:
            return p.color(QPalette::Disabled, QPalette::Text);  // grey text
        case 18:
            return p.color(QPalette::ButtonText);
        case 19:
            return p.color(QPalette::Disabled, QPalette::WindowText);
        case 20:
            return p.color(QPalette::Light);  // button highlight
        case 21:
            return p.color(QPalette::Shadow);  // 3-D dark shadow
        case 22:
            return p.color(QPalette::Midlight);  // 3-D light
        case 23:
            return p.color(QPalette::ToolTipText);
        case 24:
            return p.color(QPalette::ToolTipBase);
        default:
            return p.color(QPalette::Window);
    }
}
}  // namespace

QColor ColorFromValue(quint32 value, const QPalette& palette) {
    if (value & kSystemColorFlag) return SystemColor(value & 0xFFu, palette);
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

QColor ColorFromValue(quint32 value) {
    return ColorFromValue(value, QGuiApplication::palette());
}

quint32 ValueFromColor(const QColor& color) {
    return quint32(color.red()) | quint32(color.green()) << 8 | quint32(color.blue()) << 16;
}
