#include "disclayout.h"

#include "cp1252.h"
#include "samplearchive.h"
#include "wholefile.h"

#include <stdexcept>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace sampledisc {

fs::path folderOfRunningProgram() { return fs::read_symlink("/proc/self/exe").parent_path(); }

ProgramFiles findProgramFiles(const fs::path& folder) {
    ProgramFiles files{folder / kProgramExecutable, folder / kEngineSetupExecutable};
    std::string missing;
    for (const fs::path* file : {&files.program, &files.engineSetup}) {
        std::error_code error;
        if (!fs::is_regular_file(*file, error)) missing += "\n  " + file->string();
    }
    if (!missing.empty())
        throw std::runtime_error("the disc needs these programs beside the generator, build them first:" + missing);
    return files;
}

void writeDisc(const fs::path& discFolder, long long gameCount, const ProgramFiles& programs) {
    const fs::path dataFolder = discFolder / kDataFolder;
    const fs::path engineFolder = discFolder / kEngineFolder;
    fs::create_directories(dataFolder);
    fs::create_directories(engineFolder);

    // The table files take program paths, which are Windows-1252.
    const std::string dataPath = archive::utf8ToCp1252(dataFolder.string());
    if (archive::cp1252ToUtf8(dataPath) != dataFolder.string())
        throw std::runtime_error("the folder name has characters outside Windows-1252: " + dataFolder.string());
    writeSampleTables(dataPath, gameCount);

    // Each copy replaces an older one whole and keeps the program's permission bits.
    archive::copyWholeFileForFileSystemPaths(programs.engineSetup, engineFolder / kEngineSetupName);
    archive::copyWholeFileForFileSystemPaths(programs.program, discFolder / kDiscProgramName);
    archive::copyWholeFileForFileSystemPaths(programs.program, discFolder / kHardDiskProgramName);
}

}  // namespace sampledisc
