#include "engine.h"
#include "querytext.h"
#include "sqlparser.h"

#include <gtest/gtest.h>

using namespace archive;
using namespace archive::sql;

namespace {

std::string errorOf(std::string_view text) {
    try {
        parseSelect(text);
    } catch (const EngineError& error) {
        return error.what();
    }
    return "accepted";
}

}  // namespace

TEST(SqlParser, ReadsTheFullyFilteredGamesQuery) {
    const SelectStatement statement = parseSelect(
        "SELECT * FROM \"/daten/GameData.db\"\n"
        "WHERE UPPER(TITEL) LIKE \"%RALLY%\" AND RUBRIK LIKE \"%cti%\" AND WERTUNG >= 80 \n"
        "ORDER BY WERTUNG DESC, TITEL");
    EXPECT_EQ(statement.path, "/daten/GameData.db");
    ASSERT_EQ(statement.conditions.size(), 3u);
    EXPECT_EQ(statement.conditions[0].kind, ConditionKind::UpperLike);
    EXPECT_EQ(statement.conditions[0].field, "TITEL");
    EXPECT_EQ(statement.conditions[0].pattern, "%RALLY%");
    EXPECT_EQ(statement.conditions[1].kind, ConditionKind::Like);
    EXPECT_EQ(statement.conditions[1].field, "RUBRIK");
    EXPECT_EQ(statement.conditions[1].pattern, "%cti%");
    EXPECT_EQ(statement.conditions[2].kind, ConditionKind::AtLeast);
    EXPECT_EQ(statement.conditions[2].minimum, 80);
    EXPECT_EQ(statement.conditions[2].fieldPosition.line, 2);
    EXPECT_EQ(statement.conditions[2].fieldPosition.column, 63);
    ASSERT_EQ(statement.order.size(), 2u);
    EXPECT_EQ(statement.order[0].field, "WERTUNG");
    EXPECT_TRUE(statement.order[0].descending);
    EXPECT_EQ(statement.order[1].field, "TITEL");
    EXPECT_FALSE(statement.order[1].descending);
}

TEST(SqlParser, AcceptsAnyLetterCaseAndLayoutAndDoubledQuotes) {
    const SelectStatement statement =
        parseSelect("  select\t*\r\nfrom \"a \"\"b\"\" c\" where upper ( titel ) like \"\"\"%\" and x >= -5 order by y desc");
    EXPECT_EQ(statement.path, "a \"b\" c");
    ASSERT_EQ(statement.conditions.size(), 2u);
    EXPECT_EQ(statement.conditions[0].pattern, "\"%");
    EXPECT_EQ(statement.conditions[0].field, "titel");
    EXPECT_EQ(statement.conditions[1].minimum, -5);
    ASSERT_EQ(statement.order.size(), 1u);
    EXPECT_TRUE(statement.order[0].descending);
    EXPECT_TRUE(parseSelect("SELECT * FROM \"x\"").conditions.empty());
}

TEST(SqlParser, RefusesWhatLiesOutsideTheSubsetAndSaysWhere) {
    EXPECT_EQ(errorOf("SELECT TITEL FROM \"x\""),
              "SQL-Fehler in Zeile 1, Spalte 8: Erwartet wurde *, gefunden 'TITEL'.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\"\nWHERE FOO BAR"),
              "SQL-Fehler in Zeile 2, Spalte 11: Erwartet wurde LIKE oder >=, gefunden 'BAR'.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\" WHERE TITEL = \"a\""),
              "SQL-Fehler in Zeile 1, Spalte 31: Unerwartetes Zeichen '='.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\" WHERE WERTUNG >= \"80\""),
              "SQL-Fehler in Zeile 1, Spalte 36: Erwartet wurde eine ganze Zahl, gefunden \"80\".");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\" WHERE TITEL LIKE \"abc"),
              "SQL-Fehler in Zeile 1, Spalte 36: Der Text in Anf\xFChrungszeichen ist nicht abgeschlossen.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\"\nWHERE A LIKE \"a\" OR B LIKE \"b\""),
              "SQL-Fehler in Zeile 2, Spalte 18: Erwartet wurde AND, ORDER BY oder das Ende der Anweisung, gefunden 'OR'.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\"\nORDER BY A, B, C"),
              "SQL-Fehler in Zeile 2, Spalte 14: Erwartet wurde das Ende der Anweisung, gefunden ','.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\" ORDER BY A ASC"),
              "SQL-Fehler in Zeile 1, Spalte 30: Erwartet wurde DESC, ein Komma oder das Ende der Anweisung, gefunden 'ASC'.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\" WHERE UPPER(A) >= 5"),
              "SQL-Fehler in Zeile 1, Spalte 34: Erwartet wurde LIKE, gefunden '>='.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\" WHERE AND LIKE \"a\""),
              "SQL-Fehler in Zeile 1, Spalte 25: Erwartet wurde ein Feldname, gefunden 'AND'.");
    EXPECT_EQ(errorOf("SELECT * FROM x"),
              "SQL-Fehler in Zeile 1, Spalte 15: Erwartet wurde der Dateiname in Anf\xFChrungszeichen, gefunden 'x'.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\";"), "SQL-Fehler in Zeile 1, Spalte 18: Unerwartetes Zeichen ';'.");
    EXPECT_EQ(errorOf(""), "SQL-Fehler in Zeile 1, Spalte 1: Erwartet wurde SELECT, gefunden das Ende der Anweisung.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\" WHERE A >= 99999999999999999999"),
              "SQL-Fehler in Zeile 1, Spalte 30: Die Zahl '99999999999999999999' ist zu gro\xDF.");
    EXPECT_EQ(errorOf("SELECT * FROM \"x\" WHERE A >= 5x"),
              "SQL-Fehler in Zeile 1, Spalte 30: Ung\xFCltige Zahl '5x'.");
}

TEST(SqlParser, TypedTextStaysInsideItsLiteral) {
    // Whatever the user types into the title box ends up as one pattern.
    const std::string typed = "a\" OR 1 >= 0 --\"\"";
    ViewState state;
    state.DataPath = "/daten";
    state.CurrentView = std::string(kViewGames);
    state.TitleFilter = titleFilterFor(typed);
    state.SortField = "TITEL";
    const QueryText query = buildQueryText(state, "GameData.db");
    const SelectStatement statement = parseSelect(query.joined());
    ASSERT_EQ(statement.conditions.size(), 1u);
    EXPECT_EQ(statement.conditions[0].pattern, "%A\" OR 1 >= 0 --\"\"%");
}
