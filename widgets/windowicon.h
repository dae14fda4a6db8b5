#pragma once
// Showing a window for the first time hands its icon to the window system.
// Qt does so twice as it makes the window: first the application's icon
// (the window's QWindow has none of its own yet), then the widget's. On X11
// the program's icon at all its sizes is some 360 KB a time, which the
// display server reads before it answers anything else; during the start
// that is paid for the wait window and the main window alike. Shown through
// here, a window carries the icon as its own, and while it is made the
// application's icon is only its smallest size: the first hand-over is that
// small one, the second the whole icon as before. What the window system
// ends up with, and what the window and the application report, is the same.
// For windows shown at the start, whose icon is the program's for good.

class QWidget;

void showHandingIconOnce(QWidget& window);

// A window no task bar or window switcher lists (a splash screen) has its
// icon drawn nowhere larger than a title bar's: it carries, and the window
// system is handed, only the icon's sizes up to this side, once.
inline constexpr int kSmallIconSide = 32;
void showWithSmallIcon(QWidget& window);
