// The lines of an import file: no line holds a CR or a Ctrl-Z, and the
// lines with their ends give back the text before the first Ctrl-Z.

#include "textexchange.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    archive::ImportLineReader reader;
    reader.openBytes(bytes);
    std::string line;
    size_t consumed = 0;
    const std::string_view text = bytes.substr(0, bytes.find('\x1A'));
    while (reader.readLine(line)) {
        if (line.find('\r') != std::string::npos || line.find('\x1A') != std::string::npos) std::abort();
        // The line stands where the previous one ended.
        if (text.substr(consumed, line.size()) != line) std::abort();
        consumed += line.size();
        if (consumed < text.size() && text[consumed] == '\r') {
            ++consumed;
            if (consumed < text.size() && text[consumed] == '\n') ++consumed;
        }
    }
    if (consumed != text.size()) std::abort();
    return 0;
}
