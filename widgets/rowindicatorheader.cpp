#include "rowindicatorheader.h"

#include <QPainter>

RowIndicatorHeader::RowIndicatorHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}

void RowIndicatorHeader::setMarkColour(const QColor& colour) {
    markColour_ = colour;
    viewport()->update();
}

QPolygonF RowIndicatorHeader::markShape(const QRect& section) {
    const QPointF origin = section.topLeft();
    return QPolygonF({origin + QPointF(3, 6), origin + QPointF(3, 14), origin + QPointF(9, 10)});
}

void RowIndicatorHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    QHeaderView::paintSection(painter, rect, logicalIndex);
    if (!model() || !model()->headerData(logicalIndex, orientation(), kRowIndicatorRole).toBool()) return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(markColour_);
    painter->setClipRect(rect);
    painter->drawPolygon(markShape(rect));
    painter->restore();
}
