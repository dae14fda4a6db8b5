#pragma once
// The program's colours, one definition each, for every window.

#include <QColor>

namespace palette {

// The navy of the main window, the dialogs and the end of the backdrop.
inline const QColor kWindow(0x01, 0x00, 0x41);
// The slate blue at the top of the backdrop.
inline const QColor kBackdropTop(0x35, 0x35, 0x56);
// Input fields and the browsing grid.
inline const QColor kInputBackground(0xF5, 0xF5, 0xF5);
inline const QColor kInputText(0xFF, 0x00, 0x00);
// The pale lilac of the grid titles and the quieter captions.
inline const QColor kLilac(0x99, 0x99, 0xBA);
// The near-white of the large captions.
inline const QColor kNearWhite(0xF5, 0xF5, 0xF5);

// The basic colours of the charts, the tables and the frames.
inline const QColor kBlack(0x00, 0x00, 0x00);
inline const QColor kWhite(0xFF, 0xFF, 0xFF);
inline const QColor kNavy(0x00, 0x00, 0x80);
inline const QColor kSilver(0xC0, 0xC0, 0xC0);
inline const QColor kGrey(0x80, 0x80, 0x80);
inline const QColor kRed(0xFF, 0x00, 0x00);
inline const QColor kBlue(0x00, 0x00, 0xFF);

}  // namespace palette
