#pragma once
// A small RIFF file layer for tagging WAVE files in place: buffered reading and
// writing, descending into RIFF forms and chunks, ascending out of them with the
// size rewritten where it changed, and creating chunk headers. Offsets are 64-bit
// inside; sizes on disk are 32-bit little-endian, as RIFF has them.
//
// It reads chunk headers only: a descent skips a chunk's data by seeking, so the
// audio itself is never read.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct stat;

namespace mmio {

using FOURCC = uint32_t;

// The four characters as they stand, no case conversion.
constexpr FOURCC StringToFOURCC(const char* s) {
    return static_cast<FOURCC>(static_cast<unsigned char>(s[0])) |
           static_cast<FOURCC>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<FOURCC>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<FOURCC>(static_cast<unsigned char>(s[3])) << 24;
}
std::string FOURCCToString(FOURCC id);

constexpr FOURCC kRIFF = StringToFOURCC("RIFF");
constexpr FOURCC kLIST = StringToFOURCC("LIST");

// Chunk-information record.
struct MMCKINFO {
    FOURCC ckid = 0;
    uint32_t cksize = 0;
    FOURCC fccType = 0;
    int64_t dwDataOffset = 0;  // first byte of the chunk's data (the form type of a RIFF/LIST)
    uint32_t dwFlags = 0;
};

constexpr uint32_t MMIO_READ = 0x0;
constexpr uint32_t MMIO_READWRITE = 0x2;
constexpr uint32_t MMIO_ALLOCBUF = 0x10000;
constexpr uint32_t MMIO_FINDCHUNK = 0x0010;
constexpr uint32_t MMIO_FINDRIFF = 0x0020;
constexpr uint32_t MMIO_FINDLIST = 0x0040;
constexpr uint32_t MMIO_CREATERIFF = 0x0020;
constexpr uint32_t MMIO_CREATELIST = 0x0040;
constexpr uint32_t MMIO_DIRTY = 0x10000000;

constexpr int32_t MMSYSERR_NOERROR = 0;
constexpr int32_t MMIOERR_FILENOTFOUND = 257;
constexpr int32_t MMIOERR_CANNOTOPEN = 259;
constexpr int32_t MMIOERR_CANNOTREAD = 261;
constexpr int32_t MMIOERR_CANNOTWRITE = 262;
constexpr int32_t MMIOERR_CANNOTSEEK = 263;
constexpr int32_t MMIOERR_CHUNKNOTFOUND = 265;

constexpr int kSeekSet = 0;
constexpr int kSeekCur = 1;
constexpr int kSeekEnd = 2;

class File {
public:
    // Opens a regular file for reading, or for reading and writing with
    // MMIO_READWRITE. Anything else (a folder, a FIFO, a device, a socket) is
    // refused without blocking: *err receives ENOTSUP for those, errno otherwise.
    static std::unique_ptr<File> Open(const std::string& path, uint32_t flags, int* err = nullptr);
    // Takes over a descriptor already opened on a regular file, whose fstat is `st`.
    static std::unique_ptr<File> Adopt(int fd, const struct stat& st, bool writable);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Reads the next chunk header at the current position. FINDCHUNK / FINDRIFF /
    // FINDLIST search forward, skipping chunks, for ck.ckid / ck.fccType. With a
    // parent the search stops at the parent's end. MMIOERR_CHUNKNOTFOUND when
    // there is no (further) chunk before the parent's or the file's end.
    // On success the position is the chunk's first data byte (just behind the
    // form type for RIFF and LIST).
    int32_t Descend(MMCKINFO& ck, const MMCKINFO* parent, uint32_t flags);
    // Leaves a chunk: a chunk created here or marked MMIO_DIRTY gets its size
    // rewritten to cover what lies between its data offset and the current
    // position (with a zero pad byte when that is odd); then the position moves
    // behind the chunk and its pad byte.
    int32_t Ascend(MMCKINFO& ck, uint32_t flags);
    // Writes a chunk header (and form type for MMIO_CREATERIFF / MMIO_CREATELIST)
    // at the current position and marks the record dirty.
    int32_t CreateChunk(MMCKINFO& ck, uint32_t flags);

    // Bytes read (short at the end of the file), or -1 on an error.
    int64_t Read(void* buffer, int64_t count);
    // Bytes accepted, or -1. Writes are buffered while they follow on from each
    // other and reach the disk at the next Flush, Ascend of a dirty chunk,
    // non-contiguous write, read or Close; a failure then shows there.
    int64_t Write(const void* buffer, int64_t count);
    // New position, or -1.
    int64_t Seek(int64_t offset, int origin);
    int64_t Tell() const { return pos_; }
    // Writes pending bytes; false when the disk refused them (see LastErrno()).
    bool Flush();
    // Flushes and closes; MMIOERR_CANNOTWRITE when pending bytes could not be
    // written or the system reported a failure on closing.
    int32_t Close();

    int64_t Size() const { return size_; }
    // Cuts or extends the file; drops any pending writes beyond the new end.
    bool Truncate(int64_t length);
    int LastErrno() const { return lastErrno_; }
    int Descriptor() const { return fd_; }
    // Whether a read was ever refused by the system (not merely short at the end).
    bool ReadFailed() const { return readFailed_; }
    // Whether a write ever reached for the disk, successful or not.
    bool WriteAttempted() const { return writeAttempted_; }

private:
    explicit File(int fd, int64_t size, bool writable);
    bool ReadAt(int64_t offset, void* buffer, int64_t count, int64_t* got);
    bool WriteAt(int64_t offset, const void* buffer, int64_t count);

    int fd_;
    int64_t size_;
    bool writable_;
    int64_t pos_ = 0;
    int lastErrno_ = 0;
    bool readFailed_ = false;
    bool writeAttempted_ = false;
    // Read cache: one window of the file.
    std::vector<unsigned char> cache_;
    int64_t cacheStart_ = 0;
    int64_t cacheLen_ = 0;
    // Pending contiguous writes.
    std::vector<unsigned char> pending_;
    int64_t pendingStart_ = 0;
};

}  // namespace mmio
