// Failures no file system here produces on demand (a refused truncate, close or
// fchmod, a read error mid-file): this program's own definitions of those calls
// stand in front of the C library's and fail the n-th call when armed.

#include "RemoveAcid.h"
#include "RevertChange.h"
#include "TestSupport.h"
#include "Velorize.h"

#include <cerrno>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace testsupport;
using namespace velorizer;

namespace {
enum Call { kPread, kPwrite, kFtruncate, kClose, kFchmod, kCalls };
int g_failIn[kCalls];  // fail the call when its count reaches 0; disarmed at 0
int g_errno[kCalls];

bool Trip(Call c) {
    if (g_failIn[c] <= 0 || --g_failIn[c] > 0) return false;
    errno = g_errno[c];
    return true;
}
template <class F> F Real(const char* name) { return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name)); }
}  // namespace

extern "C" {
ssize_t pread(int fd, void* buf, size_t n, off_t at) {
    static auto real = Real<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    return Trip(kPread) ? -1 : real(fd, buf, n, at);
}
ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
    static auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    return Trip(kPwrite) ? -1 : real(fd, buf, n, at);
}
// Bytes for a file's end go there with pwritev2: the same write, failed alike.
ssize_t pwritev2(int fd, const struct iovec* v, int n, off_t at, int flags) {
    static auto real = Real<ssize_t (*)(int, const struct iovec*, int, off_t, int)>("pwritev2");
    return Trip(kPwrite) ? -1 : real(fd, v, n, at, flags);
}
int ftruncate(int fd, off_t length) noexcept {
    static auto real = Real<int (*)(int, off_t)>("ftruncate");
    return Trip(kFtruncate) ? -1 : real(fd, length);
}
int close(int fd) {
    static auto real = Real<int (*)(int)>("close");
    const int r = real(fd);  // the descriptor is gone even when close reports an error
    return Trip(kClose) ? -1 : r;
}
int fchmod(int fd, mode_t mode) noexcept {
    static auto real = Real<int (*)(int, mode_t)>("fchmod");
    return Trip(kFchmod) ? -1 : real(fd, mode);
}
}

namespace {
// Tags as a loop of 4 beats, answering Yes, with the given calls failing.
std::vector<std::string> TagFailing(const std::string& path, std::initializer_list<std::tuple<Call, int, int>> faults) {
    clsAcidSettings s;
    s.Mode(kModeLoop);
    RecordingUi ui;
    ui.answers = {kAnswerYes, kAnswerYes};
    int32_t ro = 0, rt = 0;
    for (auto [call, nth, err] : faults) g_failIn[call] = nth, g_errno[call] = err;
    ui.ShowOutcome(VelorizeFile(path, s, ro, rt, ui));
    std::fill(std::begin(g_failIn), std::end(g_failIn), 0);
    std::vector<std::string> out;
    for (const auto& m : ui.messages) out.push_back(m.prompt);
    return out;
}
}  // namespace

TEST(SyscallFaults, AReadErrorAnywhereIsToldAndNeverTagsWithTheWrongTempo) {
    TempDir dir;
    // Headers beyond the first 4 KiB read, so that the walk and the searches read again.
    const Bytes original = WaveBuilder().Chunk("JUNK", Bytes(6000, 0)).Fmt(1, 8000, 16).Data(16000).Build();
    const std::string path = dir / "a.wav";
    for (int nth = 1; nth <= 8; ++nth) {
        WriteBytes(path, original);
        const auto messages = TagFailing(path, {{kPread, nth, EIO}});
        if (messages.empty()) {
            EXPECT_EQ(ReadWithSndfile(path).bpm, 240.0f) << "4 beats in one second, read " << nth << " failing";
        } else {
            EXPECT_EQ(ReadBytes(path), original) << nth;
            EXPECT_EQ(messages,
                      std::vector<std::string>{"Velorizer did not change the file '" + path + "': device I/O error."});
        }
    }
}

TEST(SyscallFaults, AFailureThatMayLeaveAChangeIsNeverToldAsNoChange) {
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "a.wav", 8000, 1, 16, "signed-integer", 0.1);
    const Bytes original = ReadBytes(path);
    const std::string mayHave = "Velorizer may have changed the file '" + path + "': ";
    EXPECT_EQ(TagFailing(path, {{kPwrite, 1, ENOSPC}, {kFtruncate, 1, EIO}}),
              (std::vector<std::string>{"error!", mayHave + "disk full, and its former length could not be "
                                                            "restored (device I/O error)."}));
    WriteBytes(path, original);
    EXPECT_EQ(TagFailing(path, {{kClose, 1, EIO}}),
              std::vector<std::string>{mayHave + "closing it failed (device I/O error)."});

    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(TagFailing(path, {{kFchmod, 2, EPERM}}),
              std::vector<std::string>{"Velorizer could not make the file '" + path +
                                       "' read-only again: operation not permitted."});
    struct stat st = {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "the message told the truth";
}

TEST(SyscallFaults, AnUndoOrRemovalStoppedAfterItsCutLeavesNoChunkBehindTheForm) {
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "a.wav", 8000, 1, 16, "signed-integer", 0.1);
    const Bytes original = ReadBytes(path);
    struct : ChangeRecorder {
        FileChange change;
        bool Record(const FileChange& c, std::string&) override { return change = c, true; }
    } kept;
    clsAcidSettings s;
    RecordingUi ui;
    int32_t ro = 0, rt = 0;
    VelorizeFile(path, s, ro, rt, ui, &kept);
    const Bytes tagged = ReadBytes(path);
    ASSERT_EQ(tagged.size(), original.size() + 32);
    Bytes cut = tagged;  // the RIFF size still counts the chunk
    cut.resize(original.size());
    for (const bool undo : {true, false}) {
        WriteBytes(path, tagged);
        g_failIn[kPwrite] = 1, g_errno[kPwrite] = EIO;
        RecordingUi told;
        Outcome o;
        if (undo) EXPECT_EQ(RevertFileChange(kept.change, ro, told, &o), RevertOutcome::Failed);
        else o = RemoveAcidChunks(path, ro, told);
        told.ShowOutcome(o);
        g_failIn[kPwrite] = 0;
        EXPECT_EQ(ReadBytes(path), cut) << (undo ? "undo" : "removal");
        ASSERT_EQ(told.messages.size(), 1u);
        EXPECT_EQ(told.messages[0].prompt, "Velorizer may have changed the file '" + path + "': device I/O error.");
    }
    EXPECT_EQ(RevertFileChange(kept.change, ro, ui), RevertOutcome::Restored) << "undoing again finishes it";
    EXPECT_EQ(ReadBytes(path), original);
}
