#include "WavePlayer.h"

#include "WaveSource.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace velorizer {

namespace {

// Frames read from the file per refill: small enough to keep memory flat,
// large enough that a refill is rare next to the output's period.
constexpr int64_t kBlockFrames = 4096;

QAudioFormat::SampleFormat ToQt(OutputSample s) {
    switch (s) {
        case OutputSample::UInt8: return QAudioFormat::UInt8;
        case OutputSample::Int16: return QAudioFormat::Int16;
        case OutputSample::Int32: return QAudioFormat::Int32;
        case OutputSample::Float: return QAudioFormat::Float;
    }
    return QAudioFormat::Unknown;
}

QAudioFormat ToQt(const OutputFormat& f) {
    QAudioFormat q;
    q.setChannelCount(f.channels);
    q.setSampleRate(f.sampleRate);
    q.setSampleFormat(ToQt(f.sample));
    return q;
}

OutputFormat FromQt(const QAudioFormat& q) {
    OutputFormat f{q.channelCount(), q.sampleRate(), OutputSample::Int16};
    if (q.sampleFormat() == QAudioFormat::UInt8) f.sample = OutputSample::UInt8;
    if (q.sampleFormat() == QAudioFormat::Int32) f.sample = OutputSample::Int32;
    if (q.sampleFormat() == QAudioFormat::Float) f.sample = OutputSample::Float;
    return f;
}

// What the sink pulls from: reads, converts and encodes as it is asked, and
// closes the file as soon as the last frame is out.
class WaveStream : public QIODevice {
public:
    WaveStream(std::unique_ptr<WaveReader> reader, const OutputFormat& out)
        : reader_(std::move(reader)),
          out_(out),
          converter_(reader_->Format().channels, reader_->Format().sampleRate, out.channels, out.sampleRate),
          // Upsampling multiplies the frames: read fewer so that a block stays small.
          blockFrames_(
              std::clamp<int64_t>(kBlockFrames * reader_->Format().sampleRate / out.sampleRate, 1, kBlockFrames)) {}

    bool isSequential() const override { return true; }
    // Every frame has been handed to the sink.
    bool Drained() const { return ended_ && pos_ == pending_.size(); }

protected:
    qint64 readData(char* data, qint64 maxlen) override {
        // Whole frames only: the output rejects a partial one.
        const qint64 frameBytes = static_cast<qint64>(out_.channels) * out_.BytesPerSample();
        const qint64 want = maxlen / frameBytes;
        qint64 done = 0;
        while (done < want && (pos_ < pending_.size() || Refill())) {
            const qint64 n = std::min<qint64>(static_cast<qint64>(pending_.size() - pos_) / out_.channels, want - done);
            EncodeSamples(pending_.data() + pos_, n * out_.channels, out_.sample,
                          reinterpret_cast<unsigned char*>(data + done * frameBytes));
            pos_ += static_cast<size_t>(n * out_.channels);
            done += n;
        }
        return done * frameBytes;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    bool Refill() {
        pending_.clear();
        pos_ = 0;
        while (pending_.empty() && !ended_) {
            in_.resize(static_cast<size_t>(blockFrames_ * reader_->Format().channels));
            const int64_t got = reader_->Read(in_.data(), blockFrames_);
            if (got > 0) {
                converter_.Push(in_.data(), got, pending_);
            } else {
                converter_.Finish(pending_);
                ended_ = true;
                reader_.reset();
            }
        }
        return !pending_.empty();
    }

    std::unique_ptr<WaveReader> reader_;
    OutputFormat out_;
    FrameConverter converter_;
    int64_t blockFrames_;
    std::vector<float> in_;
    std::vector<float> pending_;  // converted frames not yet handed over
    size_t pos_ = 0;
    bool ended_ = false;
};

void StopAtExit() { WavePlayer::Instance().Stop(); }

}  // namespace

struct WavePlayer::Impl {
    std::unique_ptr<QAudioSink> sink;
    std::unique_ptr<WaveStream> stream;
    std::string lastFailure;
    uint64_t generation = 0;  // tells a late signal of a replaced sound from the current one
    bool exitHookSet = false;

    void Release() {
        ++generation;
        if (sink) {
            sink->disconnect();
            sink->stop();
        }
        sink.reset();
        stream.reset();
    }

    // Runs from the sink's own signal, so the sink is let go later, never here.
    void OnState(uint64_t gen, QAudio::State state) {
        if (gen != generation || !sink) return;
        if (state == QAudio::IdleState && stream && stream->Drained()) {
            // The last frames are still in the output's buffer: let them play out.
            const QAudioFormat f = sink->format();
            const qint64 bufferMs = f.bytesPerFrame() > 0 && f.sampleRate() > 0
                                        ? sink->bufferSize() * 1000 / f.bytesPerFrame() / f.sampleRate()
                                        : 0;
            QTimer::singleShot(static_cast<int>(2 * bufferMs + 250), [this, gen] {
                if (gen == generation) Release();
            });
        } else if (state == QAudio::StoppedState && sink->error() != QAudio::NoError) {
            // The server went away or the stream broke.
            QTimer::singleShot(0, [this, gen] {
                if (gen == generation) Release();
            });
        }
    }
};

WavePlayer& WavePlayer::Instance() {
    static WavePlayer player;
    return player;
}

WavePlayer::WavePlayer() : impl_(std::make_unique<Impl>()) {}
WavePlayer::~WavePlayer() {
    // Normally the sound is stopped with the application. A sink still open
    // here outlived it (exit() with the application alive), and the sound
    // system it belongs to may be gone already: leave it to the process's end.
    if (impl_->sink) {
        (void)impl_->sink.release();
        (void)impl_->stream.release();
    }
}

bool WavePlayer::Play(const std::string& path) {
    Impl& d = *impl_;
    // A new preview always ends the old one, also when the new one cannot start.
    Stop();
    d.lastFailure.clear();
    auto fail = [&d](const std::string& why) {
        d.lastFailure = why;
        return false;
    };
    if (!QCoreApplication::instance()) return fail("there is no Qt application to play in");

    std::string why;
    auto reader = WaveReader::Open(path, &why);
    if (!reader) return fail(why);

    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return fail("there is no audio output");
    OutputFormat chosen;
    const auto supported = [&device](const OutputFormat& f) { return device.isFormatSupported(ToQt(f)); };
    if (!ChooseOutputFormat(reader->Format(), FromQt(device.preferredFormat()), supported, &chosen))
        return fail("the audio output takes no format we can make of this file");

    auto stream = std::make_unique<WaveStream>(std::move(reader), chosen);
    stream->open(QIODevice::ReadOnly);
    auto sink = std::make_unique<QAudioSink>(device, ToQt(chosen));
    const uint64_t gen = ++d.generation;
    // With the sink as context a signal from the sound system's own thread is
    // queued to ours, and one still queued when the sink goes is dropped.
    QObject::connect(sink.get(), &QAudioSink::stateChanged, sink.get(),
                     [&d, gen](QAudio::State s) { d.OnState(gen, s); });
    // The sink pulls from the stream on this thread's event loop; whether it
    // could start shows in its state right away.
    sink->start(stream.get());
    // A file without frames may run dry at once, which is no failure.
    const bool started = sink->state() == QAudio::ActiveState ? sink->error() == QAudio::NoError
                                                              : sink->state() == QAudio::IdleState && stream->Drained();
    if (!started) {
        const int error = static_cast<int>(sink->error());
        sink->disconnect();
        sink.reset();
        return fail("the audio output did not start (error " + std::to_string(error) + ")");
    }
    d.sink = std::move(sink);
    d.stream = std::move(stream);
    if (!d.exitHookSet) {
        // The sound system goes down with the application; the sink must go first.
        qAddPostRoutine(StopAtExit);
        d.exitHookSet = true;
    }
    return true;
}

// Qt names its sound server connection after nothing of ours; the sound server
// library takes these from the environment when it connects, over Qt's names.
void WavePlayer::NameInMixer(const std::string& name, const std::string& iconName) {
    ::setenv("PULSE_PROP_OVERRIDE_application.name", name.c_str(), 0);
    ::setenv("PULSE_PROP_OVERRIDE_application.icon_name", iconName.c_str(), 0);
}

void WavePlayer::Stop() { impl_->Release(); }

bool WavePlayer::IsPlaying() const {
    // A sink that ran dry before the end (the event loop was held up) is still
    // playing: it picks up again by itself.
    const Impl& d = *impl_;
    if (!d.sink) return false;
    const QAudio::State state = d.sink->state();
    return state == QAudio::ActiveState || (state == QAudio::IdleState && !d.stream->Drained());
}

const std::string& WavePlayer::LastFailure() const { return impl_->lastFailure; }

}  // namespace velorizer
