// quillora-sample-disc <folder> [--scale N]: writes an invented archive and the
// programs into <folder> as they lie on the magazine's disc.

#include "disclayout.h"
#include "samplearchive.h"

#include <charconv>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kUsage =
    "usage: quillora-sample-disc <folder> [--scale N]\n"
    "  writes <folder>/DATA (the three tables), <folder>/QLEngine/Setup.exe,\n"
    "  <folder>/quillora and <folder>/quillorahd\n"
    "  --scale N  N game tests (1 to 10000000), N/2 disc items and N/3 tips;\n"
    "             without it 1500 game tests\n";

std::optional<long long> parseGameCount(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < 1 || value > sampledisc::kMaxGameCount) return std::nullopt;
    return value;
}

int usageError(const std::string& problem) {
    std::cerr << "quillora-sample-disc: " << problem << "\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> folder;
    long long gameCount = sampledisc::kDefaultGameCount;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            std::cout << kUsage;
            return 0;
        }
        std::optional<std::string_view> scale;
        if (argument == "--scale") {
            if (i + 1 == argc) return usageError("--scale needs a number");
            scale = argv[++i];
        } else if (argument.starts_with("--scale=")) {
            scale = argument.substr(8);
        } else if (argument.starts_with("-")) {
            return usageError("unknown option " + std::string(argument));
        } else if (folder) {
            return usageError("only one folder, please");
        } else {
            folder = std::string(argument);
        }
        if (scale) {
            const std::optional<long long> count = parseGameCount(*scale);
            if (!count) return usageError("--scale wants a whole number from 1 to 10000000, not " + std::string(*scale));
            gameCount = *count;
        }
    }
    if (!folder) return usageError("which folder?");

    try {
        // Check the programs first: a disc without them is no use, so write nothing.
        const sampledisc::ProgramFiles programs =
            sampledisc::findProgramFiles(sampledisc::folderOfRunningProgram());
        sampledisc::writeDisc(*folder, gameCount, programs);
        const sampledisc::TableSizes sizes = sampledisc::tableSizes(gameCount);
        std::cout << "sample disc in " << *folder << ": " << sizes.games << " game tests, " << sizes.discItems
                  << " disc items, " << sizes.tips << " tips\n";
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quillora-sample-disc: " << error.what() << "\n";
        return 1;
    }
}
