#pragma once
// Inside the cache files only: an image into the bytes of its cache file
// and back, with what the reader checks of a file before it stands for a
// table. The one friend of TableImage outside the image's own parts.

#include "imagefile.h"
#include "imagefileformat.h"
#include "tableimage.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace archive::detail {

struct ImageFileCodec {
    static bool madeByWrite(const TableImage& image) { return image.madeByWrite_; }
    static bool foundSound(const TableImage& image, const std::atomic<bool>& stop) { return image.foundSound(stop); }
    // Whether a sort order has been worked out on the image.
    static bool anyOrder(const TableImage& image);

    static void write(const TableImage& image, Sink& sink);
    // The image a file holds when it was written of `path` as it has `stamp`
    // and everything in it fits together; throws Unusable otherwise.
    static std::shared_ptr<const TableImage> read(Source& source, const std::string& path, const FileStamp& stamp);

    // The header alone: whether the file was written of `path` as it is now.
    static void readHeader(Source& source, const std::string& path, const FileStamp& stamp);
    // The summary that follows the header, checked by its own checksum.
    static ImageFileSummary readSummary(Source& source);

private:
    static void putChunk(Sink& sink, const TableImage::Chunk& chunk);
    static std::shared_ptr<TableImage::Chunk> getChunk(Source& source, const std::shared_ptr<LargePageRoom>& room);

    // ---- the reader's checks: the image's readers index by what a file
    // holds, and a file with a sound checksum may still have been made by
    // hand. Each throws Unusable when the part read does not fit.

    // A chunk as the image's readers rely on it: every cell ends within the
    // bytes, codes name entries there, one NULL mark (and for an integer
    // column one number) per row.
    static void requireSoundChunk(const TableImage::Chunk& chunk, std::optional<uint32_t> rows, bool integerColumn);
    // The ranks and dictionaries read are those the image would work out of
    // its cells: a query takes a row's value through them, and the image
    // keeps a dictionary read beside the ranks it works out again later.
    static void requireFittingRanks(const TableImage& image);
    // Each order read holds every live row once, in the order of its keys.
    static void requireFittingOrders(const TableImage& image);
};

}  // namespace archive::detail
