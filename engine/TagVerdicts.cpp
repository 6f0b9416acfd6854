#include "TagVerdicts.h"

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

AppendPlace PlaceForAppend(const mmio::FormTable& table, int64_t fileSize) {
    // Append only where the form is the whole file: bytes behind the form
    // (trailing junk, a tag) or a form that claims more than the file holds must
    // not end up inside the RIFF size.
    AppendPlace place;
    const int64_t formEnd = table.FormEnd();
    const int64_t lastDataEnd = table.chunks.empty() ? 0 : table.chunks.back().DataEnd();
    if (table.end == formEnd && fileSize == formEnd) {
        place.at = formEnd;
    } else if (!table.chunks.empty() && (table.chunks.back().size & 1) != 0 && fileSize == lastDataEnd &&
               (formEnd == lastDataEnd || formEnd == lastDataEnd + 1)) {
        // The last chunk's pad byte is missing: it is written as a zero.
        place.pad = true;
        place.at = lastDataEnd + 1;
    }
    if (place.at < 0) {
        place.refusal = fileSize > formEnd   ? Reason::BytesBehindForm
                        : fileSize < formEnd ? Reason::CutShort
                                             : Reason::ChunksOffForm;
    } else if (mmio::RiffSizeOf(place.at + clsAcidSettings::kChunkSize) > mmio::kMaxRiffSize) {
        place.refusal = Reason::TooLarge;
    }
    return place;
}

}  // namespace velorizer
