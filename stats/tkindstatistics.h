#pragma once
// The disc-contents and tips statistics: how many entries of each kind the
// current selection holds, and how many per issue appeared in each calendar
// month. The two windows differ only in their kinds, texts and sizes.

#include "statisticswindow.h"

#include <span>
#include <string_view>

class TKindStatistics : public TStatisticsWindow {
    Q_OBJECT
public:
    // Everything in which the two windows differ.
    struct Texts {
        const archive::ViewDef& (*view)();  // its statistics rows are the kinds counted
        int archive::ViewState::*firstMonth;
        int archive::ViewState::*firstYear;
        int archive::ViewState::*lastMonth;
        int archive::ViewState::*lastYear;
        const char* noun;            // "File", "Tipp"
        const char* monthHeading;    // Label3 after a computation
        const char* monthCaption;    // FxLabel1 before the scale maximum
        const char* readoutQuantity; // in the month read-out
    };

    const stats::KindStatistics& statistics() const { return statistics_; }

protected:
    TKindStatistics(const Layout& layout, const Texts& texts, StatisticsHost& host, TSuchPage& suchPage,
                    QWidget* parent);

    void compute(const archive::DataSet& rows, archive::ViewState& state) override;
    void fillTitleRow() override;
    void fillFromComputation() override;
    bool computationComplete() const override { return statistics_.complete; }
    const std::string& computationFailure() const override { return statistics_.failure; }
    std::string selectionText(int records) const override;
    double monthValue(int month) const override;
    double monthScaleMaximum() const override { return statistics_.itemsPerIssueMax; }
    std::string monthReadout(int month) const override;

private:
    const Texts& texts_;
    stats::KindStatistics statistics_;
};

// Disc contents: nine file kinds.
class TForm5 : public TKindStatistics {
    Q_OBJECT
public:
    TForm5(StatisticsHost& host, TSuchPage& suchPage, QWidget* parent = nullptr);
};

// Tips: five tip kinds.
class TForm6 : public TKindStatistics {
    Q_OBJECT
public:
    TForm6(StatisticsHost& host, TSuchPage& suchPage, QWidget* parent = nullptr);
};
