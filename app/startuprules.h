#pragma once
// The rules of the start-up that need no window: which name selects the
// hard-disk mode, where the tables are read from and copied to, and how the
// engine version and the newest issue are read. Paths are Windows-1252 like
// every string of the program; file system calls get them as UTF-8.

#include "tables.h"

#include <string>
#include <string_view>
#include <vector>

namespace startup {

// The oldest engine the program works with; an older or missing one is
// installed from the disc.
inline constexpr double kMinimumEngineVersion = 1.0;

// A program file whose name ends in "HD.EXE" (any letter case) runs in
// hard-disk mode; a name without an extension counts as ending in ".EXE".
bool isHardDiskProgramName(std::string_view programFileName);

// The folder the program runs in now, as the program spells paths.
std::string currentFolder();
// The folder DATA below the start folder: "/" gives "/DATA", "/x" "/x/DATA".
std::string sourcePathFor(std::string_view startFolder);

// $XDG_DATA_HOME (or ~/.local/share) followed by the three levels
// "VORTAGON", "VORTAGON/QUILLORA" and "VORTAGON/QUILLORA/DATA", outermost first.
struct HardDiskFolders {
    std::string levels[3];
    const std::string& dataPath() const { return levels[2]; }
};
HardDiskFolders hardDiskFolders();

// The stored engine version as a number, full stop as decimal separator.
// Text that is not a number counts as absent (0), so it leads to the
// installation instead of an error at every start.
double engineVersionFromText(std::string_view text);

using archive::newestIssueFrom;

// A table file the hard-disk copy did not bring up to date.
struct CopyFailure {
    std::string file;       // the copy's name, e.g. "GameData.DB"
    // Why, either as the cause of a failed write (German: "Datentr\xE4ger
    // voll", "keine Schreibberechtigung", ...) or as the engine's sentence
    // on the source it refused (damaged, no table, not the view's fields).
    std::string cause;
    std::string refusal;
    bool olderCopyExists;   // an earlier copy lies there and is what the program shows
};

// Copies the table files to the hard disk: each target is made writable,
// replaced whole by the source when the source is a sound table of its view
// (the engine checks it while copying), and made writable again. A source
// that is no sound table, or a failed write, leaves the older copy as it
// was and does not stop the others; the program then opens whatever lies
// there, and tells the user once the main window is up.
std::vector<CopyFailure> copyTablesToHardDisk(const std::string& sourcePath, const std::string& dataPath);

// The text of the one box that reports the failed copies, a line each.
std::string copyFailureText(const std::vector<CopyFailure>& failures, const std::string& dataPath);

}  // namespace startup
