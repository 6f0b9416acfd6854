// bench_tagging MODE FOLDER [--cold]: tags every *.wav file directly in FOLDER
// once, as a loop of 4 beats with the tempo derived, and prints the files, the
// seconds the tagging loop took and the peak memory. MODE is one of
//   io-floor      the least work any tagger must do per file: open, read the
//                 RIFF header, write 32 bytes at the end and 4 bytes of RIFF
//                 size, close (no checks at all)
//   io-floor-16   the same from 16 threads at once: what the disk allows when
//                 it is kept busy
//   tag-engine    VelorizeFile, answering Yes to All
//   batch-run     the programs' shared batch run, Yes to All given beforehand
//   taglib-peer   TagLib's RIFF/WAV file: read "fmt " and "data", set the acid
//                 chunk's data
// With --cold the page cache is dropped after the folder is listed, before the
// clock starts (root only).

#include "../DropCaches.h"
#include "BatchRun.h"
#include "PanelChoice.h"
#include "Velorize.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifdef HAVE_TAGLIB
#include <taglib/wavfile.h>
#endif

using namespace velorizer;

namespace {

class QuietUi : public VelorizeUi {
public:
    void MsgBox(const std::string& prompt, int, const std::string&) override {
        if (prompt == "Operation completed.") return;  // the batch run's last word
        std::fprintf(stderr, "%s\n", prompt.c_str());
        ++messages;
    }
    int32_t GetConfirmReadOnly(const std::string&, const std::string&) override { return kAnswerYesToAll; }
    int messages = 0;
};

PanelChoice LoopChoice() {
    PanelChoice c;
    c.kind = PanelChoice::Loop;
    c.beats = 4;
    c.loopRootIndex = 1;
    return c;
}

clsAcidSettings Settings() {
    clsAcidSettings s;
    FillSettings(s, LoopChoice());
    return s;
}

bool IoFloor(const std::string& path, const clsAcidSettings& s) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char head[12];
    bool ok = ::pread(fd, head, 12, 0) == 12;
    uint32_t riff = 0;
    std::memcpy(&riff, head + 4, 4);
    unsigned char chunk[32] = {'a', 'c', 'i', 'd', 24, 0, 0, 0};
    const auto body = s.Contents();
    std::memcpy(chunk + 8, body.data(), 24);
    ok = ok && ::pwrite(fd, chunk, 32, 8 + static_cast<off_t>(riff)) == 32;
    riff += 32;
    ok = ok && ::pwrite(fd, &riff, 4, 4) == 4;
    ::close(fd);
    return ok;
}

int IoFloorThreaded(const std::vector<std::string>& files, const clsAcidSettings& s, int threads) {
    std::atomic<size_t> next{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (size_t i; (i = next++) < files.size();) failed += !IoFloor(files[i], s);
        });
    for (auto& t : pool) t.join();
    return failed;
}

#ifdef HAVE_TAGLIB
// The protected chunk access of TagLib's WAV file, opened up.
class PeerFile : public TagLib::RIFF::WAV::File {
public:
    explicit PeerFile(const char* path) : TagLib::RIFF::WAV::File(path, false) {}
    bool Tag(clsAcidSettings& s) {
        if (!isValid()) return false;
        float tempo = kDefaultTempo;
        WaveFormat f;
        bool haveFmt = false;
        for (unsigned i = 0; i < chunkCount(); ++i) {
            const TagLib::ByteVector name = chunkName(i);
            if (name == "fmt " && chunkDataSize(i) >= 16) {
                const TagLib::ByteVector d = chunkData(i);
                f.channels = d.toUShort(2, false);
                f.samplesPerSec = d.toUInt(4, false);
                f.blockAlign = d.toUShort(12, false);
                f.bitsPerSample = d.toUShort(14, false);
                haveFmt = true;
            } else if (name == "data" && haveFmt) {
                tempo = LoopTempo(s.LoopBeats(), f, chunkDataSize(i));
            }
        }
        s.Tempo(tempo);
        const auto body = s.Contents();
        setChunkData("acid", TagLib::ByteVector(reinterpret_cast<const char*>(body.data()), 24));
        return true;
    }
};
#endif

}  // namespace

int main(int argc, char** argv) {
    const bool cold = argc == 4 && std::strcmp(argv[3], "--cold") == 0;
    if (argc != 3 && !cold) {
        std::fprintf(stderr,
                     "usage: bench_tagging io-floor|io-floor-16|tag-engine|batch-run|taglib-peer FOLDER [--cold]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string folder = argv[2];
    std::vector<std::string> files;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".wav") == 0) files.push_back(folder + "/" + n);
        }
        ::closedir(d);
    }
    std::sort(files.begin(), files.end());

    clsAcidSettings settings = Settings();
    QuietUi ui;
    int failed = 0;
    if (cold && !bench::DropCaches()) {
        std::perror("bench_tagging: /proc/sys/vm/drop_caches");
        return 3;
    }
    const auto start = std::chrono::steady_clock::now();
    if (mode == "io-floor") {
        for (const auto& f : files) failed += !IoFloor(f, settings);
    } else if (mode == "io-floor-16") {
        failed = IoFloorThreaded(files, settings, 16);
    } else if (mode == "batch-run") {
        BatchRun run(files, LoopChoice(), ui);
        run.PresetAnswer(kAnswerYesToAll);
        failed = static_cast<int>(run.Run().failed) + ui.messages;
    } else if (mode == "tag-engine") {
        int32_t ro = kAnswerYesToAll, rt = kAnswerYesToAll;
        for (const auto& f : files) failed += VelorizeFile(f, settings, ro, rt, ui).result != Result::Written;
#ifdef HAVE_TAGLIB
    } else if (mode == "taglib-peer") {
        for (const auto& f : files) {
            PeerFile peer(f.c_str());
            failed += !peer.Tag(settings);
        }
#endif
    } else {
        std::fprintf(stderr, "bench_tagging: unknown mode %s\n", mode.c_str());
        return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    std::printf("files %zu failed %d seconds %.6f maxrss_kb %ld\n", files.size(), failed, seconds, ru.ru_maxrss);
    return failed ? 1 : 0;
}
