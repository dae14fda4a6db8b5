#pragma once
// Table files for the engine's tests, written the way the program writes them.

#include "engine.h"
#include "tablefile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline void writeTable(const std::string& path, const archive::ViewDef& view, const std::vector<archive::Row>& rows) {
    archive::TableFileWriter writer(path, view);
    for (const archive::Row& row : rows) writer.add(row);
    writer.commit();
}

// A game row with the fields that matter to a test; the others are filled in.
inline archive::Row game(std::string title, archive::Cell rating = std::nullopt, std::string section = "Action",
                         std::string issue = "2000/01") {
    return {std::move(title), std::move(section), "Rennspiel", "Hersteller", std::move(rating), std::move(issue),
            "Kommentar"};
}

inline std::string fileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every value of one field, walking the data set from its first record.
inline std::vector<std::string> valuesOf(archive::DataSet& dataSet, std::string_view field) {
    std::vector<std::string> values;
    for (dataSet.first(); !dataSet.eof(); dataSet.next()) values.push_back(dataSet.fieldByName(field).asString());
    return values;
}

// Makes a file unwritable for as long as it lives, also for root (who
// ignores the permission bits): then through the immutable attribute.
class Unwritable {
public:
    explicit Unwritable(std::string path) : path_(std::move(path)) {
        ::chmod(path_.c_str(), 0444);
        if (::geteuid() == 0) immutable_ = setImmutable(true);
        works_ = ::access(path_.c_str(), W_OK) != 0;
    }
    ~Unwritable() {
        if (immutable_) setImmutable(false);
        ::chmod(path_.c_str(), 0644);
    }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;
    // False where the file system offers no way to refuse writing to root.
    bool works() const { return works_; }

private:
    bool setImmutable(bool on) {
        const int fd = ::open(path_.c_str(), O_RDONLY);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    std::string path_;
    bool immutable_ = false;
    bool works_ = false;
};
