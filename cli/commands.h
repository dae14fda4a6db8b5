#pragma once
// The maintainer's tool as functions: each command takes its arguments and
// the streams to write to and returns the exit status. Nothing here knows a
// terminal: main.cpp turns the arguments and messages into and out of the
// program's Windows-1252.

#include "tables.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kFindings = 1;  // pruefen and import --probe found faults
inline constexpr int kFailed = 2;    // a table could not be read or written, or a wrong call

struct Streams {
    std::ostream& out;   // messages, findings, statistics (Windows-1252)
    std::ostream& err;   // errors and progress (Windows-1252)
    std::ostream& data;  // the bytes of an export to standard output, as they are
    bool progress = false;  // whether to show the progress of long work on err
    long long progressEvery = 1 << 16;  // rows between two counts shown
};

// The command line without the program name.
int run(const std::vector<std::string>& args, Streams& streams);

// The view named by a table argument: its file name without extension or
// the tool's short name, any letter case.
const archive::ViewDef* viewNamed(std::string_view name);

int checkFolder(const std::string& folder, bool tsv, Streams& streams);
// `target`: nothing for the dialog's file in the folder, "-" for `data`.
int exportTable(const std::string& folder, const archive::ViewDef& view, const std::optional<std::string>& target,
                Streams& streams);
int importFile(const std::string& folder, const archive::ViewDef& view, const std::string& file, bool allFields,
               bool probe, Streams& streams);

struct Selection {
    std::optional<std::string> title;
    std::optional<int> minimumRating;
    std::optional<std::string> category;
};
int printStatistics(const std::string& folder, const archive::ViewDef& view, const Selection& selection,
                    Streams& streams);
int createTables(const std::string& folder, Streams& streams);

}  // namespace cli
