#pragma once
// The sample disc as the program finds it: the tables in DATA, the engine
// installer in QLEngine and the program under its two names, the one ending in
// "hd" starting the hard-disk mode.

#include "tables.h"

#include <filesystem>
#include <string_view>

namespace sampledisc {

// Built beside the generator.
inline constexpr std::string_view kProgramExecutable = "quillora";
inline constexpr std::string_view kEngineSetupExecutable = "quillora-engine-setup";

// On the disc.
using archive::kDataFolder;
using archive::kEngineFolder;
using archive::kEngineSetupName;
inline constexpr std::string_view kDiscProgramName = "quillora";
inline constexpr std::string_view kHardDiskProgramName = "quillorahd";

struct ProgramFiles {
    std::filesystem::path program;
    std::filesystem::path engineSetup;
};

// The folder of the running executable.
std::filesystem::path folderOfRunningProgram();

// The program and the engine installer in `folder`. Throws std::runtime_error
// naming every one that is missing, so nothing gets written for a half disc.
ProgramFiles findProgramFiles(const std::filesystem::path& folder);

// Writes the whole disc into `discFolder`, creating it when needed.
void writeDisc(const std::filesystem::path& discFolder, long long gameCount, const ProgramFiles& programs);

}  // namespace sampledisc
