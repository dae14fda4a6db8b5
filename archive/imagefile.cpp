#include "imagefile.h"

#include "filelayer.h"
#include "tableimage_internal.h"
#include "wholefile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <vector>

// The layout of a cache file, all numbers in this machine's byte order (the
// file never leaves it):
//   header   magic, format version, rows per chunk, the table file's stamp
//            and path;
//   payload  table name, columns, row and chunk counts; per chunk the row
//            ids and deletion marks; per column and chunk the cells (bytes,
//            offsets, repeat codes, NULL marks, numbers); the ranks,
//            dictionaries and sort orders worked out when it was written;
//   trailer  the checksum of everything before it, taken over blocks of
//            kBlockBytes so that it is worked out while the bytes stream
//            past, never over a second copy of them.

namespace archive {
namespace detail {

uint32_t imageFileMinimumRows = 16 * TableImage::kChunkRows;

namespace {

constexpr char kMagic[8] = {'Q', 'L', 'I', 'M', 'A', 'G', 'E', '\n'};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kBlockBytes = size_t{1} << 20;
// The folder's bound: the newest files within this many bytes and this many files.
constexpr uint64_t kFolderBytes = uint64_t{1} << 30;
constexpr size_t kFolderFiles = 12;
// A fresh file of the whole-file writer this old was left by a killed writer.
constexpr auto kStaleFreshFile = std::chrono::hours(24);
constexpr int kWriterNiceness = 19;
constexpr const char* kSuffix = ".img";

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;

inline uint64_t rotateLeft(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

// Four lanes of multiply and rotate: four chains the processor runs side by
// side, several bytes per cycle, so checking a large file costs little next
// to reading it.
uint64_t blockHash(const char* data, size_t size) {
    uint64_t lane[4] = {kPrime1 + kPrime2, kPrime2, 0, ~kPrime1 + 1};
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
        for (int l = 0; l < 4; ++l) {
            uint64_t word;
            std::memcpy(&word, data + i + 8 * static_cast<size_t>(l), 8);
            lane[l] = rotateLeft(lane[l] + word * kPrime2, 31) * kPrime1;
        }
    uint64_t h = rotateLeft(lane[0], 1) + rotateLeft(lane[1], 7) + rotateLeft(lane[2], 12) + rotateLeft(lane[3], 18) +
                 size;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = rotateLeft(h ^ (word * kPrime2), 27) * kPrime1 + kPrime3;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, data + i, size - i);
    return mixBits(h ^ mixBits(tail * kPrime3 + (size - i)));
}

class Checksum {
public:
    void add(const char* data, size_t size) {
        sum_ = mixBits((sum_ ^ blockHash(data, size)) * kPrime1 + ++blocks_);
    }
    uint64_t value() const { return sum_; }

private:
    uint64_t sum_ = kPrime3;
    uint64_t blocks_ = 0;
};

// What makes a cache file unusable: it is passed over.
struct Unusable {};
// The program ends or the folder is being written by a newer write.
struct WriteStopped {};

template <class T>
concept Plain = std::is_trivially_copyable_v<T>;

class Sink {
public:
    Sink(WholeFileWriter& out, const std::atomic<bool>& stop) : out_(out), stop_(stop) { block_.reserve(kBlockBytes); }

    void put(const void* data, size_t size) {
        const char* from = static_cast<const char*>(data);
        while (size > 0) {
            const size_t part = std::min(size, kBlockBytes - block_.size());
            block_.append(from, part);
            from += part;
            size -= part;
            if (block_.size() == kBlockBytes) flush();
        }
    }
    template <Plain T>
    void value(T v) {
        put(&v, sizeof v);
    }
    template <Plain T>
    void array(const std::vector<T>& values) {
        value<uint64_t>(values.size());
        put(values.data(), values.size() * sizeof(T));
    }
    void text(std::string_view bytes) {
        value<uint64_t>(bytes.size());
        put(bytes.data(), bytes.size());
    }
    void bits(const std::vector<bool>& marks) {
        value<uint64_t>(marks.size());
        packed_.assign((marks.size() + 7) / 8, 0);
        for (size_t i = 0; i < marks.size(); ++i)
            if (marks[i]) packed_[i >> 3] = static_cast<char>(packed_[i >> 3] | (1 << (i & 7)));
        put(packed_.data(), packed_.size());
    }
    void finish() {
        if (!block_.empty()) flush();
        const uint64_t sum = checksum_.value();
        out_.write(std::string_view(reinterpret_cast<const char*>(&sum), sizeof sum));
    }

private:
    void flush() {
        if (stop_.load(std::memory_order_relaxed)) throw WriteStopped{};
        checksum_.add(block_.data(), block_.size());
        out_.write(block_);
        block_.clear();
    }

    WholeFileWriter& out_;
    const std::atomic<bool>& stop_;
    std::string block_;
    std::string packed_;
    Checksum checksum_;
};

class Source {
public:
    Source(int fd, uint64_t payload, const std::atomic<bool>* cancel) : fd_(fd), payload_(payload), cancel_(cancel) {}

    void get(void* into, size_t size) {
        char* to = static_cast<char*>(into);
        while (size > 0) {
            if (at_ == block_.size()) refill();
            const size_t part = std::min(size, block_.size() - at_);
            std::memcpy(to, block_.data() + at_, part);
            at_ += part;
            to += part;
            size -= part;
        }
    }
    template <Plain T>
    T value() {
        T v{};
        get(&v, sizeof v);
        return v;
    }
    // A count of items of `itemBytes` each that the rest of the file can hold.
    size_t count(size_t itemBytes) {
        const uint64_t n = value<uint64_t>();
        if (n > remaining() / std::max<size_t>(itemBytes, 1)) throw Unusable{};
        return static_cast<size_t>(n);
    }
    template <Plain T>
    void array(std::vector<T>& values) {
        const size_t n = count(sizeof(T));
        values.resize(n);
        get(values.data(), n * sizeof(T));
    }
    void text(std::string& bytes) {
        const size_t n = count(1);
        bytes.resize(n);
        get(bytes.data(), n);
    }
    void bits(std::vector<bool>& marks) {
        const uint64_t n = value<uint64_t>();
        if ((n + 7) / 8 > remaining()) throw Unusable{};
        packed_.resize(static_cast<size_t>((n + 7) / 8));
        get(packed_.data(), packed_.size());
        marks.assign(static_cast<size_t>(n), false);
        for (size_t byte = 0; byte < packed_.size(); ++byte) {
            const auto set = static_cast<unsigned char>(packed_[byte]);
            if (set == 0) continue;
            for (size_t bit = 0; bit < 8; ++bit)
                if (set >> bit & 1) {
                    if (byte * 8 + bit >= n) throw Unusable{};
                    marks[byte * 8 + bit] = true;
                }
        }
    }
    // Every byte read, and the checksum agrees.
    void verify() {
        if (read_ != payload_ || at_ != block_.size()) throw Unusable{};
        uint64_t stored = 0;
        if (::pread(fd_, &stored, sizeof stored, static_cast<off_t>(payload_)) != static_cast<ssize_t>(sizeof stored))
            throw Unusable{};
        if (stored != checksum_.value()) throw Unusable{};
    }

private:
    uint64_t remaining() const { return payload_ - read_ + (block_.size() - at_); }

    void refill() {
        if (cancel_ && cancel_->load(std::memory_order_relaxed)) throw LoadCancelled{};
        if (read_ == payload_) throw Unusable{};
        const size_t size = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, payload_ - read_));
        block_.resize(size);
        size_t done = 0;
        while (done < size) {
            const ssize_t got = ::pread(fd_, block_.data() + done, size - done, static_cast<off_t>(read_ + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) throw Unusable{};
            done += static_cast<size_t>(got);
        }
        checksum_.add(block_.data(), size);
        read_ += size;
        at_ = 0;
    }

    int fd_;
    uint64_t payload_;
    const std::atomic<bool>* cancel_;
    uint64_t read_ = 0;
    std::string block_;
    size_t at_ = 0;
    std::string packed_;
    Checksum checksum_;
};

void putStamp(Sink& sink, const FileStamp& stamp) {
    sink.value<uint64_t>(stamp.device);
    sink.value<uint64_t>(stamp.inode);
    sink.value<int64_t>(stamp.size);
    sink.value<int64_t>(stamp.modifiedNs);
    sink.value<int64_t>(stamp.changedNs);
    sink.value<uint32_t>(stamp.changeCounter);
}

FileStamp getStamp(Source& source) {
    FileStamp stamp;
    stamp.device = static_cast<dev_t>(source.value<uint64_t>());
    stamp.inode = static_cast<ino_t>(source.value<uint64_t>());
    stamp.size = static_cast<off_t>(source.value<int64_t>());
    stamp.modifiedNs = source.value<int64_t>();
    stamp.changedNs = source.value<int64_t>();
    stamp.changeCounter = source.value<uint32_t>();
    return stamp;
}

// A chunk as the image's readers rely on it: every cell ends within the
// bytes, codes name entries there, one NULL mark (and for an integer
// column one number) per row.
bool soundChunk(const TableImage::Chunk& chunk, std::optional<uint32_t> rows, bool integerColumn) {
    const std::vector<uint32_t>& offsets = chunk.offsets;
    if (offsets.empty() || offsets.front() != 0 || offsets.back() != chunk.bytes.size()) return false;
    for (size_t i = 1; i < offsets.size(); ++i)
        if (offsets[i] <= offsets[i - 1]) return false;
    const size_t entries = offsets.size() - 1;
    if (!chunk.codes.empty()) {
        if (entries > UINT16_MAX + size_t{1}) return false;
        for (const uint16_t code : chunk.codes)
            if (code >= entries) return false;
    }
    const uint32_t count = chunk.rows();
    if (rows && count != *rows) return false;
    if (chunk.nulls.size() != count) return false;
    return chunk.numbers.size() == (integerColumn ? count : 0);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

struct ImageFileCodec {
    static bool madeByWrite(const TableImage& image) { return image.madeByWrite_; }
    static bool foundSound(const TableImage& image, const std::atomic<bool>& stop) { return image.foundSound(stop); }
    static bool anyOrder(const TableImage& image) {
        std::lock_guard lock(image.cacheMutex_);
        return std::any_of(image.sorted_.begin(), image.sorted_.end(), [](const auto& kept) { return kept.second.rows != nullptr; });
    }

    static void putChunk(Sink& sink, const TableImage::Chunk& chunk) {
        sink.text(chunk.bytes);
        sink.array(chunk.offsets);
        sink.array(chunk.codes);
        sink.bits(chunk.nulls);
        sink.array(chunk.numbers);
    }

    static std::shared_ptr<TableImage::Chunk> getChunk(Source& source) {
        auto chunk = std::make_shared<TableImage::Chunk>();
        source.text(chunk->bytes);
        source.array(chunk->offsets);
        source.array(chunk->codes);
        source.bits(chunk->nulls);
        source.array(chunk->numbers);
        return chunk;
    }

    static void write(const TableImage& image, Sink& sink) {
        // What has been worked out by now goes along; each piece never
        // changes once made, so holding it is enough to read it.
        std::map<int, TableImage::Ranks> ranks;
        std::map<int, std::shared_ptr<const TableImage::Chunk>> dictionaries;
        std::map<std::vector<SortSpec>, TableImage::Order> sorted;
        {
            std::lock_guard lock(image.cacheMutex_);
            ranks = image.ranks_;
            // A dictionary goes along with its column's ranks only: an image
            // keeps a dictionary when it lets ranks go.
            for (const auto& [column, dictionary] : image.dictionaries_)
                if (ranks.count(column)) dictionaries.emplace(column, dictionary);
            for (const auto& [keys, kept] : image.sorted_)
                if (kept.rows) sorted.emplace(keys, kept.rows);
        }
        sink.put(kMagic, sizeof kMagic);
        sink.value<uint32_t>(kFormatVersion);
        sink.value<uint32_t>(TableImage::kChunkRows);
        putStamp(sink, image.stamp_);
        sink.text(image.path_);

        sink.text(image.tableName_);
        sink.value<uint64_t>(image.columns_.size());
        for (const Column& column : image.columns_) {
            sink.text(column.name);
            sink.value<uint8_t>(column.kind == FieldKind::Integer ? 1 : 0);
        }
        sink.value<uint32_t>(image.rowCount_);
        sink.value<uint32_t>(image.deletedCount_);
        sink.value<uint64_t>(image.slots_.size());
        for (const auto& slots : image.slots_) {
            sink.array(slots->rowIds);
            sink.bits(slots->deleted);
        }
        for (const auto& chunks : image.cells_)
            for (const auto& chunk : chunks) putChunk(sink, *chunk);
        sink.value<uint64_t>(ranks.size());
        for (const auto& [column, values] : ranks) {
            sink.value<int32_t>(column);
            sink.array(*values);
        }
        sink.value<uint64_t>(dictionaries.size());
        for (const auto& [column, dictionary] : dictionaries) {
            sink.value<int32_t>(column);
            putChunk(sink, *dictionary);
        }
        sink.value<uint64_t>(sorted.size());
        for (const auto& [keys, rows] : sorted) {
            sink.value<uint64_t>(keys.size());
            for (const SortSpec& key : keys) {
                sink.value<int32_t>(key.column);
                sink.value<uint8_t>(key.descending ? 1 : 0);
            }
            sink.array(*rows);
        }
        sink.finish();
    }

    // The header alone: whether the file was written of `path` as it is now.
    static void readHeader(Source& source, const std::string& path, const FileStamp& stamp) {
        char magic[sizeof kMagic];
        source.get(magic, sizeof magic);
        if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) throw Unusable{};
        if (source.value<uint32_t>() != kFormatVersion) throw Unusable{};
        if (source.value<uint32_t>() != TableImage::kChunkRows) throw Unusable{};
        if (getStamp(source) != stamp) throw Unusable{};
        std::string written;
        source.text(written);
        if (written != path) throw Unusable{};
    }

    static std::shared_ptr<const TableImage> read(Source& source, const std::string& path, const FileStamp& stamp) {
        readHeader(source, path, stamp);
        std::shared_ptr<TableImage> image(new TableImage);
        image->path_ = path;
        image->stamp_ = stamp;
        source.text(image->tableName_);
        const size_t columnCount = source.count(9);
        if (columnCount == 0) throw Unusable{};
        for (size_t c = 0; c < columnCount; ++c) {
            Column column;
            source.text(column.name);
            column.kind = source.value<uint8_t>() ? FieldKind::Integer : FieldKind::Text;
            image->columns_.push_back(std::move(column));
        }
        image->rowCount_ = source.value<uint32_t>();
        image->deletedCount_ = source.value<uint32_t>();
        const uint32_t rowCount = image->rowCount_;
        const size_t chunkCount = source.count(16);
        if (chunkCount != (uint64_t{rowCount} + TableImage::kChunkRows - 1) / TableImage::kChunkRows) throw Unusable{};
        // Every chunk is full but the last.
        auto rowsOfChunk = [&](size_t k) {
            return k + 1 < chunkCount ? TableImage::kChunkRows
                                      : rowCount - static_cast<uint32_t>(k) * TableImage::kChunkRows;
        };
        uint32_t deleted = 0;
        image->slots_.reserve(chunkCount);
        for (size_t k = 0; k < chunkCount; ++k) {
            auto slots = std::make_shared<TableImage::Slots>();
            source.array(slots->rowIds);
            source.bits(slots->deleted);
            if (slots->rowIds.size() != rowsOfChunk(k)) throw Unusable{};
            if (!slots->deleted.empty() && slots->deleted.size() != slots->rowIds.size()) throw Unusable{};
            deleted += static_cast<uint32_t>(std::count(slots->deleted.begin(), slots->deleted.end(), true));
            image->slots_.push_back(std::move(slots));
        }
        if (deleted != image->deletedCount_) throw Unusable{};
        image->cells_.resize(columnCount);
        for (size_t c = 0; c < columnCount; ++c) {
            const bool integerColumn = image->columns_[c].kind == FieldKind::Integer;
            image->cells_[c].reserve(chunkCount);
            for (size_t k = 0; k < chunkCount; ++k) {
                std::shared_ptr<TableImage::Chunk> chunk = getChunk(source);
                if (!soundChunk(*chunk, rowsOfChunk(k), integerColumn)) throw Unusable{};
                image->cells_[c].push_back(std::move(chunk));
            }
        }
        auto columnIndex = [&] {
            const int32_t column = source.value<int32_t>();
            if (column < 0 || static_cast<size_t>(column) >= columnCount) throw Unusable{};
            return static_cast<int>(column);
        };
        for (size_t n = source.count(12); n > 0; --n) {
            const int column = columnIndex();
            auto values = std::make_shared<std::vector<uint32_t>>();
            source.array(*values);
            if (values->size() != rowCount) throw Unusable{};
            for (const uint32_t rank : *values)
                if (rank > rowCount) throw Unusable{};
            image->ranks_[column] = std::move(values);
        }
        for (size_t n = source.count(12); n > 0; --n) {
            const int column = columnIndex();
            std::shared_ptr<TableImage::Chunk> dictionary = getChunk(source);
            if (!soundChunk(*dictionary, std::nullopt, false) || !dictionary->codes.empty()) throw Unusable{};
            // A dictionary stands beside the ranks it lists the values of.
            const auto ranks = image->ranks_.find(column);
            if (ranks == image->ranks_.end()) throw Unusable{};
            for (const uint32_t rank : *ranks->second)
                if (rank >= dictionary->rows()) throw Unusable{};
            image->dictionaries_[column] = std::move(dictionary);
        }
        const size_t liveCount = rowCount - image->deletedCount_;
        for (size_t n = source.count(12); n > 0; --n) {
            std::vector<SortSpec> keys(source.count(5));
            for (SortSpec& key : keys) {
                key.column = columnIndex();
                key.descending = source.value<uint8_t>() != 0;
            }
            auto rows = std::make_shared<std::vector<uint32_t>>();
            source.array(*rows);
            if (rows->size() != liveCount) throw Unusable{};
            for (const uint32_t row : *rows)
                if (row >= rowCount || image->isDeleted(row)) throw Unusable{};
            image->sorted_[keys].rows = std::move(rows);
        }
        source.verify();
        // Written only of an image SQLite's check found sound, of this very state of the file.
        image->knownSoundVerdict();
        return image;
    }
};

namespace {

// Makes the missing folders of `folder` for the user alone.
bool makeFolder(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Keeps the newest cache files within the folder's bound; `kept` stays whatever its age.
void pruneFolder(const std::string& folder, const std::string& kept) {
    namespace fs = std::filesystem;
    struct Entry {
        fs::path path;
        fs::file_time_type written;
        uint64_t bytes;
    };
    std::vector<Entry> files;
    std::error_code error;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (!it->is_regular_file(ignored)) continue;
        const fs::file_time_type written = it->last_write_time(ignored);
        if (ignored) continue;
        if (name.starts_with(".")) {
            if (now - written > kStaleFreshFile) fs::remove(path, ignored);
            continue;
        }
        if (!name.ends_with(kSuffix)) continue;
        const uint64_t bytes = it->file_size(ignored);
        if (!ignored) files.push_back({path, written, bytes});
    }
    std::sort(files.begin(), files.end(), [](const Entry& a, const Entry& b) { return a.written > b.written; });
    uint64_t total = 0;
    size_t count = 0;
    for (const Entry& file : files) {
        const bool keep = file.path.string() == kept;
        if (!keep && (count + 1 > kFolderFiles || total + file.bytes > kFolderBytes)) {
            std::error_code ignored;
            fs::remove(file.path, ignored);
            continue;
        }
        total += file.bytes;
        ++count;
    }
}

// A change that waits in a journal or a WAL file beside the table is
// SQLite's to settle: the table is read from it, and no file is written of
// it, whose stamp would not tell the change.
bool changeWaitsBeside(const std::string& path) {
    const std::string fsName = fsPath(path);
    for (const char* beside : {"-journal", "-wal"}) {
        struct stat info {};
        if (::stat((fsName + beside).c_str(), &info) == 0 && info.st_size > 0) return true;
    }
    return false;
}

void writeImageFile(const TableImage& image, const std::string& file, const std::string& folder,
                    const std::atomic<bool>& stop) {
    // A table found damaged is never kept.
    if (!ImageFileCodec::foundSound(image, stop) || changeWaitsBeside(image.path()) || !makeFolder(folder)) return;
    {
        WholeFileWriter out = WholeFileWriter::forFileSystemPath(file);
        out.setPermissions(0600);
        Sink sink(out, stop);
        ImageFileCodec::write(image, sink);
        // A table changed while its file was written is read anew at the next start.
        if (stampOf(image.path()) != std::optional<FileStamp>(image.stamp())) return;
        out.commit();
    }
    pruneFolder(folder, file);
}

struct Writes {
    std::mutex mutex;
    // The state of its table each cache file holds, or is being written with.
    struct Held {
        FileStamp stamp;
        bool ordered;  // offered with a sort order worked out
    };
    std::map<std::string, Held> held;
    // The writes under way, and each file's latest, which a newer write of
    // the same file waits for, so that the newer file is the one that stays.
    std::list<std::shared_future<void>> running;
    std::map<std::string, std::shared_future<void>> latest;
    std::atomic<bool> stop{false};

    // The program ends: a write still running stops at its next block and
    // leaves no file behind.
    ~Writes() {
        stop.store(true);
        for (const std::shared_future<void>& write : running) write.wait();
    }
};

Writes& writes() {
    static Writes all;
    return all;
}

}  // namespace
}  // namespace detail

std::string imageFileFolder() {
    auto withoutEndSlashes = [](std::string path) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        return path;
    };
    std::string base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/') {
        base = withoutEndSlashes(cache);
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return {};
        base = withoutEndSlashes(home);
        base += "/.cache";
    }
    if (base == "/") base.clear();
    base += "/Vortagon/Quillora/images";
    return base;
}

std::string imageFileOf(const std::string& tablePath) {
    namespace fs = std::filesystem;
    const std::string folder = imageFileFolder();
    if (folder.empty() || tablePath.empty()) return {};
    std::error_code error;
    const fs::path table = fs::absolute(detail::fsPath(tablePath), error).lexically_normal();
    if (error) return {};
    const fs::path tableFolder = table.parent_path();
    // Never beside a table, however the two paths are spelled.
    if (tableFolder == fs::path(folder).lexically_normal() || fs::equivalent(tableFolder, folder, error)) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    uint64_t hash = detail::hashBytes(table.string());
    std::string name(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) name[static_cast<size_t>(i)] = kHex[hash & 15];
    return folder + "/" + name + detail::kSuffix;
}

namespace {

std::shared_ptr<const TableImage> readFrom(const std::string& file, const std::string& path,
                                           const std::atomic<bool>* cancel) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) return nullptr;
    if (detail::changeWaitsBeside(path)) return nullptr;
    const detail::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < static_cast<off_t>(sizeof(uint64_t)))
        return nullptr;
    detail::Source source(fd.get(), static_cast<uint64_t>(info.st_size) - sizeof(uint64_t), cancel);
    std::shared_ptr<const TableImage> image = detail::ImageFileCodec::read(source, path, *stamp);
    return stampOf(path) == stamp ? image : nullptr;
}

}  // namespace

std::shared_ptr<const TableImage> readImageFile(const std::string& path, const std::atomic<bool>* cancel) {
    const std::string file = imageFileOf(path);
    if (file.empty()) return nullptr;
    std::shared_ptr<const TableImage> image;
    try {
        image = readFrom(file, path, cancel);
    } catch (const detail::Unusable&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    // A file passed over is written anew once the table has been read.
    detail::Writes& writes = detail::writes();
    std::lock_guard lock(writes.mutex);
    if (image)
        writes.held[file] = {image->stamp(), detail::ImageFileCodec::anyOrder(*image)};
    else
        writes.held.erase(file);
    return image;
}

void offerImageFile(std::shared_ptr<const TableImage> image) {
    if (!image || image->partial() || image->rowCount() < detail::imageFileMinimumRows ||
        detail::ImageFileCodec::madeByWrite(*image))
        return;
    const std::string file = imageFileOf(image->path());
    if (file.empty()) return;
    detail::Writes& writes = detail::writes();
    std::lock_guard lock(writes.mutex);
    writes.running.remove_if([](const std::shared_future<void>& write) {
        return write.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    // An image read ahead is written before any order of it is worked out;
    // once its first query has sorted it, it is written once more with that
    // order, which the next start's first query then finds.
    const bool ordered = detail::ImageFileCodec::anyOrder(*image);
    const auto [held, fresh] = writes.held.try_emplace(file, detail::Writes::Held{image->stamp(), ordered});
    if (!fresh) {
        if (held->second.stamp == image->stamp() && (held->second.ordered || !ordered)) return;
        held->second = {image->stamp(), ordered};
    }
    std::shared_future<void>& latest = writes.latest[file];
    // The future keeps its function, and the next write of the file keeps
    // this one's future: the function lets go of the image and of that chain
    // when it is done, or every image ever offered would stay in memory.
    auto write = [image = std::move(image), file, folder = imageFileFolder(), &writes, before = latest]() mutable {
        // Out of the way of what the user is doing now.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), detail::kWriterNiceness);
        if (before.valid()) before.wait();
        before = {};
        try {
            detail::writeImageFile(*image, file, folder, writes.stop);
        } catch (const FileWriteError&) {
        } catch (const detail::WriteStopped&) {
        } catch (const std::bad_alloc&) {
        }
        image.reset();
    };
    try {
        latest = std::async(std::launch::async, std::move(write)).share();
    } catch (const std::system_error&) {
        // No thread to be had: the file is only a saving, and is written another time.
        writes.held.erase(file);
        writes.latest.erase(file);
        return;
    }
    writes.running.push_back(latest);
}

void finishImageFiles() {
    detail::Writes& writes = detail::writes();
    std::list<std::shared_future<void>> running;
    {
        std::lock_guard lock(writes.mutex);
        running.swap(writes.running);
    }
    for (const std::shared_future<void>& write : running) write.wait();
}

}  // namespace archive
