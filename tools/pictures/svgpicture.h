#pragma once
// How a picture of the program is drawn from its SVG: at its own size or a
// given one, into a pixmap cleared to transparent. The build draws each
// picture so once (main.cpp); the pictures test draws them again to compare.

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// Premultiplied ARGB; null when the file is no valid SVG.
inline QImage svgPicture(const QString& file, QSize size = QSize()) {
    QSvgRenderer renderer(file);
    if (!renderer.isValid()) return {};
    QPixmap pixmap(size.isEmpty() ? renderer.defaultSize() : size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
