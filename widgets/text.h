#pragma once
// The widget boundary: the program's Windows-1252 strings become QString only
// here, and typed text comes back the same way.

#include <QList>
#include <QString>

#include <string>
#include <string_view>

QString toQt(std::string_view cp1252);
std::string fromQt(const QString& text);
