#pragma once
// The selection module: a small tool window that narrows the main window's
// current view by title text, minimum rating and category. Every change of a
// criterion reruns the view at once; there is no apply step.

#include "selectionhost.h"
#include "statisticswindowlink.h"

#include <QWidget>

#include <string>
#include <vector>

class ClickArea;
class QComboBox;
class QLabel;
class QLineEdit;

namespace archive {
struct ViewDef;
}

class TSuchPage : public QWidget {
    Q_OBJECT
public:
    explicit TSuchPage(SelectionHost& host, QWidget* parent = nullptr);

    QLabel* Image3() const { return image3_; }
    QLineEdit* Edit1() const { return edit1_; }
    QComboBox* ComboBox1() const { return comboBox1_; }
    QComboBox* ComboBox2() const { return comboBox2_; }
    ClickArea* Image2() const { return image2_; }
    ClickArea* Image1() const { return image1_; }

    // Puts a text into the title box the way the main window's quick field
    // mirrors its own: only when it differs, so the cursor stays where it is.
    void setTitleText(const std::string& text);

    void FormCreate();
    // Every change of the title text, typed or set by the program.
    void Edit1Change();
    // The user picked a rating or a category.
    void ComboBox1Change();
    void ComboBox2Change();
    // "OK": put the window away; the criteria stay in force.
    void Image1Click();
    // "Alle": clear every criterion, rerun the view and put the window away.
    void Image2Click();
    // Rebuilds the selection condition from the two lists and reruns the view.
    void Suchen();

    // The main window's view switch.
    void clearCategories();
    void fillCategories(const archive::ViewDef& view);  // "(alle)" and the view's categories
    void setRatingListEnabled(bool enabled);
    void resetListsQuietly();  // both lists to "(alle)" without their change handlers

    // Statistics windows, registered once at start-up in the order games, disc
    // contents, tips. A category pick marks their row; a search refreshes them.
    void addStatisticsWindow(StatisticsWindowLink& window);

private:
    SelectionHost& host_;
    std::vector<StatisticsWindowLink*> statisticsWindows_;
    QLabel* image3_;
    QLineEdit* edit1_;
    QComboBox* comboBox1_;
    QComboBox* comboBox2_;
    ClickArea* image2_;
    ClickArea* image1_;
};
