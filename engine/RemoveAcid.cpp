#include "RemoveAcid.h"

#include "TagVerdicts.h"
#include "TargetFile.h"
#include "clsAcidSettings.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace velorizer {

namespace {

// What removing the file's acid chunks writes, read from the file as it is now:
// a refusal, or `nothing` when there is no acid chunk to remove.
Verdict PlanRemoval(TargetFile& f, FileChange& change, bool& nothing) {
    mmio::File& h = f.Handle();
    mmio::FormTable table;
    const int32_t entered = mmio::ReadForm(h, kWave, table);
    if (entered == mmio::MMIOERR_CANNOTREAD) FailWith(h.LastErrno());
    if (entered != mmio::MMSYSERR_NOERROR) return Verdict::Of(Reason::NotWave);
    // The same verdicts as tagging: what tagging would not touch is not touched here.
    if (table.tooMany) return Verdict::Of(Reason::TooManyChunks);
    const AcidChunks acid = FindAcidChunks(table);
    if (acid.hasOdd) return {Reason::OddAcid, 0, acid.oddSize, {}};
    const int64_t behind = InterruptedAppend(h, table, acid);
    if (h.ReadFailed()) FailWith(h.LastErrno());
    nothing = acid.bodies.empty() && behind < 0;
    if (nothing) return {};
    // Only now does it matter whether this user may write the file.
    if (f.WriteVerdict().Refuses()) return f.WriteVerdict();

    const int64_t fileSize = h.Size();
    if (!acid.bodies.empty() && acid.bodies.back() + clsAcidSettings::kBodySize > fileSize)
        return Verdict::Of(Reason::CutShort);
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
    if (tailSize > 0 && h.Read(change.tail.data(), tailSize) != tailSize) FailWith(h.LastErrno());
    return {};
}

Outcome Remove(TargetFile& f, const std::string& path, int32_t& readOnlyAnswer, VelorizeUi& ui,
               ChangeRecorder* recorder, const FileHooks& hooks) {
    const Verdict opened = f.Open(path, true);
    if (opened.Refuses()) return LeftAlone(path, opened);
    if (hooks.claim && !hooks.claim(static_cast<uint64_t>(f.Seen().st_dev), static_cast<uint64_t>(f.Seen().st_ino))) {
        Outcome taken;
        taken.why = Verdict::Of(Reason::SameFile);
        return taken;
    }
    FileChange change;
    bool nothing = false;
    Verdict planned = PlanRemoval(f, change, nothing);
    if (planned.Refuses()) return LeftAlone(path, planned);
    if (nothing) return Outcome{};
    if (f.ReadOnly()) {
        const std::string question =
            "Are you sure you want to remove the loop information from the read-only file '" + path + "'?";
        if (readOnlyAnswer != kAnswerYesToAll) {
            const int32_t answer = ui.AskToChange(ChangeQuestion::ReadOnly, path, "Confirm Velorizing", question);
            if (!TakeAnswer(answer, readOnlyAnswer)) {
                Outcome o;
                o.result = answer == kAnswerCancel ? Result::Cancelled : Result::Declined;
                return o;
            }
        }
        const Verdict writable = f.MakeWritable();
        if (writable.Refuses()) return LeftAlone(path, writable);
        // Planned again on what the writable descriptor sees.
        FileChange again;
        planned = PlanRemoval(f, again, nothing);
        if (planned.Refuses()) return LeftAlone(path, planned);
        if (nothing || again != change) return LeftAlone(path, Verdict::Of(Reason::ChangedMeanwhile));
    }
    const Verdict recorded = f.Record(recorder, change);
    if (recorded.Refuses()) return LeftAlone(path, recorded);

    // Renames first; then the cut, and only then the lower RIFF size. Stopped
    // between the two, the file is a form that declares more than it holds,
    // which the tagger refuses: never a form with an acid chunk behind it,
    // which it would take in again.
    mmio::File& h = f.Handle();
    if (!f.LengthIs(change.lengthBefore)) return LeftAlone(path, Verdict::Of(Reason::ChangedMeanwhile));
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
    if (riff.after != riff.before) {
        h.Seek(riff.offset, mmio::kSeekSet);
        if (h.Write(riff.after.data(), 4) != 4 || !Settle(h)) throw failed();
    }
    if (!f.LengthIs(change.lengthAfter)) throw PartialChange{"it changed while its loop information was being removed"};
    Outcome done;
    done.result = Result::Written;
    return done;
}

}  // namespace

Outcome RemoveAcidChunks(const std::string& path, int32_t& readOnlyAnswer, VelorizeUi& ui, ChangeRecorder* recorder,
                         const FileHooks& hooks) {
    return ChangeFile(path, [&](TargetFile& f) { return Remove(f, path, readOnlyAnswer, ui, recorder, hooks); });
}

}  // namespace velorizer
