#include "startuprules.h"

#include "cp1252.h"
#include "tablefile.h"
#include "wholefile.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace startup {

bool isHardDiskProgramName(std::string_view programFileName) {
    std::string name(programFileName);
    if (name.find('.') == std::string::npos) name += ".EXE";
    if (name.size() < 6) return false;
    return archive::upperAscii(std::string_view(name).substr(name.size() - 6)) == "HD.EXE";
}

std::string sourcePathFor(std::string_view startFolder) {
    std::string path(startFolder);
    if (path.empty() || path.back() != '/') path += '/';
    return path + std::string(archive::kDataFolder);
}

HardDiskFolders hardDiskFolders() {
    std::string base;
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && *dataHome) {
        base = archive::utf8ToCp1252(dataHome);
    } else {
        const char* home = std::getenv("HOME");
        base = archive::utf8ToCp1252(home && *home ? home : "") + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    HardDiskFolders folders;
    folders.levels[0] = base + "/VORTAGON";
    folders.levels[1] = folders.levels[0] + "/QUILLORA";
    folders.levels[2] = folders.levels[1] + "/DATA";
    return folders;
}

double engineVersionFromText(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (error != std::errc{} || stop != end) return 0;
    return value;
}

archive::Issue newestIssueFrom(const std::string* newestCode) {
    if (newestCode) {
        if (const auto issue = archive::parseIssueCode(*newestCode)) return *issue;
    }
    return archive::Issue{};
}

namespace {
void makeOwnerWritable(const fs::path& file) {
    std::error_code ignored;
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ignored);
}
}  // namespace

void copyTablesToHardDisk(const std::string& sourcePath, const std::string& dataPath) {
    for (const archive::ViewDef* view : archive::allViews()) {
        const std::string name(view->copiedFileName);
        const std::string target = dataPath + "/" + name;
        // The disc's own spelling of the name may differ in letter case.
        const std::string source = archive::findFileIgnoringCase(sourcePath, name).value_or(sourcePath + "/" + name);
        makeOwnerWritable(archive::cp1252ToUtf8(target));
        // A failed copy leaves the previous copy as it was; the start goes on.
        try {
            archive::copyWholeFile(source, target);
        } catch (const archive::FileWriteError&) {
        }
        makeOwnerWritable(archive::cp1252ToUtf8(target));
    }
}

}  // namespace startup
