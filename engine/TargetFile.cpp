#include "TargetFile.h"

#include "LittleEndian.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace velorizer {

namespace {

const char* const kErrorCaption = "Error";

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

struct Opened {
    int fd = -1;
    bool changed = false;  // the path names another file now
    struct stat st {};
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
        const int e = errno;
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

vb::RunTimeError OpenFailed(const std::string& path) {
    return vb::RunTimeError(kVelorizeError, "mmioOpen failed on " + path, "VelorizeFile");
}

}  // namespace

void Refuse(VelorizeUi& ui, const std::string& path, const std::string& reason) {
    // A file we leave alone is always told to the user with the file and the
    // reason, so that "Operation completed." never hides a file left as it was.
    ui.MsgBox("Velorizer did not change the file '" + path + "': " + reason + ".", vbCritical, kErrorCaption);
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

bool TargetFile::Open(const std::string& path, VelorizeUi& ui) {
    path_ = path;
    // The first look. From here on every step works on this one file.
    if (::lstat(path.c_str(), &seen_) != 0) throw vb::ErrnoError(errno);
    viaLink_ = S_ISLNK(seen_.st_mode);
    if (viaLink_ && ::stat(path.c_str(), &seen_) != 0) throw vb::ErrnoError(errno);
    // Only regular files: a FIFO, socket or device under a *.wav name must
    // never be opened, let alone block the program.
    if (!S_ISREG(seen_.st_mode)) {
        Refuse(ui, path, S_ISDIR(seen_.st_mode) ? "it is a folder" : "it is not a regular file");
        return false;
    }
    readOnly_ = (seen_.st_mode & S_IWUSR) == 0;
    const Opened first = OpenSame(path, viaLink_, !readOnly_, seen_);
    if (first.changed) {
        Refuse(ui, path, kChangedMeanwhile);
        return false;
    }
    if (first.fd < 0) throw OpenFailed(path);
    if (readOnly_) {
        held_ = first.fd;
        const int reader = ::fcntl(held_, F_DUPFD_CLOEXEC, 0);
        if (reader < 0) throw vb::ErrnoError(errno);
        handle_ = mmio::File::Adopt(reader, first.st, false);
    } else {
        handle_ = mmio::File::Adopt(first.fd, first.st, true);
    }
    return true;
}

bool TargetFile::MakeWritable(const std::string& question, int32_t& readOnlyAnswer, VelorizeUi& ui) {
    if (!readOnly_) return true;
    if (readOnlyAnswer != kAnswerYesToAll) {
        const int32_t answer = ui.AskToChange(ChangeQuestion::ReadOnly, path_, "Confirm Velorizing", question);
        if (!TakeAnswer(answer, readOnlyAnswer)) return false;
    }
    struct stat now {};
    if (::fstat(held_, &now) != 0) throw vb::ErrnoError(errno);
    const mode_t original = now.st_mode & 07777;
    if (::fchmod(held_, original | S_IWUSR) != 0) throw vb::ErrnoError(errno);
    restoreMode_ = original;
    restore_ = true;
    const Opened rw = OpenSame(path_, viaLink_, true, seen_);
    if (rw.changed) {
        Refuse(ui, path_, kChangedMeanwhile);
        return false;
    }
    if (rw.fd < 0) throw OpenFailed(path_);
    handle_ = mmio::File::Adopt(rw.fd, rw.st, true);
    return true;
}

bool TargetFile::StillThere() const {
    struct stat now {};
    const int r = viaLink_ ? ::stat(path_.c_str(), &now) : ::lstat(path_.c_str(), &now);
    return r == 0 && S_ISREG(now.st_mode) && SameFile(now, seen_);
}

bool TargetFile::Record(ChangeRecorder* recorder, FileChange& change, VelorizeUi& ui) const {
    if (!recorder) return true;
    change.path = path_;
    change.device = static_cast<uint64_t>(seen_.st_dev);
    change.inode = static_cast<uint64_t>(seen_.st_ino);
    std::string reason;
    if (recorder->Record(change, reason)) return true;
    Refuse(ui, path_, reason);
    return false;
}

int32_t TargetFile::Close() { return handle_ ? handle_->Close() : mmio::MMSYSERR_NOERROR; }

bool TargetFile::RestoreMode() {
    // Through the descriptor of the first look: the file whose permissions
    // were changed is the one that gets them back.
    if (!restore_) return true;
    restore_ = false;
    return ::fchmod(held_, restoreMode_) == 0;
}

void ChangeFile(const std::string& path, VelorizeUi& ui, const std::function<void(TargetFile&)>& change) {
    TargetFile f;
    const auto mayHaveChanged = [&](const std::string& reason) {
        ui.MsgBox("Velorizer may have changed the file '" + path + "': " + reason + ".", vbCritical, kErrorCaption);
    };
    const auto closeFailed = [&] { return f.Close() != mmio::MMSYSERR_NOERROR && f.Handle().WriteAttempted(); };
    try {
        change(f);
        if (f.HasHandle() && closeFailed())
            throw PartialChange{"closing it failed (" + ErrnoText(f.Handle().LastErrno()) + ")"};
    } catch (const PartialChange& p) {
        mayHaveChanged(p.reason);
    } catch (...) {
        const vb::RunTimeError e = vb::CurrentExceptionAsRunTimeError();
        if (f.HasHandle() && closeFailed())
            mayHaveChanged(LowerFirst(e.Description()) + ", and closing it failed (" +
                           ErrnoText(f.Handle().LastErrno()) + ")");
        else if (e.Number() == kVelorizeError) ui.MsgBox(e.Description(), vbCritical, kErrorCaption);
        else Refuse(ui, path, LowerFirst(e.Description()));
    }
    f.Close();
    if (!f.RestoreMode())
        ui.MsgBox("Velorizer could not make the file '" + path + "' read-only again: " + ErrnoText(errno) + ".",
                  vbCritical, kErrorCaption);
}

}  // namespace velorizer
