#pragma once
// The games statistics: average rating per category, the rating distribution
// and the month chart with the average marks, for the games of the current
// selection.

#include "statisticswindow.h"

class TForm3 : public TStatisticsWindow {
    Q_OBJECT
public:
    TForm3(StatisticsHost& host, TSuchPage& suchPage, QWidget* parent = nullptr);

    const stats::GameStatistics& statistics() const { return statistics_; }

    // The rating distribution: 101 groups of 5 columns from x = 11, base line 366.
    static constexpr int kDistributionLeft = 11;
    static constexpr int kDistributionBase = 366;
    static constexpr int kDistributionHeight = 100;
    static constexpr int kDistributionTop = 266;

protected:
    void compute(const archive::DataSet& rows, archive::ViewState& state) override;
    void fillTitleRow() override;
    void fillFromComputation() override;
    bool computationComplete() const override { return statistics_.complete; }
    const std::string& computationFailure() const override { return statistics_.failure; }
    std::string selectionText(int records) const override;
    double monthValue(int month) const override;
    double monthScaleMaximum() const override { return statistics_.testsPerIssueMax; }
    std::string monthReadout(int month) const override;
    void paintBeforeMonthChart(QPainter& painter) override;
    void paintAfterMonth(QPainter& painter, int month) override;

private:
    QLabel* Label2 = nullptr;
    TFxLabel* FxLabel2 = nullptr;
    TFxLabel* FxLabel3 = nullptr;
    TBevel* Bevel1 = nullptr;

    stats::GameStatistics statistics_;
};
