#pragma once
// The process-wide cache of table images, keyed by the file's path: an image
// is loaded again only when its file changed, loads may run ahead in the
// background, and the engine puts the image it brought up to date after its
// own write in place of the old one.
//
// Called from one thread only, the program's main thread (the first to call
// it; debug builds assert it): the loads it starts run on threads of their
// own, but handing their results over assumes a single caller.

#include "tableimage.h"
#include "valuetypes.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace archive {

// The image of a table file, loaded again only when the file has changed.
std::shared_ptr<const TableImage> imageOf(const std::string& path);
// The image of a table file when one is cached or being loaded (then after
// waiting for it), otherwise nothing: no image is made for the asking. A
// load in the background (niced) that has not read its rows yet is stopped
// instead of waited for, and the answer is nothing: the caller, who needs
// the table now, reads it at its own priority. One that is preparing the
// image already is waited for.
std::shared_ptr<const TableImage> imageIfAtHand(const std::string& path);

// A table's field names and the greatest value of one of its text fields by
// the collation, NULL the least (given as empty text), as the first record
// of an ORDER BY that field DESC holds it; nothing for a table without rows.
// Taken from the image when one is at hand; otherwise only that column is
// read from the file and no image is made.
struct GreatestValue {
    std::vector<std::string> fieldNames;
    int column = -1;  // -1 when the table has no such field
    std::optional<std::string> value;
};
GreatestValue greatestValueOf(const std::string& path, std::string_view field);
// The same out of an image at hand (its field names those of its table).
GreatestValue greatestValueIn(const TableImage& image, std::string_view field);
// Starts reading the greatest value of `field` in each file, one file after
// the other on a thread of their own, for the next greatestValueOf() of the
// file and field to take, should the file not change meanwhile. Reads no
// image: only a cache file's summary or the column.
void readGreatestValuesAhead(const std::vector<std::string>& paths, std::string_view field);
namespace detail {
// The test seam of the greatest value, null in the program: called once a
// column alone has been read for it and its read transaction has ended.
using ColumnReadHook = void (*)(const std::string& path);
extern ColumnReadHook columnReadHook;
}  // namespace detail

// Starts loading the image of a table file in the background, unless it is
// at hand or on its way; imageOf() takes the result. Loads still running
// are cancelled when the file's image is dropped or the program ends.
// `prepare`, when given, runs on the loading thread once the rows are read,
// to work out ahead what the first query on the image will ask of it; a
// caller who asks for the image meanwhile waits for it rather than read the
// file again, since it would have to work out the same itself.
void prefetchImage(const std::string& path, LoadPriority priority = LoadPriority::Soon,
                   std::function<void(const TableImage&, const std::atomic<bool>& cancelled)> prepare = {});
// Waits until every load started in the background is done, its results
// still to be taken by imageOf() (for benchmarks and tests).
void waitForPrefetches();
// Makes `image` the one imageOf() answers for its file, after the engine
// wrote the file and brought the image up to date itself.
void publishImage(std::shared_ptr<const TableImage> image);
// Drops the image of one file.
void forgetImage(const std::string& path);

// Hands the memory left free in the heaps of every thread back to the system
// (some milliseconds at a million rows). A load leaves what it used on its
// way (the table's pages, its buffers, the cache file's blocks) free there,
// and so do the window's sorts and statistics, where it would otherwise stay
// part of the process's memory for good. A read ahead, which nobody waits
// for, calls it when it ends; a load the window waits for does not stop for
// it, and the window calls it only at a quiet moment.
void returnFreedMemory();

// Drops every cached table image (for tests and after writes from outside).
void clearImageCache();

}  // namespace archive
