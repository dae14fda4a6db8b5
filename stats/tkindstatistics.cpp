#include "tkindstatistics.h"

#include "tfxlabel.h"

#include <QLabel>

namespace {


const TStatisticsWindow::Layout kDiscLayout{
    "Form5", "Statistik / CD & DVD-Inhalt", 544, 273, " Verteilung der Dateiarten", "Dateidurchschnitt pro Monat",
    {8, 32, 225, 233}, 2, 11, {522, 8, 16, 173}, 36, 236, true,
};

const TKindStatistics::Texts kDiscTexts{
    archive::discView,
    &archive::ViewState::CDFirstMonth,
    &archive::ViewState::CDFirstYear,
    &archive::ViewState::CDLastMonth,
    &archive::ViewState::CDLastYear,
    "File",
    "Dateianzahl-Durchschnitt pro Ausgabe",
    " Dateianzahlschnitt (max=",
    "Anzahl der Dateien = ",
};

const TStatisticsWindow::Layout kTipsLayout{
    "Form6", "Statistik / Tipps", 544, 241, " Verteilung der Tippsarten", "Tippsdurchschnitt pro Monat",
    {8, 32, 225, 152}, 2, 7, {522, 8, 16, 173}, 36, 204, true,
};

const TKindStatistics::Texts kTipsTexts{
    archive::tipsView,
    &archive::ViewState::TippsFirstMonth,
    &archive::ViewState::TippsFirstYear,
    &archive::ViewState::TippsLastMonth,
    &archive::ViewState::TippsLastYear,
    "Tipp",
    "Tippsanzahl-Durchschnitt pro Ausgabe",
    " Tippsanzahlschnitt (max=",
    "Anzahl der Tipps = ",
};

}  // namespace

TKindStatistics::TKindStatistics(const Layout& layout, const Texts& texts, StatisticsHost& host, TSuchPage& suchPage,
                                 QWidget* parent)
    : TStatisticsWindow(layout, host, suchPage, parent), texts_(texts) {}

std::string TKindStatistics::selectionText(int records) const {
    return selectionCountText(records, texts_.noun, "s");
}

void TKindStatistics::fillTitleRow() {
    fillTableRows({stats::kindTableTitles(texts_.view())});
    StringGrid1->setColWidth(0, 138);
    StringGrid1->setColWidth(1, 80);
}

void TKindStatistics::compute(const archive::DataSet& rows, archive::ViewState& state) {
    const archive::Issue first{state.*texts_.firstMonth, state.*texts_.firstYear};
    const archive::Issue newest{state.*texts_.lastMonth, state.*texts_.lastYear};
    statistics_ = stats::computeKindStatistics(rows, texts_.view().statisticsRows, first, newest);
    state.StatMonth = newest.month;
    state.StatYear = newest.year;
}

void TKindStatistics::fillFromComputation() {
    if (!statistics_.complete) return;
    setHeading(Label3, texts_.monthHeading);
    FxLabel1->setCaption(texts_.monthCaption + stats::tenthsText(statistics_.itemsPerIssueMax) + ")");
    fillTableRows(stats::kindTable(texts_.view(), statistics_));
}

double TKindStatistics::monthValue(int month) const {
    return stats::quotient(statistics_.monthItemCount[month], statistics_.issuesPerMonth[month]);
}

std::string TKindStatistics::monthReadout(int month) const {
    return stats::kindMonthReadout(statistics_, month, texts_.readoutQuantity);
}

TForm5::TForm5(StatisticsHost& host, TSuchPage& suchPage, QWidget* parent)
    : TKindStatistics(kDiscLayout, kDiscTexts, host, suchPage, parent) {}

TForm6::TForm6(StatisticsHost& host, TSuchPage& suchPage, QWidget* parent)
    : TKindStatistics(kTipsLayout, kTipsTexts, host, suchPage, parent) {}
