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
    // Each thread is woken only when there is something for it: a worker when
    // the window has room again, the caller when the result it waits for is
    // in. A warm cache hands out results faster than threads can be woken.
    std::condition_variable room, next;
    size_t handed = 0, emitted = 0;
    bool stop = false;
    std::exception_ptr error;

    const auto worker = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            room.wait(lock, [&] { return stop || handed == count || handed < emitted + window; });
            if (stop || handed == count) return;
            const size_t i = handed++;
            lock.unlock();
            std::optional<Result> r;
            try {
                r.emplace(work(i));
            } catch (...) {
                lock.lock();
                if (!error) error = std::current_exception();
                stop = true;
                next.notify_one();
                room.notify_all();
                return;
            }
            lock.lock();
            ready[i % window] = std::move(r);
            if (i == emitted) next.notify_one();
        }
    };
    // Each thread holds a file open: no more threads than descriptors to
    // spare; and threads the system won't give are done without, down to the
    // caller doing every file itself.
    const size_t spare = SpareDescriptors();
    const size_t free = spare > kDescriptorsKept ? spare - kDescriptorsKept : 0;
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::min<size_t>({jobs, count, free}); ++t) {
        try {
            threads.emplace_back(worker);
        } catch (const std::exception&) {
            break;
        }
    }
    if (threads.empty()) {
        for (size_t i = 0; i < count; ++i) {
            Result r = work(i);
            emit(i, r);
        }
        return;
    }
    const auto finish = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        room.notify_all();
        for (std::thread& t : threads) t.join();
    };
    try {
        for (size_t i = 0; i < count; ++i) {
            std::optional<Result> r;
            {
                std::unique_lock<std::mutex> lock(mutex);
                next.wait(lock, [&] { return error || ready[i % window].has_value(); });
                if (error) break;
                r = std::move(ready[i % window]);
                ready[i % window].reset();
                ++emitted;
                // The result after this one may be in already.
            }
            room.notify_one();
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
