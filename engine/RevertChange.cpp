#include "RevertChange.h"

#include "LittleEndian.h"
#include "TargetFile.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace velorizer {

namespace {

// Where the file stands against the change.
struct State {
    std::string differs;     // what is not as the change left it; empty when all is
    std::vector<bool> done;  // each patch: its new bytes are in place
    bool before = false;     // the file is as it was before the change
};

bool ReadAt(mmio::File& h, int64_t offset, std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return true;
    h.Seek(offset, mmio::kSeekSet);
    const auto n = static_cast<int64_t>(bytes.size());
    if (h.Read(bytes.data(), n) == n) return true;
    if (h.ReadFailed()) FailWith(h.LastErrno());
    return false;
}

// A RIFF size a form of `length` bytes can have had before or after a change:
// a form that fills the file, or one behind which lie the pad byte of its
// last chunk and one 32-byte chunk an interrupted append left.
bool RiffFits(const std::vector<uint8_t>& size, int64_t length) {
    const int64_t form = le::U32(size.data()) + int64_t{8};
    return form <= length && form >= length - 33;
}

// A change that could have been made: what a damaged record holds is never written.
bool Possible(const FileChange& c) {
    const int64_t low = std::min(c.lengthBefore, c.lengthAfter);
    if (low < 8 || c.tail.size() != static_cast<uint64_t>(std::max(c.lengthBefore, c.lengthAfter) - low)) return false;
    for (const BytePatch& p : c.patches) {
        if (p.offset < 0 || p.after.empty() || p.before.size() != p.after.size() ||
            p.offset > low - static_cast<int64_t>(p.after.size()))
            return false;
        if (p.offset == 4 &&
            (p.after.size() != 4 || !RiffFits(p.before, c.lengthBefore) || !RiffFits(p.after, c.lengthAfter)))
            return false;
    }
    return true;
}

// Whether the file at hand is a RIFF WAVE form, as every change was made to one.
bool IsWaveForm(mmio::File& h) {
    std::vector<uint8_t> head(12);
    return ReadAt(h, 0, head) && std::equal(head.begin(), head.begin() + 4, "RIFF") &&
           std::equal(head.begin() + 8, head.end(), "WAVE");
}

std::string Changed(const std::string& what) { return "it has changed since the run (" + what + ")"; }

State Inspect(mmio::File& h, const FileChange& c) {
    State s;
    const int64_t length = h.Size();
    const int64_t low = std::min(c.lengthBefore, c.lengthAfter);
    const int64_t high = std::max(c.lengthBefore, c.lengthAfter);
    if (length < low || length > high) {
        s.differs = Changed("it is " + std::to_string(length) + " bytes long, not " + std::to_string(c.lengthAfter));
        return s;
    }
    // Between the two lengths lies what the change appended, or what it cut
    // off and a revert has begun to put back.
    std::vector<uint8_t> tail(static_cast<size_t>(length - low));
    if (!ReadAt(h, low, tail) || !std::equal(tail.begin(), tail.end(), c.tail.begin())) {
        s.differs = Changed("the bytes from offset " + std::to_string(low) + " on are not those the run wrote");
        return s;
    }
    s.before = length == c.lengthBefore;
    for (const BytePatch& p : c.patches) {
        std::vector<uint8_t> now(p.after.size());
        const bool read = ReadAt(h, p.offset, now);
        if (read && now == p.after && p.after != p.before) {
            s.done.push_back(true);
            s.before = false;
        } else if (read && now == p.before) {
            s.done.push_back(false);
        } else if (read && p.offset == 4 && now.size() == 4) {
            s.differs = Changed("its RIFF size is " + std::to_string(le::U32(now.data())) + ", not " +
                                std::to_string(le::U32(p.after.data())));
            return s;
        } else {
            s.differs = Changed("the " + std::to_string(p.after.size()) + " bytes at offset " +
                                std::to_string(p.offset) + " are not those the run wrote");
            return s;
        }
    }
    return s;
}

int64_t Ns(const struct timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; }

Outcome Revert(TargetFile& f, const FileChange& c, int32_t& readOnlyAnswer, VelorizeUi& ui, RevertOutcome& outcome,
               const LeftAs* leftAs) {
    outcome = RevertOutcome::LeftAlone;
    const auto leftAlone = [&](Verdict why) { return LeftAlone(c.path, std::move(why)); };
    if (!Possible(c)) return leftAlone(Verdict::Of(Reason::Damaged));
    const Verdict opened = f.Open(c.path, true);
    if (opened.Refuses()) return leftAlone(opened);
    if (static_cast<uint64_t>(f.Seen().st_dev) != c.device || static_cast<uint64_t>(f.Seen().st_ino) != c.inode)
        return leftAlone(Verdict::Of(Reason::Replaced));
    if (!IsWaveForm(f.Handle())) return leftAlone(Verdict::Text(Reason::NotAsLeft, Changed("it is no RIFF WAVE form")));
    // Changed elsewhere since the run, by what the run left: its length and
    // modification time right after its change.
    const bool elsewhere = leftAs && leftAs->length >= 0 &&
                           (f.Seen().st_size != leftAs->length || Ns(f.Seen().st_mtim) != leftAs->modifiedNs);
    State s = Inspect(f.Handle(), c);
    if (!s.differs.empty()) return leftAlone(Verdict::Text(Reason::NotAsLeft, s.differs));
    if (s.before) {
        outcome = RevertOutcome::AlreadyBefore;
        return Outcome{};
    }
    if (f.WriteVerdict().Refuses()) return leftAlone(f.WriteVerdict());
    if (f.ReadOnly()) {
        outcome = RevertOutcome::Declined;
        const std::string question = "Are you sure you want to undo the change to the read-only file '" + c.path + "'?";
        if (readOnlyAnswer != kAnswerYesToAll) {
            const int32_t answer = ui.AskToChange(ChangeQuestion::ReadOnly, c.path, "Confirm Velorizing", question);
            if (!TakeAnswer(answer, readOnlyAnswer)) {
                Outcome o;
                o.result = answer == kAnswerCancel ? Result::Cancelled : Result::Declined;
                return o;
            }
        }
        outcome = RevertOutcome::LeftAlone;
        const Verdict writable = f.MakeWritable();
        if (writable.Refuses()) return leftAlone(writable);
        s = Inspect(f.Handle(), c);
        if (!s.differs.empty()) return leftAlone(Verdict::Text(Reason::NotAsLeft, s.differs));
    }
    outcome = RevertOutcome::Failed;
    mmio::File& h = f.Handle();
    // errno still holds the failed call's error when this is thrown.
    const auto failed = [] { return PartialChange{ErrnoText(errno)}; };
    // The length first (see the header), settled on the disk before the bytes
    // in place; these go back in the reverse order of their writing.
    const int64_t length = h.Size();
    if (!f.LengthIs(length)) return leftAlone(Verdict::Of(Reason::ChangedMeanwhile));
    if (length > c.lengthBefore) {
        if (!h.Truncate(c.lengthBefore) || ::fdatasync(h.Descriptor()) != 0) throw failed();
    } else if (length < c.lengthBefore) {
        const auto from = static_cast<size_t>(length - c.lengthAfter);
        h.Seek(length, mmio::kSeekSet);
        const auto n = static_cast<int64_t>(c.tail.size() - from);
        if (h.Write(c.tail.data() + from, n) != n || !Settle(h)) throw failed();
    }
    for (size_t i = c.patches.size(); i-- > 0;) {
        if (!s.done[i]) continue;
        const BytePatch& p = c.patches[i];
        h.Seek(p.offset, mmio::kSeekSet);
        const auto n = static_cast<int64_t>(p.before.size());
        if (h.Write(p.before.data(), n) != n || !h.Flush()) throw failed();
    }
    if (!Settle(h)) throw failed();
    outcome = RevertOutcome::Restored;
    Outcome o;
    o.result = Result::Written;
    if (elsewhere) {
        o.note = "restored what the run changed; the file was also changed elsewhere since";
    } else if (c.modifiedNs > 0) {
        // As it was before the run, its modification time too (where the
        // file is ours to give one).
        const timespec times[2] = {{0, UTIME_OMIT}, {c.modifiedNs / 1000000000, c.modifiedNs % 1000000000}};
        (void)::futimens(h.Descriptor(), times);
    }
    return o;
}

}  // namespace

RevertOutcome RevertFileChange(const FileChange& change, int32_t& readOnlyAnswer, VelorizeUi& ui, Outcome* told,
                               const LeftAs* leftAs) {
    RevertOutcome outcome = RevertOutcome::Failed;
    Outcome o =
        ChangeFile(change.path, [&](TargetFile& f) { return Revert(f, change, readOnlyAnswer, ui, outcome, leftAs); });
    // A failure after the first write is a failure; one before it left the file alone.
    if (outcome == RevertOutcome::Failed && o.result == Result::Refused) outcome = RevertOutcome::LeftAlone;
    if (o.result == Result::MayHaveChanged) outcome = RevertOutcome::Failed;
    if (told) *told = std::move(o);
    return outcome;
}

ChangeState StateOf(const FileChange& change) {
    ChangeState state = ChangeState::Other;
    ChangeFile(change.path, [&](TargetFile& f) {
        if (!Possible(change) || f.Open(change.path, false).Refuses() ||
            static_cast<uint64_t>(f.Seen().st_dev) != change.device ||
            static_cast<uint64_t>(f.Seen().st_ino) != change.inode)
            return Outcome{};
        const State s = Inspect(f.Handle(), change);
        if (s.differs.empty()) state = s.before ? ChangeState::Before : ChangeState::Changed;
        return Outcome{};
    });
    return state;
}

}  // namespace velorizer
