#include "imagefilecodec.h"

#include "cp1252.h"
#include "greatestvalue.h"
#include "imagefile.h"
#include "sorting.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace archive::detail {
namespace {

// The summary's bytes: the field names, then the issue field's number
// (-1 when the table has none) and its greatest value, when it has rows.
std::string summaryBytes(const ImageFileSummary& summary) {
    std::string bytes;
    auto put = [&](const auto& v) { bytes.append(reinterpret_cast<const char*>(&v), sizeof v); };
    auto text = [&](std::string_view t) {
        put(uint64_t{t.size()});
        bytes.append(t);
    };
    put(uint64_t{summary.fieldNames.size()});
    for (const std::string& name : summary.fieldNames) text(name);
    put(int32_t{summary.issueColumn});
    put(uint8_t{summary.greatestIssue ? uint8_t{1} : uint8_t{0}});
    if (summary.greatestIssue) text(*summary.greatestIssue);
    return bytes;
}

ImageFileSummary summaryFrom(std::string_view bytes) {
    auto take = [&](size_t size) {
        if (size > bytes.size()) throw Unusable{};
        const std::string_view part = bytes.substr(0, size);
        bytes.remove_prefix(size);
        return part;
    };
    auto get = [&]<class T>(T v) {
        std::memcpy(&v, take(sizeof v).data(), sizeof v);
        return v;
    };
    auto text = [&] { return std::string(take(static_cast<size_t>(get(uint64_t{})))); };
    ImageFileSummary summary;
    const uint64_t fields = get(uint64_t{});
    if (fields == 0 || fields > bytes.size() / sizeof(uint64_t)) throw Unusable{};
    for (uint64_t i = 0; i < fields; ++i) summary.fieldNames.push_back(text());
    summary.issueColumn = get(int32_t{});
    if (summary.issueColumn < -1 || summary.issueColumn >= static_cast<int64_t>(fields)) throw Unusable{};
    if (get(uint8_t{})) summary.greatestIssue = text();
    if (!bytes.empty()) throw Unusable{};
    return summary;
}

}  // namespace

bool ImageFileCodec::anyOrder(const TableImage& image) {
    std::lock_guard lock(image.cacheMutex_);
    return std::any_of(image.sorted_.begin(), image.sorted_.end(), [](const auto& kept) { return kept.second.rows != nullptr; });
}

void ImageFileCodec::putChunk(Sink& sink, const TableImage::Chunk& chunk) {
    sink.text(chunk.bytes);
    sink.array(chunk.offsets);
    sink.array(chunk.codes);
    sink.bits(chunk.nulls);
    sink.array(chunk.numbers);
}

std::shared_ptr<TableImage::Chunk> ImageFileCodec::getChunk(Source& source,
                                                           const std::shared_ptr<LargePageRoom>& room) {
    auto chunk = std::make_shared<TableImage::Chunk>(room);
    source.text(chunk->bytes);
    source.array(chunk->offsets);
    source.array(chunk->codes);
    source.bits(chunk->nulls);
    source.array(chunk->numbers);
    return chunk;
}

void ImageFileCodec::write(const TableImage& image, Sink& sink) {
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
    sink.put(kImageMagic, sizeof kImageMagic);
    sink.value<uint32_t>(kImageFormatVersion);
    sink.value<uint32_t>(TableImage::kChunkRows);
    putStamp(sink, image.stamp_);
    sink.text(image.path_);
    ImageFileSummary summary;
    for (const Column& column : image.columns_) {
        if (summary.issueColumn < 0 && equalsIgnoringCase(column.name, kIssueField))
            summary.issueColumn = static_cast<int>(summary.fieldNames.size());
        summary.fieldNames.push_back(column.name);
    }
    if (summary.issueColumn >= 0) summary.greatestIssue = greatestInImage(image, summary.issueColumn);
    const std::string summaryText = summaryBytes(summary);
    sink.text(summaryText);
    sink.value<uint64_t>(checksumOf(summaryText));

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

void ImageFileCodec::readHeader(Source& source, const std::string& path, const FileStamp& stamp) {
    char magic[sizeof kImageMagic];
    source.get(magic, sizeof magic);
    if (std::memcmp(magic, kImageMagic, sizeof kImageMagic) != 0) throw Unusable{};
    if (source.value<uint32_t>() != kImageFormatVersion) throw Unusable{};
    if (source.value<uint32_t>() != TableImage::kChunkRows) throw Unusable{};
    if (getStamp(source) != stamp) throw Unusable{};
    std::string written;
    source.text(written);
    if (written != path) throw Unusable{};
}

ImageFileSummary ImageFileCodec::readSummary(Source& source) {
    std::string bytes;
    source.text(bytes);
    if (source.value<uint64_t>() != checksumOf(bytes)) throw Unusable{};
    return summaryFrom(bytes);
}

std::shared_ptr<const TableImage> ImageFileCodec::read(Source& source, const std::string& path, const FileStamp& stamp) {
    readHeader(source, path, stamp);
    const ImageFileSummary summary = readSummary(source);
    // The cells and row slots take no more than the file holds of them.
    const auto room = std::make_shared<LargePageRoom>(source.remaining());
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
    if (summary.fieldNames.size() != columnCount) throw Unusable{};
    for (size_t c = 0; c < columnCount; ++c)
        if (summary.fieldNames[c] != image->columns_[c].name) throw Unusable{};
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
        auto slots = std::make_shared<TableImage::Slots>(room);
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
            std::shared_ptr<TableImage::Chunk> chunk = getChunk(source, room);
            requireSoundChunk(*chunk, rowsOfChunk(k), integerColumn);
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
        std::shared_ptr<TableImage::Chunk> dictionary = getChunk(source, room);
        requireSoundChunk(*dictionary, std::nullopt, false);
        if (!dictionary->codes.empty()) throw Unusable{};
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
    requireFittingRanks(*image);
    requireFittingOrders(*image);
    // Written only of an image SQLite's check found sound, of this very state of the file.
    image->knownSoundVerdict();
    return image;
}

}  // namespace archive::detail
