// The player against a real PulseAudio server with a null sink: what reaches
// the server is read back with pactl (our stream and its format) and parec (the
// sink's monitor, to hear that the samples arrive).

#include "TestSupport.h"
#include "WavePlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using velorizer::WavePlayer;

namespace {

// Runs the event loop, which feeds the sound, until pred() holds or ms pass.
bool PumpUntil(const std::function<bool()>& pred, int ms) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QString Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(PumpUntil([&] { return p.state() == QProcess::NotRunning; }, 10000)) << program.toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

struct SinkInput {
    int index = -1;
    std::string sampleFormat;  // e.g. "s16le 2ch 44100Hz"
    bool corked = true;
};

// The server's playback streams that belong to this process.
std::vector<SinkInput> OurStreams() {
    std::vector<SinkInput> ours;
    const QString pid = QString::number(::getpid());
    for (const QString& block : Run("pactl", {"list", "sink-inputs"}).split("Sink Input #", Qt::SkipEmptyParts)) {
        if (!block.contains("application.process.id = \"" + pid + "\"")) continue;
        SinkInput in;
        in.index = block.section('\n', 0, 0).trimmed().toInt();
        const auto match = QRegularExpression("Sample \\w+: ([^\n]+)").match(block);
        in.sampleFormat = match.captured(1).trimmed().toStdString();
        in.corked = !block.contains("Corked: no");
        ours.push_back(in);
    }
    return ours;
}

// Waits until exactly one stream of ours is on the server and returns it.
SinkInput OneStream(int ms = 5000) {
    std::vector<SinkInput> ours;
    EXPECT_TRUE(PumpUntil([&] { return (ours = OurStreams()).size() == 1; }, ms)) << ours.size() << " streams";
    return ours.empty() ? SinkInput{} : ours.back();
}

// The loudest sample on the null sink's monitor, listening until it reaches
// `enough` or ms pass.
int MonitorPeak(int enough, int ms) {
    QProcess rec;
    rec.start("parec",
              {"-d", "velorizer_null.monitor", "--format=s16le", "--channels=1", "--raw", "--latency-msec=20"});
    int peak = 0;
    QByteArray carry;
    PumpUntil(
        [&] {
            carry += rec.readAllStandardOutput();
            const qsizetype n = carry.size() / 2;
            for (qsizetype i = 0; i < n; ++i) {
                const int v = static_cast<int16_t>(static_cast<uint8_t>(carry[2 * i]) |
                                                   static_cast<uint8_t>(carry[2 * i + 1]) << 8);
                peak = std::max(peak, std::abs(v));
            }
            carry.remove(0, n * 2);
            return peak >= enough;
        },
        ms);
    rec.kill();
    rec.waitForFinished(2000);
    return peak;
}

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key)
        if (key == "VmRSS:" && status >> value) return value;
    return -1;
}

class Player : public ::testing::Test {
protected:
    void TearDown() override { WavePlayer::Instance().Stop(); }
    WavePlayer& player = WavePlayer::Instance();
    TempDir dir;
};

struct FormatCase {
    const char* name;
    int rate, channels, bits;
    const char* encoding;
    const char* sampleFormat;  // what the server must get
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class PlayerFormats : public Player, public ::testing::WithParamInterface<FormatCase> {};

}  // namespace

TEST_P(PlayerFormats, StartsAndTheSinkHearsIt) {
    const FormatCase& c = GetParam();
    const std::string path = MakeSoxWave(dir, c.name + std::string(".wav"), c.rate, c.channels, c.bits, c.encoding, 4);

    ASSERT_TRUE(player.Play(path)) << player.LastFailure();
    EXPECT_TRUE(player.IsPlaying());
    const SinkInput in = OneStream();
    EXPECT_EQ(in.sampleFormat, c.sampleFormat);
    EXPECT_FALSE(in.corked);
    // sox made a sine at half scale; the monitor mixes it down to mono.
    EXPECT_GT(MonitorPeak(8000, 5000), 8000);
    EXPECT_TRUE(player.IsPlaying());

    player.Stop();
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_TRUE(PumpUntil([] { return OurStreams().empty(); }, 3000));
}

INSTANTIATE_TEST_SUITE_P(Encodings, PlayerFormats,
                         ::testing::Values(FormatCase{"s16", 44100, 2, 16, "signed-integer", "s16le 2ch 44100Hz"},
                                           FormatCase{"s24", 48000, 2, 24, "signed-integer", "float32le 2ch 48000Hz"},
                                           FormatCase{"s32", 44100, 1, 32, "signed-integer", "float32le 1ch 44100Hz"},
                                           FormatCase{"u8", 22050, 1, 8, "unsigned-integer", "u8 1ch 22050Hz"},
                                           FormatCase{"f32", 44100, 2, 32, "floating-point", "float32le 2ch 44100Hz"},
                                           FormatCase{"f64", 32000, 1, 64, "floating-point", "float32le 1ch 32000Hz"},
                                           FormatCase{"s16x6", 48000, 6, 16, "signed-integer", "s16le 6ch 48000Hz"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Player, ASecondPlayReplacesTheSoundAndAThirdRestartsIt) {
    const std::string first = MakeSoxWave(dir, "first.wav", 44100, 2, 16, "signed-integer", 5);
    const std::string second = MakeSoxWave(dir, "second.wav", 48000, 1, 24, "signed-integer", 5);

    ASSERT_TRUE(player.Play(first)) << player.LastFailure();
    const SinkInput a = OneStream();
    EXPECT_EQ(a.sampleFormat, "s16le 2ch 44100Hz");

    ASSERT_TRUE(player.Play(second)) << player.LastFailure();
    const SinkInput b = OneStream();
    EXPECT_EQ(b.sampleFormat, "float32le 1ch 48000Hz");
    EXPECT_NE(b.index, a.index);

    // The same file again: a new stream from the start, not the old one going on.
    ASSERT_TRUE(player.Play(second)) << player.LastFailure();
    const SinkInput c = OneStream();
    EXPECT_NE(c.index, b.index);
    EXPECT_TRUE(player.IsPlaying());
}

TEST_F(Player, EndsByItselfWhenTheFileEnds) {
    const std::string path = MakeSoxWave(dir, "short.wav", 44100, 2, 16, "signed-integer", 0.3);
    ASSERT_TRUE(player.Play(path)) << player.LastFailure();
    EXPECT_TRUE(player.IsPlaying());
    EXPECT_TRUE(PumpUntil([&] { return !player.IsPlaying(); }, 5000));
    // And lets go of the server's stream once the tail has played out.
    EXPECT_TRUE(PumpUntil([] { return OurStreams().empty(); }, 5000));
}

TEST_F(Player, RefusesAtOnceWhatItCannotPlayAndStopsTheOldSound) {
    const std::string good = MakeSoxWave(dir, "good.wav", 44100, 2, 16, "signed-integer", 5);
    WriteBytes(dir / "notes.wav", {'h', 'e', 'l', 'l', 'o', '\n'});
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    WaveBuilder().Fmt(2, 44100, 4, 20, 2).Data(4000).Write(dir, "adpcm.wav");

    const struct {
        std::string path, reason;
    } cases[] = {{dir / "missing.wav", "No such file"},
                 {dir / "notes.wav", "not a WAVE file"},
                 {dir / "pipe.wav", "not a regular file"},  // a writer-less FIFO must not hang us
                 {dir / "adpcm.wav", "cannot be played"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(player.Play(good)) << player.LastFailure();
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(player.Play(c.path)) << c.path;
        // Stopping the old sound is a round trip to the sound server, which a
        // loaded machine may hold up; a FIFO's open would hang for good.
        EXPECT_LT(t.elapsed(), 5000) << c.path;
        EXPECT_NE(player.LastFailure().find(c.reason), std::string::npos) << c.path << ": " << player.LastFailure();
        EXPECT_FALSE(player.IsPlaying()) << c.path;
    }
    EXPECT_TRUE(PumpUntil([] { return OurStreams().empty(); }, 3000));
}

TEST_F(Player, PlaysAPathThatIsNotUtf8) {
    // Latin-1 bytes and a lone 0xFF: no valid UTF-8, and mangled by any
    // conversion to text and back.
    const std::string plain = MakeSoxWave(dir, "plain.wav", 44100, 2, 16, "signed-integer", 3);
    const std::string odd = dir / "Gr\xfc\xdf-\xff.wav";
    fs::rename(plain, odd);

    ASSERT_TRUE(player.Play(odd)) << player.LastFailure();
    EXPECT_EQ(OneStream().sampleFormat, "s16le 2ch 44100Hz");
    EXPECT_GT(MonitorPeak(8000, 5000), 8000);
}

TEST_F(Player, StreamsAGibibyteFileWithoutReadingItIn) {
    // A sparse file: a 44-byte header and 1 GiB of data that takes no disk.
    const std::string path = WaveBuilder().Fmt(2, 44100, 16).Chunk("data", {}).Write(dir, "huge.wav");
    const uint32_t dataBytes = (1u << 30) - 44;
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(40);
        const unsigned char size[4] = {uint8_t(dataBytes), uint8_t(dataBytes >> 8), uint8_t(dataBytes >> 16),
                                       uint8_t(dataBytes >> 24)};
        f.write(reinterpret_cast<const char*>(size), 4);
    }
    fs::resize_file(path, 1u << 30);

    // The first sound output of a process loads the media backend (with Qt 6.8
    // its FFmpeg plugin and libraries): a one-time cost, not streaming memory.
    ASSERT_TRUE(player.Play(WaveBuilder().Fmt(2, 44100, 16).Data(17640).Write(dir, "warm-up.wav")))
        << player.LastFailure();
    OneStream();
    player.Stop();
    ASSERT_TRUE(PumpUntil([] { return OurStreams().empty(); }, 5000));

    const long before = RssKiB();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(player.Play(path)) << player.LastFailure();
    // Starting includes round trips to the sound server: the memory below is
    // what shows that the file is not read in.
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(OneStream().sampleFormat, "s16le 2ch 44100Hz");
    PumpUntil([] { return false; }, 1000);
    EXPECT_TRUE(player.IsPlaying());
    const long grown = RssKiB() - before;
    RecordProperty("rss_growth_kib", std::to_string(grown));
    EXPECT_LT(grown, 16 * 1024) << "RSS grew from " << before << " KiB";
}

TEST(NoAudioServer, PlayFailsAtOnce) {
    TempDir dir;
    const std::string path = MakeSoxWave(dir, "tone.wav", 44100, 2, 16, "signed-integer", 1);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(WavePlayer::Instance().Play(path));
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(WavePlayer::Instance().LastFailure(), "there is no audio output");
    EXPECT_FALSE(WavePlayer::Instance().IsPlaying());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
