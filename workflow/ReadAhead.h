#pragma once
// Makes the headers of the next files of a run resident while the run works on
// the current one, so that a cold disk serves many files at once instead of
// one wait after another. A few threads read, through descriptors of their
// own opened read-only, exactly the pages tagging will read or write: the
// chunk headers from the file's start and the page where the file ends. They
// never write, never open anything but a regular file without blocking, and
// stay a bounded number of files ahead of the run.

#include "Velorize.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velorizer {

class ReadAhead {
public:
    static constexpr size_t kWindow = 128;
    static constexpr unsigned kThreads = 8;
    // After this many files in a row found in memory, only every kStride-th
    // file is looked at: a warm run pays almost nothing.
    static constexpr size_t kWarm = 64;
    static constexpr size_t kStride = 16;

    // Plans one file ahead of the run: what tagging it would write.
    using Planner = std::function<FilePlan(const std::string& path)>;

    // `files` must outlive this object. Nothing is read before the first At();
    // with no threads, nothing at all. With a planner every file ahead is
    // planned as well (none is skipped), and its plan kept for Planned().
    explicit ReadAhead(const std::vector<std::string>& files, size_t window = kWindow, unsigned threads = kThreads,
                       Planner planner = {});
    // Stops and joins the threads.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The run has reached files[index]: read the files after it, up to the window.
    void At(size_t index);
    // No more reading; a file being read is finished. Returns once every
    // thread has ended.
    void Stop();
    // Files read so far (skipped ones included).
    size_t Done() const;
    // The plans made so far, by file index, taken out; never waits.
    std::map<size_t, FilePlan> Planned();

private:
    void Work();
    // The end of the files the threads may read now; with the mutex held.
    size_t Limit() const;

    const std::vector<std::string>& files_;
    const size_t window_;
    const unsigned threadCount_;
    const Planner planner_;
    std::map<size_t, FilePlan> plans_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    size_t at_ = 0;    // the run's file
    size_t next_ = 0;  // the next file to read
    size_t done_ = 0;
    size_t inMemory_ = 0;  // files in a row found in memory already
    bool started_ = false;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// Reads the pages of one file that tagging reads or writes, through a
// read-only descriptor of its own; anything but a regular file is left
// unopened or closed at once. True when there was nothing to read: the
// file's first and last pages were in memory already (or it is no file to
// read). Used by ReadAhead's threads.
bool MakeResident(const std::string& path);

}  // namespace velorizer
