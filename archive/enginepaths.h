#pragma once
// Where the engine finds a table file, for queries and tables alike.
// Windows-1252 paths.

#include <string>
#include <string_view>

namespace archive::detail {

// The table file a query or a table names, found without regard to case.
// The views ask for "GameData.db" where the hard-disk copy wrote
// "GameData.DB"; the spelling found is remembered (by the calling threads
// together), so a rerun on every keystroke does not read the folder again.
// Throws EngineError naming the file as the archive spells it when there is
// none in any spelling.
std::string resolveTableFile(const std::string& folder, const std::string& name);

// The file a query's FROM names: a relative name lies in the query's folder.
std::string queriedTableFile(const std::string& databaseName, const std::string& fromPath);

}  // namespace archive::detail
