#pragma once
// Plays one WAVE file at a time in the background, for the preview button.
//
// The file is streamed: it is read and converted a block at a time as the sound
// output asks for more, so a long file costs no more memory than a short one.
// Needs a running Qt event loop (a QCoreApplication or QApplication) on the
// thread that calls it; the sound is fed from that loop.

#include <memory>
#include <string>

namespace velorizer {

class WavePlayer {  // one per program; lives on the GUI thread
public:
    static WavePlayer& Instance();

    // Starts playing the file in the background and returns at once; a sound
    // still playing is replaced. False when it could not start: a missing file,
    // not a WAVE file, an encoding we can't play, no audio output. The path is
    // used byte for byte, whatever its encoding.
    bool Play(const std::string& path);
    void Stop();
    bool IsPlaying() const;

    // How the sound mixer lists the program's sound: its name and the icon
    // name of its desktop entry. Changes the environment, so call it before
    // any other thread runs; what the user has set there already is kept.
    static void NameInMixer(const std::string& name, const std::string& iconName);

    // Why the last Play returned false, for logs; empty after a successful one.
    const std::string& LastFailure() const;

    WavePlayer(const WavePlayer&) = delete;
    WavePlayer& operator=(const WavePlayer&) = delete;

private:
    WavePlayer();
    ~WavePlayer();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velorizer
