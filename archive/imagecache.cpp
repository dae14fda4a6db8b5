#include "imagecache.h"
#include "imagefile.h"

#include "collation.h"
#include "cp1252.h"
#include "greatestvalue.h"
#include "tableimage_internal.h"
#include "transaction.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cstddef>
#include <future>
#include <iterator>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace archive {
namespace {

using detail::Command;
using detail::Database;
using detail::readSchema;
using detail::valueText;

constexpr size_t kCachedImages = 4;  // three views and one spare
constexpr int kBackgroundNiceness = 10;

// A load running in the background; whoever asks for its file first takes
// its result (or, when it failed or the file changed meanwhile, loads anew).
struct PendingLoad {
    std::string path;
    LoadPriority priority;
    std::shared_ptr<std::atomic<bool>> cancel;
    // The rows are read: what follows is the preparation of the image.
    std::shared_ptr<std::atomic<bool>> read;
    std::future<std::shared_ptr<const TableImage>> result;
};

struct ImageCache {
    std::mutex mutex;
    std::list<std::shared_ptr<const TableImage>> images;  // most recently used first
    std::list<PendingLoad> pending;

    // The writer of cache files is made first, so that it outlives this
    // cache: a load stopping at the end may still hand it an image.
    ImageCache() { finishImageFiles(); }
    // The program ends: loads still running stop at their next chunk of rows.
    ~ImageCache() { cancelPending([](const PendingLoad&) { return true; }); }

    template <class Which>
    void cancelPending(Which which) {
        std::list<PendingLoad> stopped;
        {
            std::lock_guard lock(mutex);
            for (auto it = pending.begin(); it != pending.end();) {
                auto next = std::next(it);
                if (which(*it)) {
                    it->cancel->store(true);
                    stopped.splice(stopped.end(), pending, it);
                }
                it = next;
            }
        }
        for (PendingLoad& load : stopped) load.result.wait();
    }

    void keep(std::shared_ptr<const TableImage> image) {
        images.remove_if([&](const auto& cached) { return cached->path() == image->path(); });
        images.push_front(std::move(image));
        if (images.size() > kCachedImages) images.pop_back();
    }
};

// The cache answers one thread, the first that called it: a second would
// find another's load taken from the pending list and load the file again.
ImageCache& imageCache() {
    static ImageCache cache;
#ifndef NDEBUG
    static const std::thread::id caller = std::this_thread::get_id();
    assert(std::this_thread::get_id() == caller && "the image cache answers one thread only");
#endif
    return cache;
}

}  // namespace

std::shared_ptr<const TableImage> imageOf(const std::string& path) {
    if (std::shared_ptr<const TableImage> image = imageIfAtHand(path)) return image;
    std::shared_ptr<const TableImage> image = TableImage::load(path);
    offerImageFile(image);
    ImageCache& cache = imageCache();
    std::lock_guard lock(cache.mutex);
    cache.keep(image);
    return image;
}

std::shared_ptr<const TableImage> imageIfAtHand(const std::string& path) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) throw EngineError(detail::unreadableText(path));
    ImageCache& cache = imageCache();
    std::optional<PendingLoad> pending;
    {
        std::lock_guard lock(cache.mutex);
        for (auto it = cache.images.begin(); it != cache.images.end(); ++it) {
            if ((*it)->path() != path) continue;
            if ((*it)->stamp() == *stamp) {
                cache.images.splice(cache.images.begin(), cache.images, it);
                return cache.images.front();
            }
            cache.images.erase(it);
            break;
        }
        const auto running = std::find_if(cache.pending.begin(), cache.pending.end(),
                                          [&](const PendingLoad& load) { return load.path == path; });
        if (running != cache.pending.end()) {
            pending.emplace(std::move(*running));
            cache.pending.erase(running);
        }
    }
    if (pending && pending->priority == LoadPriority::Background && !pending->read->load() &&
        pending->result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        // A niced thread cannot be raised again: its load stops at its next
        // chunk of rows, and the caller, who needs the image now, reads the
        // file at its own priority.
        pending->cancel->store(true);
        pending->result.wait();
        return nullptr;
    }
    if (pending) {
        // Waiting costs no more than loading here would; a failed load is
        // repeated below, so its error comes from the file as it is now.
        std::shared_ptr<const TableImage> loaded;
        try {
            loaded = pending->result.get();
        } catch (...) {
        }
        if (loaded && loaded->stamp() == *stamp) {
            std::lock_guard lock(cache.mutex);
            cache.keep(loaded);
            return loaded;
        }
    }
    return nullptr;
}

namespace {

// The answer's field names, and where `field` stands among them.
void nameFields(GreatestValue& answer, std::vector<std::string> names, std::string_view field) {
    answer.fieldNames = std::move(names);
    for (size_t i = 0; i < answer.fieldNames.size() && answer.column < 0; ++i)
        if (equalsIgnoringCase(answer.fieldNames[i], field)) answer.column = static_cast<int>(i);
}

}  // namespace

GreatestValue greatestValueIn(const TableImage& image, std::string_view field) {
    GreatestValue answer;
    nameFields(answer, image.fieldNames(), field);
    int column = -1;
    for (size_t i = 0; i < image.columns().size() && column < 0; ++i)
        if (equalsIgnoringCase(image.columns()[i].name, field)) column = static_cast<int>(i);
    if (column < 0) {
        // A field of the table that an image of some fields left out.
        if (answer.column >= 0) throw std::logic_error("greatestValueIn: the field was not read");
        return answer;
    }
    answer.value = greatestInImage(image, column);
    return answer;
}

namespace detail {
ColumnReadHook columnReadHook = nullptr;
}  // namespace detail

namespace {

// The field names and greatest value as a cache file's summary gives them,
// when it holds them for `field`.
std::optional<GreatestValue> greatestValueInSummary(const std::string& path, std::string_view field) {
    const std::optional<ImageFileSummary> summary = readImageFileSummary(path);
    if (!summary) return std::nullopt;
    GreatestValue answer;
    nameFields(answer, summary->fieldNames, field);
    if (answer.column >= 0 && answer.column != summary->issueColumn) return std::nullopt;
    if (answer.column >= 0) answer.value = summary->greatestIssue;
    return answer;
}

// The same read from the file's column alone, no image made. Throws
// LoadCancelled once `cancel` turns true.
GreatestValue greatestValueInColumn(const std::string& path, std::string_view field,
                                    const std::atomic<bool>* cancel = nullptr) {
    GreatestValue answer;
    GreatestText greatest;
    Database db = Database::openReadOnly(path);
    detail::Transaction transaction(db, path, detail::Transaction::Lock::Deferred);
    std::string tableName;
    std::vector<Column> columns;
    readSchema(db, path, tableName, columns);
    std::vector<std::string> names;
    for (const Column& column : columns) names.push_back(column.name);
    nameFields(answer, std::move(names), field);
    if (answer.column < 0) return answer;
    Command values(db,
                   "SELECT " + detail::quotedIdentifier(detail::fsPath(columns[answer.column].name)) + " FROM " +
                       detail::quotedIdentifier(tableName),
                   path);
    // Rows of one issue mostly lie together: a value like the one before
    // has been offered already.
    std::string value;
    std::string previous;
    bool previousKnown = false;
    uint32_t sinceLook = 0;
    while (values.step()) {
        if (cancel && ++sinceLook == TableImage::kChunkRows) {
            sinceLook = 0;
            if (cancel->load(std::memory_order_relaxed)) throw LoadCancelled{};
        }
        sqlite3_value* cell = sqlite3_column_value(values.get(), 0);
        if (sqlite3_value_type(cell) == SQLITE_NULL) {
            greatest.offer(std::nullopt);
            continue;
        }
        const std::string_view utf8 = valueText(db, cell, path);
        if (previousKnown && utf8 == previous) continue;
        previous.assign(utf8);
        previousKnown = true;
        value.clear();
        appendUtf8AsCp1252(value, utf8);
        greatest.offer(value);
    }
    transaction.commit();
    if (detail::columnReadHook) detail::columnReadHook(path);
    answer.value = greatest.result();
    return answer;
}

// Greatest values read at the start on a thread of their own, before the
// thread that asks for them has a window to show. Each is taken once, and
// only while its file still has the stamp it was read under; any failure is
// left to the reading that follows, which then meets it itself.
using StampedGreatestValue = std::optional<std::pair<GreatestValue, FileStamp>>;

struct GreatestReadAhead {
    std::string path;
    std::string field;
    std::future<StampedGreatestValue> result;
};

struct GreatestReadsAhead {
    std::mutex mutex;
    std::atomic<bool> ending{false};
    std::list<GreatestReadAhead> reads;
    std::list<std::future<void>> readers;  // goes first, waiting for its threads
    // The program ends: a column still being read stops at its next chunk of rows.
    ~GreatestReadsAhead() { ending = true; }
};

GreatestReadsAhead& greatestReadsAhead() {
    static GreatestReadsAhead reads;
    return reads;
}

std::optional<GreatestValue> takeGreatestValueReadAhead(const std::string& path, std::string_view field) {
    GreatestReadsAhead& ahead = greatestReadsAhead();
    std::optional<GreatestReadAhead> taken;
    {
        std::lock_guard lock(ahead.mutex);
        const auto found = std::find_if(ahead.reads.begin(), ahead.reads.end(), [&](const GreatestReadAhead& read) {
            return read.path == path && read.field == field;
        });
        if (found == ahead.reads.end()) return std::nullopt;
        taken.emplace(std::move(*found));
        ahead.reads.erase(found);
    }
    StampedGreatestValue read = taken->result.get();
    if (!read || stampOf(path) != std::optional<FileStamp>(read->second)) return std::nullopt;
    return std::move(read->first);
}

StampedGreatestValue readStampedGreatestValue(const std::string& path, const std::string& field,
                                              const std::atomic<bool>& ending) {
    try {
        // The stamp before and after: a file changed meanwhile gives no answer.
        const std::optional<FileStamp> before = stampOf(path);
        if (!before) return std::nullopt;
        std::optional<GreatestValue> value = greatestValueInSummary(path, field);
        if (!value) value = greatestValueInColumn(path, field, &ending);
        if (stampOf(path) != before) return std::nullopt;
        return std::pair(std::move(*value), *before);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

void readGreatestValuesAhead(const std::vector<std::string>& paths, std::string_view field) {
    GreatestReadsAhead& ahead = greatestReadsAhead();
    std::lock_guard lock(ahead.mutex);
    std::vector<std::pair<std::string, std::promise<StampedGreatestValue>>> wanted;
    for (const std::string& path : paths) {
        const bool known = std::any_of(ahead.reads.begin(), ahead.reads.end(), [&](const GreatestReadAhead& read) {
            return read.path == path && read.field == field;
        });
        if (known) continue;
        std::promise<StampedGreatestValue> promise;
        ahead.reads.push_back({path, std::string(field), promise.get_future()});
        wanted.emplace_back(path, std::move(promise));
    }
    if (wanted.empty()) return;
    const auto firstWanted = std::prev(ahead.reads.end(), static_cast<std::ptrdiff_t>(wanted.size()));
    try {
        // One after the other: they share a core with the window system's start.
        ahead.readers.push_back(std::async(std::launch::async, [wanted = std::move(wanted), field = std::string(field),
                                                                &ahead]() mutable {
            for (auto& [path, promise] : wanted) promise.set_value(readStampedGreatestValue(path, field, ahead.ending));
        }));
    } catch (const std::system_error&) {
        // No thread to be had: the promises went with the reader never
        // started, and a lookup must not take their broken futures for a
        // fault of the table. It reads the value itself.
        ahead.reads.erase(firstWanted, ahead.reads.end());
    }
}

GreatestValue greatestValueOf(const std::string& path, std::string_view field) {
    if (std::optional<GreatestValue> ahead = takeGreatestValueReadAhead(path, field)) return *std::move(ahead);
    // The cache file's summary answers for the issue field without a row
    // being read, and without waiting for an image still being loaded.
    if (std::optional<GreatestValue> summarised = greatestValueInSummary(path, field)) return *std::move(summarised);
    std::shared_ptr<const TableImage> image = imageIfAtHand(path);
    // The table's cache file costs less than reading even one column, and
    // the image is kept for the view that opens it.
    if (!image) {
        image = readImageFile(path);
        if (image) {
            ImageCache& cache = imageCache();
            std::lock_guard lock(cache.mutex);
            cache.keep(image);
        }
    }
    if (image) return greatestValueIn(*image, field);
    return greatestValueInColumn(path, field);
}

void prefetchImage(const std::string& path, LoadPriority priority,
                   std::function<void(const TableImage&, const std::atomic<bool>& cancelled)> prepare) {
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp) return;  // the open that follows reports it
    ImageCache& cache = imageCache();
    std::lock_guard lock(cache.mutex);
    for (const auto& cached : cache.images)
        if (cached->path() == path && cached->stamp() == *stamp) return;
    for (const PendingLoad& load : cache.pending)
        if (load.path == path) return;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto read = std::make_shared<std::atomic<bool>>(false);
    auto result = std::async(std::launch::async, [path, cancel, read, priority, prepare = std::move(prepare)] {
        // A thread of its own niceness (threads it starts inherit it), so
        // that reading ahead gives way to what the user is doing now.
        if (priority == LoadPriority::Background)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kBackgroundNiceness);
        std::shared_ptr<const TableImage> image = TableImage::load(path, cancel.get());
        read->store(true);
        if (prepare && !cancel->load()) {
            try {
                prepare(*image, *cancel);
            } catch (const std::exception&) {
                // The query that needs it works it out again and meets the fault itself.
            }
        }
        // After the preparing, so that the file holds the order worked out;
        // nothing of a load the program no longer wants.
        if (!cancel->load()) offerImageFile(image);
        if (priority == LoadPriority::Background) returnFreedMemory();
        return image;
    });
    cache.pending.push_back({path, priority, std::move(cancel), std::move(read), std::move(result)});
}

void waitForPrefetches() {
    ImageCache& cache = imageCache();
    // Only this thread changes the list; the loads themselves never touch it.
    for (const PendingLoad& load : cache.pending) load.result.wait();
}

void publishImage(std::shared_ptr<const TableImage> image) {
    ImageCache& cache = imageCache();
    const std::string path = image->path();
    cache.cancelPending([&](const PendingLoad& load) { return load.path == path; });
    std::lock_guard lock(cache.mutex);
    cache.keep(std::move(image));
}

void forgetImage(const std::string& path) {
    ImageCache& cache = imageCache();
    cache.cancelPending([&](const PendingLoad& load) { return load.path == path; });
    std::lock_guard lock(cache.mutex);
    cache.images.remove_if([&](const auto& cached) { return cached->path() == path; });
}

void returnFreedMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

void clearImageCache() {
    ImageCache& cache = imageCache();
    cache.cancelPending([](const PendingLoad&) { return true; });
    std::lock_guard lock(cache.mutex);
    cache.images.clear();
}

}  // namespace archive
