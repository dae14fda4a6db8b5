#include "statistics.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

// The statistics as texts: the number form, the tenths rule, the month
// read-outs and the windows' tables.

namespace stats {
namespace {

double at(const MonthValues& values, int month) {
    return month >= 0 && month < 12 ? values[static_cast<size_t>(month)] : 0;
}

}  // namespace

std::string numberText(double value) {
    if (value == 0) return "0";  // negative zero too
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    // Fifteen significant digits, correctly rounded, then laid out by hand.
    char scientific[32];
    std::snprintf(scientific, sizeof scientific, "%.14e", std::fabs(value));
    std::string digits;
    digits += scientific[0];
    digits.append(scientific + 2, 14);
    const int exponent = std::atoi(scientific + 17);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string text = value < 0 ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        text += digits[0];
        // GCC 12 takes "text" + std::string for overlapping copies (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
        if (digits.size() > 1) text += "." + digits.substr(1);
        text += "E" + std::to_string(exponent);
#pragma GCC diagnostic pop
    } else if (exponent < 0) {
        text += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const size_t whole = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= whole) {
            text += digits + std::string(whole - digits.size(), '0');
        } else {
            text += digits.substr(0, whole) + "." + digits.substr(whole);
        }
    }
    return text;
}

double toTenths(double value) {
    const double scaled = value * 10;
    // Ties to the even integer, worked out here rather than left to the
    // floating-point rounding mode of the moment.
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 4503599627370496.0) return scaled / 10;  // 2^52: whole already
    const double below = std::floor(scaled);
    const double fraction = scaled - below;  // exact
    double rounded = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2) != 0)) rounded = below + 1;
    return rounded / 10;
}

std::string tenthsText(double value) { return numberText(toTenths(value)); }

std::string gameMonthReadout(const GameStatistics& statistics, int month) {
    const double tests = at(statistics.monthTestCount, month);
    return "er-Durchschnitt: Wertung=" + tenthsText(quotient(at(statistics.monthRatingSum, month), tests)) +
           " / Tests=" + tenthsText(quotient(tests, at(statistics.issuesPerMonth, month)));
}

std::string kindMonthReadout(const KindStatistics& statistics, int month, std::string_view quantity) {
    return "er-Durchschnitt: " + std::string(quantity) +
           tenthsText(quotient(at(statistics.monthItemCount, month), at(statistics.issuesPerMonth, month)));
}

namespace {

// A cell as the window shows it: one blank before the text.
std::string cell(std::string_view text) {
    std::string shown(1, ' ');
    shown += text;
    return shown;
}

struct KindTableTexts {
    std::string_view kindTitle;
    std::string_view allRow;
};

KindTableTexts kindTableTexts(const archive::ViewDef& view) {
    if (&view == &archive::tipsView()) return {"Art", "Alle Tipps"};
    return {"Kategorie", "Alle Files"};
}

std::string_view trimmedCell(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::vector<std::string> gameTableTitles() { return {cell("Rubrik"), cell("Wertungen"), cell("Schnitt")}; }

std::vector<std::string> kindTableTitles(const archive::ViewDef& view) {
    return {cell(kindTableTexts(view).kindTitle), cell("Anzahl")};
}

StatisticsTable gameTable(const GameStatistics& statistics) {
    StatisticsTable table{gameTableTitles()};
    if (!statistics.complete) return table;
    auto percent = [](double value) {
        std::string text = cell(tenthsText(value));
        text += " %";
        return text;
    };
    table.push_back({cell("Alle Rubriken"), cell(numberText(statistics.totalCount)),
                     percent(statistics.overallAverage)});
    const auto names = archive::gamesView().statisticsRows;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = cell("> ");
        name += names[i];
        table.push_back({std::move(name), cell(numberText(statistics.categoryCount[i])),
                         percent(statistics.categoryAverage[i])});
    }
    return table;
}

StatisticsTable kindTable(const archive::ViewDef& view, const KindStatistics& statistics) {
    StatisticsTable table{kindTableTitles(view)};
    if (!statistics.complete) return table;
    table.push_back({cell(kindTableTexts(view).allRow), cell(numberText(statistics.totalCount))});
    const auto kinds = view.statisticsRows;
    for (size_t i = 0; i < kinds.size() && i < statistics.kindCount.size(); ++i) {
        std::string name = cell("> ");
        name += kinds[i];
        table.push_back({std::move(name), cell(numberText(statistics.kindCount[i]))});
    }
    return table;
}

std::string tableCopyText(const StatisticsTable& table) {
    std::string text;
    for (const auto& row : table) {
        for (size_t column = 0; column < row.size(); ++column) {
            if (column > 0) text += '\t';
            text += trimmedCell(row[column]);
        }
        text += '\n';
    }
    return text;
}

}  // namespace stats
