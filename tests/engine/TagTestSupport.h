#pragma once
// What the tagger's tests share: loop settings, one tag with given answers,
// and the check that a file was refused and left as it was.

#include "TestSupport.h"
#include "Velorize.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <sys/stat.h>

namespace testsupport {

// A loop of `beats` beats; the root note counts from 1 = C (MIDI 60), 0 is none.
inline velorizer::clsAcidSettings LoopSettings(int beats, int root = 1) {
    velorizer::clsAcidSettings s;
    s.Mode(root > 0 ? velorizer::kModeLoopRoot : velorizer::kModeLoop);
    if (root > 0) s.MidiBase(static_cast<int16_t>(59 + root));
    s.LoopBeats(beats);
    return s;
}

inline Bytes AcidChunk(const velorizer::clsAcidSettings& s) {
    Bytes b{'a', 'c', 'i', 'd', 24, 0, 0, 0};
    for (auto x : s.Contents()) b.push_back(x);
    return b;
}

// Tags once with the given answers; returns the ui for inspection, which has
// shown the outcome as the desktop program shows it.
inline RecordingUi Tag(const std::string& path, velorizer::clsAcidSettings& s,
                       std::initializer_list<int32_t> answers = {}, int32_t* ro = nullptr, int32_t* rt = nullptr) {
    RecordingUi ui;
    ui.answers.assign(answers.begin(), answers.end());
    int32_t a = 0, b = 0;
    ui.ShowOutcome(velorizer::VelorizeFile(path, s, ro ? *ro : a, rt ? *rt : b, ui));
    return ui;
}

inline mode_t Mode(const std::string& path) {
    struct stat st = {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// The file was left byte for byte and one message named it.
inline void ExpectRefused(const std::string& path, const Bytes& before, const RecordingUi& ui,
                          const std::string& reason) {
    EXPECT_EQ(ReadBytes(path), before) << path;
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].prompt, "Velorizer did not change the file '" + path + "': " + reason + ".");
    EXPECT_EQ(ui.messages[0].style, 16);
    EXPECT_EQ(ui.messages[0].title, "Error");
    EXPECT_TRUE(ui.questions.empty());
}

}  // namespace testsupport
