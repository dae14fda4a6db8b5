#pragma once
// The main window's fixed layout: the colours of the grid, the places of the
// sidebar's view buttons and lamp, and the grid's margins. The layout itself
// (tform1layout.cpp) and the window's handlers that move the lamp or resize
// the grid read them from here.

#include "palette.h"

#include <QColor>
#include <QRect>
#include <QString>

namespace tform1layout {

inline const QColor& kGridBackground = palette::kInputBackground;
inline const QColor& kEditGridBackground = palette::kSilver;
inline const QColor& kGridTitleColour = palette::kLilac;
inline const QColor& kGridText = palette::kWindow;

// Left edge of LED1 and the top edge of each view button; the lamp stands 12
// pixels below the top of its button.
inline constexpr int kLampLeft = 112;
inline constexpr int kLampOffset = 12;
// The three view buttons of the sidebar, games, disc contents and tips: their
// click areas and, in the same place, their highlighted pictures.
struct ViewButton {
    const char* area;
    const char* highlight;
    const char* picture;
    QRect areaBox;
    int highlightWidth;
};
inline const ViewButton kViewButtons[] = {
    {"Image1", "Aktiv1", "aktiv1", {12, 128, 91, 24}, 91},
    {"Image2", "Aktiv2", "aktiv2", {12, 153, 91, 24}, 91},
    {"Image3", "Aktiv3", "aktiv3", {12, 178, 90, 24}, 91},
};
inline constexpr int kGridLeft = 130;
inline constexpr int kGridTop = 9;
inline constexpr int kGridRightMargin = 10;
inline constexpr int kGridBottomMargin = 9;

inline QString hex(const QColor& colour) { return colour.name(QColor::HexRgb); }

}  // namespace tform1layout
