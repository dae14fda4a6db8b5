#pragma once
// The grid's row header, which marks the current record. In browsing the mark
// is a triangle pointing at the row, drawn here rather than set as a sign in
// a font, so it looks the same whatever fonts a machine has; while a record
// is edited or inserted the model's own text ("I", "*") stands there instead.

#include <QColor>
#include <QHeaderView>

// The model says through this header role that a row is the current one in
// browsing (true) and so carries the triangle.
inline constexpr int kRowIndicatorRole = Qt::UserRole + 1;

class RowIndicatorHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit RowIndicatorHeader(QWidget* parent = nullptr);

    // The triangle's colour, that of the header's texts.
    void setMarkColour(const QColor& colour);
    const QColor& markColour() const { return markColour_; }

    // Where the triangle lies in a section, in its coordinates: the place and
    // the size of the sign it replaces, 6 by 8 pixels from the fourth column
    // and the seventh line.
    static QPolygonF markShape(const QRect& section);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    QColor markColour_ = Qt::black;
};
