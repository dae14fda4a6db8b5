#pragma once
// The program's pictures, rendered from their SVG at the exact pixel size the
// windows give them.

#include <QPixmap>
#include <QString>

// name: "sidebar", "aktiv1" … "aktiv4", "led", "wait", "selection".
QPixmap picture(const QString& name);
