#pragma once
// The program entry: the wait window first, then the windows in their order,
// then the message loop. main() only calls this.

#include <string>

int runQuillora(int argc, char** argv);

// Large blocks (a table's sort orders and per-row arrays, megabytes each at
// a million rows) go back to the system when freed, so that the memory of
// the process follows what the tables hold now rather than the most they
// ever held. Called first thing.
void returnLargeBlocksWhenFreed();

// In disc mode the games view opens on the start folder's games table: it is
// read, and put in the order the view opens in, in the background from the
// first moment on, beside the start of the window system; the start-up's
// own reading ahead finds it on its way.
// Nothing a user sees comes of it: a copy that ends at once, or a table
// that cannot be read, leaves the telling to the start-up.
void readGamesAhead(const std::string& programFile);
// The same for the newest issues of the tips and the disc contents, which
// the main window's first showing looks up before the games'. Called once
// the window system is up.
void readNewestIssuesAhead(const std::string& programFile);

// Names the desktop entry this program file belongs to (the hard-disk name
// has an entry of its own) and gives every window the program's icon, so
// task bars and window managers show the menu's name and picture.
void identifyToDesktop(const std::string& programFile);
