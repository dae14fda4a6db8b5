#include "faultvfs.h"

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace faultvfs {
namespace {

constexpr const char* kName = "quillora-fault";

std::array<std::atomic<int>, 3> counts{};
std::atomic<int> armedKind{-1};
std::atomic<int> armedAt{0};  // the count at which the armed call fails
std::atomic<int> armedCode{0};
std::atomic<bool> hasFired{false};

sqlite3_vfs* base = nullptr;
sqlite3_vfs shim{};

// Our file: the system layer's own file follows it in the same allocation.
struct File {
    sqlite3_file file;
    sqlite3_file* real;
};

sqlite3_file* realOf(sqlite3_file* file) { return reinterpret_cast<File*>(file)->real; }

// Counts the call; the code it is to fail with, or SQLITE_OK. A table may be
// read on two threads at once: one lock keeps the count and the failure exact.
std::mutex countMutex;

int counted(Kind kind) {
    const std::lock_guard lock(countMutex);
    const int index = static_cast<int>(kind);
    const int number = ++counts[static_cast<size_t>(index)];
    if (armedKind.load() != index || number != armedAt.load()) return SQLITE_OK;
    armedKind = -1;
    hasFired = true;
    return armedCode.load();
}

int fileClose(sqlite3_file* file) {
    sqlite3_file* real = realOf(file);
    const int rc = real->pMethods ? real->pMethods->xClose(real) : SQLITE_OK;
    file->pMethods = nullptr;
    return rc;
}
int fileRead(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
    return realOf(file)->pMethods->xRead(realOf(file), data, amount, offset);
}
int fileWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    if (const int rc = counted(Kind::Write)) return rc;
    return realOf(file)->pMethods->xWrite(realOf(file), data, amount, offset);
}
int fileTruncate(sqlite3_file* file, sqlite3_int64 size) {
    return realOf(file)->pMethods->xTruncate(realOf(file), size);
}
int fileSync(sqlite3_file* file, int flags) {
    if (const int rc = counted(Kind::Sync)) return rc;
    return realOf(file)->pMethods->xSync(realOf(file), flags);
}
int fileSize(sqlite3_file* file, sqlite3_int64* size) {
    return realOf(file)->pMethods->xFileSize(realOf(file), size);
}
int fileLock(sqlite3_file* file, int level) {
    if (const int rc = counted(Kind::Lock)) return rc;
    return realOf(file)->pMethods->xLock(realOf(file), level);
}
int fileUnlock(sqlite3_file* file, int level) {
    return realOf(file)->pMethods->xUnlock(realOf(file), level);
}
int fileCheckReservedLock(sqlite3_file* file, int* out) {
    return realOf(file)->pMethods->xCheckReservedLock(realOf(file), out);
}
int fileControl(sqlite3_file* file, int op, void* arg) {
    return realOf(file)->pMethods->xFileControl(realOf(file), op, arg);
}
int fileSectorSize(sqlite3_file* file) { return realOf(file)->pMethods->xSectorSize(realOf(file)); }
int fileDeviceCharacteristics(sqlite3_file* file) {
    return realOf(file)->pMethods->xDeviceCharacteristics(realOf(file));
}
// The shared-memory calls of a WAL-mode file exist only from version 2 of
// the system layer's methods, the mapped reads from version 3.
int fileShmMap(sqlite3_file* file, int page, int size, int extend, void volatile** out) {
    const sqlite3_io_methods* m = realOf(file)->pMethods;
    return m->iVersion >= 2 ? m->xShmMap(realOf(file), page, size, extend, out) : SQLITE_IOERR_SHMMAP;
}
int fileShmLock(sqlite3_file* file, int offset, int n, int flags) {
    const sqlite3_io_methods* m = realOf(file)->pMethods;
    return m->iVersion >= 2 ? m->xShmLock(realOf(file), offset, n, flags) : SQLITE_IOERR_SHMLOCK;
}
void fileShmBarrier(sqlite3_file* file) {
    const sqlite3_io_methods* m = realOf(file)->pMethods;
    if (m->iVersion >= 2) m->xShmBarrier(realOf(file));
}
int fileShmUnmap(sqlite3_file* file, int deleteFlag) {
    const sqlite3_io_methods* m = realOf(file)->pMethods;
    return m->iVersion >= 2 ? m->xShmUnmap(realOf(file), deleteFlag) : SQLITE_OK;
}
int fileFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
    const sqlite3_io_methods* m = realOf(file)->pMethods;
    if (m->iVersion >= 3) return m->xFetch(realOf(file), offset, amount, out);
    *out = nullptr;
    return SQLITE_OK;
}
int fileUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    const sqlite3_io_methods* m = realOf(file)->pMethods;
    return m->iVersion >= 3 ? m->xUnfetch(realOf(file), offset, page) : SQLITE_OK;
}

const sqlite3_io_methods kMethods = {
    3,
    fileClose,
    fileRead,
    fileWrite,
    fileTruncate,
    fileSync,
    fileSize,
    fileLock,
    fileUnlock,
    fileCheckReservedLock,
    fileControl,
    fileSectorSize,
    fileDeviceCharacteristics,
    fileShmMap,
    fileShmLock,
    fileShmBarrier,
    fileShmUnmap,
    fileFetch,
    fileUnfetch,
};

int vfsOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    auto* ours = reinterpret_cast<File*>(file);
    ours->real = reinterpret_cast<sqlite3_file*>(ours + 1);
    ours->real->pMethods = nullptr;
    const int rc = base->xOpen(base, name, ours->real, flags, outFlags);
    // SQLite closes a file whose methods are set even when opening failed.
    file->pMethods = ours->real->pMethods ? &kMethods : nullptr;
    return rc;
}

// Everything about names, time and randomness is the system layer's.
int vfsDelete(sqlite3_vfs*, const char* name, int syncDir) { return base->xDelete(base, name, syncDir); }
int vfsAccess(sqlite3_vfs*, const char* name, int flags, int* out) { return base->xAccess(base, name, flags, out); }
int vfsFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return base->xFullPathname(base, name, size, out);
}
void* vfsDlOpen(sqlite3_vfs*, const char* name) { return base->xDlOpen(base, name); }
void vfsDlError(sqlite3_vfs*, int size, char* out) { base->xDlError(base, size, out); }
void (*vfsDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return base->xDlSym(base, handle, symbol); }
void vfsDlClose(sqlite3_vfs*, void* handle) { base->xDlClose(base, handle); }
int vfsRandomness(sqlite3_vfs*, int size, char* out) { return base->xRandomness(base, size, out); }
int vfsSleep(sqlite3_vfs*, int microseconds) { return base->xSleep(base, microseconds); }
int vfsCurrentTime(sqlite3_vfs*, double* out) { return base->xCurrentTime(base, out); }
int vfsGetLastError(sqlite3_vfs*, int size, char* out) { return base->xGetLastError(base, size, out); }
int vfsCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return base->xCurrentTimeInt64(base, out); }

}  // namespace

void install() {
    static std::once_flag once;
    std::call_once(once, [] {
        sqlite3_initialize();
        base = sqlite3_vfs_find(nullptr);
        shim.iVersion = 2;
        shim.szOsFile = static_cast<int>(sizeof(File)) + base->szOsFile;
        shim.mxPathname = base->mxPathname;
        shim.zName = kName;
        shim.xOpen = vfsOpen;
        shim.xDelete = vfsDelete;
        shim.xAccess = vfsAccess;
        shim.xFullPathname = vfsFullPathname;
        shim.xDlOpen = vfsDlOpen;
        shim.xDlError = vfsDlError;
        shim.xDlSym = vfsDlSym;
        shim.xDlClose = vfsDlClose;
        shim.xRandomness = vfsRandomness;
        shim.xSleep = vfsSleep;
        shim.xCurrentTime = vfsCurrentTime;
        shim.xGetLastError = vfsGetLastError;
        shim.xCurrentTimeInt64 = vfsCurrentTimeInt64;
        sqlite3_vfs_register(&shim, 1);
    });
}

void reset() {
    const std::lock_guard lock(countMutex);
    armedKind = -1;
    hasFired = false;
    for (auto& c : counts) c = 0;
}

int count(Kind kind) { return counts[static_cast<size_t>(kind)].load(); }

void failNth(Kind kind, int n, int code) {
    const std::lock_guard lock(countMutex);
    hasFired = false;
    armedCode = code;
    armedAt = count(kind) + n;
    armedKind = static_cast<int>(kind);
}

int usualCode(Kind kind) {
    switch (kind) {
    case Kind::Write:
        return SQLITE_IOERR_WRITE;
    case Kind::Sync:
        return SQLITE_IOERR_FSYNC;
    case Kind::Lock:
        return SQLITE_IOERR_LOCK;
    }
    return SQLITE_IOERR;
}

bool fired() { return hasFired.load(); }

const char* name() { return kName; }

}  // namespace faultvfs
