#pragma once
// The program's pictures, drawn from their SVG at the exact pixel size the
// windows give them when the program was built.

#include <QIcon>
#include <QPixmap>
#include <QString>

// name: "sidebar", "aktiv1" … "aktiv4", "led", "wait", "selection".
QPixmap picture(const QString& name);

// The program's icon ("quillora", also installed into the desktop's icon
// theme), drawn at the sizes window managers and task bars ask for.
QIcon programIcon();
