#include "startuprules.h"

#include "cp1252.h"
#include "engine.h"
#include "tablefile.h"
#include "wholefile.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace startup {

bool isHardDiskProgramName(std::string_view programFileName) {
    std::string name(programFileName);
    if (name.find('.') == std::string::npos) name += ".EXE";
    if (name.size() < 6) return false;
    return archive::upperAscii(std::string_view(name).substr(name.size() - 6)) == "HD.EXE";
}

std::string currentFolder() {
    std::error_code error;
    const auto folder = std::filesystem::current_path(error);
    return error ? std::string("/") : archive::utf8ToCp1252(folder.string());
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

namespace {
void makeOwnerWritable(const fs::path& file) {
    std::error_code ignored;
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, ignored);
}
}  // namespace

std::vector<CopyFailure> copyTablesToHardDisk(const std::string& sourcePath, const std::string& dataPath) {
    std::vector<CopyFailure> failures;
    std::string shownSource = sourcePath;
    while (shownSource.size() > 1 && shownSource.back() == '/') shownSource.pop_back();
    for (const archive::ViewDef* view : archive::allViews()) {
        const std::string name(view->copiedFileName);
        const std::string target = dataPath + "/" + name;
        makeOwnerWritable(archive::cp1252ToUtf8(target));
        // A refused or failed copy leaves the previous copy as it was; the start goes on.
        CopyFailure failure{name, {}, {}, false};
        try {
            archive::copyTableFile(shownSource, *view, target);
        } catch (const archive::EngineError& refusal) {
            failure.refusal = refusal.what();
        } catch (const archive::FileWriteError& error) {
            // The source is read whole before the copy takes the target's
            // place: a source that failed to read has failed the copy.
            const std::optional<std::string> source = archive::findFileIgnoringCase(shownSource, name);
            const bool sourceReadable = source && ::access(archive::cp1252ToUtf8(*source).c_str(), R_OK) == 0;
            failure.cause = sourceReadable ? archive::fileErrorCause(error.code())
                                           : "sie kann in '" + shownSource + "' nicht gelesen werden";
        }
        makeOwnerWritable(archive::cp1252ToUtf8(target));
        if (failure.cause.empty() && failure.refusal.empty()) continue;
        std::error_code ignored;
        failure.olderCopyExists = fs::is_regular_file(archive::cp1252ToUtf8(target), ignored);
        failures.push_back(std::move(failure));
    }
    return failures;
}

std::string copyFailureText(const std::vector<CopyFailure>& failures, const std::string& dataPath) {
    std::string text;
    for (const CopyFailure& failure : failures) {
        if (!text.empty()) text += '\n';
        if (failure.refusal.empty()) {
            text += "Die Tabelle '" + failure.file + "' konnte nicht auf die Festplatte kopiert werden (" +
                    failure.cause + "). ";
        } else {
            text += "Die Tabelle '" + failure.file + "' wurde nicht auf die Festplatte kopiert: " + failure.refusal + " ";
        }
        text += failure.olderCopyExists
                    ? "Angezeigt wird die \xE4ltere Kopie in '" + dataPath + "'."
                    : "In '" + dataPath + "' liegt keine \xE4ltere Kopie; die Tabelle kann nicht angezeigt werden.";
    }
    return text;
}

}  // namespace startup
