#include "imagefile.h"

#include "filelayer.h"
#include "imagefilecodec.h"
#include "wholefile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

// The two ends of the cache files: the read at a table's load, and the
// writes on threads of their own, one file at a time, the newest offer last.

namespace archive {
namespace detail {

uint32_t imageFileMinimumRows = 16 * TableImage::kChunkRows;

namespace {

constexpr int kWriterNiceness = 19;

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

namespace {

// What `read` takes from the cache file `file` of the table file `path`,
// when the table has no change waiting beside it and is the same before and
// after; nothing otherwise. Throws what `read` throws. The file is read
// `blockBytes` at a time (detail::Source).
template <class Read>
auto readFrom(const std::string& file, const std::string& path, const std::atomic<bool>* cancel, size_t blockBytes,
              Read read)
    -> std::optional<decltype(read(std::declval<detail::Source&>(), FileStamp()))> {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) return std::nullopt;
    if (detail::changeWaitsBeside(path)) return std::nullopt;
    const detail::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < static_cast<off_t>(sizeof(uint64_t)))
        return std::nullopt;
    detail::Source source(fd.get(), static_cast<uint64_t>(info.st_size) - sizeof(uint64_t), cancel, blockBytes);
    auto result = read(source, *stamp);
    if (stampOf(path) != stamp) return std::nullopt;
    return result;
}

}  // namespace

std::optional<ImageFileSummary> readImageFileSummary(const std::string& path) {
    const std::string file = imageFileOf(path);
    if (file.empty()) return std::nullopt;
    try {
        auto summary = [&](detail::Source& source, const FileStamp& stamp) {
            detail::ImageFileCodec::readHeader(source, path, stamp);
            return detail::ImageFileCodec::readSummary(source);
        };
        return readFrom(file, path, nullptr, detail::kImageHeadBytes, summary);
    } catch (const detail::Unusable&) {
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return std::nullopt;
}

std::shared_ptr<const TableImage> readImageFile(const std::string& path, const std::atomic<bool>* cancel) {
    const std::string file = imageFileOf(path);
    if (file.empty()) return nullptr;
    std::shared_ptr<const TableImage> image;
    try {
        auto whole = [&](detail::Source& source, const FileStamp& stamp) {
            return detail::ImageFileCodec::read(source, path, stamp);
        };
        image = readFrom(file, path, cancel, detail::kImageBlockBytes, whole).value_or(nullptr);
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
