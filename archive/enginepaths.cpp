#include "enginepaths.h"

#include "filelayer.h"
#include "tablefile.h"
#include "tableimage.h"
#include "tables.h"
#include "valuetypes.h"

#include <map>
#include <mutex>

namespace archive::detail {

// The table file a query or a table names, found without regard to case.
// The views ask for "GameData.db" where the hard-disk copy wrote
// "GameData.DB"; the spelling found is remembered, so a rerun on every
// keystroke does not read the folder again.
std::string resolveTableFile(const std::string& folder, const std::string& name) {
    std::string requested = joinPath(folder, name);
    static std::mutex mutex;
    static std::map<std::string, std::string> found;
    {
        std::lock_guard lock(mutex);
        const auto known = found.find(requested);
        // An exact spelling that appeared since wins, as in the first search.
        if (known != found.end() && stampOf(known->second) && (known->second == requested || !stampOf(requested)))
            return known->second;
    }
    const std::optional<std::string> path = findFileIgnoringCase(folder, name);
    if (!path) {
        // Not there in any spelling: the message names the file as the
        // archive spells it ("GameData.DB"), not as the view asks for it.
        const std::string asked = fileNameOf(requested);
        const ViewDef* view = findViewByTableFile(asked);
        const std::string shown =
            view ? requested.substr(0, requested.size() - asked.size()) + std::string(view->copiedFileName) : requested;
        throw EngineError(unreadableText(shown));
    }
    std::lock_guard lock(mutex);
    if (found.size() > 64) found.clear();
    found[requested] = *path;
    return *path;
}

namespace {

// A bare file name has no folder: it is looked for in the current folder.
std::pair<std::string, std::string> splitPath(const std::string& path) {
    return {path.find('/') == std::string::npos ? std::string() : folderOf(path), fileNameOf(path)};
}

}  // namespace

// The file a query's FROM names: a relative name lies in the query's folder.
std::string queriedTableFile(const std::string& databaseName, const std::string& fromPath) {
    std::string path = fromPath;
    if (!path.empty() && path.front() != '/' && !databaseName.empty()) path = databaseName + "/" + path;
    const auto [folder, name] = splitPath(path);
    return resolveTableFile(folder, name);
}

}  // namespace archive::detail
