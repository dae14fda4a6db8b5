// The statement text of a query: any bytes either parse or are refused with
// the engine's error, which says where.

#include "engine.h"
#include "sqlparser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const archive::sql::SelectStatement statement = archive::sql::parseSelect(text);
        if (statement.order.size() > 2) std::abort();  // the subset orders by one or two columns
    } catch (const archive::EngineError& error) {
        if (std::string_view(error.what()).empty()) std::abort();
    }
    return 0;
}
