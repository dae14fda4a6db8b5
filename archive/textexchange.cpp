#include "textexchange.h"

#include "cp1252.h"
#include "engine.h"
#include "wholefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace archive {
namespace {

constexpr char kEndOfFile = 26;
constexpr size_t kChunk = 1 << 16;

}  // namespace

void appendExportLine(std::string& out, const DataSet& table, int record) {
    const int fields = table.fieldCount();
    for (int field = 0; field < fields; ++field) {
        if (field > 0) out += kExchangeSeparator;
        out += table.text(record, field);
    }
    out += kExchangeLineEnd;
}

void exportRecords(const DataSet& table, WholeFileWriter& out) {
    std::string lines;
    const int records = table.recordCount();
    for (int record = 0; record < records; ++record) {
        appendExportLine(lines, table, record);
        if (lines.size() >= kChunk) {
            out.write(lines);
            lines.clear();
        }
    }
    out.write(lines);
}

std::array<std::string, 4> splitImportLine(std::string_view line) {
    std::array<std::string, 4> values;
    for (int i = 0; i < 3; ++i) {
        const size_t tab = line.find(kExchangeSeparator);
        if (tab == std::string_view::npos) continue;
        values[i] = std::string(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    // Value 4 is all that is left, further TABs included: text after a fourth
    // TAB is never dropped.
    values[3] = std::string(line);
    return values;
}

ImportLineReader::~ImportLineReader() { close(); }

namespace {

// What stands at a path that is not a plain file, for the error text.
std::string notAFileCause(mode_t mode) {
    if (S_ISDIR(mode)) return readErrorCause(EISDIR);
    const char* kind = S_ISFIFO(mode)  ? "eine Pipe"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "ein Ger\xE4t"
                       : S_ISSOCK(mode) ? "ein Socket"
                                        : "etwas Unbekanntes";
    return std::string("sie ist keine gew\xF6hnliche Datei, sondern ") + kind;
}

}  // namespace

void ImportLineReader::open(const std::string& path) {
    close();
    // Without O_NONBLOCK the open of a pipe would wait for a writer, for ever.
    const int fd = ::open(cp1252ToUtf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw ImportFileError(unreadableFileText(path, readErrorCause(errno)));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        throw ImportFileError(unreadableFileText(path, readErrorCause(code)));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw ImportFileError(unreadableFileText(path, notAFileCause(info.st_mode)));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    path_ = path;
    ended_ = false;
}

void ImportLineReader::openBytes(std::string_view bytes) {
    close();
    buffer_.assign(bytes);
    ended_ = false;
}

void ImportLineReader::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    position_ = 0;
    ended_ = true;
}

bool ImportLineReader::fill() {
    if (fd_ < 0) return false;
    buffer_.resize(kChunk);
    position_ = 0;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data(), kChunk);
        if (n >= 0) {
            buffer_.resize(static_cast<size_t>(n));
            return n > 0;
        }
        if (errno == EINTR) continue;
        const int code = errno;
        buffer_.clear();
        ended_ = true;
        throw ImportFileError(unreadableFileText(path_, readErrorCause(code)));
    }
}

bool ImportLineReader::readLine(std::string& line) {
    line.clear();
    endedAtCr_ = false;
    if (ended_) return false;
    bool begun = false;  // the line holds a byte: the end of the data ends it
    for (;;) {
        if (position_ == buffer_.size() && !fill()) {
            ended_ = true;
            return begun;
        }
        // The line runs to the next CR or Ctrl-Z; the bytes before it go
        // into the line at once, however many there are.
        const char* begin = buffer_.data() + position_;
        const char* end = buffer_.data() + buffer_.size();
        const char* stop = std::find_if(begin, end, [](char c) { return c == '\r' || c == kEndOfFile; });
        line.append(begin, stop);
        position_ = static_cast<size_t>(stop - buffer_.data());
        begun = begun || stop != begin;
        if (stop == end) continue;
        if (*stop == kEndOfFile) {
            ended_ = true;  // the text before it still counts as a line
            return begun;
        }
        ++position_;  // the CR, and an LF right after it
        endedAtCr_ = true;
        if (position_ == buffer_.size() && !fill()) {
            ended_ = true;
            return true;
        }
        if (buffer_[position_] == '\n') ++position_;
        return true;
    }
}

}  // namespace archive
