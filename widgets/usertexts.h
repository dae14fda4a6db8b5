#pragma once
// Texts the user reads in more than one window, one definition each
// (Windows-1252).

namespace usertexts {

// The hint of both title fields, the quick field and the selection module's.
inline constexpr char kTitleFilterHint[] = "Dieser Text mu\xDF im Titel vorkommen";

}  // namespace usertexts
