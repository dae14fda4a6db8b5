#pragma once
// The system information `SysInfo1`: the one thing the program asks of the
// system is its folder for temporary files.

#include <string>

class TSysInfo {
public:
    // $TMPDIR when set and not empty, else "/tmp", always with a trailing "/".
    // Windows-1252 like every program string; empty when the folder's name has
    // no Windows-1252 form (the caller then keeps its current folder).
    // Computed afresh on every read.
    std::string TempPath() const;
};
