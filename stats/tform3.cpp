#include "tform3.h"

#include "fonts.h"
#include "palette.h"
#include "tfxlabel.h"
#include "text.h"

#include <QLabel>
#include <QPainter>

namespace {

const TStatisticsWindow::Layout kGamesLayout{
    "Form3",
    "Statistik / Spiele",
    558,
    396,
    " Wertungsschnitt der Auswahl je Rubrik",
    " Monatsschnitt:",
    {8, 32, 225, 193},
    3,
    9,
    {522, 16, 16, 165},
    36,
    204,
    false,
};

}  // namespace

TForm3::TForm3(StatisticsHost& host, TSuchPage& suchPage, QWidget* parent)
    : TStatisticsWindow(kGamesLayout, host, suchPage, parent) {
    Label2 = makeLabel("Label2", {10, 244, 511, 14}, "Wertungsverteilung", palette::kWhite, 8, true);
    FxLabel2 = makeRotatedLabel("FxLabel2", {536, 16, 16, 165}, " Wertungsschnitt", palette::kRed, 82);
    FxLabel3 = makeRotatedLabel("FxLabel3", {522, 240, 16, 133}, " Maximum", palette::kBlue, 46);
    Bevel1 = makeBevel("Bevel1", {8, 264, 510, 105});
}

std::string TForm3::selectionText(int records) const { return selectionCountText(records, "Spiel", "e"); }

void TForm3::fillTitleRow() {
    fillTableRows({stats::gameTableTitles()});
    StringGrid1->setColWidth(0, 95);
    StringGrid1->setColWidth(1, 70);
    StringGrid1->setColWidth(2, 52);
}

void TForm3::compute(const archive::DataSet& rows, archive::ViewState& state) {
    const archive::Issue first{state.GameFirstMonth, state.GameFirstYear};
    const archive::Issue newest{state.GameLastMonth, state.GameLastYear};
    statistics_ = stats::computeGameStatistics(rows, archive::gamesView().statisticsRows, first, newest);
    state.StatMonth = newest.month;
    state.StatYear = newest.year;
}

void TForm3::fillFromComputation() {
    if (!statistics_.complete) return;
    fillTableRows(stats::gameTable(statistics_));
    setHeading(Label2, " Wertungsverteilung der ausgew\xE4hlten Spiele (Anzahl Wertungen pro Prozent)");
    FxLabel3->setCaption(" Maximum=" + stats::numberText(statistics_.ratingCountMax) + " Spiel" +
                         (statistics_.ratingCountMax == 1 ? "" : "e"));
    setHeading(Label3, "Schnitt pro Ausgabe: Wertung && Testanzahl");
    FxLabel1->setCaption(" Testanzahlschnitt (max=" + stats::tenthsText(statistics_.testsPerIssueMax) + ")");
    FxLabel2->setCaption(" Wertungsschnitt (max=100%)");
}

double TForm3::monthValue(int month) const {
    return stats::quotient(statistics_.monthTestCount[month], statistics_.issuesPerMonth[month]);
}

std::string TForm3::monthReadout(int month) const { return stats::gameMonthReadout(statistics_, month); }

void TForm3::paintBeforeMonthChart(QPainter& painter) {
    // The distribution: a navy bar of four columns per rating over bands that
    // change every ten ratings. The first column of each group keeps the pen
    // of the stroke before it, which leaves a gap in the previous band colour.
    for (int rating = 0; rating <= 100; ++rating) {
        const int height = static_cast<int>(statistics_.ratingCounts[rating] / statistics_.ratingCountMax *
                                            kDistributionHeight);
        for (int column = 0; column < 5; ++column) {
            const int x = kDistributionLeft + 5 * rating + column;
            if (column > 0) pen_ = palette::kNavy;
            verticalStroke(painter, x, kDistributionBase, kDistributionBase - height);
            pen_ = (rating / 10) % 2 == 1 ? palette::kSilver : palette::kGrey;
            verticalStroke(painter, x, kDistributionBase - height, kDistributionTop);
        }
    }
    // The axis captions 0% … 90%, on the window colour.
    const QFont captionFont = layoutFont("Arial", 8);
    painter.setFont(captionFont);
    const QFontMetrics metrics(captionFont);
    for (int i = 0; i < 10; ++i) {
        const QString caption = QString::number(10 * i) + QLatin1Char('%');
        const QRect cell(12 + 50 * i, 370, metrics.horizontalAdvance(caption), metrics.height());
        painter.fillRect(cell, palette::kWindow);
        painter.setPen(palette::kWhite);
        painter.drawText(cell.left(), cell.top() + metrics.ascent(), caption);
    }
}

void TForm3::paintAfterMonth(QPainter& painter, int month) {
    pen_ = palette::kRed;
    const double average = stats::quotient(statistics_.monthRatingSum[month], statistics_.monthTestCount[month]);
    const int y = static_cast<int>(average / 100 * kMonthHeight);
    const int left = 253 + kMonthWidth * month;
    horizontalStroke(painter, kMonthBase - y, left, left + 21);
    horizontalStroke(painter, kMonthBase + 1 - y, left, left + 21);
}
