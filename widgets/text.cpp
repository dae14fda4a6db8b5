#include "text.h"

#include "cp1252.h"

QString toQt(std::string_view cp1252) {
    QString text;
    text.reserve(static_cast<qsizetype>(cp1252.size()));
    for (unsigned char byte : cp1252) text.append(QChar(static_cast<char16_t>(archive::unicodeOfCp1252(byte))));
    return text;
}

std::string fromQt(const QString& text) {
    std::string cp1252;
    cp1252.reserve(static_cast<size_t>(text.size()));
    for (const uint codePoint : text.toUcs4()) {
        const int byte = archive::cp1252OfUnicode(codePoint);
        cp1252 += byte < 0 ? '?' : static_cast<char>(byte);
    }
    return cp1252;
}

QString toQtShown(std::string_view cp1252) {
    if (cp1252.size() <= kShownCharacters) return toQt(cp1252);
    return toQt(cp1252.substr(0, kShownCharacters)) + QChar(0x2026);
}

QString toQtEditable(std::string_view cp1252) { return toQt(cp1252.substr(0, kShownCharacters)); }

std::string editedValue(const QString& typed, std::string_view stored) {
    std::string value = fromQt(typed);
    // An emptied field empties the value: the user erased all there was to see.
    if (!value.empty() && stored.size() > kShownCharacters) value += stored.substr(kShownCharacters);
    return value;
}
