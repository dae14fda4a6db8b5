#pragma once
// The benchmarks measure the engine as it reads its tables from SQLite: no
// cache files of images are written unless a case turns them on for itself,
// and those go to a folder of the run's own, never to the home of whoever
// runs the benchmarks.

#include "imagefile.h"
#include "testfolder.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>

namespace benchimagefiles {

inline void off() {
    static const TestFolder home;
    ::setenv("XDG_CACHE_HOME", home.path().c_str(), 1);
    archive::detail::imageFileMinimumRows = UINT32_MAX;
}

// Cache files for tables of every size while it lives.
class On {
public:
    On() { archive::detail::imageFileMinimumRows = 0; }
    ~On() {
        archive::finishImageFiles();
        archive::detail::imageFileMinimumRows = UINT32_MAX;
        // The cases after it read their tables from SQLite again.
        std::error_code ignored;
        std::filesystem::remove_all(archive::imageFileFolder(), ignored);
    }
    On(const On&) = delete;
    On& operator=(const On&) = delete;
};

}  // namespace benchimagefiles
