// Reading ahead of a batch run, on real files: it reads the pages tagging will
// need, stays inside its window, never changes a file and never blocks on one.
#include "ReadAhead.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using velorizer::ReadAhead;

namespace {

struct Seen {
    Bytes bytes;
    struct stat st {};
};

Seen Look(const std::string& path) {
    Seen s;
    ::lstat(path.c_str(), &s.st);
    if (S_ISREG(s.st.st_mode)) s.bytes = ReadBytes(path);
    return s;
}

// Whether each page of the file is in the page cache; empty when that can't be told.
std::vector<bool> Resident(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    ::fstat(fd, &st);
    const size_t pages = (static_cast<size_t>(st.st_size) + 4095) / 4096;
    void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    std::vector<unsigned char> in(pages);
    std::vector<bool> r;
    if (map != MAP_FAILED && ::mincore(map, static_cast<size_t>(st.st_size), in.data()) == 0)
        for (unsigned char c : in) r.push_back((c & 1) != 0);
    if (map != MAP_FAILED) ::munmap(map, static_cast<size_t>(st.st_size));
    return r;
}

bool Evict(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    const std::vector<bool> r = Resident(path);
    return ok && !r.empty() && std::find(r.begin(), r.end(), true) == r.end();
}

template <typename Pred> bool Within(std::chrono::milliseconds limit, Pred pred) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

TEST(ReadAhead, StaysInItsWindowAndChangesNothingNotEvenAFifo) {
    TempDir dir;
    const std::string seed = MakeSoxWave(dir, "seed.wav", 8000, 1, 16, "signed-integer", 0.05);
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back(dir / ("f" + std::to_string(i) + ".wav"));
        std::filesystem::copy_file(seed, files.back());
    }
    // What a hostile tree holds under *.wav names.
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0644), 0);
    std::filesystem::create_symlink(dir / "fifo.wav", dir / "link-to-fifo.wav");
    std::filesystem::create_symlink(seed, dir / "link.wav");
    std::filesystem::create_directory(dir.path() / "folder.wav");
    WriteBytes(dir / "text.wav", {'h', 'i'});
    WriteBytes(dir / "empty.wav", {});
    ::chmod(files[3].c_str(), 0444);
    for (const char* odd :
         {"fifo.wav", "link-to-fifo.wav", "link.wav", "folder.wav", "text.wav", "empty.wav", "missing.wav"})
        files.insert(files.begin() + 5, dir / odd);
    std::map<std::string, Seen> before;
    for (const auto& f : files) before[f] = Look(f);

    // Tests see the clock's granularity: let any change show in the times.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    {
        ReadAhead ahead(files, 8, 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(ahead.Done(), 0u) << "nothing is read before the run begins";
        ahead.At(0);
        ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return ahead.Done() >= 8; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(ahead.Done(), 8u) << "files 1 to 8 only";
        ahead.At(30);
        ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return ahead.Done() >= 16; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(ahead.Done(), 16u) << "files the run passed are not read: 31 to 38";
        ahead.At(files.size() - 1);
        ahead.Stop();
        ahead.At(3);  // after Stop: ignored, no thread starts again
    }
    for (const auto& f : files) {
        const Seen now = Look(f);
        EXPECT_EQ(now.bytes, before[f].bytes) << f;
        EXPECT_EQ(now.st.st_mode, before[f].st.st_mode) << f;
        EXPECT_EQ(now.st.st_mtim.tv_nsec, before[f].st.st_mtim.tv_nsec) << f;
        EXPECT_EQ(now.st.st_mtim.tv_sec, before[f].st.st_mtim.tv_sec) << f;
        EXPECT_EQ(now.st.st_ctim.tv_nsec, before[f].st.st_ctim.tv_nsec) << f;
    }
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
        ASSERT_TRUE(Within(std::chrono::seconds(10), [&] { return ahead.Done() >= 200; }));
    }  // threads waiting for the run to move on are woken and joined
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
