#include "RiffForm.h"

#include <algorithm>

namespace mmio {

int FormTable::Find(FOURCC id, size_t from) const {
    for (size_t i = from; i < chunks.size(); ++i)
        if (chunks[i].id == id) return static_cast<int>(i);
    return -1;
}

int32_t ReadForm(File& file, FOURCC formType, FormTable& table) {
    table = FormTable{};
    // A large file of something else costs one read.
    file.Seek(0, kSeekSet);
    int32_t r = file.Descend(table.form, nullptr, 0);
    if (r != MMSYSERR_NOERROR) return r;
    if (table.form.ckid != kRIFF || table.form.fccType != formType) return MMIOERR_CHUNKNOTFOUND;

    table.end = file.Tell();
    for (;;) {
        const int64_t at = file.Tell();
        MMCKINFO ck;
        r = file.Descend(ck, &table.form, 0);
        if (r == MMIOERR_CANNOTREAD) return r;
        if (r != MMSYSERR_NOERROR) {
            table.end = at;
            return MMSYSERR_NOERROR;
        }
        if (table.chunks.size() == kMaxChunks) {
            table.tooMany = true;
            return MMSYSERR_NOERROR;
        }
        table.chunks.push_back({ck.ckid, ck.cksize, ck.dwDataOffset});
        file.Ascend(ck, 0);
    }
}

int64_t ReadChunkData(File& file, const ChunkEntry& chunk, void* buffer, int64_t max) {
    if (file.Seek(chunk.dataOffset, kSeekSet) < 0) return -1;
    return file.Read(buffer, std::min<int64_t>(chunk.size, max));
}

}  // namespace mmio
