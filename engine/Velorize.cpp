#include "Velorize.h"

#include "Mmio.h"
#include "RunTimeError.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace velorizer {

const char* const kRootNoteNames[13] = {"Don't transpose", "C", "C#", "D", "D#", "E", "F",
                                        "F#", "G", "G#", "A", "A#", "B"};

namespace {

const char* const kConfirmTitle = "Confirm Velorizing";
const char* const kErrorCaption = "Error";
constexpr int32_t kVelorizeError = vb::kObjectError + 1;
const mmio::FOURCC kAcid = mmio::StringToFOURCC("acid");

uint16_t LE16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t LE32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A file we leave alone is always told to the user with the file and the reason,
// so that "Operation completed." never hides a file that was not tagged.
void Refuse(VelorizeUi& ui, const std::string& path, std::string reason) {
    ui.MsgBox("Velorizer did not change the file '" + path + "': " + reason + ".", vbCritical, kErrorCaption);
}

std::string LowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

// Acts on an answer of the change confirmation; true when the change is permitted.
bool TakeAnswer(int32_t answer, int32_t& memory) {
    switch (answer) {
        case kAnswerYes: return true;
        case kAnswerYesToAll: memory = kAnswerYesToAll; return true;
        case kAnswerCancel: memory = kAnswerCancel; return false;
        default: return false;  // No, or a dialog dismissed without an answer
    }
}

// Gives a file whose read-only bit we cleared its permissions back, however the
// call ends.
class PermissionRestorer {
public:
    PermissionRestorer(const std::string& path, const std::unique_ptr<mmio::File>& handle)
        : path_(path), handle_(handle) {}
    void Arm(mode_t original) {
        original_ = original;
        armed_ = true;
    }
    ~PermissionRestorer() {
        if (!armed_) return;
        if (handle_ && handle_->Descriptor() >= 0) (void)::fchmod(handle_->Descriptor(), original_);
        else (void)::chmod(path_.c_str(), original_);
    }

private:
    const std::string& path_;
    const std::unique_ptr<mmio::File>& handle_;
    mode_t original_ = 0;
    bool armed_ = false;
};

struct FormWalk {
    std::vector<int64_t> acidBodies;  // data offsets of the 24-byte acid chunks
    uint32_t oddAcidSize = 0;         // size of an acid chunk that is not 24 bytes
    bool hasOddAcid = false;
    bool anyChunk = false;
    int64_t end = 0;                  // position behind the last chunk and its pad byte
    int64_t lastDataEnd = 0;          // position behind the last chunk's data
    bool lastOdd = false;
    int32_t result = 0;               // how the walk ended
};

// Every chunk of the form, from its first to its declared end.
FormWalk WalkForm(mmio::File& h, const mmio::MMCKINFO& form, int64_t firstChunk) {
    FormWalk walk;
    h.Seek(firstChunk, mmio::kSeekSet);
    walk.end = walk.lastDataEnd = firstChunk;
    for (;;) {
        const int64_t p = h.Tell();
        mmio::MMCKINFO ck;
        walk.result = h.Descend(ck, &form, 0);
        if (walk.result != mmio::MMSYSERR_NOERROR) {
            walk.end = p;
            break;
        }
        if (ck.ckid == kAcid) {
            if (ck.cksize == clsAcidSettings::kBodySize) {
                walk.acidBodies.push_back(ck.dwDataOffset);
            } else if (!walk.hasOddAcid) {
                walk.hasOddAcid = true;
                walk.oddAcidSize = ck.cksize;
            }
        }
        walk.anyChunk = true;
        walk.lastDataEnd = ck.dwDataOffset + ck.cksize;
        walk.lastOdd = (ck.cksize & 1) != 0;
        h.Ascend(ck, 0);
    }
    return walk;
}

}  // namespace

int32_t ReadWaveFormat(mmio::File& handle, const mmio::MMCKINFO& form, WaveFormat& format) {
    mmio::MMCKINFO ck;
    ck.ckid = mmio::StringToFOURCC("fmt ");
    if (handle.Descend(ck, &form, mmio::MMIO_FINDCHUNK) != mmio::MMSYSERR_NOERROR) return -1;
    int32_t result = -1;
    // Plain (16), extended (18) and extensible (40) format chunks all begin with
    // the same 16 bytes.
    unsigned char b[16];
    if (ck.cksize >= 16 && handle.Read(b, 16) == 16) {
        format.formatTag = LE16(b);
        format.channels = LE16(b + 2);
        format.samplesPerSec = LE32(b + 4);
        format.avgBytesPerSec = LE32(b + 8);
        format.blockAlign = LE16(b + 12);
        format.bitsPerSample = LE16(b + 14);
        result = 0;
    }
    handle.Ascend(ck, 0);
    return result;
}

int32_t GetDataChunkSize(mmio::File& handle, const mmio::MMCKINFO& form, uint32_t& size) {
    mmio::MMCKINFO ck;
    ck.ckid = mmio::StringToFOURCC("data");
    if (handle.Descend(ck, &form, mmio::MMIO_FINDCHUNK) != mmio::MMSYSERR_NOERROR) return -1;
    size = ck.cksize;
    handle.Ascend(ck, 0);
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

float LoopTempo(int32_t beats, const WaveFormat& format, uint32_t dataSize) {
    if (format.blockAlign == 0 || format.channels == 0 || format.bitsPerSample == 0 ||
        format.bitsPerSample % 8 != 0)
        return kDefaultTempo;
    const uint64_t frames = dataSize / format.blockAlign;
    if (frames == 0) return kDefaultTempo;
    const __int128 product = static_cast<__int128>(beats) * 60 * format.samplesPerSec;
    return NearestFloat(product, frames);
}

void VelorizeFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer,
                  int32_t& retagAnswer, VelorizeUi& ui) {
    std::unique_ptr<mmio::File> handle;
    PermissionRestorer permissions(path, handle);
    try {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) throw vb::ErrnoError(errno);
        // Only regular files: a FIFO, socket or device under a *.wav name must
        // never be opened, let alone block the program.
        if (!S_ISREG(st.st_mode)) {
            Refuse(ui, path, S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file");
            return;
        }

        const bool readOnly = (st.st_mode & S_IWUSR) == 0;
        if (readOnly && readOnlyAnswer != kAnswerYesToAll) {
            const int32_t answer = ui.GetConfirmReadOnly(
                kConfirmTitle, "Are you sure you want to Velorize the read-only file '" + path + "'?");
            if (!TakeAnswer(answer, readOnlyAnswer)) return;
        }
        if (readOnly) {
            const mode_t original = st.st_mode & 07777;
            if (::chmod(path.c_str(), original | S_IWUSR) != 0) throw vb::ErrnoError(errno);
            permissions.Arm(original);
        }

        int openError = 0;
        handle = mmio::File::Open(path, mmio::MMIO_READWRITE | mmio::MMIO_ALLOCBUF, &openError);
        if (!handle) {
            if (openError == ENOTSUP) {  // swapped for something else since the stat
                Refuse(ui, path, "it is not a regular file");
                return;
            }
            throw vb::RunTimeError(kVelorizeError, "mmioOpen failed on " + path, "VelorizeFile");
        }
        mmio::File& h = *handle;

        mmio::MMCKINFO form;
        form.fccType = mmio::StringToFOURCC("WAVE");
        // The form must be the file itself, starting at its first byte.
        if (h.Descend(form, nullptr, mmio::MMIO_FINDRIFF) != mmio::MMSYSERR_NOERROR || form.dwDataOffset != 8)
            throw vb::RunTimeError(kVelorizeError, "mmioDescend failed on " + path, "VelorizeFile");
        const int64_t firstChunk = h.Tell();

        const int32_t mode = settings.Mode();
        if (mode == kModeLoop || mode == kModeLoopRoot) {
            float tempo = kDefaultTempo;
            WaveFormat format;
            uint32_t dataSize = 0;
            if (ReadWaveFormat(h, form, format) == 0 && GetDataChunkSize(h, form, dataSize) == 0)
                tempo = LoopTempo(settings.LoopBeats(), format, dataSize);
            settings.Tempo(tempo);
        }

        // The whole form is searched, so that a file never ends up with two acid
        // chunks that say different things.
        const FormWalk walk = WalkForm(h, form, firstChunk);
        if (walk.result == mmio::MMIOERR_CANNOTREAD) throw vb::ErrnoError(h.LastErrno());
        const int64_t fileSize = h.Size();
        const int64_t formEnd = form.dwDataOffset + form.cksize;

        if (walk.hasOddAcid) {
            Refuse(ui, path,
                   "its acid chunk is " + std::to_string(walk.oddAcidSize) + " bytes long instead of 24");
            return;
        }
        if (!walk.acidBodies.empty()) {
            if (walk.acidBodies.back() + clsAcidSettings::kBodySize > fileSize) {
                Refuse(ui, path, "it holds fewer bytes than its RIFF header declares");
                return;
            }
            if (retagAnswer != kAnswerYesToAll) {
                const int32_t answer = ui.GetConfirmReadOnly(
                    kConfirmTitle, "Are you sure you want to re-Velorize the file '" + path + "'?");
                if (!TakeAnswer(answer, retagAnswer)) return;
            }
            std::vector<clsAcidSettings::Body> former(walk.acidBodies.size());
            for (size_t i = 0; i < walk.acidBodies.size(); ++i) {
                h.Seek(walk.acidBodies[i], mmio::kSeekSet);
                if (h.Read(former[i].data(), clsAcidSettings::kBodySize) != clsAcidSettings::kBodySize)
                    throw vb::ErrnoError(h.LastErrno() ? h.LastErrno() : EIO);
            }
            for (size_t i = 0; i < walk.acidBodies.size(); ++i) {
                h.Seek(walk.acidBodies[i], mmio::kSeekSet);
                if (!settings.WriteData(h, false, &ui)) {
                    const int err = h.LastErrno();
                    // Put back what the failed writes may have touched.
                    for (size_t j = 0; j <= i; ++j) {
                        h.Seek(walk.acidBodies[j], mmio::kSeekSet);
                        h.Write(former[j].data(), clsAcidSettings::kBodySize);
                        h.Flush();
                    }
                    throw vb::ErrnoError(err);
                }
            }
            h.Ascend(form, 0);
            h.Close();
            return;
        }

        // Append only where the form is the whole file: bytes behind the form
        // (trailing junk, a tag, an earlier interrupted append) or a form that
        // claims more than the file holds must not end up inside the RIFF size.
        int64_t appendAt = -1;
        bool writePad = false;
        if (walk.end == formEnd && fileSize == formEnd) {
            appendAt = formEnd;
        } else if (walk.anyChunk && walk.lastOdd && fileSize == walk.lastDataEnd &&
                   (formEnd == walk.lastDataEnd || formEnd == walk.lastDataEnd + 1)) {
            // The last chunk's pad byte is missing: it is written as a zero.
            writePad = true;
            appendAt = walk.lastDataEnd + 1;
        }
        if (appendAt < 0) {
            Refuse(ui, path,
                   fileSize > formEnd   ? "it holds more bytes than its RIFF header declares"
                   : fileSize < formEnd ? "it holds fewer bytes than its RIFF header declares"
                                        : "its chunks do not end where its RIFF form ends");
            return;
        }
        if (appendAt + 8 + clsAcidSettings::kBodySize - 8 > int64_t{0xFFFFFFFF}) {
            Refuse(ui, path, "another chunk would make it larger than a RIFF file can be");
            return;
        }

        // Write order: the new chunk reaches the disk (in the ascend inside
        // WriteData) before the RIFF size that takes it into the form. Whenever
        // the program is stopped, the file is the old form intact, possibly with
        // the new chunk lying behind it; readers still find all the audio.
        h.Seek(writePad ? walk.lastDataEnd : appendAt, mmio::kSeekSet);
        bool written = true;
        if (writePad) {
            const unsigned char zero = 0;
            written = h.Write(&zero, 1) == 1;
        }
        if (!written || !settings.WriteData(h, true, &ui)) {
            const int err = h.LastErrno();
            h.Truncate(fileSize);
            throw vb::ErrnoError(err ? err : EIO);
        }
        form.dwFlags |= mmio::MMIO_DIRTY;
        if (h.Ascend(form, 0) != mmio::MMSYSERR_NOERROR) {
            const int err = h.LastErrno();
            h.Truncate(fileSize);
            throw vb::ErrnoError(err ? err : EIO);
        }
        h.Close();
    } catch (...) {
        const vb::RunTimeError e = vb::CurrentExceptionAsRunTimeError();
        if (e.Number() == kVelorizeError) ui.MsgBox(e.Description(), vbCritical, kErrorCaption);
        else Refuse(ui, path, LowerFirst(e.Description()));
        if (handle) handle->Close();
    }
}

bool ReadAcidChunks(const std::string& path, std::vector<clsAcidSettings::Body>& bodies, std::string& error) {
    bodies.clear();
    int err = 0;
    auto h = mmio::File::Open(path, mmio::MMIO_READ, &err);
    if (!h) {
        error = err == ENOTSUP ? "it is not a regular file" : LowerFirst(vb::StandardErrorText(vb::ErrorNumberFromErrno(err)));
        return false;
    }
    mmio::MMCKINFO form;
    form.fccType = mmio::StringToFOURCC("WAVE");
    if (h->Descend(form, nullptr, mmio::MMIO_FINDRIFF) != mmio::MMSYSERR_NOERROR || form.dwDataOffset != 8) {
        error = "it is not a WAVE file";
        return false;
    }
    const FormWalk walk = WalkForm(*h, form, h->Tell());
    for (int64_t offset : walk.acidBodies) {
        clsAcidSettings::Body body{};
        h->Seek(offset, mmio::kSeekSet);
        if (h->Read(body.data(), clsAcidSettings::kBodySize) == clsAcidSettings::kBodySize) bodies.push_back(body);
    }
    if (walk.hasOddAcid) {
        error = "its acid chunk is " + std::to_string(walk.oddAcidSize) + " bytes long instead of 24";
        return false;
    }
    return true;
}

void FillSettings(clsAcidSettings& settings, const PanelChoice& choice) {
    switch (choice.kind) {
        case PanelChoice::OneShot:
            settings.Mode(kModeOneShot);
            break;
        case PanelChoice::Loop:
            settings.Mode(kModeLoopRoot);
            if (choice.loopRootIndex > 0) settings.MidiBase(static_cast<int16_t>(59 + choice.loopRootIndex));
            else settings.Mode(kModeLoop);
            settings.LoopBeats(choice.beats);
            break;
        case PanelChoice::DiskBased:
            if (choice.tempoChecked) {
                if (choice.diskRootIndex > 0) {
                    settings.MidiBase(static_cast<int16_t>(47 + choice.diskRootIndex));
                    settings.Mode(kModeDiskTempoRoot);
                } else {
                    settings.Mode(kModeDiskTempo);
                    settings.MidiBase(60);
                }
            } else {
                settings.Mode(kModeDiskNoTempo);
                settings.MidiBase(60);
            }
            settings.Tempo(static_cast<float>(choice.tempoMilli / 1000.0));
            break;
    }
}

}  // namespace velorizer
