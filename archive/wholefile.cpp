#include "wholefile.h"

#include "cp1252.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace archive {

detail::FileStepFault detail::fileStepFault = nullptr;

namespace {

namespace fs = std::filesystem;

// Zero, or the errno a test fails this step with.
int injectedFault(detail::FileStep step) { return detail::fileStepFault ? detail::fileStepFault(step) : 0; }

constexpr size_t kBufferSize = 1 << 20;


std::string failureText(std::string_view path, int code) {
    return "Die Datei " + quoted(path) + " konnte nicht geschrieben werden: " + fileErrorCause(code) + ".";
}

// The process's umask, read rather than set and set back: umask() would
// change it for every other thread in between.
mode_t currentUmask() {
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask & 0777);
    }
    return 022;  // without /proc: the usual one
}

// A symbolic link is written through: the file it names is replaced and the
// link stays a link. A dangling link names the file to create.
constexpr int kMaxLinkHops = 40;

bool resolveLinks(fs::path& target) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(target, error))) return true;
        const fs::path next = fs::read_symlink(target, error);
        if (error) return false;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return false;
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

std::string fileErrorCause(int code) {
    switch (code) {
    case ENOSPC:
    case EDQUOT:
        return "Datentr\xE4ger voll";
    case EACCES:
    case EPERM:
        return "keine Schreibberechtigung";
    case EROFS:
        return "der Datentr\xE4ger ist schreibgesch\xFCtzt";
    case ENOENT:
    case ENOTDIR:
        return "das Verzeichnis fehlt";
    case EISDIR:
        return "an ihrer Stelle steht ein Verzeichnis";
    case EIO:
        return "Ein-/Ausgabefehler des Datentr\xE4gers";
    case ENAMETOOLONG:
        return "der Name ist zu lang";
    case ELOOP:
        return "zu viele symbolische Verkn\xFCpfungen";
    default:
        return "Systemfehler " + std::to_string(code);
    }
}

std::string readErrorCause(int code) {
    switch (code) {
    case ENOENT:
        return "nicht gefunden";
    case EACCES:
    case EPERM:
        return "keine Leseberechtigung";
    default:
        return fileErrorCause(code);
    }
}

std::string unreadableFileText(std::string_view path, std::string_view cause) {
    return "Die Datei " + quoted(path) + " konnte nicht gelesen werden: " + std::string(cause) + ".";
}

WholeFileWriter::WholeFileWriter(std::string path) : WholeFileWriter(path, cp1252ToUtf8(path)) {}

WholeFileWriter WholeFileWriter::forFileSystemPath(const std::string& utf8Path) {
    return WholeFileWriter(utf8ToCp1252(utf8Path), utf8Path);
}

WholeFileWriter::WholeFileWriter(std::string path, std::string fsPath)
    : path_(std::move(path)), fsPath_(std::move(fsPath)) {
    fs::path target = fsPath_;
    if (!resolveLinks(target)) fail(ELOOP);
    fsPath_ = target.string();
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    // The fresh file lies beside the target, so the final rename stays in one file system.
    // GCC 12 takes "text" + std::string for overlapping copies (its bug 105329).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
    std::string name = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
#pragma GCC diagnostic pop
    if (const int fault = injectedFault(detail::FileStep::Create)) fail(fault);
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) fail(errno);
    fsTemporaryPath_ = name;
    temporaryPath_ = utf8ToCp1252(name);
    // The new file keeps the mode of the one it replaces, else the usual one.
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)
                            ? (existing.st_mode & 07777)
                            : (0666 & ~currentUmask());
    if (::fchmod(fd_, mode) != 0) fail(errno);
    buffer_.reserve(kBufferSize);
}

WholeFileWriter::~WholeFileWriter() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !fsTemporaryPath_.empty()) ::unlink(fsTemporaryPath_.c_str());
}

void WholeFileWriter::fail(int code) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!fsTemporaryPath_.empty()) ::unlink(fsTemporaryPath_.c_str());
    fsTemporaryPath_.clear();
    temporaryPath_.clear();
    throw FileWriteError(failureText(path_, code), code);
}

void WholeFileWriter::setPermissions(unsigned mode) {
    if (fd_ < 0) fail(EBADF);
    if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) fail(errno);
}

void WholeFileWriter::write(std::string_view bytes) {
    if (fd_ < 0) fail(EBADF);
    if (buffer_.size() + bytes.size() > kBufferSize) flushBuffer();
    if (bytes.size() >= kBufferSize) {
        buffer_.assign(bytes);
        flushBuffer();
        return;
    }
    buffer_.append(bytes);
}

void WholeFileWriter::flushBuffer() {
    size_t written = 0;
    while (written < buffer_.size()) {
        if (const int fault = injectedFault(detail::FileStep::Write)) fail(fault);
        const ssize_t n = ::write(fd_, buffer_.data() + written, buffer_.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        written += static_cast<size_t>(n);
    }
    buffer_.clear();
}

void WholeFileWriter::commit() {
    if (fd_ < 0) fail(EBADF);
    flushBuffer();
    if (const int fault = injectedFault(detail::FileStep::Sync)) fail(fault);
    if (::fsync(fd_) != 0) fail(errno);
    const int closeFault = injectedFault(detail::FileStep::Close);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail(errno);
    if (closeFault) fail(closeFault);
    const fs::path target = fsPath_;
    if (const int fault = injectedFault(detail::FileStep::Rename)) fail(fault);
    if (::rename(fsTemporaryPath_.c_str(), target.c_str()) != 0) fail(errno);
    committed_ = true;
    // The rename itself must reach the disk, or a crash could bring the old file back.
    syncFolder(target.parent_path().empty() ? fs::path(".") : target.parent_path());
}

void writeWholeFile(const std::string& path, std::string_view bytes) {
    WholeFileWriter writer(path);
    writer.write(bytes);
    writer.commit();
}

namespace {

std::string unreadableText(std::string_view source, int code) {
    // A pipe or a device is refused before it is opened (EINVAL then).
    return unreadableFileText(source, code == EINVAL ? std::string("sie ist keine gew\xF6hnliche Datei")
                                                     : readErrorCause(code));
}

// `shownSource` names the source in messages; the writer is made only once
// the source is open, so a missing source leaves nothing behind.
template <class MakeWriter>
void copyWhole(const std::string& fsSource, std::string_view shownSource, MakeWriter makeWriter,
               const std::function<void()>& approve = nullptr) {
    // Opened without waiting: a pipe in the source's place would wait for a writer.
    const int in = ::open(fsSource.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        const int code = errno;
        throw FileWriteError(unreadableText(shownSource, code), code);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{in};
    struct stat source {};
    if (::fstat(in, &source) != 0) {
        const int code = errno;
        throw FileWriteError(unreadableText(shownSource, code), code);
    }
    if (!S_ISREG(source.st_mode)) {
        const int code = S_ISDIR(source.st_mode) ? EISDIR : EINVAL;
        throw FileWriteError(unreadableText(shownSource, code), code);
    }
    WholeFileWriter writer = makeWriter();
    std::string chunk(kBufferSize, '\0');
    for (;;) {
        const ssize_t n = ::read(in, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            throw FileWriteError(unreadableText(shownSource, code), code);
        }
        if (n == 0) break;
        writer.write(std::string_view(chunk.data(), static_cast<size_t>(n)));
    }
    writer.setPermissions(source.st_mode & 07777);
    if (approve) approve();
    writer.commit();
}

}  // namespace

void copyWholeFile(const std::string& source, const std::string& target, const std::function<void()>& approve) {
    copyWhole(cp1252ToUtf8(source), source, [&] { return WholeFileWriter(target); }, approve);
}

void copyWholeFileForFileSystemPaths(const std::string& utf8Source, const std::string& utf8Target) {
    copyWhole(utf8Source, utf8ToCp1252(utf8Source), [&] { return WholeFileWriter::forFileSystemPath(utf8Target); });
}

}  // namespace archive
