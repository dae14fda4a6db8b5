#pragma once
// The tab-separated text exchange of a table: plain Windows-1252 text, one
// line per record, the field texts in field order separated by one TAB, every
// line ended by CR LF; no header, no quoting.
//
// Reading follows the rules of the program's text files: a line ends at CR,
// an LF right after the CR is skipped, an LF anywhere else is ordinary text,
// and a byte 26 (Ctrl-Z) ends the file; the text before it on its line still
// counts as a line. Lines may be of any length.

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

namespace archive {

class DataSet;
class WholeFileWriter;

inline constexpr char kExchangeSeparator = '\t';
inline constexpr std::string_view kExchangeLineEnd = "\r\n";

// Appends the export line of one record: the field texts (empty for NULL)
// separated by TAB, then CR LF.
void appendExportLine(std::string& out, const DataSet& table, int record);

// Writes every record of the data set, in its order, to the writer.
void exportRecords(const DataSet& table, WholeFileWriter& out);

// The four import values of a line: values 1 to 3 end at the first three
// TABs; value 4 is the rest of the line, further TABs included. Where a step
// finds no TAB its value stays empty and the rest is left for value 4.
std::array<std::string, 4> splitImportLine(std::string_view line);

// An import file that cannot be read; the text names the file and why.
class ImportFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the lines of an import file one by one, whatever their length.
class ImportLineReader {
public:
    ImportLineReader() = default;
    ~ImportLineReader();
    ImportLineReader(const ImportLineReader&) = delete;
    ImportLineReader& operator=(const ImportLineReader&) = delete;

    // Opens a plain file for reading without ever waiting: a pipe, a device,
    // a folder, a missing or unreadable file throws ImportFileError before
    // anything is read.
    void open(const std::string& path);
    // Reads bytes from memory instead of a file.
    void openBytes(std::string_view bytes);
    // The next line without its end; false at the end of the file. A read
    // that fails on the way throws ImportFileError.
    bool readLine(std::string& line);
    // Whether the line last read ended at a CR, rather than at the end of
    // the data or a Ctrl-Z: a file whose lines end in LF alone is one line
    // that ends without one.
    bool lineEndedAtCr() const { return endedAtCr_; }
    void close();

private:
    // False at the end of the data.
    bool fill();

    int fd_ = -1;
    std::string path_;    // for the error text
    std::string buffer_;  // read, not yet handed out from position_ on
    size_t position_ = 0;
    bool ended_ = true;
    bool endedAtCr_ = false;
};

}  // namespace archive
