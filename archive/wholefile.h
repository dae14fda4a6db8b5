#pragma once
// The one way the program writes a file: whole or not at all. The bytes go to
// a fresh file beside the target, which replaces the target only after every
// byte, the file's flush to the disk and its closing have succeeded; the
// rename is then flushed too. Any failure leaves the old file as it was and
// no partial file behind.
//
// Paths are the program's (Windows-1252); the file system sees UTF-8.

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace archive {

class FileWriteError : public std::runtime_error {
public:
    FileWriteError(const std::string& message, int code) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }  // the errno behind it

private:
    int code_;
};

// The cause of a failed file operation in German: "Datenträger voll",
// "keine Schreibberechtigung", …
std::string fileErrorCause(int code);
// The cause of a failed read in German: "nicht gefunden", "keine
// Leseberechtigung", otherwise as fileErrorCause().
std::string readErrorCause(int code);
// "Die Datei '<path>' konnte nicht gelesen werden: <cause>."
std::string unreadableFileText(std::string_view path, std::string_view cause);

class WholeFileWriter {
public:
    // Creates the fresh file beside `path`; throws FileWriteError.
    explicit WholeFileWriter(std::string path);
    // The same for a path in the file system's own form (UTF-8), such as a
    // configuration file's, which need not be a program string.
    static WholeFileWriter forFileSystemPath(const std::string& utf8Path);
    // Without commit() the fresh file is removed and the target stays untouched.
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    // Buffered; throws FileWriteError.
    void write(std::string_view bytes);
    // The fresh file's permission bits, instead of the target's.
    void setPermissions(unsigned mode);
    // Puts the fresh file in the target's place; throws FileWriteError.
    void commit();

    const std::string& path() const { return path_; }
    // The fresh file's program path, for writers that fill it themselves
    // (the engine writes a new table into it) before commit().
    const std::string& temporaryPath() const { return temporaryPath_; }

private:
    WholeFileWriter(std::string path, std::string fsPath);
    void flushBuffer();
    [[noreturn]] void fail(int code);

    std::string path_;
    std::string temporaryPath_;
    std::string fsPath_;           // the two paths as the file system names them
    std::string fsTemporaryPath_;
    std::string buffer_;
    int fd_ = -1;
    bool committed_ = false;
};

// Writes `bytes` as the whole new content of `path`.
void writeWholeFile(const std::string& path, std::string_view bytes);
// Copies `source` over `target` whole or not at all; the copy keeps the
// source's permission bits. `approve`, when given, runs once every byte is
// read and written, before the copy takes the target's place; whatever it
// throws leaves the target as it was. A source that is no plain file (a
// pipe, a device, a folder) is refused, never waited on.
void copyWholeFile(const std::string& source, const std::string& target,
                   const std::function<void()>& approve = nullptr);
// The same for paths in the file system's own form (UTF-8), such as the
// programs a tool copies, which need not be program strings.
void copyWholeFileForFileSystemPaths(const std::string& utf8Source, const std::string& utf8Target);

namespace detail {

// The test seam of the writer, null in the program. Before each step of a
// write it is asked for an errno: non-zero fails that step as if the system
// had returned it, so a test can fail any single step of any writer.
enum class FileStep { Create, Write, Sync, Close, Rename };
using FileStepFault = int (*)(FileStep step);
extern FileStepFault fileStepFault;

}  // namespace detail

}  // namespace archive
