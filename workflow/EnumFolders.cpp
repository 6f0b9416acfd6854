#include "EnumFolders.h"

#include "Descriptors.h"
#include "RunTimeError.h"
#include "Wildcard.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <dirent.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace velorizer {

namespace {

// Name order that people expect: letters compared without case, then byte order.
bool NameLess(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto fa = static_cast<unsigned char>(a[i]), fb = static_cast<unsigned char>(b[i]);
        if (fa >= 'A' && fa <= 'Z') fa = static_cast<unsigned char>(fa - 'A' + 'a');
        if (fb >= 'A' && fb <= 'Z') fb = static_cast<unsigned char>(fb - 'A' + 'a');
        if (fa != fb) return fa < fb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::string Join(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// What one folder holds, read in one go: by the walk itself, or ahead of it.
struct Listing {
    int openError = 0;   // the folder could not be opened
    bool known = false;  // its identity could be read
    std::pair<dev_t, ino_t> id{};
    int readError = 0;  // listing it failed part-way
    // Matching the wildcard, in name order, each with its identity as the
    // listing gives it (a link's target's for a link).
    std::vector<std::string> files;
    std::vector<std::pair<uint64_t, uint64_t>> fileIds;
    std::vector<std::string> folders;  // in name order
    bool Listed() const { return openError == 0 && readError == 0; }
};

Listing ListFolder(const std::string& path, const std::string& wildcard) {
    Listing l;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        l.openError = errno == ENOENT ? ENOTDIR : errno;
        return l;
    }
    struct stat self = {};
    l.known = ::fstat(::dirfd(dir), &self) == 0;
    l.id = {self.st_dev, self.st_ino};
    struct Found {
        std::string name;
        std::pair<uint64_t, uint64_t> id;
    };
    std::vector<Found> files;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (!e) break;
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        bool isFolder = e->d_type == DT_DIR;
        std::pair<uint64_t, uint64_t> id{self.st_dev, e->d_ino};
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st = {};
            const bool seen = ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0;
            isFolder = seen && S_ISDIR(st.st_mode);
            if (seen) id = {st.st_dev, st.st_ino};
        }
        if (isFolder) l.folders.push_back(name);
        else if (MatchesWildcard(name, wildcard)) files.push_back({name, id});
    }
    l.readError = errno;  // readdir's own: 0 at the end of the folder
    ::closedir(dir);
    if (l.readError != 0) {
        l.folders.clear();
        return l;
    }
    std::sort(files.begin(), files.end(), [](const Found& a, const Found& b) { return NameLess(a.name, b.name); });
    for (Found& f : files) {
        l.files.push_back(std::move(f.name));
        l.fileIds.push_back(f.id);
    }
    std::sort(l.folders.begin(), l.folders.end(), NameLess);
    return l;
}

// A folder's place in the walk: the positions of it and its parents among
// their siblings. The walk visits folders in the order of their places.
using Place = std::vector<uint32_t>;

// Lists the folders the walk will enter next on a few threads, while the walk
// reports what it has; on a cold disk each listing is a wait. The threads take
// the folders in the walk's order and stay a bounded number of folders ahead.
// They only read, and only folders.
class WalkAhead {
public:
    static constexpr unsigned kThreads = 4;
    static constexpr size_t kFolders = 64;     // listed and not yet taken, at most
    static constexpr size_t kNames = 1 << 18;  // ... or names held in them
    static constexpr size_t kKept = 3;         // descriptors left to the walk and its caller

    explicit WalkAhead(std::string wildcard) : wildcard_(std::move(wildcard)) {}
    ~WalkAhead() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    WalkAhead(const WalkAhead&) = delete;
    WalkAhead& operator=(const WalkAhead&) = delete;

    // The listing of the folder at `path`, whose place is `place`: listed
    // ahead, or now when no thread has begun it.
    Listing Take(const Place& place, const std::string& path) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto it = slots_.find(place);
        while (it != slots_.end() && it->second.state == Slot::Busy) {
            done_.wait(lock);
            it = slots_.find(place);
        }
        if (it != slots_.end() && it->second.state == Slot::Ready && it->second.path == path) {
            Listing l = std::move(it->second.listing);
            Forget(it);
            wake_.notify_all();
            return l;
        }
        if (it != slots_.end()) Forget(it);
        lock.unlock();
        Listing l = ListFolder(path, wildcard_);
        lock.lock();
        Expect(place, path, l);
        return l;
    }

    // The folder at `place` is not walked after all: nothing below it is.
    void Skip(const Place& place) {
        std::lock_guard<std::mutex> lock(mutex_);
        Place first = place;
        first.push_back(0);
        for (auto it = slots_.lower_bound(first); it != slots_.end() && it->first.size() > place.size() &&
                                                  std::equal(place.begin(), place.end(), it->first.begin());)
            it = Forget(it);
    }

private:
    struct Slot {
        enum State { Waiting, Busy, Ready } state = Waiting;
        std::string path;
        Listing listing;
    };
    using Slots = std::map<Place, Slot>;

    // With the mutex held.
    Slots::iterator Forget(Slots::iterator it) {
        if (it->second.state != Slot::Waiting) --working_;
        if (it->second.state == Slot::Ready) held_ -= Names(it->second.listing);
        if (it->second.state == Slot::Waiting) waiting_.erase(it->first);
        return slots_.erase(it);
    }

    static size_t Names(const Listing& l) { return l.files.size() + l.folders.size(); }

    // The subfolders of a folder just listed are the walk's next ones.
    void Expect(const Place& place, const std::string& path, const Listing& l) {
        if (!l.Listed() || l.folders.empty()) return;
        Place child = place;
        child.push_back(0);
        for (uint32_t i = 0; i < l.folders.size(); ++i) {
            child.back() = i;
            Slot& s = slots_[child];
            s.path = Join(path, l.folders[i]);
            waiting_.insert(child);
        }
        if (!started_) {
            // Threads only for a walk that has subfolders, and only as many as
            // leave the walk a descriptor of its own.
            started_ = true;
            const size_t spare = SpareDescriptors();
            const size_t threads = std::min<size_t>(kThreads, spare > kKept ? spare - kKept : 0);
            // Threads the system won't give are done without: the walk
            // lists every folder no thread has taken itself.
            try {
                for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
            } catch (const std::exception&) {
            }
        }
        wake_.notify_all();
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || (!waiting_.empty() && working_ < kFolders && held_ < kNames); });
            if (stop_) return;
            const Place place = *waiting_.begin();
            waiting_.erase(waiting_.begin());
            Slot& slot = slots_.at(place);
            slot.state = Slot::Busy;
            ++working_;
            const std::string path = slot.path;
            lock.unlock();
            Listing l;
            bool listed = true;
            try {
                l = ListFolder(path, wildcard_);
            } catch (...) {
                listed = false;  // the walk lists it itself, and meets the failure there
            }
            lock.lock();
            const auto it = slots_.find(place);
            if (it == slots_.end()) continue;  // skipped meanwhile
            // A thread short of descriptors says nothing about the folder:
            // the walk lists it itself.
            if (!listed || l.openError == EMFILE || l.openError == ENFILE) {
                Forget(it);
            } else {
                held_ += Names(l);
                it->second.state = Slot::Ready;
                it->second.listing = std::move(l);
                Expect(place, path, it->second.listing);
            }
            done_.notify_all();
        }
    }

    const std::string wildcard_;
    std::mutex mutex_;
    std::condition_variable wake_;  // for the threads
    std::condition_variable done_;  // for the walk
    Slots slots_;
    std::set<Place> waiting_;
    size_t working_ = 0;  // slots being listed or listed
    size_t held_ = 0;     // names in listed slots
    bool stop_ = false;
    bool started_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace

struct EnumFolders::Walk {
    std::string wildcard;
    std::set<std::pair<dev_t, ino_t>> visited;
    std::vector<std::pair<dev_t, ino_t>> inside;  // the folders being walked, outermost first
    WalkAhead ahead;
    Place place;  // of the folder being walked
};

void EnumFolders::Go(const std::string& Directory, const std::string& Wildcard) {
    Run("Sub Go", [&] {
        Walk walk{Wildcard, {}, {}, WalkAhead(Wildcard), {}};
        EnumFiles(walk, Directory);
    });
}

void EnumFolders::Run(std::string_view signature, const std::function<void()>& body) {
    if (Procedure) Procedure(signature, body);
    else body();
}

void EnumFolders::EnumFiles(Walk& walk, const std::string& path) {
    Run("Sub EnumFiles", [&] {
        const auto fail = [&](int err) {
            if (!FolderError) throw vb::ErrnoError(err);
            std::string reason = vb::StandardErrorText(vb::ErrorNumberFromErrno(err));
            if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
            FolderError(path, reason);
        };
        const Listing l = walk.ahead.Take(walk.place, path);
        if (l.openError != 0) return fail(l.openError);
        if (l.known && !walk.visited.insert(l.id).second) {
            walk.ahead.Skip(walk.place);  // reached again through a link: already walked
            if (FolderError && std::find(walk.inside.begin(), walk.inside.end(), l.id) != walk.inside.end())
                FolderError(path, "it leads back to a folder that holds it");
            return;
        }
        if (l.readError != 0) return fail(l.readError);

        // However this folder is left (a handler's error ends it here), the
        // walk's state is as its caller had it, and nothing fetched below it
        // stays behind.
        struct Leave {
            Walk& w;
            ~Leave() {
                w.inside.resize(depth);
                w.place.resize(depth);
                try {
                    w.ahead.Skip(w.place);
                } catch (...) {
                    // Out of memory: what stays fetched is only held until the walk ends.
                }
            }
            size_t depth;
        } leave{walk, walk.inside.size()};
        for (size_t i = 0; i < l.files.size(); ++i) {
            if (FileFound) FileFound(Join(path, l.files[i]), l.fileIds[i].first, l.fileIds[i].second);
            else if (File) File(Join(path, l.files[i]));
        }
        walk.inside.push_back(l.id);
        walk.place.push_back(0);
        for (uint32_t i = 0; i < l.folders.size(); ++i) {
            walk.place.back() = i;
            EnumFiles(walk, Join(path, l.folders[i]));
        }
    });
}

}  // namespace velorizer
