#include "sysinfo.h"

#include "cp1252.h"

#include <cstdlib>

std::string TSysInfo::TempPath() const {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string path = tmpdir && *tmpdir ? tmpdir : "/tmp";
    if (path.back() != '/') path += '/';
    // A name that does not survive the trip to Windows-1252 would lead the
    // caller into a different folder, or none.
    const std::string text = archive::utf8ToCp1252(path);
    return archive::cp1252ToUtf8(text) == path ? text : std::string();
}
