#include "RemoveAcid.h"

#include "TagVerdicts.h"
#include "TargetFile.h"
#include "clsAcidSettings.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace velorizer {

namespace {

enum class Plan { Refused, Nothing, Change };

// What removing the file's acid chunks writes, read from the file as it is now.
Plan PlanRemoval(TargetFile& f, VelorizeUi& ui, FileChange& change) {
    mmio::File& h = f.Handle();
    const std::string& path = f.Path();
    mmio::FormTable table;
    const int32_t entered = mmio::ReadForm(h, kWave, table);
    if (entered == mmio::MMIOERR_CANNOTREAD) throw vb::ErrnoError(h.LastErrno());
    if (entered != mmio::MMSYSERR_NOERROR)
        throw vb::RunTimeError(kVelorizeError, "mmioDescend failed on " + path, "VelorizeFile");
    // The same verdicts as tagging: what tagging would not touch is not touched here.
    if (table.tooMany) return Refuse(ui, path, kTooManyChunks), Plan::Refused;
    const AcidChunks acid = FindAcidChunks(table);
    if (acid.hasOdd) return Refuse(ui, path, OddAcidText(acid)), Plan::Refused;
    const int64_t behind = InterruptedAppend(h, table, acid);
    if (h.ReadFailed()) throw vb::ErrnoError(h.LastErrno());
    if (acid.bodies.empty() && behind < 0) return Plan::Nothing;

    const int64_t fileSize = h.Size();
    if (!acid.bodies.empty() && acid.bodies.back() + clsAcidSettings::kBodySize > fileSize)
        return Refuse(ui, path, kCutShort), Plan::Refused;
    change = FileChange{};
    change.lengthBefore = change.lengthAfter = fileSize;
    if (behind >= 0) {
        // Behind the form: the zero pad byte the append may have written goes too.
        change.lengthAfter = table.FormEnd();
    } else {
        const mmio::ChunkEntry& last = table.chunks.back();
        const bool endsFile = last.id == kAcid && last.DataEnd() == table.FormEnd() && table.FormEnd() == fileSize;
        for (const int64_t body : acid.bodies) {
            const int64_t header = body - mmio::kChunkHeaderSize;
            if (endsFile && body == last.dataOffset) change.lengthAfter = header;
            else change.patches.push_back({header, Word32(kAcid), Word32(mmio::StringToFOURCC("JUNK"))});
        }
    }
    // Last, the RIFF size: lowered when the cut was inside the form, else only checked.
    const bool inside = behind < 0 && change.lengthAfter < fileSize;
    change.patches.push_back(
        {4, Word32(table.form.cksize),
         Word32(inside ? static_cast<uint32_t>(mmio::RiffSizeOf(change.lengthAfter)) : table.form.cksize)});
    change.tail.resize(static_cast<size_t>(fileSize - change.lengthAfter));
    h.Seek(change.lengthAfter, mmio::kSeekSet);
    const auto tailSize = static_cast<int64_t>(change.tail.size());
    if (tailSize > 0 && h.Read(change.tail.data(), tailSize) != tailSize)
        throw vb::ErrnoError(h.LastErrno() ? h.LastErrno() : EIO);
    return Plan::Change;
}

void Remove(TargetFile& f, const std::string& path, int32_t& readOnlyAnswer, VelorizeUi& ui, ChangeRecorder* recorder) {
    if (!f.Open(path, ui)) return;
    FileChange change;
    if (PlanRemoval(f, ui, change) != Plan::Change) return;
    if (f.ReadOnly()) {
        const std::string question =
            "Are you sure you want to remove the loop information from the read-only file '" + path + "'?";
        if (!f.MakeWritable(question, readOnlyAnswer, ui)) return;
        // Planned again on what the writable descriptor sees.
        if (PlanRemoval(f, ui, change) != Plan::Change) return;
    }
    if (!f.Record(recorder, change, ui)) return;

    // Renames first; then the cut, and only then the lower RIFF size. Stopped
    // between the two, the file is a form that declares more than it holds,
    // which the tagger refuses: never a form with an acid chunk behind it,
    // which it would take in again.
    mmio::File& h = f.Handle();
    // errno still holds the failed call's error when this is thrown.
    const auto failed = [] { return PartialChange{ErrnoText(errno)}; };
    const size_t renames = change.patches.size() - 1;
    for (size_t i = 0; i < renames; ++i) {
        h.Seek(change.patches[i].offset, mmio::kSeekSet);
        if (h.Write(change.patches[i].after.data(), 4) != 4) throw failed();
    }
    if (renames > 0 && !Settle(h)) throw failed();
    if (change.lengthAfter < change.lengthBefore &&
        (!h.Truncate(change.lengthAfter) || ::fdatasync(h.Descriptor()) != 0))
        throw failed();
    const BytePatch& riff = change.patches.back();
    if (riff.after == riff.before) return;
    h.Seek(riff.offset, mmio::kSeekSet);
    if (h.Write(riff.after.data(), 4) != 4 || !Settle(h)) throw failed();
}

}  // namespace

void RemoveAcidChunks(const std::string& path, int32_t& readOnlyAnswer, VelorizeUi& ui, ChangeRecorder* recorder) {
    ChangeFile(path, ui, [&](TargetFile& f) { Remove(f, path, readOnlyAnswer, ui, recorder); });
}

}  // namespace velorizer
