#include "ReadAhead.h"

#include "Mmio.h"
#include "RiffForm.h"
#include "TagVerdicts.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace velorizer {

namespace {

// Whether the page at `offset` is in memory: read without waiting for the disk.
bool InMemory(int fd, int64_t offset, int64_t size) {
    unsigned char page[4096];
    iovec v{page, static_cast<size_t>(std::min<int64_t>(size - offset, sizeof page))};
    return ::preadv2(fd, &v, 1, offset, RWF_NOWAIT) == static_cast<ssize_t>(v.iov_len);
}

}  // namespace

bool MakeResident(const std::string& path) {
    // A first look without opening: a FIFO, device or socket under a *.wav
    // name is never opened, a link never followed (tagging reads such a file
    // itself, or refuses it).
    struct stat seen = {};
    if (::lstat(path.c_str(), &seen) != 0 || !S_ISREG(seen.st_mode)) return true;
    // Read-only; O_NONBLOCK and the check after it guard against a special
    // file put in its place meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return true;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return true;
    }
    if (st.st_size == 0 || (InMemory(fd, 0, st.st_size) && InMemory(fd, (st.st_size - 1) / 4096 * 4096, st.st_size))) {
        ::close(fd);
        return true;
    }
    // The reads tagging makes, by the same reader: the first page and every
    // chunk header up to where the form ends.
    const std::unique_ptr<mmio::File> file = mmio::File::Adopt(fd, st, false);
    mmio::FormTable table;
    mmio::ReadForm(*file, kWave, table);
    // The page an append writes into, which a partial write must read first.
    const int64_t size = file->Size();
    if (size > 0) {
        const int64_t last = (size - 1) / 4096 * 4096;
        unsigned char page[4096];
        file->Seek(last, mmio::kSeekSet);
        file->Read(page, std::min<int64_t>(size - last, sizeof page));
    }
    return false;
}

ReadAhead::ReadAhead(const std::vector<std::string>& files, size_t window, unsigned threads, Planner planner)
    : files_(files), window_(window), threadCount_(threads), planner_(std::move(planner)) {}

ReadAhead::~ReadAhead() { Stop(); }

void ReadAhead::At(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) return;
    at_ = index;
    // Files the run has reached are no longer worth reading.
    next_ = std::max(next_, index + 1);
    const size_t limit = Limit();
    if (threadCount_ == 0) return;
    if (!started_ && next_ < limit) {
        // The threads start with the first file there is to read: a run of
        // one file costs none.
        started_ = true;
        // Threads the system won't give are done without: reading ahead only
        // saves time, and the run reads every file itself.
        try {
            for (unsigned i = 0; i < threadCount_; ++i) threads_.emplace_back([this] { Work(); });
        } catch (const std::exception&) {
        }
        return;
    }
    // Woken for a batch, not for each file: on a warm cache the run moves on
    // faster than a thread can be woken.
    if (next_ < limit && (limit - next_ >= std::max<size_t>(1, window_ / 4) || limit == files_.size())) {
        // On a warm cache one thread keeps up.
        if (inMemory_ >= kWarm) wake_.notify_one();
        else wake_.notify_all();
    }
}

size_t ReadAhead::Limit() const { return std::min(files_.size(), at_ + window_ + 1); }

void ReadAhead::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
    threads_.clear();
}

size_t ReadAhead::Done() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

std::map<size_t, FilePlan> ReadAhead::Planned() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<size_t, FilePlan> taken;
    taken.swap(plans_);
    return taken;
}

void ReadAhead::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || next_ < Limit(); });
        if (stop_) return;
        const size_t index = next_++;
        if (planner_) {
            // Planning reads what tagging reads; no file may be skipped.
            lock.unlock();
            FilePlan plan;
            bool planned = true;
            try {
                plan = planner_(files_[index]);
            } catch (...) {
                planned = false;  // out of memory: the run plans it itself
            }
            lock.lock();
            if (planned) plans_.emplace(index, std::move(plan));
            ++done_;
            continue;
        }
        // Files found in memory one after another: the cache is warm, and
        // only every kStride-th file is looked at, until one is not.
        const size_t skipped = inMemory_ >= kWarm ? std::min(kStride - 1, Limit() - next_) : 0;
        next_ += skipped;
        lock.unlock();
        const bool wasInMemory = MakeResident(files_[index]);
        lock.lock();
        inMemory_ = wasInMemory ? inMemory_ + 1 : 0;
        done_ += 1 + skipped;
    }
}

}  // namespace velorizer
