#pragma once
// The one reader of a RIFF file's layout: the form that must open the file at
// its first byte, and the table of the form's top-level chunks, read once.
// Tagging, showing a file's acid chunks and playing it all look at a file
// through this table, so they agree on what a file holds.

#include "Mmio.h"

#include <cstdint>
#include <vector>

namespace mmio {

// No WAVE file needs more top-level chunks than this; a crafted one with
// millions must not hold up a batch.
constexpr int kMaxChunks = 10000;
constexpr int64_t kChunkHeaderSize = 8;
// The largest size a RIFF header can declare.
constexpr int64_t kMaxRiffSize = 0xFFFFFFFF;
// The size a RIFF header declares for a form that fills a file of this length.
constexpr int64_t RiffSizeOf(int64_t fileLength) { return fileLength - kChunkHeaderSize; }

struct ChunkEntry {
    FOURCC id = 0;
    uint32_t size = 0;       // as declared
    int64_t dataOffset = 0;  // its first data byte
    int64_t DataEnd() const { return dataOffset + size; }
};

struct FormTable {
    MMCKINFO form;                   // the RIFF header at byte 0
    std::vector<ChunkEntry> chunks;  // the form's chunks in file order, kMaxChunks at most
    bool tooMany = false;            // a chunk beyond kMaxChunks follows
    int64_t end = 0;                 // behind the last chunk and its pad byte

    int64_t FirstChunk() const { return form.dwDataOffset + 4; }
    int64_t FormEnd() const { return form.dwDataOffset + form.cksize; }
    // The index of the first chunk called `id` from index `from` on, or -1.
    int Find(FOURCC id, size_t from = 0) const;
};

// Reads the header at byte 0 and, when it opens a RIFF form of `formType`, the
// table of its chunks up to the form's declared end or the file's, whichever
// comes first. MMIOERR_CHUNKNOTFOUND when the file is no such form (nothing
// beyond byte 0 is searched), MMIOERR_CANNOTREAD when the system refused a read.
int32_t ReadForm(File& file, FOURCC formType, FormTable& table);

// Reads up to `max` bytes of a chunk's data from its start: the bytes read,
// fewer where the file ends, or -1.
int64_t ReadChunkData(File& file, const ChunkEntry& chunk, void* buffer, int64_t max);

}  // namespace mmio
