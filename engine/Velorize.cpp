#include "Velorize.h"

#include "LittleEndian.h"
#include "Mmio.h"
#include "RiffForm.h"
#include "RunTimeError.h"
#include "TagVerdicts.h"
#include "TargetFile.h"

#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

namespace velorizer {

namespace {

// Tags the file, telling every refusal itself; failures are thrown.
void Tag(TargetFile& f, const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer,
         int32_t& retagAnswer, VelorizeUi& ui, ChangeRecorder* recorder) {
    if (!f.Open(path, ui)) return;
    if (!f.MakeWritable("Are you sure you want to Velorize the read-only file '" + path + "'?", readOnlyAnswer, ui))
        return;
    mmio::File& h = f.Handle();

    // The whole form is read, so that a file never ends up with two acid
    // chunks that say different things.
    mmio::FormTable table;
    const int32_t entered = mmio::ReadForm(h, kWave, table);
    if (entered == mmio::MMIOERR_CANNOTREAD) throw vb::ErrnoError(h.LastErrno());
    if (entered != mmio::MMSYSERR_NOERROR)
        throw vb::RunTimeError(kVelorizeError, "mmioDescend failed on " + path, "VelorizeFile");
    if (table.tooMany) return Refuse(ui, path, kTooManyChunks);

    const int32_t mode = settings.Mode();
    if (mode == kModeLoop || mode == kModeLoopRoot) {
        float tempo = kDefaultTempo;
        WaveFormat format;
        uint32_t dataSize = 0;
        size_t next = 0;
        if (ReadWaveFormat(h, table, next, format) == 0 && GetDataChunkSize(table, next, dataSize) == 0)
            tempo = LoopTempo(settings.LoopBeats(), format, dataSize);
        // A chunk that could not be read is no reason for a tempo of 120.
        if (h.ReadFailed()) throw vb::ErrnoError(h.LastErrno());
        settings.Tempo(tempo);
    }

    const int64_t fileSize = h.Size();

    AcidChunks acid = FindAcidChunks(table);
    if (acid.hasOdd) return Refuse(ui, path, OddAcidText(acid));

    // A chunk an interrupted run left behind the form is taken into it, once
    // the user has agreed to re-tagging.
    const int64_t leftBehind = InterruptedAppend(h, table, acid);
    if (h.ReadFailed()) throw vb::ErrnoError(h.LastErrno());
    if (leftBehind >= 0) acid.bodies.push_back(leftBehind + mmio::kChunkHeaderSize);

    const clsAcidSettings::Body body = settings.Contents();
    const std::vector<int64_t>& bodies = acid.bodies;
    if (!bodies.empty()) {
        if (bodies.back() + clsAcidSettings::kBodySize > fileSize) return Refuse(ui, path, kCutShort);
        if (retagAnswer != kAnswerYesToAll) {
            const int32_t answer = ui.AskToChange(ChangeQuestion::Retag, path, "Confirm Velorizing",
                                                  "Are you sure you want to re-Velorize the file '" + path + "'?");
            if (!TakeAnswer(answer, retagAnswer)) return;
            if (!f.StillThere()) return Refuse(ui, path, kChangedMeanwhile);
        }
        std::vector<clsAcidSettings::Body> former(bodies.size());
        for (size_t i = 0; i < bodies.size(); ++i) {
            h.Seek(bodies[i], mmio::kSeekSet);
            if (h.Read(former[i].data(), clsAcidSettings::kBodySize) != clsAcidSettings::kBodySize)
                throw vb::ErrnoError(h.LastErrno() ? h.LastErrno() : EIO);
        }
        FileChange change;
        change.lengthBefore = change.lengthAfter = fileSize;
        // The RIFF size: raised over the chunk an interrupted run left, or
        // only checked when the change is undone.
        change.patches.push_back(
            {4, Word32(table.form.cksize),
             Word32(leftBehind >= 0 ? static_cast<uint32_t>(mmio::RiffSizeOf(fileSize)) : table.form.cksize)});
        for (size_t i = 0; i < bodies.size(); ++i)
            change.patches.push_back({bodies[i], {former[i].begin(), former[i].end()}, {body.begin(), body.end()}});
        if (!f.Record(recorder, change, ui)) return;
        if (leftBehind >= 0) {
            // Finish what an interrupted run began: take its chunk into the form.
            h.Seek(4, mmio::kSeekSet);
            if (h.Write(change.patches[0].after.data(), 4) != 4 || !h.Flush()) throw vb::ErrnoError(h.LastErrno());
        }
        for (size_t i = 0; i < bodies.size(); ++i) {
            h.Seek(bodies[i], mmio::kSeekSet);
            if (!settings.WriteData(h, false, &ui)) {
                const int err = h.LastErrno();
                // Put back what the failed writes may have touched.
                bool restored = true;
                for (size_t j = 0; j <= i; ++j) {
                    h.Seek(bodies[j], mmio::kSeekSet);
                    restored = h.Write(former[j].data(), clsAcidSettings::kBodySize) >= 0 && h.Flush() && restored;
                }
                if (!restored)
                    throw PartialChange{ErrnoText(err) + ", and its former acid chunk could not be put back (" +
                                        ErrnoText(h.LastErrno()) + ")"};
                throw vb::ErrnoError(err ? err : EIO);
            }
        }
        return;
    }

    const AppendPlace place = PlaceForAppend(table, fileSize);
    if (place.refusal) return Refuse(ui, path, place.refusal);
    const int64_t appendAt = place.at;
    const bool writePad = place.pad;

    FileChange change;
    change.lengthBefore = fileSize;
    change.lengthAfter = appendAt + clsAcidSettings::kChunkSize;
    if (writePad) change.tail.push_back(0);
    change.tail.resize(change.tail.size() + mmio::kChunkHeaderSize);
    le::PutU32(change.tail.data() + change.tail.size() - 8, kAcid);
    le::PutU32(change.tail.data() + change.tail.size() - 4, clsAcidSettings::kBodySize);
    change.tail.insert(change.tail.end(), body.begin(), body.end());
    const auto riffAfter = static_cast<uint32_t>(mmio::RiffSizeOf(change.lengthAfter));
    change.patches.push_back({4, Word32(table.form.cksize), Word32(riffAfter)});
    if (!f.Record(recorder, change, ui)) return;

    // Write order: the new chunk reaches the disk (in the ascend inside
    // WriteData) before the RIFF size that takes it into the form. Whenever
    // the program is stopped, the file is the old form intact, possibly with
    // the new chunk lying behind it, which the next run completes.
    h.Seek(writePad ? appendAt - 1 : appendAt, mmio::kSeekSet);
    bool written = true;
    if (writePad) {
        const unsigned char zero = 0;
        written = h.Write(&zero, 1) == 1;
    }
    table.form.dwFlags |= mmio::MMIO_DIRTY;
    if (!written || !settings.WriteData(h, true, &ui) || h.Ascend(table.form, 0) != mmio::MMSYSERR_NOERROR) {
        const int err = h.LastErrno() ? h.LastErrno() : EIO;
        if (!h.Truncate(fileSize))
            throw PartialChange{ErrnoText(err) + ", and its former length could not be restored (" +
                                ErrnoText(h.LastErrno()) + ")"};
        throw vb::ErrnoError(err);
    }
}

}  // namespace

int32_t ReadWaveFormat(mmio::File& handle, const mmio::FormTable& form, size_t& next, WaveFormat& format) {
    const int at = form.Find(mmio::StringToFOURCC("fmt "), next);
    if (at < 0) return -1;
    next = static_cast<size_t>(at) + 1;
    // Plain (16), extended (18) and extensible (40) format chunks all begin with
    // the same 16 bytes.
    const mmio::ChunkEntry& ck = form.chunks[static_cast<size_t>(at)];
    unsigned char b[16];
    if (ck.size < 16 || mmio::ReadChunkData(handle, ck, b, 16) != 16) return -1;
    format.formatTag = le::U16(b);
    format.channels = le::U16(b + 2);
    format.samplesPerSec = le::U32(b + 4);
    format.avgBytesPerSec = le::U32(b + 8);
    format.blockAlign = le::U16(b + 12);
    format.bitsPerSample = le::U16(b + 14);
    return 0;
}

int32_t GetDataChunkSize(const mmio::FormTable& form, size_t& next, uint32_t& size) {
    const int at = form.Find(mmio::StringToFOURCC("data"), next);
    if (at < 0) return -1;
    next = static_cast<size_t>(at) + 1;
    size = form.chunks[static_cast<size_t>(at)].size;
    return 0;
}

float NearestFloat(__int128 num, uint64_t den) {
    if (num == 0 || den == 0) return 0.0f;
    const bool negative = num < 0;
    const auto n = static_cast<unsigned __int128>(negative ? -num : num);
    // A first guess, then an exact choice between it and its two neighbours:
    // dividing in floating point and rounding again to float can be off by one
    // unit when the quotient lies near a tie.
    const float guess = static_cast<float>(static_cast<long double>(n) / static_cast<long double>(den));
    const float candidates[3] = {std::nextafter(guess, 0.0f), guess,
                                 std::nextafter(guess, std::numeric_limits<float>::infinity())};
    struct Exact {
        unsigned __int128 m;
        int e;
    };
    Exact exact[3];
    int minExp = 0;
    for (int i = 0; i < 3; ++i) {
        int e = 0;
        const float frac = std::frexp(candidates[i], &e);
        exact[i] = {static_cast<unsigned __int128>(std::ldexp(frac, 24)), e - 24};
        minExp = std::min(minExp, exact[i].e);
    }
    const int scale = -minExp;  // compare n * 2^scale with m * den * 2^(e + scale)
    const unsigned __int128 target = n << scale;
    int best = 1;
    unsigned __int128 bestDistance = 0;
    for (int i = 0; i < 3; ++i) {
        const unsigned __int128 value = (exact[i].m * den) << (exact[i].e + scale);
        const unsigned __int128 distance = value > target ? value - target : target - value;
        const bool tieToEven = distance == bestDistance && (exact[i].m & 1) == 0;
        if (i == 0 || distance < bestDistance || tieToEven) {
            best = i;
            bestDistance = distance;
        }
    }
    return negative ? -candidates[best] : candidates[best];
}

uint64_t FrameCount(const WaveFormat& format, uint32_t dataSize) {
    if (format.blockAlign == 0 || format.channels == 0 || format.bitsPerSample == 0 || format.bitsPerSample % 8 != 0)
        return 0;
    return dataSize / format.blockAlign;
}

float LoopTempo(int32_t beats, const WaveFormat& format, uint32_t dataSize) {
    const uint64_t frames = FrameCount(format, dataSize);
    if (frames == 0) return kDefaultTempo;
    const __int128 product = static_cast<__int128>(beats) * 60 * format.samplesPerSec;
    return NearestFloat(product, frames);
}

void VelorizeFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer, int32_t& retagAnswer,
                  VelorizeUi& ui, ChangeRecorder* recorder) {
    ChangeFile(path, ui, [&](TargetFile& f) { Tag(f, path, settings, readOnlyAnswer, retagAnswer, ui, recorder); });
}

}  // namespace velorizer
