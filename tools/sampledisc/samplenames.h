#pragma once
// Invented names and texts for the sample archive, in the magazine's German,
// as Windows-1252 bytes. Nothing here names a real game, company or person.

#include "samplerandom.h"

#include <optional>
#include <string>
#include <string_view>

namespace sampledisc {

// A game title in the style that suits the genre (given by its code); now and
// then one with a double quote or a percent sign in it. Sports games carry the
// season of the issue's year.
std::string gameTitle(Random& random, std::string_view genreCode, int issueYear);
// A utility or application, as tested in the software section and put on the disc.
std::string softwareTitle(Random& random);
// "Developer / Publisher", or one name when the developer publishes itself.
std::string makerName(Random& random);
// One short sentence that fits the genre and the rating; unrated entries get
// their own remarks.
std::string gameComment(Random& random, std::string_view genreCode, std::optional<int> rating);

// Disc items built around a game title.
std::string patchName(Random& random, std::string_view gameTitle);
std::string videoName(Random& random, std::string_view gameTitle);
std::string modName(Random& random, std::string_view gameTitle);
std::string extrasName(Random& random, std::string_view gameTitle);
// A hardware driver from an invented chip maker.
std::string driverName(Random& random);

}  // namespace sampledisc
