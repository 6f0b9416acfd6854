// The trees of empty *.wav files that the list is filled from, and the floor a
// listing of them is held against.
//   bench_tree make ROOT FOLDERS FILES   ROOT/packNN/kitNN/hitNNN.wav, FOLDERS
//                                        kit folders (ten to a pack) of FILES
//                                        files each; prints the seconds
//   bench_tree walk ROOT [--cold]        lists the tree from 16 threads, a
//                                        folder at a time (readdir, and a stat
//                                        only where readdir gives no type, as
//                                        the folder walker needs); prints the
//                                        files found and the seconds
// With --cold the page cache is dropped before the clock starts (root only).

#include "../DropCaches.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool EndsWithWav(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 4 && strcasecmp(name + n - 4, ".wav") == 0;
}

// Two threads: file creation waits on the journal as much as on the CPU.
bool Make(const std::string& root, int folders, int files) {
    std::atomic<int> next{0};
    std::atomic<bool> ok{true};
    auto work = [&] {
        char path[4096];
        for (int d; (d = next++) < folders;) {
            std::snprintf(path, sizeof path, "%s/pack%02d", root.c_str(), d / 10);
            ::mkdir(path, 0755);  // a pack is shared by ten kits: it may be there already
            const size_t kit =
                static_cast<size_t>(std::snprintf(path, sizeof path, "%s/pack%02d/kit%02d", root.c_str(), d / 10, d));
            if (::mkdir(path, 0755) != 0) ok = false;
            for (int f = 0; f < files && ok; ++f) {
                std::snprintf(path + kit, sizeof path - kit, "/hit%03d.wav", f);
                const int fd = ::open(path, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                if (fd < 0) ok = false;
                else ::close(fd);
            }
        }
    };
    std::thread other(work);
    work();
    other.join();
    return ok;
}

// A queue of folders shared by the threads; the walk ends when it is empty and
// no thread is still reading a folder that may add more.
class Walk {
public:
    size_t Go(const std::string& root, int threads) {
        queue_.push_back(root);
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) pool.emplace_back([this] { Work(); });
        for (auto& t : pool) t.join();
        return files_;
    }

private:
    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !queue_.empty() || busy_ == 0; });
            if (queue_.empty()) return;
            const std::string folder = std::move(queue_.front());
            queue_.pop_front();
            ++busy_;
            lock.unlock();
            std::vector<std::string> found;
            const size_t files = List(folder, found);
            lock.lock();
            files_ += files;
            for (auto& f : found) queue_.push_back(std::move(f));
            --busy_;
            changed_.notify_all();
        }
    }

    static size_t List(const std::string& folder, std::vector<std::string>& folders) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) return 0;
        struct stat self = {};
        ::fstat(::dirfd(dir), &self);
        size_t files = 0;
        while (const dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            bool isFolder = e->d_type == DT_DIR;
            if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
                struct stat st = {};
                isFolder = ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
            }
            if (isFolder) folders.push_back(folder + "/" + e->d_name);
            else files += EndsWithWav(e->d_name);
        }
        ::closedir(dir);
        return files;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    int busy_ = 0;
    size_t files_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const auto start = Clock::now();
    const auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    if (argc == 5 && std::strcmp(argv[1], "make") == 0) {
        if (::mkdir(argv[2], 0755) != 0 || !Make(argv[2], std::atoi(argv[3]), std::atoi(argv[4]))) {
            std::perror("bench_tree make");
            return 1;
        }
        std::printf("seconds %.6f\n", seconds());
        return 0;
    }
    const bool cold = argc == 4 && std::strcmp(argv[3], "--cold") == 0;
    if ((argc == 3 || cold) && std::strcmp(argv[1], "walk") == 0) {
        if (cold && !bench::DropCaches()) {
            std::perror("bench_tree: /proc/sys/vm/drop_caches");
            return 3;
        }
        const auto begin = Clock::now();
        const size_t files = Walk().Go(argv[2], 16);
        std::printf("files %zu seconds %.6f\n", files, std::chrono::duration<double>(Clock::now() - begin).count());
        return 0;
    }
    std::fprintf(stderr, "usage: bench_tree make ROOT FOLDERS FILES | walk ROOT [--cold]\n");
    return 2;
}
