#include "Velorize.h"

#include "LittleEndian.h"
#include "Mmio.h"
#include "RiffForm.h"
#include "TagVerdicts.h"
#include "TargetFile.h"

#include <cerrno>
#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velorizer {

namespace {

// The form as tagging reads it, and what it finds there.
struct Layout {
    mmio::FormTable table;
    AcidChunks acid;          // with the chunk an interrupted append left behind the form
    int64_t leftBehind = -1;  // that chunk's header, or -1
    AppendPlace place;        // where a new chunk goes, when there is none
    int64_t size = 0;
};

// Reads the layout and what tagging would find in it (`found`); the verdict
// for what tagging must not touch. A read the system refuses is thrown.
Verdict ReadLayout(mmio::File& h, Layout& l, Inspection& found, bool wantFormat) {
    const int32_t entered = mmio::ReadForm(h, kWave, l.table);
    if (entered == mmio::MMIOERR_CANNOTREAD) FailWith(h.LastErrno());
    // Verdicts that leave the file's acid chunks unread, too.
    const auto unreadable = [&](Verdict why) {
        found.unreadable = why;
        return why;
    };
    if (entered != mmio::MMSYSERR_NOERROR) return unreadable(Verdict::Of(Reason::NotWave));
    found.wave = true;
    l.size = h.Size();
    if (wantFormat) {
        size_t next = 0;
        found.hasFormat = ReadWaveFormat(h, l.table, next, found.format) == 0;
        if (found.hasFormat) {
            const int at = l.table.Find(mmio::StringToFOURCC("data"), next);
            found.hasData = at >= 0;
            if (found.hasData) {
                found.dataSize = l.table.chunks[static_cast<size_t>(at)].size;
                found.dataOffset = l.table.chunks[static_cast<size_t>(at)].dataOffset;
                found.frames = FrameCount(found.format, found.dataSize);
            }
        }
        // A chunk that could not be read is no reason for a tempo of 120.
        if (h.ReadFailed()) FailWith(h.LastErrno());
    }
    for (const mmio::ChunkEntry& ck : l.table.chunks) found.acidChunks += ck.id == kAcid;
    if (l.table.tooMany) return unreadable(Verdict::Of(Reason::TooManyChunks));
    l.acid = FindAcidChunks(l.table);
    if (l.acid.hasOdd) return unreadable({Reason::OddAcid, 0, l.acid.oddSize, {}});
    l.leftBehind = InterruptedAppend(h, l.table, l.acid);
    if (h.ReadFailed()) FailWith(h.LastErrno());
    if (l.leftBehind >= 0) {
        l.acid.bodies.push_back(l.leftBehind + mmio::kChunkHeaderSize);
        ++found.acidChunks;
    }
    const std::vector<int64_t>& bodies = l.acid.bodies;
    if (!bodies.empty() && bodies.back() + clsAcidSettings::kBodySize > l.size)
        return unreadable(Verdict::Of(Reason::CutShort));
    for (const int64_t offset : bodies) {
        clsAcidSettings::Body body{};
        h.Seek(offset, mmio::kSeekSet);
        if (h.Read(body.data(), clsAcidSettings::kBodySize) != clsAcidSettings::kBodySize)
            FailWith(h.LastErrno() ? h.LastErrno() : EIO);
        found.bodies.push_back(body);
    }
    if (bodies.empty()) {
        l.place = PlaceForAppend(l.table, l.size);
        if (l.place.refusal != Reason::None) return Verdict::Of(l.place.refusal);
    }
    return {};
}

// What writing `body` into a file of this layout changes, byte for byte.
FileChange TagChange(const Layout& l, const Inspection& found, const clsAcidSettings::Body& body) {
    FileChange change;
    const std::vector<int64_t>& bodies = l.acid.bodies;
    if (!bodies.empty()) {
        change.lengthBefore = change.lengthAfter = l.size;
        // The RIFF size: raised over the chunk an interrupted run left, or
        // only checked when the change is undone.
        const uint32_t riff = l.table.form.cksize;
        change.patches.push_back(
            {4, Word32(riff), Word32(l.leftBehind >= 0 ? static_cast<uint32_t>(mmio::RiffSizeOf(l.size)) : riff)});
        for (size_t i = 0; i < bodies.size(); ++i)
            change.patches.push_back(
                {bodies[i], {found.bodies[i].begin(), found.bodies[i].end()}, {body.begin(), body.end()}});
        return change;
    }
    change.lengthBefore = l.size;
    change.lengthAfter = l.place.at + clsAcidSettings::kChunkSize;
    if (l.place.pad) change.tail.push_back(0);
    change.tail.resize(change.tail.size() + mmio::kChunkHeaderSize);
    le::PutU32(change.tail.data() + change.tail.size() - 8, kAcid);
    le::PutU32(change.tail.data() + change.tail.size() - 4, clsAcidSettings::kBodySize);
    change.tail.insert(change.tail.end(), body.begin(), body.end());
    change.patches.push_back(
        {4, Word32(l.table.form.cksize), Word32(static_cast<uint32_t>(mmio::RiffSizeOf(change.lengthAfter)))});
    return change;
}

// A plan and the layout it was made from.
struct Planned {
    FilePlan plan;
    Layout layout;
};

// Plans tagging on the open file. `settings` is the run's record on the way
// in and this file's on the way out.
Planned PlanOn(TargetFile& f, clsAcidSettings& settings, const ChooseSettings& choose, bool wantFormat) {
    Planned p;
    FilePlan& plan = p.plan;
    plan.path = f.Path();
    plan.readOnly = f.ReadOnly();
    plan.found.device = static_cast<uint64_t>(f.Seen().st_dev);
    plan.found.inode = static_cast<uint64_t>(f.Seen().st_ino);
    const int32_t mode = settings.Mode();
    const bool loop = mode == kModeLoop || mode == kModeLoopRoot;
    // The whole form is read, so that a file never ends up with two acid
    // chunks that say different things.
    const Verdict layout = ReadLayout(f.Handle(), p.layout, plan.found, wantFormat || loop || choose);
    // What this user can't write is the first thing tagging meets.
    plan.refusal = f.WriteVerdict().Refuses() ? f.WriteVerdict() : layout;
    if (!plan.refusal.Refuses() && choose) {
        Choice chosen = choose(plan.path, plan.found, settings);
        plan.note = std::move(chosen.note);
        plan.refusal = std::move(chosen.skip);
    }
    if (settings.Mode() == kModeLoop || settings.Mode() == kModeLoopRoot)
        settings.Tempo(plan.found.LoopTempoFor(settings.LoopBeats()));
    plan.settings = settings;
    plan.found.refusal = plan.refusal;
    if (plan.refusal.Refuses()) return p;
    plan.retag = !p.layout.acid.bodies.empty();
    plan.change = TagChange(p.layout, plan.found, settings.Contents());
    plan.change.path = f.Path();
    plan.change.device = static_cast<uint64_t>(f.Seen().st_dev);
    plan.change.inode = static_cast<uint64_t>(f.Seen().st_ino);
    plan.change.modifiedNs =
        int64_t{f.Seen().st_mtim.tv_sec} * 1000000000 + static_cast<int64_t>(f.Seen().st_mtim.tv_nsec);
    return p;
}

// The change a plan holds, made. The file is checked to be as long as the plan
// found it right before the first write and as long as the change makes it
// right after the last, so that a file another program cut or grew meanwhile
// is never extended or left with a chunk behind its end.
void Commit(TargetFile& f, Layout& l, const FileChange& change, const clsAcidSettings& settings) {
    mmio::File& h = f.Handle();
    if (!f.LengthIs(change.lengthBefore)) throw Stop{Verdict::Of(Reason::ChangedMeanwhile)};
    const std::vector<int64_t>& bodies = l.acid.bodies;
    if (!bodies.empty()) {
        // Put back what the failed writes may have touched.
        const auto putBack = [&](size_t upTo) {
            struct stat now = {};
            if (::fstat(h.Descriptor(), &now) != 0) return false;
            bool restored = true;
            for (size_t j = 0; j <= upTo && j < bodies.size(); ++j) {
                const BytePatch& p = change.patches[j + 1];
                if (p.offset + clsAcidSettings::kBodySize > now.st_size) continue;  // never past the end
                h.Seek(p.offset, mmio::kSeekSet);
                restored = h.Write(p.before.data(), clsAcidSettings::kBodySize) >= 0 && h.Flush() && restored;
            }
            const BytePatch& riff = change.patches[0];
            if (riff.after != riff.before) {
                h.Seek(4, mmio::kSeekSet);
                restored = h.Write(riff.before.data(), 4) == 4 && h.Flush() && restored;
            }
            return restored;
        };
        if (l.leftBehind >= 0) {
            // Finish what an interrupted run began: take its chunk into the form.
            h.Seek(4, mmio::kSeekSet);
            if (h.Write(change.patches[0].after.data(), 4) != 4 || !h.Flush()) FailWith(h.LastErrno());
        }
        for (size_t i = 0; i < bodies.size(); ++i) {
            h.Seek(bodies[i], mmio::kSeekSet);
            if (!settings.WriteData(h, false)) {
                const int err = h.LastErrno() ? h.LastErrno() : EIO;
                if (!putBack(i))
                    throw PartialChange{ErrnoText(err) + ", and its former acid chunk could not be put back (" +
                                            ErrnoText(h.LastErrno()) + ")",
                                        true};
                throw Stop{Verdict::Errno(Reason::System, err), true, true};
            }
        }
        if (!f.LengthIs(change.lengthAfter)) {
            if (!putBack(bodies.size())) throw PartialChange{"it changed while it was being tagged"};
            throw Stop{Verdict::Of(Reason::ChangedMeanwhile), true};
        }
        return;
    }

    const int64_t fileSize = change.lengthBefore;
    const bool writePad = l.place.pad;
    // Write order: the new chunk reaches the disk (in the ascend inside
    // WriteData) before the RIFF size that takes it into the form. Whenever
    // the program is stopped, the file is the old form intact, possibly with
    // the new chunk lying behind it, which the next run completes.
    h.Seek(writePad ? l.place.at - 1 : l.place.at, mmio::kSeekSet);
    bool written = true;
    if (writePad) {
        const unsigned char zero = 0;
        written = h.Write(&zero, 1) == 1;
    }
    const bool chunkWritten = written && settings.WriteData(h, true);
    l.table.form.dwFlags |= mmio::MMIO_DIRTY;
    if (!chunkWritten || h.Ascend(l.table.form, 0) != mmio::MMSYSERR_NOERROR) {
        const int err = h.LastErrno() ? h.LastErrno() : EIO;
        if (!h.Truncate(fileSize))
            throw PartialChange{
                ErrnoText(err) + ", and its former length could not be restored (" + ErrnoText(h.LastErrno()) + ")",
                !chunkWritten};
        throw Stop{Verdict::Errno(Reason::System, err), true, !chunkWritten};
    }
    if (!f.LengthIs(change.lengthAfter)) {
        // Another program cut or grew the file while it was written. Our bytes
        // went to its end as it was then (never with zeros in front of them):
        // where they still end the file they go, and the RIFF size goes back.
        struct stat now = {};
        bool back = ::fstat(h.Descriptor(), &now) == 0;
        const auto ours = static_cast<int64_t>(change.tail.size());
        if (back && now.st_size >= ours) {
            // Read past the handle's cache: the file is not what it read.
            std::vector<uint8_t> last(change.tail.size());
            back = ::pread(h.Descriptor(), last.data(), last.size(), now.st_size - ours) == ours &&
                   last == change.tail && h.Truncate(now.st_size - ours);
        }
        if (back && std::min<int64_t>(now.st_size, change.lengthBefore) >= 8) {
            h.Seek(4, mmio::kSeekSet);
            back = h.Write(change.patches[0].before.data(), 4) == 4 && h.Flush();
        }
        if (!back) throw PartialChange{"it changed while it was being tagged"};
        throw Stop{Verdict::Of(Reason::ChangedMeanwhile), true};
    }
}

Outcome Declined(int32_t answer) {
    Outcome o;
    o.result = answer == kAnswerCancel ? Result::Cancelled : Result::Declined;
    return o;
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

namespace {

// The file is the run's to take, or it was taken under another name already.
bool Claimed(const TargetFile& f, const FileHooks& hooks) {
    return !hooks.claim || hooks.claim(static_cast<uint64_t>(f.Seen().st_dev), static_cast<uint64_t>(f.Seen().st_ino));
}

Outcome TakenAlready() {
    Outcome o;
    o.why = Verdict::Of(Reason::SameFile);
    return o;
}

}  // namespace

FilePlan PlanTag(const std::string& path, const clsAcidSettings& settings, const FileHooks& hooks, bool judgeWriting) {
    FilePlan plan;
    clsAcidSettings own = settings;
    const Outcome looked = ChangeFile(path, [&](TargetFile& f) {
        const Verdict opened = f.Open(path, false, judgeWriting);
        if (opened.Refuses()) return LeftAlone(path, opened);
        if (!Claimed(f, hooks)) return TakenAlready();
        Planned p = PlanOn(f, own, hooks.choose, true);
        plan = std::move(p.plan);
        return Outcome{};
    });
    plan.path = path;
    if (looked.why.reason == Reason::SameFile) {
        plan.refusal = looked.why;
    } else if (looked.result != Result::Unchanged) {
        // Nothing could be read: the reason stands for the plan and the look.
        plan.refusal = looked.why;
        plan.found.refusal = looked.why;
        plan.found.unreadable = looked.why;
        plan.settings = own;
    }
    return plan;
}

Outcome VelorizeFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer, int32_t& retagAnswer,
                     VelorizeUi& ui, ChangeRecorder* recorder, const FileHooks& hooks) {
    std::string note;
    Outcome o = ChangeFile(path, [&](TargetFile& f) {
        const Verdict opened = f.Open(path, true);
        if (opened.Refuses()) return LeftAlone(path, opened);
        if (!Claimed(f, hooks)) return TakenAlready();
        Planned p = PlanOn(f, settings, hooks.choose, false);
        note = p.plan.note;
        if (p.plan.refusal.Refuses()) return LeftAlone(path, p.plan.refusal);
        if (p.plan.readOnly) {
            if (readOnlyAnswer != kAnswerYesToAll) {
                const int32_t answer =
                    ui.AskToChange(ChangeQuestion::ReadOnly, path, "Confirm Velorizing",
                                   "Are you sure you want to Velorize the read-only file '" + path + "'?");
                if (!TakeAnswer(answer, readOnlyAnswer)) return Declined(answer);
            }
            const Verdict writable = f.MakeWritable();
            if (writable.Refuses()) return LeftAlone(path, writable);
            // Planned again on what the writable descriptor sees, with the
            // record already chosen: the question may have taken a while.
            clsAcidSettings chosen = settings;
            Planned again = PlanOn(f, chosen, {}, false);
            if (again.plan.refusal.Refuses() || again.plan.change != p.plan.change)
                return LeftAlone(path, Verdict::Of(Reason::ChangedMeanwhile));
            p.layout = std::move(again.layout);
        }
        if (p.plan.retag && retagAnswer != kAnswerYesToAll) {
            const int32_t answer = ui.AskToChange(ChangeQuestion::Retag, path, "Confirm Velorizing",
                                                  "Are you sure you want to re-Velorize the file '" + path + "'?");
            if (!TakeAnswer(answer, retagAnswer)) return Declined(answer);
            if (!f.StillThere()) return LeftAlone(path, Verdict::Of(Reason::ChangedMeanwhile));
        }
        const Verdict recorded = f.Record(recorder, p.plan.change);
        if (recorded.Refuses()) return LeftAlone(path, recorded);
        Commit(f, p.layout, p.plan.change, settings);
        Outcome written;
        written.result = Result::Written;
        return written;
    });
    o.note = std::move(note);
    return o;
}

}  // namespace velorizer
