#pragma once
// A large table's image kept in a file of the user's cache folder, so that
// the next start shows a table that has not changed since without reading
// it from SQLite: the cells, the row slots and whatever order the first
// query had worked out, in one file per table file.
//
// A cache file stands for exactly one state of its table file: it names the
// file's path and stamp (device, inode, size, times, SQLite's change
// counter), and it is written only of an image whose pages SQLite's check
// found sound. It is used only when all of that still holds, its format is
// this build's and its checksum agrees; otherwise it is passed over without
// a word and the table is read from SQLite, after which a fresh cache file
// is written in the background. A file is written whole or not at all (the
// one whole-file writer), never beside a table, and the folder is kept
// within a bound by removing the oldest files.

#include "imagefolder.h"
#include "tableimage.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace archive {

// The image held by the cache file of `path` when that file is intact and
// was written of the table file as it is now; otherwise null, never an error.
// Throws LoadCancelled once `cancel` turns true.
std::shared_ptr<const TableImage> readImageFile(const std::string& path, const std::atomic<bool>* cancel = nullptr);

// What a cache file tells of its table without its rows being read: the
// start takes the newest issue from it.
struct ImageFileSummary {
    std::vector<std::string> fieldNames;
    int issueColumn = -1;  // the issue code's field, -1 when the table has none
    // As greatestInImage() gives it: nothing for a table without rows.
    std::optional<std::string> greatestIssue;
};
// The summary of the cache file of `path`, under the same conditions as
// readImageFile() but for the checksum of the rows, which it does not read.
std::optional<ImageFileSummary> readImageFileSummary(const std::string& path);

// Writes `image` to its cache file on a thread of low priority, unless its
// table is too small to gain by it, or the file holds that state of the
// table already; that thread waits for SQLite's check of the table's pages
// and writes nothing of a table found damaged.
void offerImageFile(std::shared_ptr<const TableImage> image);

// Waits until the cache files being written are done.
void finishImageFiles();

namespace detail {
// Tables of fewer rows are read from SQLite about as fast as from a cache
// file: no file is written for them.
extern uint32_t imageFileMinimumRows;
}  // namespace detail

}  // namespace archive
