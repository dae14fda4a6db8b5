// The table loader over damaged table files: the bytes become GameData.DB in
// a folder of this process, which is opened as the program opens it (the
// browsing query sorted by title, then the table) and read cell by cell.
// Either the data comes back or an EngineError says why; anything else is a
// fault, and so is a loader that changed the file or left anything beside it.
//
// Then the same bytes go through the hard-disk copy over a good older copy:
// refused, the older copy stays as it was with nothing beside it; copied,
// the copy holds the same bytes and, opened without being checked again,
// reads as the source did.

#include "engine.h"
#include "imagecache.h"
#include "querytext.h"
#include "tablefile.h"
#include "tables.h"
#include "wholefile.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
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

const std::string& copies() {
    static const std::string path = folder() + "-copies";
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

// Reads the table file in `dir` as the program opens it (the browsing
// query sorted by title, then the table): what was read, counted, or nothing
// when either refused it.
std::optional<size_t> readTable(const std::string& dir) {
    size_t seen = 0;
    bool whole = true;
    archive::clearImageCache();
    try {
        archive::Query query;
        query.databaseName = dir;
        query.sql = {"SELECT * FROM " + archive::quotedLiteral(dir + "/GameData.DB"), "ORDER BY TITEL"};
        query.prepare();
        query.open();
        seen += readAll(query);
    } catch (const archive::EngineError&) {
        whole = false;
    }
    archive::clearImageCache();
    try {
        archive::Table table;
        table.databaseName = dir;
        table.tableName = "GameData.db";
        table.open();
        seen += readAll(table);
    } catch (const archive::EngineError&) {
        whole = false;
    }
    sink = seen;
    if (!whole) return std::nullopt;
    return seen;
}

// A sound games table of two rows, as an earlier start copied it.
const std::string& olderCopy() {
    static const std::string bytes = [] {
        std::error_code ignored;
        fs::remove_all(copies(), ignored);
        fs::create_directories(copies());
        const std::string path = copies() + "/GameData.DB";
        {
            archive::TableFileWriter writer(path, archive::gamesView());
            for (const char* title : {"Alte Kopie", "Noch eine"}) {
                archive::Row row(archive::gamesView().fields.size(), std::string("1"));
                row[0] = title;
                writer.add(row);
            }
            writer.commit();
        }
        return contentOf(path);
    }();
    return bytes;
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

    const std::optional<size_t> read = readTable(folder());

    // Reading a table never writes: the same bytes, and nothing beside them.
    if (contentOf(path) != bytes) std::abort();
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder())) ++entries;
    if (entries != 1) std::abort();

    const std::string& older = olderCopy();
    fs::remove_all(copies(), ignored);
    fs::create_directories(copies());
    const std::string target = copies() + "/GameData.DB";
    {
        std::ofstream out(target, std::ios::binary);
        out.write(older.data(), static_cast<std::streamsize>(older.size()));
    }
    bool copied = false;
    try {
        archive::copyTableFile(folder(), archive::gamesView(), target);
        copied = true;
    } catch (const archive::EngineError&) {
    } catch (const archive::FileWriteError&) {
    }
    if (contentOf(target) != (copied ? bytes : older)) std::abort();
    entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(copies())) ++entries;
    if (entries != 1) std::abort();
    // A copy is sound: it reads whole, as the source does.
    if (copied && (!read || readTable(copies()) != read)) std::abort();

    fs::remove_all(folder());
    fs::remove_all(copies());
    return 0;
}
