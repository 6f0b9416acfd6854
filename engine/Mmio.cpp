#include "Mmio.h"

#include "LittleEndian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace mmio {

namespace {
// One read fetches this much: the headers of a WAVE file and, for small files,
// the whole file.
constexpr int64_t kCacheSize = 4096;
}  // namespace

std::string FOURCCToString(FOURCC id) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((id >> (8 * i)) & 0xFF);
    return s;
}

std::unique_ptr<File> File::Open(const std::string& path, uint32_t flags, int* err) {
    const bool writable = (flags & MMIO_READWRITE) != 0;
    // O_NONBLOCK: a FIFO or device that slipped in under a *.wav name must never
    // block the program; such files are refused right after the open.
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (err) *err = errno;
        return nullptr;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = S_ISREG(st.st_mode) ? errno : ENOTSUP;
        ::close(fd);
        if (err) *err = e;
        return nullptr;
    }
    if (err) *err = 0;
    return std::unique_ptr<File>(new File(fd, static_cast<int64_t>(st.st_size), writable));
}

std::unique_ptr<File> File::Adopt(int fd, const struct stat& st, bool writable) {
    return std::unique_ptr<File>(new File(fd, static_cast<int64_t>(st.st_size), writable));
}

File::File(int fd, int64_t size, bool writable) : fd_(fd), size_(size), writable_(writable) {}

File::~File() {
    if (fd_ >= 0) Close();
}

bool File::ReadAt(int64_t offset, void* buffer, int64_t count, int64_t* got) {
    auto* out = static_cast<unsigned char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            lastErrno_ = errno;
            readFailed_ = true;
            *got = done;
            return false;
        }
        if (n == 0) break;
        done += n;
    }
    *got = done;
    return true;
}

bool File::WriteAt(int64_t offset, const void* buffer, int64_t count) {
    const auto* in = static_cast<const unsigned char*>(buffer);
    int64_t done = 0;
    bool ok = true;
    writeAttempted_ = true;
    // Bytes for the end of the file go to wherever its end is when they are
    // written: a file another program cut meanwhile is never extended with
    // zeros up to where its end was, and the caller can tell from its length.
    bool append = offset == size_;
    while (done < count) {
        ssize_t n = -1;
        if (append) {
            iovec v{const_cast<unsigned char*>(in + done), static_cast<size_t>(count - done)};
            n = ::pwritev2(fd_, &v, 1, -1, RWF_APPEND);
            if (n < 0 && (errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL)) {
                append = false;  // a kernel or file system without it
                continue;
            }
        } else {
            n = ::pwrite(fd_, in + done, static_cast<size_t>(count - done), offset + done);
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            lastErrno_ = errno;
            ok = false;
            break;
        }
        if (n == 0) {
            lastErrno_ = ENOSPC;
            ok = false;
            break;
        }
        done += n;
    }
    size_ = std::max(size_, offset + done);
    // Keep the read cache true to what is now on disk.
    const int64_t lo = std::max(offset, cacheStart_);
    const int64_t hi = std::min(offset + done, cacheStart_ + cacheLen_);
    if (lo < hi) std::memcpy(cache_.data() + (lo - cacheStart_), in + (lo - offset), static_cast<size_t>(hi - lo));
    return ok;
}

int64_t File::Read(void* buffer, int64_t count) {
    if (count < 0 || !Flush()) return -1;
    auto* out = static_cast<unsigned char*>(buffer);
    if (pos_ >= cacheStart_ && pos_ + count <= cacheStart_ + cacheLen_) {
        std::memcpy(out, cache_.data() + (pos_ - cacheStart_), static_cast<size_t>(count));
        pos_ += count;
        return count;
    }
    int64_t got = 0;
    if (count <= kCacheSize) {
        cache_.resize(kCacheSize);
        cacheStart_ = pos_;
        cacheLen_ = 0;
        // Up to the known end only: a read past it would cost a call to learn nothing.
        const int64_t want = std::min(kCacheSize, std::max(count, size_ - pos_));
        if (pos_ < size_ && !ReadAt(pos_, cache_.data(), want, &cacheLen_)) {
            cacheLen_ = 0;
            return -1;
        }
        got = std::min(count, cacheLen_);
        std::memcpy(out, cache_.data(), static_cast<size_t>(got));
    } else if (!ReadAt(pos_, out, count, &got)) {
        return -1;
    }
    pos_ += got;
    return got;
}

int64_t File::Write(const void* buffer, int64_t count) {
    if (!writable_ || count < 0) {
        lastErrno_ = EBADF;
        return -1;
    }
    const auto* in = static_cast<const unsigned char*>(buffer);
    const int64_t pendingEnd = pendingStart_ + static_cast<int64_t>(pending_.size());
    if (!pending_.empty() && (pos_ < pendingStart_ || pos_ > pendingEnd)) {
        if (!Flush()) return -1;
    }
    if (pending_.empty()) pendingStart_ = pos_;
    const auto at = static_cast<size_t>(pos_ - pendingStart_);
    if (at + static_cast<size_t>(count) > pending_.size()) pending_.resize(at + static_cast<size_t>(count));
    std::memcpy(pending_.data() + at, in, static_cast<size_t>(count));
    pos_ += count;
    return count;
}

bool File::Flush() {
    if (pending_.empty()) return true;
    std::vector<unsigned char> bytes;
    bytes.swap(pending_);
    return WriteAt(pendingStart_, bytes.data(), static_cast<int64_t>(bytes.size()));
}

int64_t File::Seek(int64_t offset, int origin) {
    int64_t base = 0;
    if (origin == kSeekCur) base = pos_;
    else if (origin == kSeekEnd) base = std::max(size_, pendingStart_ + static_cast<int64_t>(pending_.size()));
    else if (origin != kSeekSet) return -1;
    const int64_t target = base + offset;
    if (target < 0) return -1;
    pos_ = target;
    return pos_;
}

int32_t File::Descend(MMCKINFO& ck, const MMCKINFO* parent, uint32_t flags) {
    const int64_t parentEnd =
        parent ? parent->dwDataOffset + static_cast<int64_t>(parent->cksize) : std::numeric_limits<int64_t>::max();
    for (;;) {
        if (pos_ + 8 > parentEnd) return MMIOERR_CHUNKNOTFOUND;
        unsigned char head[12];
        const int64_t start = pos_;
        const int64_t got = Read(head, 8);
        if (got < 0) return MMIOERR_CANNOTREAD;
        if (got < 8) {
            pos_ = start;
            return MMIOERR_CHUNKNOTFOUND;
        }
        const FOURCC id = le::U32(head);
        const uint32_t size = le::U32(head + 4);
        const bool isForm = id == kRIFF || id == kLIST;
        FOURCC type = 0;
        if (isForm) {
            const int64_t t = Read(head + 8, 4);
            if (t < 0) return MMIOERR_CANNOTREAD;
            if (t < 4) {
                pos_ = start;
                return MMIOERR_CHUNKNOTFOUND;
            }
            type = le::U32(head + 8);
        }
        bool match = true;
        if (flags & MMIO_FINDCHUNK) match = id == ck.ckid;
        else if (flags & MMIO_FINDRIFF) match = id == kRIFF && type == ck.fccType;
        else if (flags & MMIO_FINDLIST) match = id == kLIST && type == ck.fccType;
        const int64_t dataOffset = start + 8;
        if (match) {
            ck.ckid = id;
            ck.cksize = size;
            ck.fccType = type;
            ck.dwDataOffset = dataOffset;
            ck.dwFlags = 0;
            pos_ = dataOffset + (isForm ? 4 : 0);
            return MMSYSERR_NOERROR;
        }
        pos_ = dataOffset + static_cast<int64_t>(size) + (size & 1);
    }
}

int32_t File::Ascend(MMCKINFO& ck, uint32_t /*flags*/) {
    if (ck.dwFlags & MMIO_DIRTY) {
        const int64_t size = pos_ - ck.dwDataOffset;
        if (size < 0 || size > int64_t{0xFFFFFFFF}) return MMIOERR_CANNOTWRITE;
        if (static_cast<uint32_t>(size) != ck.cksize) {
            unsigned char field[4];
            le::PutU32(field, static_cast<uint32_t>(size));
            const int64_t here = pos_;
            pos_ = ck.dwDataOffset - 4;
            const bool ok = Write(field, 4) == 4;
            pos_ = here;
            if (!ok) return MMIOERR_CANNOTWRITE;
            ck.cksize = static_cast<uint32_t>(size);
        }
        if (size & 1) {
            const unsigned char pad = 0;
            if (Write(&pad, 1) != 1) return MMIOERR_CANNOTWRITE;
        }
        if (!Flush()) return MMIOERR_CANNOTWRITE;
        ck.dwFlags &= ~MMIO_DIRTY;
    }
    pos_ = ck.dwDataOffset + static_cast<int64_t>(ck.cksize) + (ck.cksize & 1);
    return MMSYSERR_NOERROR;
}

int32_t File::CreateChunk(MMCKINFO& ck, uint32_t flags) {
    unsigned char head[12];
    int64_t len = 8;
    if (flags & MMIO_CREATERIFF) ck.ckid = kRIFF;
    else if (flags & MMIO_CREATELIST) ck.ckid = kLIST;
    le::PutU32(head, ck.ckid);
    le::PutU32(head + 4, ck.cksize);
    if (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) {
        le::PutU32(head + 8, ck.fccType);
        len = 12;
    }
    const int64_t start = pos_;
    if (Write(head, len) != len) return MMIOERR_CANNOTWRITE;
    ck.dwDataOffset = start + 8;
    ck.dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

bool File::Truncate(int64_t length) {
    const int64_t pendingEnd = pendingStart_ + static_cast<int64_t>(pending_.size());
    if (!pending_.empty() && pendingEnd > length) {
        if (pendingStart_ >= length) pending_.clear();
        else pending_.resize(static_cast<size_t>(length - pendingStart_));
    }
    if (::ftruncate(fd_, length) != 0) {
        lastErrno_ = errno;
        return false;
    }
    size_ = length;
    if (cacheStart_ + cacheLen_ > length) cacheLen_ = std::max<int64_t>(0, length - cacheStart_);
    return true;
}

int32_t File::Close() {
    if (fd_ < 0) return MMSYSERR_NOERROR;
    bool ok = Flush();
    // A network file system may report a failed write only here.
    if (::close(fd_) != 0 && errno != EINTR) {
        lastErrno_ = errno;
        ok = false;
    }
    fd_ = -1;
    return ok ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

}  // namespace mmio
