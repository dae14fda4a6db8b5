#include "discfixture.h"

#include <sqlite3.h>

#include <QDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
archive::Cell text(const char* value) { return std::string(value); }
archive::Cell none() { return std::nullopt; }
}  // namespace

std::vector<archive::Row> DiscFixture::gameRows() {
    return {
        {text("Zeppelin Tycoon"), text("Strategie"), text("Wirtschaftssimulation"), text("Luftwerk"), text("81"),
         text("1999/04"), text("Luftschiffe im Aufbau")},
        {text("Abenteuer in Gr\xFCnwald"), text("Action"), text("Adventure"), text("M\xE4rchenhaus"), text("74"),
         text("2001/12"), text("R\xE4tsel im Wald")},
        {text("Rallye Fieber"), text("Sport"), text("Rennspiel"), text("Tempo Soft"), text("88"), text("2004/09"),
         text("Schnell und schmutzig")},
        {text("Ostfront Taktik"), text("Strategie"), text("Echtzeit-Strategie"), text("Feldherr"), none(),
         text("2000/02"), text("Ohne Wertung")},
        {text("Cabal \"Zwei\""), text("Action"), text("3D-Action"), text("Kellerkind"), text("65"), text("2000/12"),
         text("Mit Anf\xFChrungszeichen")},
        {text("Labyrinth"), text("Rollenspiele"), text("Rollenspiel"), text("Drachenhort"), text("90"),
         text("2003/01"), text("Verliese ohne Ende")},
    };
}

std::vector<archive::Row> DiscFixture::discRows() {
    return {
        {text("Rallye Fieber Demo"), text("2004/10"), text("Demo"), text("CD")},
        {text("Grafiktreiber"), text("2003/05"), text("Treiber"), text("DVD")},
        {text("Rallye Fieber Demo"), text("2004/02"), text("Demo"), text("CD/DVD")},
        {text("Zeppelin Patch"), text("1999/06"), text("Patch"), text("cd")},
    };
}

std::vector<archive::Row> DiscFixture::tipRows() {
    return {
        {text("Zeppelin Tycoon"), text("1999/07"), text("L\xF6sung"), text("3")},
        {text("Labyrinth"), text("2004/08"), text("Cheat"), text("12")},
        {text("Rallye Fieber"), text("2004/09"), text("Kurztipp"), text("7")},
    };
}

DiscFixture::DiscFixture() {
    originalFolder = fs::current_path().string();
    const std::string base = root.path().toStdString();
    disc = base + "/disc";
    dataPath = disc + "/DATA";
    configHome = base + "/config";
    dataHome = base + "/share";
    tempFolder = base + "/tmp";
    cacheHome = base + "/cache";
    installerTrace = base + "/installer-starts";
    for (const std::string& folder : {disc, dataPath, configHome, dataHome, cacheHome, tempFolder, disc + "/QLEngine"})
        fs::create_directories(folder);
    writeTable(archive::gamesView(), gameRows());
    writeTable(archive::discView(), discRows());
    writeTable(archive::tipsView(), tipRows());
    const std::string installer = disc + "/QLEngine/Setup.exe";
    std::ofstream(installer) << "#!/bin/sh\necho started >> '" << installerTrace << "'\n";
    fs::permissions(installer, fs::perms::owner_all);
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);
    ::setenv("TMPDIR", tempFolder.c_str(), 1);
    writeHive("\"Engine-Version\"=\"1.00\"");
}

DiscFixture::~DiscFixture() { fs::current_path(originalFolder); }

void DiscFixture::writeTable(const archive::ViewDef& view, const std::vector<archive::Row>& rows,
                             const std::string& folder) const {
    archive::TableFileWriter writer((folder.empty() ? dataPath : folder) + "/" + std::string(view.copiedFileName),
                                    view);
    for (const archive::Row& row : rows) writer.add(row);
    writer.commit();
}

void DiscFixture::writeHive(const std::string& engineVersionLine) const {
    fs::create_directories(configHome + "/Vortagon");
    std::ofstream hive(configHome + "/Vortagon/registry.reg");
    hive << "Windows Registry Editor Version 5.00\r\n\r\n"
         << "[HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine]\r\n";
    if (!engineVersionLine.empty()) hive << engineVersionLine << "\r\n";
}

int DiscFixture::installerStarts() const {
    std::ifstream trace(installerTrace);
    int starts = 0;
    for (std::string line; std::getline(trace, line);) ++starts;
    return starts;
}

void DiscFixture::enterDisc() const { fs::current_path(disc); }

std::vector<std::vector<std::string>> readTableFile(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* tables = nullptr;
    std::string table;
    sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table'", -1, &tables, nullptr);
    if (sqlite3_step(tables) == SQLITE_ROW) table = reinterpret_cast<const char*>(sqlite3_column_text(tables, 0));
    sqlite3_finalize(tables);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\" ORDER BY rowid").c_str(), -1, &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int column = 0; column < sqlite3_column_count(select); ++column) {
            const unsigned char* value = sqlite3_column_text(select, column);
            row.emplace_back(value ? reinterpret_cast<const char*>(value) : "");
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rows;
}
