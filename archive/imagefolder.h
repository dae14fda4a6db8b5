#pragma once
// Where the cache files lie: one folder of the user's cache, one file per
// table file, and a bound on what the folder holds.

#include <string>

namespace archive {

// The folder of the cache files in the file system's form: below
// $XDG_CACHE_HOME when that is an absolute path, else below ~/.cache;
// empty when neither is known.
std::string imageFileFolder();
// The cache file of a table file (a program path) in the file system's
// form; empty when there can be none (no cache folder, or the table lies in it).
std::string imageFileOf(const std::string& tablePath);

namespace detail {
// Makes the missing folders of `folder` for the user alone.
bool makeFolder(const std::string& folder);
// Keeps the newest cache files within the folder's bound; `kept` stays whatever its age.
void pruneFolder(const std::string& folder, const std::string& kept);
}  // namespace detail

}  // namespace archive
