#include "AcidChunks.h"

#include "LittleEndian.h"
#include "clsAcidSettings.h"

namespace velorizer {

AcidChunks FindAcidChunks(const mmio::FormTable& table) {
    AcidChunks acid;
    for (const mmio::ChunkEntry& ck : table.chunks) {
        if (ck.id != kAcid) continue;
        if (ck.size == clsAcidSettings::kBodySize) {
            acid.bodies.push_back(ck.dataOffset);
        } else if (!acid.hasOdd) {
            acid.hasOdd = true;
            acid.oddSize = ck.size;
        }
    }
    return acid;
}

std::string OddAcidText(const AcidChunks& acid) {
    return "its acid chunk is " + std::to_string(acid.oddSize) + " bytes long instead of 24";
}

int64_t InterruptedAppend(mmio::File& h, const mmio::FormTable& table, const AcidChunks& acid) {
    if (table.tooMany || !acid.bodies.empty() || acid.hasOdd) return -1;
    const int64_t formEnd = table.FormEnd();
    const bool needsPad =
        !table.chunks.empty() && (table.chunks.back().size & 1) != 0 && table.chunks.back().DataEnd() == formEnd;
    if (table.end != formEnd && !needsPad) return -1;
    const int64_t at = formEnd + (needsPad ? 1 : 0);
    const int64_t fileEnd = at + clsAcidSettings::kChunkSize;
    if (h.Size() != fileEnd || mmio::RiffSizeOf(fileEnd) > mmio::kMaxRiffSize) return -1;
    unsigned char head[9];
    h.Seek(formEnd, mmio::kSeekSet);
    const int64_t want = needsPad ? 9 : 8;
    if (h.Read(head, want) != want) return -1;
    const unsigned char* chunk = head + (needsPad ? 1 : 0);
    if (needsPad && head[0] != 0) return -1;
    if (le::U32(chunk) != kAcid || le::U32(chunk + 4) != clsAcidSettings::kBodySize) return -1;
    return at;
}

}  // namespace velorizer
