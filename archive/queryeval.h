#pragma once
// The query evaluation: which rows of a table image pass the conditions of a
// query, and in which order. A pure function of the image, the conditions and
// the order; the engine binds a parsed statement to the image's columns and
// hands it here.

#include "sqlparser.h"
#include "tableimage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace archive {

// A LIKE pattern: case-sensitive, '%' any run of characters, every other
// character itself ('_' too).
class LikePattern {
public:
    explicit LikePattern(std::string_view pattern) {
        size_t start = 0;
        for (;;) {
            const size_t percent = pattern.find('%', start);
            parts_.emplace_back(pattern.substr(start, percent == std::string_view::npos ? percent : percent - start));
            if (percent == std::string_view::npos) break;
            start = percent + 1;
        }
    }

    bool matches(std::string_view text) const {
        if (parts_.size() == 1) return text == parts_[0];
        const std::string& prefix = parts_.front();
        const std::string& suffix = parts_.back();
        if (text.size() < prefix.size() + suffix.size()) return false;
        if (text.substr(0, prefix.size()) != prefix || text.substr(text.size() - suffix.size()) != suffix)
            return false;
        // With '%' the only wildcard, taking each middle part at its first
        // place never misses a match.
        const std::string_view middle = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
        size_t pos = 0;
        for (size_t i = 1; i + 1 < parts_.size(); ++i) {
            if (parts_[i].empty()) continue;
            const size_t found = middle.find(parts_[i], pos);
            if (found == std::string_view::npos) return false;
            pos = found + parts_[i].size();
        }
        return true;
    }

    // For "%X%" (or "%"), X: the case a title keystroke makes.
    std::optional<std::string_view> containedText() const {
        if (parts_.size() < 2 || !parts_.front().empty() || !parts_.back().empty()) return std::nullopt;
        std::optional<std::string_view> inner = std::string_view();
        for (size_t i = 1; i + 1 < parts_.size(); ++i) {
            if (parts_[i].empty()) continue;
            if (!inner->empty()) return std::nullopt;
            inner = parts_[i];
        }
        return inner;
    }

private:
    std::vector<std::string> parts_;
};

// A condition of a query bound to a column of the image: a LIKE pattern on
// the cells (or on their upper-cased bytes), or a least number.
struct BoundCondition {
    sql::ConditionKind kind;
    int column;
    std::optional<LikePattern> like;
    long long minimum = 0;
};

// The live rows of `image` that pass every condition, in the order of
// `order` (stored order when it is empty), into `rows`; rows that tie on
// every key stay in stored order.
void selectRows(const TableImage& image, const std::vector<BoundCondition>& conditions,
                const std::vector<SortSpec>& order, std::vector<uint32_t>& rows);

// How many live rows pass `condition` alone: as many as selectRows lists
// for it, counted without listing them. A LIKE on a text column whose
// distinct values are at hand is tested once per value.
size_t countRows(const TableImage& image, const BoundCondition& condition);

}  // namespace archive
