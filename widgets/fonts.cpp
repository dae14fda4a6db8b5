#include "fonts.h"

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
