#include "Inspect.h"

#include "Mmio.h"
#include "RiffForm.h"
#include "TagVerdicts.h"

#include <cerrno>

namespace velorizer {

Inspection Inspect(const std::string& path) {
    Inspection in;
    const auto done = [&](std::string why) {
        in.unreadable = std::move(why);
        in.refusal = in.unreadable;
        return in;
    };
    int err = 0;
    auto h = mmio::File::Open(path, mmio::MMIO_READ, &err);
    if (!h) return done(err == ENOTSUP ? "it is not a regular file" : ErrnoText(err));
    mmio::FormTable table;
    const int32_t entered = mmio::ReadForm(*h, mmio::StringToFOURCC("WAVE"), table);
    if (entered != mmio::MMSYSERR_NOERROR)
        return done(entered == mmio::MMIOERR_CANNOTREAD ? ErrnoText(h->LastErrno()) : "it is not a WAVE file");
    in.wave = true;

    // The format and the audio that a loop's tempo is derived from.
    size_t next = 0;
    in.hasFormat = ReadWaveFormat(*h, table, next, in.format) == 0;
    in.hasData = in.hasFormat && GetDataChunkSize(table, next, in.dataSize) == 0;
    if (in.hasData) in.frames = FrameCount(in.format, in.dataSize);

    // The verdicts tagging gives, in its order.
    AcidChunks acid = FindAcidChunks(table);
    for (const mmio::ChunkEntry& ck : table.chunks) in.acidChunks += ck.id == mmio::StringToFOURCC("acid");
    if (table.tooMany) return done(kTooManyChunks);
    if (acid.hasOdd) return done(OddAcidText(acid));
    if (!acid.bodies.empty() && acid.bodies.back() + clsAcidSettings::kBodySize > h->Size()) return done(kCutShort);
    // A chunk an interrupted run left behind the form is the file's acid chunk:
    // the next tagging takes it in.
    if (const int64_t behind = InterruptedAppend(*h, table, acid); behind >= 0) {
        acid.bodies.push_back(behind + mmio::kChunkHeaderSize);
        ++in.acidChunks;
    }
    if (h->ReadFailed()) return done(ErrnoText(h->LastErrno()));
    for (int64_t offset : acid.bodies) {
        clsAcidSettings::Body body{};
        h->Seek(offset, mmio::kSeekSet);
        if (h->Read(body.data(), clsAcidSettings::kBodySize) != clsAcidSettings::kBodySize)
            return done(ErrnoText(h->LastErrno()));
        in.bodies.push_back(body);
    }
    if (acid.bodies.empty()) {
        if (const char* refusal = PlaceForAppend(table, h->Size()).refusal) in.refusal = refusal;
    }
    return in;
}

bool ReadAcidChunks(const std::string& path, std::vector<clsAcidSettings::Body>& bodies, std::string& error) {
    Inspection in = Inspect(path);
    bodies = std::move(in.bodies);
    error = std::move(in.unreadable);
    return error.empty();
}

}  // namespace velorizer
