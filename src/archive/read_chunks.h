// The one chunk loop of every copy: a regular file read in kChunkSize chunks, with the
// cancellation polled between chunks and a byte limit checked before a chunk is handed on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/copy_rules.h"
#include "platform/error.h"
#include "platform/file_handle.h"

namespace quillop {

// The most bytes a read may yield, and the failure text for one byte more.
struct ByteLimit {
  std::uint64_t max;
  const char* tooLarge;
};

// Reads `source` to its end. Polls `cancelled` before the first read and after every chunk;
// each chunk is read into `buffer()` (room for kChunkSize bytes) and handed to
// `chunk(bytes, count)` unless it takes the running total, which starts at `total`, past
// `limit.max` (failure `limit.tooLarge`, the crossing chunk unseen). Returns the running total.
// Read errors pass unchanged.
//
// `size` is where the running total stands at the file's end, by the size the file had when it
// was opened (UINT64_MAX: unknown). The read that would reach it asks for one byte more; when that
// read stops exactly at `size`, the file ended there at that moment, as a read returning 0 would
// have shown, and that read is spared (one per small file). A file that grew yields the extra byte
// and is read on to its end.
template <typename Buffer, typename Chunk>
std::uint64_t readChunks(FileHandle& source, const Cancelled& cancelled, ByteLimit limit,
                         std::uint64_t total, std::uint64_t size, Buffer buffer, Chunk chunk) {
  throwIfCancelled(cancelled);
  for (;;) {
    unsigned char* into = buffer();
    const std::size_t wanted = total <= size && size - total < kChunkSize
                                   ? static_cast<std::size_t>(size - total + 1)
                                   : kChunkSize;
    const std::size_t count = source.read(into, wanted);
    if (count == 0) return total;
    total += count;
    if (total > limit.max) throw failure(limit.tooLarge);
    chunk(into, count);
    throwIfCancelled(cancelled);
    if (count < wanted && total == size) return total;
  }
}

}  // namespace quillop
