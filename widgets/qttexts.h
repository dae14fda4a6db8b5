#pragma once
// Qt's own words in German: the standard buttons of every box ("Abbrechen",
// "Ja", "Nein"), the file dialog of the import and its messages. They come
// from the catalogue of Qt's translations the system ships; our own texts
// are German already and do not pass through it.

#include <QString>

// The folder Qt's translations are installed in.
QString qtTranslationsFolder();

// Installs Qt's German catalogue from `folder` once for the running
// application; true when it is in place. Without the catalogue Qt's
// dialogs keep their English words and the program runs on.
bool installGermanQtTexts(const QString& folder = qtTranslationsFolder());
