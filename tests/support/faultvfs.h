#pragma once
// Tests only: a file layer under SQLite that passes every call on to the
// system's own and can make one chosen call fail, the way a full disk, a
// dying medium or another program's lock would. The engine names no file
// layer of its own when it opens a table, so once this one is the default,
// every table the process opens goes through it; nothing in the program
// changes for it.
//
// Calls are counted per kind: writes (xWrite), flushes (xSync) and locks
// (xLock), each on every file SQLite opens (the table, its journal, a -wal
// file). Unlocking, reading and truncating are never failed.

#include <sqlite3.h>

namespace faultvfs {

enum class Kind { Write, Sync, Lock };

// Registers the layer as SQLite's default, once per process.
void install();

// Clears the counts and any armed failure.
void reset();

// The calls of `kind` since the last reset.
int count(Kind kind);

// The `n`-th call of `kind` after this (1 for the next one) fails with
// `code` and does nothing; every call before and after it is passed on. The
// usual code is SQLITE_IOERR_WRITE, SQLITE_IOERR_FSYNC or SQLITE_IOERR_LOCK.
void failNth(Kind kind, int n, int code);
int usualCode(Kind kind);

// Whether the armed failure has happened.
bool fired();

// The layer's name as registered ("quillora-fault").
const char* name();

}  // namespace faultvfs
