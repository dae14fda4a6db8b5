#pragma once
// What the selection module does to an open statistics window: mark the table
// row of the chosen category, and recompute and repaint after a new search.
// The games, disc-contents and tips statistics windows register in that order.

class StatisticsWindowLink {
public:
    virtual ~StatisticsWindowLink() = default;
    virtual bool isStatisticsShown() const = 0;
    // Row 1 stands for "(alle)", row i + 1 for entry i of the category list.
    virtual void selectCategoryRow(int row) = 0;
    // The window's FormShow followed by a repaint.
    virtual void recomputeAndRepaint() = 0;
};
