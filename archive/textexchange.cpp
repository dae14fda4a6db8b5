#include "textexchange.h"

#include "cp1252.h"
#include "engine.h"
#include "wholefile.h"

#include <sys/stat.h>

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

bool ImportLineReader::open(const std::string& path) {
    close();
    std::FILE* file = std::fopen(cp1252ToUtf8(path).c_str(), "rb");
    if (!file) return false;
    struct stat info {};
    if (::fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return false;
    }
    file_ = file;
    ended_ = false;
    return true;
}

void ImportLineReader::openBytes(std::string_view bytes) {
    close();
    buffer_.assign(bytes);
    ended_ = false;
}

void ImportLineReader::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    buffer_.clear();
    position_ = 0;
    ended_ = true;
}

bool ImportLineReader::fill() {
    if (!file_) return false;
    buffer_.erase(0, position_);
    position_ = 0;
    const size_t kept = buffer_.size();
    buffer_.resize(kept + kChunk);
    const size_t read = std::fread(buffer_.data() + kept, 1, kChunk, file_);
    buffer_.resize(kept + read);
    return read > 0;
}

int ImportLineReader::peek() {
    if (position_ >= buffer_.size() && !fill()) return -1;
    return static_cast<unsigned char>(buffer_[position_]);
}

bool ImportLineReader::readLine(std::string& line) {
    line.clear();
    if (ended_) return false;
    int c = peek();
    if (c < 0 || c == kEndOfFile) {
        ended_ = true;
        return false;
    }
    for (;;) {
        c = peek();
        if (c < 0 || c == kEndOfFile) {
            ended_ = true;  // the text before it still counts as a line
            return true;
        }
        advance();
        if (c == '\r') {
            if (peek() == '\n') advance();
            return true;
        }
        line += static_cast<char>(c);
    }
}

}  // namespace archive
