#include "imagefolder.h"

#include "filelayer.h"
#include "tableimage_internal.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace archive {
namespace {

// The folder's bound: the newest files within this many bytes and this many files.
constexpr uint64_t kFolderBytes = uint64_t{1} << 30;
constexpr size_t kFolderFiles = 12;
// A fresh file of the whole-file writer this old was left by a killed writer.
constexpr auto kStaleFreshFile = std::chrono::hours(24);
constexpr const char* kSuffix = ".img";

}  // namespace

namespace detail {

bool makeFolder(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void pruneFolder(const std::string& folder, const std::string& kept) {
    namespace fs = std::filesystem;
    struct Entry {
        fs::path path;
        fs::file_time_type written;
        uint64_t bytes;
    };
    std::vector<Entry> files;
    std::error_code error;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (!it->is_regular_file(ignored)) continue;
        const fs::file_time_type written = it->last_write_time(ignored);
        if (ignored) continue;
        if (name.starts_with(".")) {
            if (now - written > kStaleFreshFile) fs::remove(path, ignored);
            continue;
        }
        if (!name.ends_with(kSuffix)) continue;
        const uint64_t bytes = it->file_size(ignored);
        if (!ignored) files.push_back({path, written, bytes});
    }
    std::sort(files.begin(), files.end(), [](const Entry& a, const Entry& b) { return a.written > b.written; });
    uint64_t total = 0;
    size_t count = 0;
    for (const Entry& file : files) {
        const bool keep = file.path.string() == kept;
        if (!keep && (count + 1 > kFolderFiles || total + file.bytes > kFolderBytes)) {
            std::error_code ignored;
            fs::remove(file.path, ignored);
            continue;
        }
        total += file.bytes;
        ++count;
    }
}

}  // namespace detail

std::string imageFileFolder() {
    auto withoutEndSlashes = [](std::string path) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        return path;
    };
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') {
        base = withoutEndSlashes(cache);
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return {};
        base = withoutEndSlashes(home);
        base += "/.cache";
    }
    if (base == "/") base.clear();
    base += "/Vortagon/Quillora/images";
    return base;
}

std::string imageFileOf(const std::string& tablePath) {
    namespace fs = std::filesystem;
    const std::string folder = imageFileFolder();
    if (folder.empty() || tablePath.empty()) return {};
    std::error_code error;
    const fs::path table = fs::absolute(detail::fsPath(tablePath), error).lexically_normal();
    if (error) return {};
    const fs::path tableFolder = table.parent_path();
    // Never beside a table, however the two paths are spelled.
    if (tableFolder == fs::path(folder).lexically_normal() || fs::equivalent(tableFolder, folder, error)) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    uint64_t hash = detail::hashBytes(table.string());
    std::string name(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) name[static_cast<size_t>(i)] = kHex[hash & 15];
    return folder + "/" + name + kSuffix;
}

}  // namespace archive
