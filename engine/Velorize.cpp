#include "Velorize.h"

#include "LittleEndian.h"
#include "Mmio.h"
#include "RiffForm.h"
#include "RunTimeError.h"
#include "TagVerdicts.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <sys/stat.h>
#include <vector>

namespace velorizer {

namespace {

const char* const kConfirmTitle = "Confirm Velorizing";
const char* const kErrorCaption = "Error";
constexpr int32_t kVelorizeError = vb::kObjectError + 1;
const mmio::FOURCC kWave = mmio::StringToFOURCC("WAVE");

// A file we leave alone is always told to the user with the file and the reason,
// so that "Operation completed." never hides a file that was not tagged.
void Refuse(VelorizeUi& ui, const std::string& path, std::string reason) {
    ui.MsgBox("Velorizer did not change the file '" + path + "': " + reason + ".", vbCritical, kErrorCaption);
}

const char* const kChangedMeanwhile = "it changed while it was being tagged";

// Acts on an answer of the change confirmation; true when the change is permitted.
bool TakeAnswer(int32_t answer, int32_t& memory) {
    switch (answer) {
        case kAnswerYes: return true;
        case kAnswerYesToAll: memory = kAnswerYesToAll; return true;
        case kAnswerCancel: memory = kAnswerCancel; return false;
        default: return false;  // No, or a dialog dismissed without an answer
    }
}

// A failure after which the file may hold part of a change: it is never told as
// "did not change".
struct PartialChange {
    std::string reason;
};

class Descriptor {
public:
    Descriptor() = default;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int Get() const { return fd_; }

private:
    int fd_ = -1;
};

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// What one call holds: the open file and, for a read-only file, the descriptor
// from the first look, through which its permissions are changed and restored.
struct Session {
    std::unique_ptr<mmio::File> handle;
    Descriptor held;
    mode_t restoreMode = 0;
    bool restore = false;
};

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

// Whether the path still names the file first looked at.
bool StillThere(const std::string& path, bool viaLink, const struct stat& seen) {
    struct stat now {};
    const int r = viaLink ? ::stat(path.c_str(), &now) : ::lstat(path.c_str(), &now);
    return r == 0 && S_ISREG(now.st_mode) && SameFile(now, seen);
}

// Tags the file, telling every refusal itself; failures are thrown.
void Tag(Session& s, const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer,
         int32_t& retagAnswer, VelorizeUi& ui) {
    // The first look. From here on every step works on this one file: a path
    // that comes to name another file is refused, never followed.
    struct stat seen {};
    if (::lstat(path.c_str(), &seen) != 0) throw vb::ErrnoError(errno);
    const bool viaLink = S_ISLNK(seen.st_mode);
    if (viaLink && ::stat(path.c_str(), &seen) != 0) throw vb::ErrnoError(errno);
    // Only regular files: a FIFO, socket or device under a *.wav name must
    // never be opened, let alone block the program.
    if (!S_ISREG(seen.st_mode)) {
        Refuse(ui, path, S_ISDIR(seen.st_mode) ? "it is a folder" : "it is not a regular file");
        return;
    }
    const auto openFailed = [&] {
        return vb::RunTimeError(kVelorizeError, "mmioOpen failed on " + path, "VelorizeFile");
    };

    const bool readOnly = (seen.st_mode & S_IWUSR) == 0;
    const Opened first = OpenSame(path, viaLink, !readOnly, seen);
    if (first.changed) return Refuse(ui, path, kChangedMeanwhile);
    if (first.fd < 0) throw openFailed();
    if (!readOnly) {
        s.handle = mmio::File::Adopt(first.fd, first.st, true);
    } else {
        s.held.Reset(first.fd);
        if (readOnlyAnswer != kAnswerYesToAll) {
            const int32_t answer =
                ui.AskToChange(ChangeQuestion::ReadOnly, path, kConfirmTitle,
                               "Are you sure you want to Velorize the read-only file '" + path + "'?");
            if (!TakeAnswer(answer, readOnlyAnswer)) return;
        }
        const mode_t original = first.st.st_mode & 07777;
        if (::fchmod(s.held.Get(), original | S_IWUSR) != 0) throw vb::ErrnoError(errno);
        s.restoreMode = original;
        s.restore = true;
        const Opened rw = OpenSame(path, viaLink, true, seen);
        if (rw.changed) return Refuse(ui, path, kChangedMeanwhile);
        if (rw.fd < 0) throw openFailed();
        s.handle = mmio::File::Adopt(rw.fd, rw.st, true);
    }
    mmio::File& h = *s.handle;

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

    const int64_t leftBehind = InterruptedAppend(h, table, acid);
    if (h.ReadFailed()) throw vb::ErrnoError(h.LastErrno());
    if (leftBehind >= 0) {
        // Finish what an interrupted run began: take its chunk into the form.
        unsigned char riffSize[4];
        le::PutU32(riffSize, static_cast<uint32_t>(mmio::RiffSizeOf(fileSize)));
        h.Seek(4, mmio::kSeekSet);
        if (h.Write(riffSize, 4) != 4 || !h.Flush()) throw vb::ErrnoError(h.LastErrno());
        acid.bodies.push_back(leftBehind + mmio::kChunkHeaderSize);
    }

    const std::vector<int64_t>& bodies = acid.bodies;
    if (!bodies.empty()) {
        if (bodies.back() + clsAcidSettings::kBodySize > fileSize) return Refuse(ui, path, kCutShort);
        if (retagAnswer != kAnswerYesToAll) {
            const int32_t answer = ui.AskToChange(ChangeQuestion::Retag, path, kConfirmTitle,
                                                  "Are you sure you want to re-Velorize the file '" + path + "'?");
            if (!TakeAnswer(answer, retagAnswer)) return;
            if (!StillThere(path, viaLink, seen)) return Refuse(ui, path, kChangedMeanwhile);
        }
        std::vector<clsAcidSettings::Body> former(bodies.size());
        for (size_t i = 0; i < bodies.size(); ++i) {
            h.Seek(bodies[i], mmio::kSeekSet);
            if (h.Read(former[i].data(), clsAcidSettings::kBodySize) != clsAcidSettings::kBodySize)
                throw vb::ErrnoError(h.LastErrno() ? h.LastErrno() : EIO);
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
    if (format.blockAlign == 0 || format.channels == 0 || format.bitsPerSample == 0 ||
        format.bitsPerSample % 8 != 0)
        return 0;
    return dataSize / format.blockAlign;
}

float LoopTempo(int32_t beats, const WaveFormat& format, uint32_t dataSize) {
    const uint64_t frames = FrameCount(format, dataSize);
    if (frames == 0) return kDefaultTempo;
    const __int128 product = static_cast<__int128>(beats) * 60 * format.samplesPerSec;
    return NearestFloat(product, frames);
}

void VelorizeFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer,
                  int32_t& retagAnswer, VelorizeUi& ui) {
    Session s;
    const auto mayHaveChanged = [&](const std::string& reason) {
        ui.MsgBox("Velorizer may have changed the file '" + path + "': " + reason + ".", vbCritical, kErrorCaption);
    };
    try {
        Tag(s, path, settings, readOnlyAnswer, retagAnswer, ui);
        if (s.handle && s.handle->Close() != mmio::MMSYSERR_NOERROR && s.handle->WriteAttempted())
            throw PartialChange{"closing it failed (" + ErrnoText(s.handle->LastErrno()) + ")"};
    } catch (const PartialChange& p) {
        mayHaveChanged(p.reason);
    } catch (...) {
        const vb::RunTimeError e = vb::CurrentExceptionAsRunTimeError();
        if (s.handle && s.handle->Close() != mmio::MMSYSERR_NOERROR && s.handle->WriteAttempted())
            mayHaveChanged(LowerFirst(e.Description()) + ", and closing it failed (" +
                           ErrnoText(s.handle->LastErrno()) + ")");
        else if (e.Number() == kVelorizeError)
            ui.MsgBox(e.Description(), vbCritical, kErrorCaption);
        else
            Refuse(ui, path, LowerFirst(e.Description()));
    }
    if (s.handle) s.handle->Close();
    // Through the descriptor of the first look, before it is closed: the file
    // whose permissions were changed is the one that gets them back.
    if (s.restore && ::fchmod(s.held.Get(), s.restoreMode) != 0)
        ui.MsgBox("Velorizer could not make the file '" + path + "' read-only again: " + ErrnoText(errno) + ".",
                  vbCritical, kErrorCaption);
}

}  // namespace velorizer
