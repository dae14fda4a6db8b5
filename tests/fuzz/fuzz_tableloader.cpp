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

// One folder per process, so runs side by side do not meet; gone at exit.
struct Folder {
    Folder() : path((fs::temp_directory_path() / ("quillora-fuzz-" + std::to_string(::getpid()))).string()) {
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string path;
};

const std::string& folder() {
    static const Folder made;
    return made.path;
}

// Whatever a damaged input left in the folder would change what the next one sees.
void emptyFolder() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder(), ignored)) fs::remove_all(entry.path(), ignored);
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every cell by every way a reader reaches it; the sum keeps the reads from
// being optimised away.
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
    emptyFolder();
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
        readAll(query);
    } catch (const archive::EngineError&) {
    }
    archive::clearImageCache();
    try {
        archive::Table table;
        table.databaseName = folder();
        table.tableName = "GameData.db";
        table.open();
        readAll(table);
    } catch (const archive::EngineError&) {
    }

    // Reading a table never writes: the same bytes, and nothing beside them.
    if (contentOf(path) != bytes) std::abort();
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder())) ++entries;
    if (entries != 1) std::abort();
    return 0;
}
