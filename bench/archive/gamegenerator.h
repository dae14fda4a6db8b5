#pragma once
// A deterministic archive of game tests of any size, for measuring: titles
// made of invented words (so a two-letter search finds a few percent of
// them), the real section and genre names, ratings with gaps, issues in
// time order.

#include "cp1252.h"
#include "tablefile.h"
#include "tables.h"

#include <cstdint>
#include <string>
#include <vector>

class GameGenerator {
public:
    explicit GameGenerator(uint64_t seed) : state_(seed) {
        static const char* const kSyllables[] = {"ra", "ko", "mi", "tan", "ger", "lo", "ab", "ste", "qu", "ber",
                                                 "zor", "vin", "el", "da", "nu", "ix", "or", "sha", "pe", "ul",
                                                 "we", "fy", "hal", "gon", "\xE4r", "\xF6l", "\xFC" "ber", "ka", "ri",
                                                 "dro", "mo", "sun", "te", "ny", "bal", "cor", "fu", "jin", "pra"};
        for (int i = 0; i < 400; ++i) {
            std::string word;
            const int parts = 2 + static_cast<int>(next() % 2);
            for (int p = 0; p < parts; ++p) word += kSyllables[next() % std::size(kSyllables)];
            word[0] = archive::upperAscii(word[0]);
            words_.push_back(word);
        }
        for (int i = 0; i < 300; ++i) makers_.push_back(words_[next() % words_.size()] + " Software");
    }

    archive::Row nextGame(int index) {
        std::string title = words_[next() % words_.size()];
        const int extra = static_cast<int>(next() % 3);
        for (int i = 0; i < extra; ++i) title += " " + words_[next() % words_.size()];
        if (next() % 4 == 0) title += " " + std::to_string(1 + next() % 4);

        const auto sections = archive::gamesView().categories;
        const auto genres = archive::genreCodes();
        archive::Cell rating;
        if (next() % 10 != 0) rating = std::to_string(10 + next() % 90);
        // Issues run from 1997/10 on, about 250 tests per month.
        const int month = 9 + index / 250;
        std::string issue = std::to_string(1997 + month / 12) + "/" + (month % 12 + 1 < 10 ? "0" : "") +
                            std::to_string(month % 12 + 1);
        if (issue.size() != 7) issue = "2099/12";
        std::string comment = "Test von " + words_[next() % words_.size()] + ", " +
                              words_[next() % words_.size()] + " und " + words_[next() % words_.size()];
        return {title,
                std::string(sections[next() % sections.size()]),
                std::string(genres[next() % genres.size()].name),
                makers_[next() % makers_.size()],
                rating,
                issue,
                comment};
    }

private:
    uint64_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return state_ >> 33;
    }

    uint64_t state_;
    std::vector<std::string> words_;
    std::vector<std::string> makers_;
};
