#pragma once
// Inside the cache files only: the bytes of a cache file and the checksum
// over them. The layout, all numbers in this machine's byte order (the file
// never leaves it):
//   header   magic, format version, rows per chunk, the table file's stamp
//            and path;
//   summary  the field names and the greatest issue code, with a checksum
//            of its own: the start reads them without the rest;
//   payload  table name, columns, row and chunk counts; per chunk the row
//            ids and deletion marks; per column and chunk the cells (bytes,
//            offsets, repeat codes, NULL marks, numbers); the ranks,
//            dictionaries and sort orders worked out when it was written;
//   trailer  the checksum of everything before it, taken over blocks of
//            kBlockBytes so that it is worked out while the bytes stream
//            past, never over a second copy of them.

#include "tableimage.h"
#include "tableimage_internal.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace archive {
class WholeFileWriter;

namespace detail {

inline constexpr char kImageMagic[8] = {'Q', 'L', 'I', 'M', 'A', 'G', 'E', '\n'};
inline constexpr uint32_t kImageFormatVersion = 3;
inline constexpr size_t kImageBlockBytes = size_t{1} << 20;
// What a reader of the header and summary alone reads at a time: they take
// a few hundred bytes, and the start reads them of every table.
inline constexpr size_t kImageHeadBytes = size_t{16} << 10;

// What makes a cache file unusable: it is passed over.
struct Unusable {};
// The program ends or the folder is being written by a newer write.
struct WriteStopped {};

// The checksum of the blocks of kImageBlockBytes (the last one shorter) that
// are added in turn.
class Checksum {
public:
    Checksum();
    void add(const char* data, size_t size);
    uint64_t value() const { return sum_; }

private:
    uint64_t sum_;
    uint64_t blocks_ = 0;
};

// The trailer a cache file holds after `payload`: the checksum of its blocks.
uint64_t checksumOf(std::string_view payload);

// The room of an image's cells read from its cache file, or of one half of
// a large table read from the file. Taken from the heap in the pieces a
// chunk's containers ask for, the cells of a million rows would be tens of
// thousands of fresh small pages, each a fault as the bytes are copied in:
// here they come out of a few large blocks that ask for large pages, front
// to back. Only its reader takes room, on its one thread; giving a piece
// back is nothing, so chunks may go on any thread; the blocks go when the
// last chunk or row slot holding the room goes.
class LargePageRoom final : public std::pmr::memory_resource {
public:
    // `expected`: about the bytes it will be asked for, taken as one block.
    explicit LargePageRoom(size_t expected);
    ~LargePageRoom() override;
    LargePageRoom(const LargePageRoom&) = delete;
    LargePageRoom& operator=(const LargePageRoom&) = delete;

    // Where the next piece would begin.
    const char* position() const { return next_; }
    // The beginning of the large page the next piece would go to: what lies
    // from there to the position shares a page that is only partly filled.
    const char* partlyFilledPage() const;
    // Gives that page and the rest of the room back to the system; the
    // pieces in it must have gone, and nothing more is taken from the room.
    void releasePartlyFilledPage();

private:
    void* do_allocate(size_t bytes, size_t alignment) override;
    void do_deallocate(void*, size_t, size_t) override {}
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
    void addBlock(size_t bytes);

    struct Block {
        void* start;
        size_t bytes;
    };
    std::vector<Block> blocks_;
    char* next_ = nullptr;
    char* end_ = nullptr;
};

template <class T>
concept Plain = std::is_trivially_copyable_v<T>;

// The writing end: bytes go to the file a block at a time, each block into
// the checksum on its way; stops with WriteStopped once `stop` turns true.
class Sink {
public:
    Sink(WholeFileWriter& out, const std::atomic<bool>& stop);

    void put(const void* data, size_t size);
    template <Plain T>
    void value(T v) {
        put(&v, sizeof v);
    }
    template <Plain T, class Allocator>
    void array(const std::vector<T, Allocator>& values) {
        value<uint64_t>(values.size());
        put(values.data(), values.size() * sizeof(T));
    }
    void text(std::string_view bytes) {
        value<uint64_t>(bytes.size());
        put(bytes.data(), bytes.size());
    }
    void bits(const CellArray<bool>& marks);
    // The last block and the trailer.
    void finish();

private:
    void flush();

    WholeFileWriter& out_;
    const std::atomic<bool>& stop_;
    std::string block_;
    std::string packed_;
    Checksum checksum_;
};

// The reading end over the `payload` bytes of an open file; throws Unusable
// for a count the rest cannot hold or a read past the payload, and
// LoadCancelled once `cancel` turns true.
class Source {
public:
    // `blockBytes` below kImageBlockBytes: for a reader of the head alone
    // (the summary), which takes no more of the file than it needs and
    // verifies nothing.
    Source(int fd, uint64_t payload, const std::atomic<bool>* cancel, size_t blockBytes = kImageBlockBytes)
        : fd_(fd), payload_(payload), cancel_(cancel), blockBytes_(blockBytes) {}

    void get(void* into, size_t size);
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
    template <Plain T, class Allocator>
    void array(std::vector<T, Allocator>& values) {
        const size_t n = count(sizeof(T));
        // A table's ranks and orders, megabytes each, are written whole here.
        values.reserve(n);
        askForLargePages(values.data(), n * sizeof(T));
        values.resize(n);
        get(values.data(), n * sizeof(T));
    }
    template <class Allocator>
    void text(std::basic_string<char, std::char_traits<char>, Allocator>& bytes) {
        const size_t n = count(1);
        bytes.resize(n);
        get(bytes.data(), n);
    }
    void bits(CellArray<bool>& marks);
    // Every byte read, and the checksum agrees.
    void verify();
    // The bytes not read yet.
    uint64_t remaining() const { return payload_ - read_ + (block_.size() - at_); }

private:
    void refill();

    int fd_;
    uint64_t payload_;
    const std::atomic<bool>* cancel_;
    size_t blockBytes_;
    uint64_t read_ = 0;
    // The blocks of a whole read pass through one large page rather than
    // hundreds of fresh small ones.
    std::unique_ptr<LargePageRoom> room_ =
        blockBytes_ == kImageBlockBytes ? std::make_unique<LargePageRoom>(kImageBlockBytes) : nullptr;
    std::pmr::string block_{room_ ? room_.get() : std::pmr::get_default_resource()};
    size_t at_ = 0;
    std::string packed_;
    Checksum checksum_;
};

void putStamp(Sink& sink, const FileStamp& stamp);
FileStamp getStamp(Source& source);

}  // namespace detail
}  // namespace archive
