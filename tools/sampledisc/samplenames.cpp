#include "samplenames.h"

#include <array>

namespace sampledisc {
namespace {

using Words = std::initializer_list<std::string_view>;

// Made-up proper names: heroes, worlds, places.
constexpr std::array<std::string_view, 24> kInventedNames{
    "Kryllon",    "Vorthal",  "Zephyrax",  "Morgrim",     "Talvessa",      "Quorvan",
    "Ashkandar",  "Nyrdal",   "Brakmoor",  "Ulvenheim",   "Kaltenbr\xFC" "ck", "Drachenh\xF6he",
    "Sternwacht", "Eldovar",  "Grimmfels", "Xantheria",   "Obrakan",       "Fennwald",
    "Thulgrad",   "Isparion", "Rabenau",   "M\xF6wenfels", "Silvarra",     "Korrhak"};

constexpr std::array<std::string_view, 20> kSubtitles{
    "Die R\xFC" "ckkehr",        "Das Erbe der Ahnen",      "Im Schatten des Vulkans",
    "Der letzte Feldzug",        "Aufstand der Maschinen",  "Jenseits der Nebelgrenze",
    "Die gl\xE4serne Zitadelle", "Stunde der S\xF6ldner",   "K\xE4lte des Alls",
    "Der Fluch von Rabenau",     "Die Br\xFC" "cke der Zeit", "Schwur der Klingen",
    "Das vergessene Tor",        "Sturm \xFC" "ber Thulgrad", "Die Saat des Zorns",
    "Kinder der Asche",          "Der gr\xFCne Komet",      "Herz aus Eisen",
    "Die f\xFCnfte Legion",      "Nacht der W\xF6lfe"};

// Adjective stems that take the plural ending "e".
constexpr std::array<std::string_view, 10> kAdjectiveStems{
    "Bleiern", "Rostig", "Kupfern", "Gl\xE4sern", "St\xE4hlern", "Stumm", "Gebrochen", "Brennend", "Eisig", "Zornig"};
constexpr std::array<std::string_view, 10> kPluralNouns{
    "Schwingen", "Monde", "Festungen", "Horizonte", "Inseln", "Klingen", "Legionen", "T\xFCrme", "Kronen", "Pfade"};

constexpr std::array<std::string_view, 14> kCodeNames{
    "Nachtfalke", "Eisvogel", "Graupel",  "Silberpfeil", "Wespennest", "Donnerkeil", "Morgenrot",
    "Kranich",    "Sandsturm", "Feuerkr\xF6te", "Blaue Stunde", "Nordwind", "Polarfuchs", "Glutnest"};

constexpr std::array<std::string_view, 12> kActionWords{
    "Gefechtszone", "Stahlflanke",  "Plasmasturm",  "Nachtj\xE4ger", "Grenzposten", "Orbitalwacht",
    "Trommelfeuer", "Kraterfeld",  "Panzerkeil",   "Schrottsammler", "Funkstille", "Zornesglut"};

constexpr std::array<std::string_view, 10> kSportWords{
    "Rasenk\xF6nig", "Eiskufen-Cup", "Korbleger", "Sandplatz-Tennis", "Slalomprofi",
    "Gr\xE4tsche",   "Tischkicker",  "Pistenjagd", "Netzroller",      "Eckball"};
constexpr std::array<std::string_view, 10> kRaceWords{
    "Asphaltfieber", "Kurvenjagd", "Zielflagge", "Boxengasse", "Drehzahl",
    "Schotterpiste", "Ampelstart", "Windschatten", "Vollgas-Allee", "Kiesbett"};
constexpr std::array<std::string_view, 10> kFlightWords{
    "Falkenstaffel", "Himmelsst\xFCrmer", "Luftkorridor", "Wolkendecke", "Jet-Kommando",
    "Steigflug",     "Abfangj\xE4ger",    "Luftbr\xFC" "cke", "Tiefflug", "Staffelf\xFChrer"};
constexpr std::array<std::string_view, 12> kTradeWords{
    "Hafenbaron",    "Inselkolonie", "Der Hopfenbaron", "Kohle & Kontor", "Salzh\xE4ndler",
    "Kaufmannsgilde", "M\xFChlenwerk", "Gleisbauer",         "Stadtk\xE4mmerer", "Weinkontor",
    "Fischmarkt",    "Tuchmacher"};
constexpr std::array<std::string_view, 12> kSoftwareWords{
    "Bildmeister",  "Tastenfuchs", "Heimb\xFCro",  "Wegeplaner", "Notenblatt", "Klangschmiede",
    "Steuerigel",  "Fotokiste",   "Schriftsetzer", "Plattenpfleger",  "Virenriegel", "Stammbaum"};
constexpr std::array<std::string_view, 8> kSoftwareSuffixes{
    " Deluxe", " Plus", " Profi", " Kompakt", " 2000", " Gold", " Home", " Studio"};

constexpr std::array<std::string_view, 16> kDevelopers{
    "Kesselflick Studios", "Mondkalb Interactive", "Dachsbau Games",   "Fjordbyte",
    "Pixelh\xFCtte",      "Zinnoberwerk",         "Otterwerk Software", "Quarzmond",
    "Graupel Interactive", "Sandwurm Software",    "Kupferkessel",      "Hagelschlag Studios",
    "Eulenspiegelei",      "Kr\xE4henfeld Games",     "Tiefgang Software", "Wolkenkuckuck"};
constexpr std::array<std::string_view, 8> kPublishers{
    "Eisvogel Media",  "Lindwurm Verlag",      "Br\xFC" "ckner & Hahn", "Nebelhorn Publishing",
    "Kranich Entertainment", "Blaufuchs Vertrieb", "Weitblick Software", "Goldamsel"};

constexpr std::array<std::string_view, 8> kChipMakers{
    "Kobaltchip", "Glimmer3D", "Tonwerk", "Klangfeld", "Pixelstrom", "Vektorbau", "Funkenflug", "Siliziumhaus"};

std::string sequelSuffix(Random& random) {
    return std::string(random.pick(Words{" 2", " 2", " 3", " II", " III", " Gold", " Deluxe"}));
}

std::string fantasyTitle(Random& random) {
    switch (random.below(4)) {
    case 0: return std::string(random.pick(kInventedNames)) + ": " + std::string(random.pick(kSubtitles));
    case 1: return std::string(random.pick(kAdjectiveStems)) + "e " + std::string(random.pick(kPluralNouns));
    case 2: return "Die Chroniken von " + std::string(random.pick(kInventedNames));
    default: return std::string(random.pick(kInventedNames)) + sequelSuffix(random);
    }
}

std::string actionTitle(Random& random) {
    switch (random.below(4)) {
    case 0: return std::string(random.pick(kActionWords)) + sequelSuffix(random);
    case 1: return std::string(random.pick(kActionWords)) + ": " + std::string(random.pick(kSubtitles));
    case 2: return std::string(random.pick(kInventedNames)) + " " + std::string(random.pick(Words{"Assault", "Force", "Protokoll", "Sektor 7", "Rebellion"}));
    default: return std::string(random.pick(kAdjectiveStems)) + "e " + std::string(random.pick(kPluralNouns));
    }
}

// Rarely a sports title with a percent sign, which the program has to take literally.
std::string seasonTitle(Random& random, std::string_view word, int issueYear) {
    if (random.chance(0.05))
        return random.chance(0.5) ? std::to_string(random.between(11, 25) * 10) + "% " + std::string(word)
                                  : std::string(word) + " 100%";
    std::string title(word);
    title += random.pick(Words{" Manager", " Pro", " Deluxe", " Championship", "", ""});
    // GCC 12 takes "text" + std::string for overlapping copies (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
    title += " " + std::to_string(random.between(issueYear, issueYear + 1));
#pragma GCC diagnostic pop
    return title;
}

// Code names in quotes, which the program has to take literally too.
std::string missionTitle(Random& random) {
    // GCC 12 takes "text" + std::string for overlapping copies (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
    const std::string codeName = "\"" + std::string(random.pick(kCodeNames)) + "\"";
#pragma GCC diagnostic pop
    return random.chance(0.5) ? "Operation " + codeName : "Kommando " + codeName + sequelSuffix(random);
}

}  // namespace

std::string gameTitle(Random& random, std::string_view genreCode, int issueYear) {
    if (genreCode == "SP") return seasonTitle(random, random.pick(kSportWords), issueYear);
    if (genreCode == "RE") return seasonTitle(random, random.pick(kRaceWords), issueYear);
    if (genreCode == "FL") return std::string(random.pick(kFlightWords)) + sequelSuffix(random);
    if (genreCode == "WI" || genreCode == "AU")
        return random.chance(0.5) ? std::string(random.pick(kTradeWords))
                                  : std::string(random.pick(kTradeWords)) + sequelSuffix(random);
    if (genreCode == "SO") return softwareTitle(random);
    if (genreCode == "RO" || genreCode == "AD") return fantasyTitle(random);
    if (random.chance(0.04)) return missionTitle(random);
    return random.chance(0.6) ? actionTitle(random) : fantasyTitle(random);
}

std::string softwareTitle(Random& random) {
    std::string title(random.pick(kSoftwareWords));
    const std::string_view suffix = random.pick(kSoftwareSuffixes);
    title += suffix;
    // GCC 12 takes "text" + std::string for overlapping copies (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
    if (random.chance(0.3) && suffix != " 2000") title += " " + std::to_string(random.between(2, 9)) + ".0";
#pragma GCC diagnostic pop
    return title;
}

std::string makerName(Random& random) {
    std::string name(random.pick(kDevelopers));
    if (random.chance(0.7)) name += " / " + std::string(random.pick(kPublishers));
    return name;
}

std::string gameComment(Random& random, std::string_view genreCode, std::optional<int> rating) {
    const bool software = genreCode == "SO";
    if (!rating)
        return std::string(software ? random.pick(Words{"Kein Spiel, daher ohne Wertung.",
                                                        "N\xFCtzliches Werkzeug, ohne Prozentwertung.",
                                                        "Nur zum Nachschlagen, keine Wertung."})
                                    : random.pick(Words{"Testversion kam zu sp\xE4t f\xFCr eine Wertung.",
                                                        "Nur Vorschau, Wertung folgt."}));
    const std::string_view opening =
        software ? random.pick(Words{"\xDC" "bersichtliche Oberfl\xE4" "che", "Dickes Handbuch", "Schnelle Installation",
                                     "Viele Vorlagen", "Umst\xE4ndliche Men\xFC" "s", "Hoher Speicherbedarf"})
                 : random.pick(Words{"Tolle Atmosph\xE4re", "Schicke 3D-Grafik", "Umfangreiche Kampagne",
                                     "Eing\xE4ngige Steuerung", "Witzige Dialoge", "Starker Mehrspieler-Modus",
                                     "Gelungene Zwischensequenzen", "Knackiger Schwierigkeitsgrad", "Mageres Handbuch",
                                     "Stimmungsvolle Musik", "Hohe Hardware-Anforderungen", "Viele Einheiten"});
    std::string_view verdict;
    if (*rating >= 85)
        verdict = random.pick(Words{"ein Pflichtkauf.", "Referenz im Genre!", "so muss es sein.", "ein echter Hit."});
    else if (*rating >= 70)
        verdict = random.pick(Words{"macht lange Spa\xDF.", "kleine Schw\xE4" "chen verzeihen wir.",
                                    "solide Kost f\xFCr Fans.", "gute Fortsetzung."});
    else if (*rating >= 50)
        verdict = software ? random.pick(Words{"aber wenig Funktionen.", "nur f\xFCr Einsteiger."})
                           : random.pick(Words{"aber auf Dauer eint\xF6nig.", "doch die KI patzt oft.",
                                               "nur f\xFCr Genre-Fans.", "leider ohne \xDC" "berraschungen."});
    else
        verdict = software ? random.pick(Words{"aber st\xFCrzt st\xE4ndig ab.", "kaum zu gebrauchen."})
                           : random.pick(Words{"trotzdem kaum spielbar.", "aber viel zu viele Bugs.",
                                               "doch die Steuerung nervt.", "rettet das Spiel nicht."});
    return std::string(opening) + ", " + std::string(verdict);
}

std::string patchName(Random& random, std::string_view gameTitle) {
    return std::string(gameTitle) + " Patch " + std::to_string(random.between(1, 2)) + ".0" +
           std::to_string(random.between(1, 9));
}

std::string videoName(Random& random, std::string_view gameTitle) {
    std::string name(gameTitle);
    name += random.pick(Words{" Trailer", " Intro", " Making-of", " Spielszenen"});
    return name;
}

std::string modName(Random& random, std::string_view gameTitle) {
    return std::string(gameTitle) + " Mod: " +
           std::string(random.pick(Words{"Winterfront", "Neue Helden", "Totale Zerst\xF6rung", "Inselwelt",
                                         "Realismus-Paket", "Karten-Sammlung"}));
}

std::string extrasName(Random& random, std::string_view gameTitle) {
    std::string name(gameTitle);
    name += random.pick(Words{" Bonuskarten", " Editor", " Hintergrundbilder", " Soundtrack", " Zusatzmissionen",
                              " Spielst\xE4nde"});
    return name;
}

std::string driverName(Random& random) {
    return std::string(random.pick(kChipMakers)) +
           std::string(random.pick(Words{" Grafiktreiber ", " Soundtreiber ", " Joystick-Treiber ", " Maustreiber "})) +
           std::to_string(random.between(1, 9)) + "." + std::to_string(random.between(10, 99));
}

}  // namespace sampledisc
