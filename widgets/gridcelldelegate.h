#pragma once
// The cells of a data grid, drawn exactly as the style draws them, with the
// text of each cell laid out once and kept: the style lays a cell's text out
// four or five times per paint (three times only to learn where the text
// goes, once to elide it, once to draw it), and a grid repainted on every
// keystroke shows mostly the same category, genre and publisher texts again.

#include <QHash>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <memory>

class GridCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Texts laid out for as many cells at most; then the store starts afresh.
    static constexpr int kKeptTexts = 4096;

private:
    // A cell's text as it is drawn: elided to the room it has, laid out on
    // one line, and how far below the room's top the line starts.
    struct LaidOutText {
        std::unique_ptr<QTextLayout> layout;
        int top = 0;
    };
    struct TextKey {
        QString text;
        int width;
        int height;
        bool operator==(const TextKey&) const = default;
    };
    friend size_t qHash(const TextKey& key, size_t seed) { return qHashMulti(seed, key.text, key.width, key.height); }

    const LaidOutText& laidOut(const QStyleOptionViewItem& option, const QString& text, const QRect& room) const;

    // What every kept layout depends on besides its text and room; another
    // font, alignment or elision starts the store afresh.
    struct Context {
        QFont font;
        Qt::Alignment alignment;
        Qt::TextElideMode elideMode = Qt::ElideRight;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        bool operator==(const Context&) const = default;
    };
    mutable Context context_;
    mutable QHash<TextKey, std::shared_ptr<LaidOutText>> kept_;
};
