#include "TargetFile.h"

#include "LittleEndian.h"
#include "RunTimeError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace velorizer {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// What keeps this user from writing a file, as opposed to a file that is gone.
bool DeniesWriting(int err) { return err == EACCES || err == EPERM || err == EROFS || err == ETXTBSY; }

struct Opened {
    int fd = -1;
    int err = 0;
    bool changed = false;  // the path names another file now
    struct stat st = {};
};

// Opens the path and makes sure it is still the file first looked at (`seen`).
// A path that was no link is opened without following one, so a link put in
// its place is never followed.
Opened OpenSame(const std::string& path, bool viaLink, bool writable, const struct stat& seen) {
    Opened o;
    // O_NONBLOCK: a FIFO swapped in must not block the open.
    const int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (viaLink ? 0 : O_NOFOLLOW);
    o.fd = ::open(path.c_str(), flags);
    if (o.fd < 0) {
        const int e = o.err = errno;
        o.changed = e == ENOENT || e == ENOTDIR || e == EISDIR || e == ENXIO || (e == ELOOP && !viaLink);
        return o;
    }
    if (::fstat(o.fd, &o.st) != 0 || !S_ISREG(o.st.st_mode) || !SameFile(o.st, seen)) {
        ::close(o.fd);
        o.fd = -1;
        o.changed = true;
    }
    return o;
}

}  // namespace

void FailWith(int err) { throw Stop{Verdict::Errno(Reason::System, err != 0 ? err : EIO)}; }

Outcome LeftAlone(const std::string& path, Verdict why) {
    Outcome o;
    o.path = path;
    o.result = why.reason == Reason::ChangedMeanwhile ? Result::ChangedMeanwhile : Result::Refused;
    o.why = std::move(why);
    return o;
}

bool TakeAnswer(int32_t answer, int32_t& memory) {
    switch (answer) {
        case kAnswerYes: return true;
        case kAnswerYesToAll: memory = kAnswerYesToAll; return true;
        case kAnswerCancel: memory = kAnswerCancel; return false;
        default: return false;  // No, or a dialog dismissed without an answer
    }
}

std::vector<uint8_t> Word32(uint32_t value) {
    std::vector<uint8_t> b(4);
    le::PutU32(b.data(), value);
    return b;
}

bool Settle(mmio::File& handle) { return handle.Flush() && ::fdatasync(handle.Descriptor()) == 0; }

TargetFile::~TargetFile() {
    if (held_ >= 0) ::close(held_);
}

Verdict TargetFile::Open(const std::string& path, bool forWriting, bool judgeWriting) {
    path_ = path;
    // The first look. From here on every step works on this one file.
    if (::lstat(path.c_str(), &seen_) != 0) FailWith(errno);
    viaLink_ = S_ISLNK(seen_.st_mode);
    if (viaLink_ && ::stat(path.c_str(), &seen_) != 0) FailWith(errno);
    // Only regular files: a FIFO, socket or device under a *.wav name must
    // never be opened, let alone block the program.
    if (!S_ISREG(seen_.st_mode)) return Verdict::Of(S_ISDIR(seen_.st_mode) ? Reason::Folder : Reason::NotRegular);
    // Read-only is the owner-write permission, as the question says; a file
    // this user can't give it back to is judged by what an open would do.
    const uid_t me = ::geteuid();
    readOnly_ = (seen_.st_mode & S_IWUSR) == 0 && (me == 0 || me == seen_.st_uid);
    Opened first;
    if (forWriting && !readOnly_) {
        first = OpenSame(path, viaLink_, true, seen_);
        if (first.fd < 0 && !first.changed && DeniesWriting(first.err)) {
            writeVerdict_ = Verdict::Errno(Reason::NotWritable, first.err);
            first = OpenSame(path, viaLink_, false, seen_);
        }
    } else {
        first = OpenSame(path, viaLink_, false, seen_);
    }
    if (first.changed) return Verdict::Of(Reason::ChangedMeanwhile);
    if (first.fd < 0) {
        if (DeniesWriting(first.err)) return Verdict::Errno(Reason::NotWritable, first.err);
        return Verdict::Errno(Reason::OpenFailed, first.err);
    }
    if (!forWriting && judgeWriting && !readOnly_ && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 &&
        DeniesWriting(errno))
        writeVerdict_ = Verdict::Errno(Reason::NotWritable, errno);
    if (readOnly_) {
        // Giving the permission back is no use on a file system that takes no writes.
        struct statvfs fs {};
        if (::fstatvfs(first.fd, &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0)
            writeVerdict_ = Verdict::Errno(Reason::NotWritable, EROFS);
        held_ = first.fd;
        const int reader = ::fcntl(held_, F_DUPFD_CLOEXEC, 0);
        if (reader < 0) FailWith(errno);
        handle_ = mmio::File::Adopt(reader, first.st, false);
    } else {
        handle_ = mmio::File::Adopt(first.fd, first.st, forWriting && !writeVerdict_.Refuses());
    }
    return {};
}

Verdict TargetFile::MakeWritable() {
    struct stat now = {};
    if (::fstat(held_, &now) != 0) FailWith(errno);
    const mode_t original = now.st_mode & 07777;
    if (::fchmod(held_, original | S_IWUSR) != 0) {
        if (DeniesWriting(errno)) return Verdict::Errno(Reason::NotWritable, errno);
        FailWith(errno);
    }
    restoreMode_ = original;
    restore_ = true;
    const Opened rw = OpenSame(path_, viaLink_, true, seen_);
    if (rw.changed) return Verdict::Of(Reason::ChangedMeanwhile);
    if (rw.fd < 0) {
        if (DeniesWriting(rw.err)) return Verdict::Errno(Reason::NotWritable, rw.err);
        return Verdict::Errno(Reason::OpenFailed, rw.err);
    }
    handle_ = mmio::File::Adopt(rw.fd, rw.st, true);
    return {};
}

bool TargetFile::StillThere() const {
    struct stat now = {};
    const int r = viaLink_ ? ::stat(path_.c_str(), &now) : ::lstat(path_.c_str(), &now);
    return r == 0 && S_ISREG(now.st_mode) && SameFile(now, seen_);
}

bool TargetFile::LengthIs(int64_t length) {
    now_ = {};
    return handle_ && ::fstat(handle_->Descriptor(), &now_) == 0 && now_.st_size == length;
}

namespace {
int64_t Ns(const struct timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; }
}  // namespace

Verdict TargetFile::Record(ChangeRecorder* recorder, FileChange& change) const {
    change.path = path_;
    change.device = static_cast<uint64_t>(seen_.st_dev);
    change.inode = static_cast<uint64_t>(seen_.st_ino);
    change.modifiedNs = Ns(seen_.st_mtim);
    if (!recorder) return {};
    std::string reason;
    if (recorder->Record(change, reason)) return {};
    return Verdict::Text(Reason::Journal, reason);
}

int32_t TargetFile::Close() { return handle_ ? handle_->Close() : mmio::MMSYSERR_NOERROR; }

bool TargetFile::RestoreMode() {
    // Through the descriptor of the first look: the file whose permissions
    // were changed is the one that gets them back.
    if (!restore_) return true;
    restore_ = false;
    return ::fchmod(held_, restoreMode_) == 0;
}

Outcome ChangeFile(const std::string& path, const std::function<Outcome(TargetFile&)>& change) {
    TargetFile f;
    Outcome o;
    const auto mayHaveChanged = [&](const std::string& reason, bool writeRefused) {
        o = Outcome{};
        o.result = Result::MayHaveChanged;
        o.why = Verdict::Text(Reason::Error, reason);
        o.writeRefused = writeRefused;
    };
    const auto closeFailed = [&] { return f.Close() != mmio::MMSYSERR_NOERROR && f.Handle().WriteAttempted(); };
    try {
        o = change(f);
        if (f.HasHandle() && closeFailed())
            throw PartialChange{"closing it failed (" + ErrnoText(f.Handle().LastErrno()) + ")"};
    } catch (const PartialChange& p) {
        mayHaveChanged(p.reason, p.writeRefused);
    } catch (...) {
        Stop stop;
        try {
            throw;
        } catch (const Stop& s) {
            stop = s;
        } catch (...) {
            const vb::RunTimeError e = vb::CurrentExceptionAsRunTimeError();
            stop.why = Verdict::Text(Reason::Error, LowerFirst(e.Description()));
        }
        if (f.HasHandle() && closeFailed()) {
            mayHaveChanged(ReasonText(stop.why) + ", and closing it failed (" + ErrnoText(f.Handle().LastErrno()) + ")",
                           stop.writeRefused);
        } else {
            o = LeftAlone(path, stop.why);
            if (stop.wrote && o.result == Result::Refused) o.result = Result::Failed;
            o.writeRefused = stop.writeRefused;
        }
    }
    o.path = path;
    if (f.HasHandle()) {
        o.device = static_cast<uint64_t>(f.Seen().st_dev);
        o.inode = static_cast<uint64_t>(f.Seen().st_ino);
        if (o.result == Result::Written && f.Now().st_ino == f.Seen().st_ino) {
            o.lengthAfter = f.Now().st_size;
            o.modifiedNs = Ns(f.Now().st_mtim);
        }
    }
    f.Close();
    if (!f.RestoreMode()) {
        o.restoreFailed = true;
        o.restoreErr = errno;
    }
    return o;
}

}  // namespace velorizer
