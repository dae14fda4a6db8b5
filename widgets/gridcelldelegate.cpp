#include "gridcelldelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace {

// Lays `layout` out on one line `width` wide at the origin, as the style does
// with a cell's text.
void layOutOneLine(QTextLayout& layout, const QTextOption& textOption, int width) {
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
}

}  // namespace

void GridCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QWidget* widget = cell.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // Text on several lines, icons, check boxes, the cell being edited and
    // the one with the focus frame (drawn over the text) go the style's own way.
    const auto otherFeatures = QStyleOptionViewItem::WrapText | QStyleOptionViewItem::HasCheckIndicator |
                               QStyleOptionViewItem::HasDecoration;
    if (cell.text.isEmpty() || (cell.features & otherFeatures) ||
        (cell.state & (QStyle::State_Editing | QStyle::State_HasFocus)) || cell.text.contains(QChar::LineSeparator)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    // The style draws the cell without its text: background and selection,
    // which do not depend on the text.
    const QString text = std::exchange(cell.text, QString());
    cell.features &= ~QStyleOptionViewItem::HasDisplay;
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    // The text in the pen, room and place the style gives it.
    QPalette::ColorGroup group = (cell.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(cell.state & QStyle::State_Active)) group = QPalette::Inactive;
    const QPalette::ColorRole role = (cell.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect room =
        style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget).adjusted(margin, 0, -margin, 0);
    const LaidOutText& shown = laidOut(cell, text, room);
    painter->save();
    painter->setClipRect(cell.rect, Qt::IntersectClip);
    painter->setPen(cell.palette.color(group, role));
    shown.layout->draw(painter, QPointF(room.x(), room.y() + shown.top));
    painter->restore();
}

const GridCellDelegate::LaidOutText& GridCellDelegate::laidOut(const QStyleOptionViewItem& option,
                                                                const QString& text, const QRect& room) const {
    const Context context{option.font, option.displayAlignment, option.textElideMode, option.direction};
    if (!(context == context_)) {
        kept_.clear();
        context_ = context;
    }
    const TextKey key{text, room.width(), room.height()};
    if (const auto found = kept_.constFind(key); found != kept_.cend()) return **found;
    if (kept_.size() >= kKeptTexts) kept_.clear();

    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    textOption.setAlignment(QStyle::visualAlignment(option.direction, option.displayAlignment));

    auto shown = std::make_shared<LaidOutText>();
    shown->layout = std::make_unique<QTextLayout>(text, option.font);
    layOutOneLine(*shown->layout, textOption, room.width());
    // The line is placed by the height of the whole text, before eliding.
    const QSize size = shown->layout->boundingRect().size().toSize();
    shown->top = QStyle::alignedRect(Qt::LayoutDirectionAuto, option.displayAlignment, size, room).top() - room.top();
    if (shown->layout->lineCount() > 0 && shown->layout->lineAt(0).naturalTextWidth() > room.width()) {
        const QString elided = QFontMetrics(option.font).elidedText(text, option.textElideMode, room.width());
        shown->layout = std::make_unique<QTextLayout>(elided, option.font);
        layOutOneLine(*shown->layout, textOption, room.width());
    }
    return **kept_.insert(key, std::move(shown));
}
