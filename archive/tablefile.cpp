#include "tablefile.h"

#include "cp1252.h"
#include "filelayer.h"
#include "transaction.h"
#include "valuetypes.h"
#include "wholefile.h"

#include <dirent.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace archive {
namespace {

using detail::Database;
using detail::fileNameOf;
using detail::folderOf;
using detail::fsPath;
using detail::joinPath;

// The SQLite table is named after the view's file, without the extension.
std::string tableNameOf(const ViewDef& view) {
    const std::string_view file = view.tableFile;
    return std::string(file.substr(0, file.find('.')));
}

// Changes waiting in a -wal file belong to the file they were written for: a
// new file put in its place would take them in as its own pages.
void refusePendingWal(const std::string& path) {
    if (detail::hasPendingWal(fsPath(path))) throw EngineError(detail::walPendingText(path));
}

// Nobody but the writer opens the fresh file, so what its closing may leave
// beside it (a -wal and a -shm file where the last lock was refused) is ours
// to remove; it would stay behind under the fresh file's name.
void removeWalFilesOf(const std::string& fsName) {
    ::unlink((fsName + "-wal").c_str());
    ::unlink((fsName + "-shm").c_str());
}

}  // namespace

struct TableFileWriter::Impl {
    std::string path;
    const ViewDef& view;
    WholeFileWriter file;  // the fresh file the rows go into, put in the target's place on commit
    Database db;
    std::optional<detail::Transaction> transaction;
    std::unique_ptr<detail::Command> insert;
    bool walMode = false;  // the table replaced is in WAL mode, and so is the new one
    bool committed = false;

    Impl(std::string target, const ViewDef& viewDef) : path(std::move(target)), view(viewDef), file(opened(path)) {}

    ~Impl() {
        insert.reset();
        transaction.reset();
        db.close();  // before the fresh file goes, when it was not committed
        if (!committed && walMode && !file.temporaryPath().empty()) removeWalFilesOf(fsPath(file.temporaryPath()));
    }

    // The engine reports every failure as its own.
    static WholeFileWriter opened(const std::string& target) {
        try {
            return WholeFileWriter(target);
        } catch (const FileWriteError& error) {
            throw EngineError(detail::writeFailedText(target, fileErrorCause(error.code())));
        }
    }
};

TableFileWriter::TableFileWriter(std::string path, const ViewDef& view) {
    refusePendingWal(path);
    impl_ = std::make_unique<Impl>(std::move(path), view);
    Impl& w = *impl_;
    w.walMode = detail::storedInWalMode(fsPath(w.path));
    w.db = Database::openNew(w.file.temporaryPath());
    // The fresh file either replaces the target whole or is thrown away,
    // so it needs neither a journal nor a flush per page.
    w.db.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-32768", w.path);

    std::string create = "CREATE TABLE " + detail::quotedIdentifier(tableNameOf(view)) + " (";
    std::string insert = "INSERT INTO " + detail::quotedIdentifier(tableNameOf(view)) + " VALUES (";
    for (size_t i = 0; i < view.fields.size(); ++i) {
        const FieldDef& field = view.fields[i];
        if (i > 0) {
            create += ", ";
            insert += ", ";
        }
        create += detail::quotedIdentifier(field.name);
        create += field.kind == FieldKind::Integer ? " INTEGER" : " TEXT";
        insert += '?';
    }
    create += ")";
    insert += ")";
    w.db.exec(create.c_str(), w.path);
    w.transaction.emplace(w.db, w.path);
    w.insert = std::make_unique<detail::Command>(w.db, insert, w.path);
}

TableFileWriter::~TableFileWriter() = default;

void TableFileWriter::add(const Row& row) {
    Impl& w = *impl_;
    if (w.committed) throw EngineError(detail::writeFailedText(w.path, "bereits abgeschlossen"));
    const auto& fields = w.view.fields;
    if (row.size() != fields.size())
        throw EngineError("Die Zeile hat " + std::to_string(row.size()) + " Werte, die Tabelle " +
                          std::to_string(fields.size()) + " Felder.");
    // Check every value before binding any, so a refused row leaves nothing behind.
    std::vector<std::optional<long long>> numbers(row.size());
    for (size_t i = 0; i < row.size(); ++i) {
        if (fields[i].kind != FieldKind::Integer || !row[i] || row[i]->empty()) continue;
        numbers[i] = detail::parseInteger(*row[i]);
        if (!numbers[i]) throw EngineError(detail::notANumberText(*row[i], fields[i].name));
    }
    for (size_t i = 0; i < row.size(); ++i) {
        if (!row[i] || row[i]->empty())
            w.insert->null();
        else if (fields[i].kind == FieldKind::Integer)
            w.insert->integer(*numbers[i]);
        else
            w.insert->text(*row[i]);
    }
    w.insert->run();
}

void TableFileWriter::commit() {
    Impl& w = *impl_;
    if (w.committed) return;
    w.insert.reset();
    w.transaction->commit();
    w.transaction.reset();
    // Only now: a journal of its own would only slow down filling the file.
    if (w.walMode) w.db.exec("PRAGMA journal_mode=WAL", w.path);
    w.db.close();
    if (w.walMode) {
        // Rows still waiting in the fresh file's -wal file are not in the
        // fresh file: it is not whole and must not replace the table.
        const std::string fresh = fsPath(w.file.temporaryPath());
        const bool whole = !detail::hasPendingWal(fresh);
        removeWalFilesOf(fresh);
        if (!whole) throw EngineError(detail::writeFailedText(w.path, fileErrorCause(EIO)));
    }
    refusePendingWal(w.path);
    try {
        w.file.commit();
    } catch (const FileWriteError& error) {
        throw EngineError(detail::writeFailedText(w.path, fileErrorCause(error.code())));
    }
    w.committed = true;
}

std::optional<std::string> findFileIgnoringCase(const std::string& folder, const std::string& name) {
    // A name with folders in it searches its last part in the folder it names.
    const std::string exact = joinPath(folder, name);
    struct stat info {};
    if (::stat(fsPath(exact).c_str(), &info) == 0 && S_ISREG(info.st_mode)) return exact;

    const std::string searchFolder = folderOf(exact);
    const std::string fileName = fileNameOf(exact);
    DIR* dir = ::opendir(fsPath(searchFolder).c_str());
    if (!dir) return std::nullopt;
    std::vector<std::string> matches;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view onDisk = entry->d_name;
        const std::string candidate = utf8ToCp1252(onDisk);
        // A name that Windows-1252 cannot spell cannot be the one asked for.
        if (fsPath(candidate) != onDisk || !equalsIgnoringCase(candidate, fileName)) continue;
        const std::string full = joinPath(searchFolder, candidate);
        if (::stat(fsPath(full).c_str(), &info) == 0 && S_ISREG(info.st_mode)) matches.push_back(full);
    }
    ::closedir(dir);
    if (matches.empty()) return std::nullopt;
    // Several spellings of one name: take the same one every time.
    return *std::min_element(matches.begin(), matches.end());
}

}  // namespace archive
