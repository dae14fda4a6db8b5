// The fault-injecting file layer the write tests run on: it must fail exactly
// the call it is told to and pass every other one on untouched.

#include "faultvfs.h"
#include "tablefixtures.h"
#include "testfolder.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A file opened directly through the layer, bypassing SQLite's pager, so
// every call reaches the layer exactly once.
class RawFile {
public:
    explicit RawFile(const std::string& path) : vfs_(sqlite3_vfs_find(nullptr)) {
        storage_.reset(new char[static_cast<size_t>(vfs_->szOsFile)]());
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MAIN_DB;
        EXPECT_EQ(vfs_->xOpen(vfs_, path.c_str(), file(), flags, &flags_), SQLITE_OK);
    }
    ~RawFile() {
        if (file()->pMethods) file()->pMethods->xClose(file());
    }
    sqlite3_file* file() { return reinterpret_cast<sqlite3_file*>(storage_.get()); }
    int write(const std::string& bytes, sqlite3_int64 offset) {
        return file()->pMethods->xWrite(file(), bytes.data(), static_cast<int>(bytes.size()), offset);
    }
    int sync() { return file()->pMethods->xSync(file(), SQLITE_SYNC_NORMAL); }
    int lock(int level) { return file()->pMethods->xLock(file(), level); }
    int unlock(int level) { return file()->pMethods->xUnlock(file(), level); }

private:
    sqlite3_vfs* vfs_;
    std::unique_ptr<char[]> storage_;
    int flags_ = 0;
};

}  // namespace

TEST(FaultVfs, IsTheDefaultAndFailsExactlyTheNthCallOfItsKind) {
    faultvfs::install();
    ASSERT_STREQ(sqlite3_vfs_find(nullptr)->zName, faultvfs::name());
    TestFolder folder;
    for (int n = 1; n <= 3; ++n) {
        faultvfs::reset();
        const std::string path = folder.file("raw" + std::to_string(n));
        RawFile raw(path);
        faultvfs::failNth(faultvfs::Kind::Write, n, SQLITE_IOERR_WRITE);
        // Flushes and locks count apart and are never failed for a write.
        EXPECT_EQ(raw.sync(), SQLITE_OK);
        EXPECT_EQ(raw.lock(SQLITE_LOCK_SHARED), SQLITE_OK);
        EXPECT_EQ(raw.unlock(SQLITE_LOCK_NONE), SQLITE_OK);
        std::string expected;
        for (int call = 1; call <= 4; ++call) {
            const std::string bytes(1, static_cast<char>('0' + call));
            const int rc = raw.write(bytes, call - 1);
            EXPECT_EQ(rc, call == n ? SQLITE_IOERR_WRITE : SQLITE_OK) << "n " << n << ", call " << call;
            EXPECT_EQ(faultvfs::fired(), call >= n);
            // The failed write leaves a hole: it did nothing.
            expected += call == n ? '\0' : bytes[0];
        }
        EXPECT_EQ(faultvfs::count(faultvfs::Kind::Write), 4);
        EXPECT_EQ(faultvfs::count(faultvfs::Kind::Sync), 1);
        EXPECT_EQ(fileContent(path), expected);
    }

    faultvfs::reset();
    RawFile raw(folder.file("sync"));
    faultvfs::failNth(faultvfs::Kind::Sync, 2, SQLITE_IOERR_FSYNC);
    EXPECT_EQ(raw.sync(), SQLITE_OK);
    EXPECT_EQ(raw.sync(), SQLITE_IOERR_FSYNC);
    EXPECT_EQ(raw.sync(), SQLITE_OK);

    // A failed lock is not taken: the next attempt gets it.
    faultvfs::failNth(faultvfs::Kind::Lock, 1, SQLITE_BUSY);
    EXPECT_EQ(raw.lock(SQLITE_LOCK_SHARED), SQLITE_BUSY);
    EXPECT_EQ(raw.lock(SQLITE_LOCK_SHARED), SQLITE_OK);
    EXPECT_EQ(raw.unlock(SQLITE_LOCK_NONE), SQLITE_OK);
    EXPECT_EQ(faultvfs::count(faultvfs::Kind::Lock), 2);
    faultvfs::reset();
}

TEST(FaultVfs, ASqliteTransactionSeesTheFailureAndNothingElse) {
    faultvfs::install();
    TestFolder folder;
    const std::string path = folder.file("t.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_extended_result_codes(db, 1);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr), SQLITE_OK);
    faultvfs::reset();
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO t VALUES (1)", nullptr, nullptr, nullptr), SQLITE_OK);
    const int syncs = faultvfs::count(faultvfs::Kind::Sync);
    ASSERT_GT(syncs, 0);
    for (int n = 1; n <= syncs + 1; ++n) {
        faultvfs::reset();
        faultvfs::failNth(faultvfs::Kind::Sync, n, SQLITE_IOERR_FSYNC);
        const int rc = sqlite3_exec(db, "INSERT INTO t VALUES (2)", nullptr, nullptr, nullptr);
        EXPECT_EQ(rc, n <= syncs ? SQLITE_IOERR_FSYNC : SQLITE_OK) << "n " << n;
        EXPECT_EQ(faultvfs::fired(), n <= syncs);
    }
    faultvfs::reset();
    sqlite3_close(db);
    // Only the last insert, which saw no failure, is stored beside the first.
    EXPECT_EQ(plainSqliteRows(path, "SELECT x FROM t"), (std::vector<std::string>{"1", "2"}));
}
