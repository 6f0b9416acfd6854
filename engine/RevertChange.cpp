#include "RevertChange.h"

#include "LittleEndian.h"
#include "TargetFile.h"

#include <algorithm>
#include <cerrno>
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
    if (h.ReadFailed()) throw vb::ErrnoError(h.LastErrno());
    return false;
}

// A change that could have been made: what a damaged record holds is never written.
bool Possible(const FileChange& c) {
    const int64_t low = std::min(c.lengthBefore, c.lengthAfter);
    if (low < 0 || c.tail.size() != static_cast<uint64_t>(std::max(c.lengthBefore, c.lengthAfter) - low)) return false;
    for (const BytePatch& p : c.patches)
        if (p.offset < 0 || p.after.empty() || p.before.size() != p.after.size() ||
            p.offset > low - static_cast<int64_t>(p.after.size()))
            return false;
    return true;
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

void Revert(TargetFile& f, const FileChange& c, int32_t& readOnlyAnswer, VelorizeUi& ui, RevertOutcome& outcome) {
    outcome = RevertOutcome::LeftAlone;
    if (!Possible(c)) return Refuse(ui, c.path, "the record of its change is damaged");
    if (!f.Open(c.path, ui)) return;
    if (static_cast<uint64_t>(f.Seen().st_dev) != c.device || static_cast<uint64_t>(f.Seen().st_ino) != c.inode)
        return Refuse(ui, c.path, "another file has taken its name since the run");
    State s = Inspect(f.Handle(), c);
    if (!s.differs.empty()) return Refuse(ui, c.path, s.differs);
    if (s.before) {
        outcome = RevertOutcome::AlreadyBefore;
        return;
    }
    if (f.ReadOnly()) {
        outcome = RevertOutcome::Declined;
        const std::string question = "Are you sure you want to undo the change to the read-only file '" + c.path + "'?";
        if (!f.MakeWritable(question, readOnlyAnswer, ui)) return;
        outcome = RevertOutcome::LeftAlone;
        s = Inspect(f.Handle(), c);
        if (!s.differs.empty()) return Refuse(ui, c.path, s.differs);
    }
    outcome = RevertOutcome::Failed;
    mmio::File& h = f.Handle();
    // errno still holds the failed call's error when this is thrown.
    const auto failed = [] { return PartialChange{ErrnoText(errno)}; };
    // The length first (see the header), settled on the disk before the bytes
    // in place; these go back in the reverse order of their writing.
    const int64_t length = h.Size();
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
}

}  // namespace

RevertOutcome RevertFileChange(const FileChange& change, int32_t& readOnlyAnswer, VelorizeUi& ui) {
    RevertOutcome outcome = RevertOutcome::Failed;
    ChangeFile(change.path, ui, [&](TargetFile& f) { Revert(f, change, readOnlyAnswer, ui, outcome); });
    return outcome;
}

}  // namespace velorizer
