#pragma once
// The widget boundary: the program's Windows-1252 strings become QString only
// here, and typed text comes back the same way.

#include <QList>
#include <QString>

#include <string>
#include <string_view>

QString toQt(std::string_view cp1252);
std::string fromQt(const QString& text);

// A cell of a grid is at most this many pixels wide.
inline constexpr int kWidestCell = 4096;
// The most characters of one value a widget is given to show or edit: no
// character is narrower than a pixel, so this fills the widest cell, and a
// value of any length costs what a screenful of it costs.
inline constexpr size_t kShownCharacters = static_cast<size_t>(kWidestCell);

// The beginning of a value as a cell shows it: the whole value when it is at
// most kShownCharacters long, otherwise that many characters and "\u2026",
// which the cell elides just as it would the whole value.
QString toQtShown(std::string_view cp1252);
// The part of a value an edit field holds: at most kShownCharacters.
QString toQtEditable(std::string_view cp1252);
// The value an edit field stores back: what the user left in the field, and
// the rest of `stored` the field did not hold, unchanged; nothing when the
// user emptied the field.
std::string editedValue(const QString& typed, std::string_view stored);
