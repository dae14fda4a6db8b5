#pragma once
// The window layouts name the fonts of the system they were drawn on. Here
// those names are tied to fonts this system has, before any window exists.

// "Arial" becomes "Liberation Sans", whose letters have Arial's widths, so
// captions measure as designed (" Anzahl" in 8 pt is 36 pixels at 96 dpi).
// "MS Sans Serif" becomes "Liberation Sans" too: the narrower choice, close
// to the widths the fixed-size controls were laid out for. Calling it again
// changes nothing.
void installFontSubstitutions();

#include <QFont>

// The font of everything that names none of its own: message boxes, menus,
// dialogs, the selection module's texts. The layouts' system font,
// "MS Sans Serif" at 8 pt, so the program looks the same whatever the
// desktop or the installed fonts would choose.
QFont programFont();
// The substitutions, then the program font as the application's font. Once,
// before any window.
void installProgramFonts();

// A font of the window layouts at a fixed pixel size: the layouts do not
// scale with the screen, so a size given in points is the pixel size it had
// at 96 dots per inch (8 pt is 11 pixels).
QFont layoutFont(const char* family, int points, bool bold = false);
QFont pixelFont(const char* family, int pixels, bool bold = false);
