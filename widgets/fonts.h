#pragma once
// The window layouts name the fonts of the system they were drawn on. Here
// those names are tied to fonts this system has, before any window exists.

// "Arial" becomes "Liberation Sans", whose letters have Arial's widths, so
// captions measure as designed (" Anzahl" in 8 pt is 36 pixels at 96 dpi).
// "MS Sans Serif" becomes "Liberation Sans" too: the narrower choice, close
// to the widths the fixed-size controls were laid out for. Calling it again
// changes nothing.
void installFontSubstitutions();
