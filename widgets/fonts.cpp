#include "fonts.h"

#include <QApplication>
#include <QFont>
#include <QStringList>

namespace {

void substitute(const QString& family, const QString& replacement) {
    if (!QFont::substitutes(family).contains(replacement, Qt::CaseInsensitive))
        QFont::insertSubstitution(family, replacement);
}

}  // namespace

void installFontSubstitutions() {
    // Named outright rather than left to the font configuration, so every
    // machine measures the same.
    substitute(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    substitute(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
}

QFont pixelFont(const char* family, int pixels, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFont layoutFont(const char* family, int points, bool bold) {
    return pixelFont(family, (points * 96 + 36) / 72, bold);
}

QFont programFont() { return layoutFont("MS Sans Serif", 8); }

void installProgramFonts() {
    installFontSubstitutions();
    QApplication::setFont(programFont());
}
