// The four values of an import line: with three TABs or more they are the
// line itself, cut at the first three TABs.

#include "textexchange.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::array<std::string, 4> values = archive::splitImportLine(line);
    if (std::count(line.begin(), line.end(), '\t') >= 3) {
        if (values[0] + '\t' + values[1] + '\t' + values[2] + '\t' + values[3] != line) std::abort();
        for (int i = 0; i < 3; ++i)
            if (values[i].find('\t') != std::string::npos) std::abort();
    }
    size_t total = 0;
    for (const std::string& value : values) total += value.size();
    if (total > line.size()) std::abort();
    return 0;
}
