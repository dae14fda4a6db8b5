// The table loader over damaged table files: the bytes become GameData.DB in
// a folder of this process, which is opened as the program opens it (the
// browsing query sorted by title, then the table) and read cell by cell.
// Either the data comes back or an EngineError says why; anything else is a
// fault, and so is a loader that changed the file or left anything beside it.

#include "engine.h"
#include "querytext.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;

// One folder per process, so runs side by side do not meet. It lives only
// while an input is tried, since libFuzzer may end the process without
// running destructors; after a crash it keeps the input that crashed.
const std::string& folder() {
    static const std::string path =
        (fs::temp_directory_path() / ("quillora-fuzz-" + std::to_string(::getpid()))).string();
    return path;
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every cell by every way a reader reaches it; the sum goes to a volatile,
// so no read can be left out.
volatile size_t sink;

size_t readAll(archive::DataSet& data) {
    size_t seen = 0;
    for (int record = 0; record < data.recordCount(); ++record) {
        for (int column = 0; column < data.fieldCount(); ++column) {
            const std::string_view text = data.text(record, column);
            seen += text.size();
            if (data.isNull(record, column) && !text.empty()) std::abort();
            seen += data.integer(record, column).has_value();
        }
    }
    for (data.first(); !data.eof(); data.next()) {
        for (int column = 0; column < data.fieldCount(); ++column) {
            archive::Field field = data.field(column);
            seen += field.asString().size() + field.fieldName().size() + field.displayLabel().size();
        }
    }
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::error_code ignored;
    fs::remove_all(folder(), ignored);
    fs::create_directories(folder());
    const std::string path = folder() + "/GameData.DB";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    archive::clearImageCache();
    try {
        archive::Query query;
        query.databaseName = folder();
        query.sql = {"SELECT * FROM " + archive::quotedLiteral(path), "ORDER BY TITEL"};
        query.prepare();
        query.open();
        sink = readAll(query);
    } catch (const archive::EngineError&) {
    }
    archive::clearImageCache();
    try {
        archive::Table table;
        table.databaseName = folder();
        table.tableName = "GameData.db";
        table.open();
        sink = readAll(table);
    } catch (const archive::EngineError&) {
    }

    // Reading a table never writes: the same bytes, and nothing beside them.
    if (contentOf(path) != bytes) std::abort();
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder())) ++entries;
    if (entries != 1) std::abort();
    fs::remove_all(folder());
    return 0;
}
