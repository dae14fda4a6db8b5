#pragma once
// Inside the statistics only: what a walk reads of a record, as compact
// per-row facts worked out once per table image and kept with it, or
// record by record from the texts of any other data set.

#include "cp1252.h"
#include "sorting.h"
#include "tableimage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stats::detail {

using archive::kIssueField;
using archive::kRatingField;
inline constexpr std::string_view kKindField = "ART";

// Category, kind and month indices are kept in one byte per row.
inline constexpr size_t kMostNames = 127;

// The decimal value of a text with the full stop: blanks around it and a
// sign allowed, an exponent too; nothing for anything else.
std::optional<double> decimalValue(std::string_view text);
// The rating distribution holds the whole values 0 to 100 only: the slot of
// `value`, or -1.
int ratingSlot(double value);

// What the walk needs of a game row, in four bytes so a pass over a result in
// any order touches one small cell per record.
struct GameFact {
    int16_t rating;    // 0..100, kRatingEmpty, or kRatingOther for anything else
    int8_t category;   // index of the category name, or -1
    int8_t month;      // 0..11, kNoMonth or kMonthNotANumber
};
inline constexpr int16_t kRatingEmpty = -1;      // the record counts nowhere
inline constexpr int16_t kRatingOther = -2;      // not a whole 0..100, or the month no number: read the texts on the walk
inline constexpr int8_t kNoMonth = -1;           // a number outside 1..12: counts in no month
inline constexpr int8_t kMonthNotANumber = -2;   // ends the walk at this record

struct KindFact {
    int8_t kind;   // the first kind whose stem occurs, or -1
    int8_t month;  // as in GameFact
};

template <class Fact>
struct Facts {
    std::vector<Fact> rows;
    size_t memoryBytes() const { return rows.capacity() * sizeof(Fact); }
};

// The month fact of an issue code: characters 6 and 7 read as an integer.
int8_t monthFact(std::string_view issue);
// The fact of a game from the texts of its rating, category and issue.
GameFact gameFact(std::string_view rating, std::string_view category, std::string_view issue,
                  std::span<const std::string_view> names);

// A stem occurs in the kind with A-Z lowered on both sides exactly when it
// occurs with a-z raised on both sides; every other byte stays as it is
// (the "\xF6" of "L\xF6sung" never meets the "\xD6" of "L\xD6SUNG").
class KindMatcher {
public:
    explicit KindMatcher(std::span<const std::string_view> kindNames) {
        for (std::string_view name : kindNames) stems_.push_back(archive::upperAscii(name.substr(0, 4)));
    }
    int8_t kindOf(std::string_view kind) const {
        const std::string raised = archive::upperAscii(kind);
        for (size_t i = 0; i < stems_.size(); ++i)
            if (raised.find(stems_[i]) != std::string::npos) return static_cast<int8_t>(i);
        return -1;
    }

private:
    std::vector<std::string> stems_;
};

struct GameColumns {
    int rating, category, issue;
    int title = -1;  // names the record of a failure, where the table has titles
};
struct KindColumns {
    int kind, issue;
    int title = -1;
};

// The facts of every row of an image, worked out on first use and kept
// with the image, one set per choice of columns and names.
const Facts<GameFact>& gameFacts(const archive::TableImage& image, const GameColumns& columns,
                                 std::span<const std::string_view> names);
const Facts<KindFact>& kindFacts(const archive::TableImage& image, const KindColumns& columns,
                                 std::span<const std::string_view> names);

}  // namespace stats::detail
