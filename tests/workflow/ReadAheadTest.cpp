// Reading ahead of a batch run, on real files: it reads the pages tagging will
// need, stays inside its window, never changes a file and never blocks on one.
#include "ReadAhead.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace testsupport;
using namespace std::chrono_literals;
using velorizer::ReadAhead;

namespace {

// A file's bytes, mode and times: what reading ahead must leave as they were.
using Seen = std::tuple<Bytes, mode_t, time_t, long, long>;
Seen Look(const std::string& path) {
    struct stat st = {};
    ::lstat(path.c_str(), &st);
    return {S_ISREG(st.st_mode) ? ReadBytes(path) : Bytes{}, st.st_mode, st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
            st.st_ctim.tv_nsec};
}

// Whether each page of the file is in the page cache; empty when that can't be told.
std::vector<bool> Resident(const std::string& path) {
    const size_t size = fs::file_size(path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    std::vector<unsigned char> in((size + 4095) / 4096);
    const bool known = map != MAP_FAILED && ::mincore(map, size, in.data()) == 0;
    if (map != MAP_FAILED) ::munmap(map, size);
    std::vector<bool> r;
    for (unsigned char c : in) r.push_back((c & 1) != 0);
    return known ? r : std::vector<bool>{};
}

bool Evict(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    const std::vector<bool> r = Resident(path);
    return ok && !r.empty() && std::ranges::count(r, true) == 0;
}

// Polls `pred` for up to ten seconds.
bool Soon(const std::function<bool()>& pred) {
    for (const auto end = std::chrono::steady_clock::now() + 10s; !pred(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

}  // namespace

TEST(ReadAhead, StaysInItsWindowAndChangesNothingNotEvenAFifo) {
    TempDir dir;
    const std::string seed = MakeSoxWave(dir, "seed.wav", 8000, 1, 16, "signed-integer", 0.05);
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) fs::copy_file(seed, files.emplace_back(dir / ("f" + std::to_string(i) + ".wav")));
    // What a hostile tree holds under *.wav names.
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0644), 0);
    fs::create_symlink(dir / "fifo.wav", dir / "link-to-fifo.wav");
    fs::create_symlink(seed, dir / "link.wav");
    fs::create_directory(dir.path() / "folder.wav");
    WriteBytes(dir / "text.wav", {'h', 'i'});
    WriteBytes(dir / "empty.wav", {});
    ::chmod(files[3].c_str(), 0444);
    for (const char* odd :
         {"fifo.wav", "link-to-fifo.wav", "link.wav", "folder.wav", "text.wav", "empty.wav", "missing.wav"})
        files.insert(files.begin() + 5, dir / odd);
    std::map<std::string, Seen> before;
    for (const auto& f : files) before[f] = Look(f);

    // Tests see the clock's granularity: let any change show in the times.
    std::this_thread::sleep_for(20ms);
    {
        ReadAhead ahead(files, 8, 3);
        // Waits for `n` files read, then a while longer for any more.
        const auto settle = [&](size_t n) {
            EXPECT_TRUE(Soon([&] { return ahead.Done() >= n; }));
            std::this_thread::sleep_for(50ms);
            return ahead.Done();
        };
        EXPECT_EQ(settle(0), 0u) << "nothing is read before the run begins";
        ahead.At(0);
        EXPECT_EQ(settle(8), 8u) << "files 1 to 8 only";
        ahead.At(30);
        EXPECT_EQ(settle(16), 16u) << "files the run passed are not read: 31 to 38";
        ahead.At(files.size() - 1);
        ahead.Stop();
        ahead.At(3);  // after Stop: ignored, no thread starts again
    }
    for (const auto& f : files) EXPECT_TRUE(Look(f) == before[f]) << f;
}

TEST(ReadAhead, ReadsTheHeadersAndTheLastPageOnly) {
    TempDir dir;
    // Long enough that the kernel's own read-ahead from the start doesn't reach its end.
    const std::string big = MakeSoxWave(dir, "big.wav", 48000, 2, 16, "signed-integer", 30.0);
    if (!Evict(big)) GTEST_SKIP() << "the page cache of this file system can't be emptied or read";
    velorizer::MakeResident(big);
    const std::vector<bool> r = Resident(big);
    ASSERT_GT(r.size(), 1000u);
    EXPECT_TRUE(r.front()) << "the header";
    EXPECT_TRUE(r.back()) << "the page an append writes into";
    EXPECT_FALSE(r[r.size() / 2]) << "the audio is not read";
}

TEST(ReadAhead, StopEndsAPoolThatWaitsForTheRun) {
    TempDir dir;
    std::vector<std::string> files(10000, dir / "none.wav");
    const auto start = std::chrono::steady_clock::now();
    {
        ReadAhead ahead(files, 200, 8);
        ahead.At(0);
        ASSERT_TRUE(Soon([&] { return ahead.Done() >= 200; }));
    }  // threads waiting for the run to move on are woken and joined
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}
