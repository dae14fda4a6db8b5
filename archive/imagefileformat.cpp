#include "imagefileformat.h"

#include "tableimage_internal.h"
#include "wholefile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace archive::detail {
namespace {

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

}  // namespace

Checksum::Checksum() : sum_(kPrime3) {}

void Checksum::add(const char* data, size_t size) { sum_ = mixBits((sum_ ^ blockHash(data, size)) * kPrime1 + ++blocks_); }

uint64_t checksumOf(std::string_view payload) {
    Checksum checksum;
    for (size_t at = 0; at < payload.size(); at += kImageBlockBytes)
        checksum.add(payload.data() + at, std::min(kImageBlockBytes, payload.size() - at));
    return checksum.value();
}

Sink::Sink(WholeFileWriter& out, const std::atomic<bool>& stop) : out_(out), stop_(stop) {
    block_.reserve(kImageBlockBytes);
}

void Sink::put(const void* data, size_t size) {
    const char* from = static_cast<const char*>(data);
    while (size > 0) {
        const size_t part = std::min(size, kImageBlockBytes - block_.size());
        block_.append(from, part);
        from += part;
        size -= part;
        if (block_.size() == kImageBlockBytes) flush();
    }
}

void Sink::bits(const CellArray<bool>& marks) {
    value<uint64_t>(marks.size());
    packed_.assign((marks.size() + 7) / 8, 0);
    for (size_t i = 0; i < marks.size(); ++i)
        if (marks[i]) packed_[i >> 3] = static_cast<char>(packed_[i >> 3] | (1 << (i & 7)));
    put(packed_.data(), packed_.size());
}

void Sink::finish() {
    if (!block_.empty()) flush();
    const uint64_t sum = checksum_.value();
    out_.write(std::string_view(reinterpret_cast<const char*>(&sum), sizeof sum));
}

void Sink::flush() {
    if (stop_.load(std::memory_order_relaxed)) throw WriteStopped{};
    checksum_.add(block_.data(), block_.size());
    out_.write(block_);
    block_.clear();
}

void Source::get(void* into, size_t size) {
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

void Source::bits(CellArray<bool>& marks) {
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

void Source::verify() {
    if (blockBytes_ != kImageBlockBytes || read_ != payload_ || at_ != block_.size()) throw Unusable{};
    uint64_t stored = 0;
    if (::pread(fd_, &stored, sizeof stored, static_cast<off_t>(payload_)) != static_cast<ssize_t>(sizeof stored))
        throw Unusable{};
    if (stored != checksum_.value()) throw Unusable{};
}

void Source::refill() {
    if (cancel_ && cancel_->load(std::memory_order_relaxed)) throw LoadCancelled{};
    if (read_ == payload_) throw Unusable{};
    const size_t size = static_cast<size_t>(std::min<uint64_t>(blockBytes_, payload_ - read_));
    block_.resize(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd_, block_.data() + done, size - done, static_cast<off_t>(read_ + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw Unusable{};
        done += static_cast<size_t>(got);
    }
    if (blockBytes_ == kImageBlockBytes) checksum_.add(block_.data(), size);
    read_ += size;
    at_ = 0;
}

namespace {
constexpr size_t kLargePage = size_t{2} << 20;
// A block beyond the first, when the cells take more than expected.
constexpr size_t kFurtherBlockBytes = 8 * kLargePage;
}  // namespace

LargePageRoom::LargePageRoom(size_t expected) { addBlock(expected); }

LargePageRoom::~LargePageRoom() {
    for (const Block& block : blocks_) ::munmap(block.start, block.bytes);
}

void* LargePageRoom::do_allocate(size_t bytes, size_t alignment) {
    auto aligned = [&] { return (reinterpret_cast<uintptr_t>(next_) + alignment - 1) & ~uintptr_t{alignment - 1}; };
    if (next_ == nullptr || aligned() + bytes > reinterpret_cast<uintptr_t>(end_))
        addBlock(std::max(bytes + alignment, kFurtherBlockBytes));
    char* const start = reinterpret_cast<char*>(aligned());
    next_ = start + bytes;
    return start;
}

const char* LargePageRoom::partlyFilledPage() const {
    if (next_ == nullptr) return nullptr;
    return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(next_) & ~uintptr_t{kLargePage - 1});
}

void LargePageRoom::releasePartlyFilledPage() {
    if (next_ == nullptr) return;
    char* const page = next_ - (reinterpret_cast<uintptr_t>(next_) & (kLargePage - 1));
    ::madvise(page, static_cast<size_t>(end_ - page), MADV_DONTNEED);
    next_ = end_ = page;
}

void LargePageRoom::addBlock(size_t bytes) {
    // Whole large pages on a large page's boundary: mapped a page longer,
    // the ends cut off.
    bytes = (std::max<size_t>(bytes, 1) + kLargePage - 1) & ~(kLargePage - 1);
    blocks_.reserve(blocks_.size() + 1);
    const size_t mapped = bytes + kLargePage;
    void* const map = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) throw std::bad_alloc();
    char* const first = static_cast<char*>(map);
    char* const start = first + ((kLargePage - reinterpret_cast<uintptr_t>(first) % kLargePage) % kLargePage);
    char* const end = start + bytes;
    if (start > first) ::munmap(first, static_cast<size_t>(start - first));
    if (end < first + mapped) ::munmap(end, static_cast<size_t>(first + mapped - end));
    // Where the system gives no large pages for the asking, small ones do.
    ::madvise(start, bytes, MADV_HUGEPAGE);
    blocks_.push_back({start, bytes});
    next_ = start;
    end_ = end;
}

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

}  // namespace archive::detail
