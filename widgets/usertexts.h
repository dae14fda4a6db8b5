#pragma once
// Texts the user reads in more than one window or that the window tests read
// back, one definition each (Windows-1252).

namespace usertexts {

// The hint of both title fields, the quick field and the selection module's.
inline constexpr char kTitleFilterHint[] = "Dieser Text mu\xDF im Titel vorkommen";

// The grid's links to the other tables: the text, the game's title, then
// kLinkCount, the number of rows and ")".
inline constexpr char kDiscLink[] = "CD/DVD-Inhalte zu \x84";
inline constexpr char kTipsLink[] = "Tipps zu \x84";
inline constexpr char kGameLink[] = "Test zu \x84";
inline constexpr char kLinkCount[] = "\x93 (";

}  // namespace usertexts
