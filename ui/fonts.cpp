#include "ui/fonts.h"

#include <QStringList>

namespace ui {

void InstallFontSubstitutions() {
    QFont::insertSubstitutions(
        QStringLiteral("MS Sans Serif"),
        QStringList{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(
        QStringLiteral("MS Serif"),
        QStringList{QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
    QFont::insertSubstitutions(
        QStringLiteral("GothicE"),
        QStringList{QStringLiteral("URW Gothic"), QStringLiteral("DejaVu Sans")});
}

namespace {
QFont Make(const char* family, double points, QFont::StyleHint hint) {
    InstallFontSubstitutions();
    QFont f(QString::fromLatin1(family));
    f.setPointSizeF(points);
    f.setStyleHint(hint);
    f.setWeight(QFont::Normal);
    return f;
}
}  // namespace

QFont DefaultFont() {
    return Make("MS Sans Serif", 8.25, QFont::SansSerif);
}
QFont HeaderFont() {
    return Make("MS Serif", 6.75, QFont::Serif);
}
QFont DisplayFont() {
    return Make("GothicE", 15.75, QFont::Decorative);
}

}  // namespace ui
