#pragma once
// Work on many files at once whose output must still come in the order of the
// files: each file's result is computed on one of a few threads and handed out
// on the calling thread as soon as it and every one before it are done.

#include "Descriptors.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace velorizer::cli {

// Descriptors left free for the output and the run's own needs.
constexpr size_t kDescriptorsKept = 4;

// Calls work(i) for every i below `count` on `jobs` threads, and emit(i,
// result) on the calling thread in the order of i. At most a few results per
// thread wait to be emitted. With one job, plainly one after another.
template <typename Result> void InOrder(size_t count, unsigned jobs, const std::function<Result(size_t)>& work,
                                        const std::function<void(size_t, Result&)>& emit) {
    if (jobs <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i) {
            Result r = work(i);
            emit(i, r);
        }
        return;
    }
    const size_t window = size_t{jobs} * 16;
    std::vector<std::optional<Result>> ready(window);
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0, emitted = 0;
    bool stop = false;
    std::exception_ptr error;

    const auto worker = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stop || next == count || next < emitted + window; });
            if (stop || next == count) return;
            const size_t i = next++;
            lock.unlock();
            std::optional<Result> r;
            try {
                r.emplace(work(i));
            } catch (...) {
                lock.lock();
                if (!error) error = std::current_exception();
                stop = true;
                changed.notify_all();
                return;
            }
            lock.lock();
            ready[i % window] = std::move(r);
            changed.notify_all();
        }
    };
    // Each thread holds a file open: no more threads than descriptors to spare.
    const size_t spare = SpareDescriptors();
    const size_t room = spare > kDescriptorsKept ? spare - kDescriptorsKept : 0;
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::max<size_t>(1, std::min<size_t>({jobs, count, room})); ++t)
        threads.emplace_back(worker);
    const auto finish = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        changed.notify_all();
        for (std::thread& t : threads) t.join();
    };
    try {
        for (size_t i = 0; i < count; ++i) {
            std::optional<Result> r;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return error || ready[i % window].has_value(); });
                if (error) break;
                r = std::move(ready[i % window]);
                ready[i % window].reset();
                ++emitted;
            }
            changed.notify_all();
            emit(i, *r);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    if (error) std::rethrow_exception(error);
}

}  // namespace velorizer::cli
