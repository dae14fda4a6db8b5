#pragma once
// A small disc in a temporary folder for the window tests: DATA/ with the three
// tables holding known rows, an engine installer that only leaves a trace, a
// hive, and the environment pointed at temporary folders.

#include "tablefile.h"
#include "tables.h"

#include <QTemporaryDir>

#include <string>
#include <vector>

struct DiscFixture {
    DiscFixture();
    ~DiscFixture();

    QTemporaryDir root;
    std::string disc;        // the start folder: DATA/, QLEngine/
    std::string dataPath;    // disc + "/DATA"
    std::string configHome;  // XDG_CONFIG_HOME
    std::string dataHome;    // XDG_DATA_HOME
    std::string cacheHome;   // XDG_CACHE_HOME
    std::string tempFolder;  // TMPDIR
    std::string installerTrace;  // each start of the installer appends a line
    std::string originalFolder;

    static std::vector<archive::Row> gameRows();
    static std::vector<archive::Row> discRows();
    static std::vector<archive::Row> tipRows();

    void writeTable(const archive::ViewDef& view, const std::vector<archive::Row>& rows,
                    const std::string& folder = {}) const;
    // The hive with this engine version, or without any when version is empty.
    void writeHive(const std::string& engineVersionLine) const;
    int installerStarts() const;
    // Makes the disc the current folder, as starting the program from it does.
    void enterDisc() const;
};

// The games of a table file in stored order, read straight from SQLite (UTF-8).
std::vector<std::vector<std::string>> readTableFile(const std::string& path);
