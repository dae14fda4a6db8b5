#include "pictures.h"

#include <QPainter>
#include <QSvgRenderer>

namespace {

QPixmap rendered(QSvgRenderer& renderer, QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

}  // namespace

QPixmap picture(const QString& name) {
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
    if (!renderer.isValid()) return {};
    return rendered(renderer, renderer.defaultSize());
}

QIcon programIcon() {
    QSvgRenderer renderer(QStringLiteral(":/pictures/quillora.svg"));
    QIcon icon;
    if (!renderer.isValid()) return icon;
    // Rendered here rather than left to the SVG icon plug-in, which a desktop
    // need not have installed.
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(rendered(renderer, QSize(side, side)));
    return icon;
}
