#include "TestSupport.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sndfile.h>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "velorizer-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write permission first, so that read-only leftovers go too.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int64_t BytesReadByThisProcess() {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        int64_t v;
        io >> v;
        if (key == "rchar:") return v;
    }
    return -1;
}

uint32_t LE32At(const Bytes& b, size_t o) {
    return uint32_t(b.at(o)) | uint32_t(b.at(o + 1)) << 8 | uint32_t(b.at(o + 2)) << 16 | uint32_t(b.at(o + 3)) << 24;
}

void Sox(const std::string& args) {
    const std::string cmd = "sox -q " + args + " 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

std::string MakeSoxWave(const TempDir& dir, const std::string& name, int rate, int channels, int bits,
                        const std::string& encoding, double seconds) {
    const std::string path = dir / name;
    Sox("-n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b " + std::to_string(bits) + " -e " +
        encoding + " '" + path + "' synth " + std::to_string(seconds) + " sine 440 vol 0.5");
    return path;
}

static void PutLE(Bytes& b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

WaveBuilder& WaveBuilder::Chunk(const std::string& id, const Bytes& body, bool pad) {
    chunks_.insert(chunks_.end(), id.begin(), id.end());
    PutLE(chunks_, static_cast<uint32_t>(body.size()), 4);
    chunks_.insert(chunks_.end(), body.begin(), body.end());
    if (pad && (body.size() & 1)) chunks_.push_back(0);
    return *this;
}

WaveBuilder& WaveBuilder::Fmt(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t size, uint16_t tag,
                              int blockAlign) {
    Bytes b;
    const uint16_t align =
        blockAlign >= 0 ? static_cast<uint16_t>(blockAlign) : static_cast<uint16_t>(channels * ((bits + 7) / 8));
    PutLE(b, tag, 2);
    PutLE(b, channels, 2);
    PutLE(b, rate, 4);
    PutLE(b, rate * align, 4);
    PutLE(b, align, 2);
    PutLE(b, bits, 2);
    while (b.size() < size) b.push_back(0);
    return Chunk("fmt ", b);
}

WaveBuilder& WaveBuilder::Data(uint32_t bytes) {
    Bytes b(bytes);
    for (uint32_t i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
    return Chunk("data", b);
}

WaveBuilder& WaveBuilder::Acid(const Bytes& body) { return Chunk("acid", body); }

WaveBuilder& WaveBuilder::RiffSize(uint32_t size) {
    riffSizeSet_ = true;
    riffSize_ = size;
    return *this;
}

Bytes WaveBuilder::Build() const {
    Bytes out{'R', 'I', 'F', 'F'};
    PutLE(out, riffSizeSet_ ? riffSize_ : static_cast<uint32_t>(4 + chunks_.size()), 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    out.insert(out.end(), chunks_.begin(), chunks_.end());
    return out;
}

std::string WaveBuilder::Write(const TempDir& dir, const std::string& name) const {
    const std::string path = dir / name;
    WriteBytes(path, Build());
    return path;
}

void RecordingUi::MsgBox(const std::string& prompt, int style, const std::string& title) {
    messages.push_back({prompt, style, title});
}

int32_t RecordingUi::GetConfirmReadOnly(const std::string& title, const std::string& message) {
    questions.push_back({title, message});
    if (answers.empty()) return velorizer::kAnswerNo;
    const int32_t a = answers.front();
    answers.pop_front();
    return a;
}

std::string RunInChild(const std::function<void(std::string& out)>& fn, bool unprivileged, int* exitStatus) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (unprivileged && ::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        std::string out;
        fn(out);
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string all;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (exitStatus) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return all;
}

SndInfo ReadWithSndfile(const std::string& path, bool readAudio) {
    SndInfo r;
    SF_INFO info{};
    // Through a descriptor: sf_open refuses paths longer than a few hundred bytes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return r;
    SNDFILE* f = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!f) {
        ::close(fd);
        return r;
    }
    r.opened = true;
    r.frames = info.frames;
    r.samplerate = info.samplerate;
    r.channels = info.channels;
    SF_LOOP_INFO loop{};
    r.hasLoop = sf_command(f, SFC_GET_LOOP_INFO, &loop, sizeof loop) == SF_TRUE;
    if (r.hasLoop) {
        r.loopMode = loop.loop_mode;
        r.numBeats = loop.num_beats;
        r.bpm = loop.bpm;
        r.rootKey = loop.root_key;
        r.sigNum = loop.time_sig_num;
        r.sigDen = loop.time_sig_den;
    }
    if (readAudio) {
        r.samples.resize(static_cast<size_t>(info.frames * info.channels));
        sf_readf_double(f, r.samples.data(), info.frames);
    }
    sf_close(f);
    return r;
}

}  // namespace testsupport
