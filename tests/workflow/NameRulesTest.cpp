// The tempo and key that sample-pack names carry, read from a table of names
// in the styles packs use, misleading numbers and words included.
#include "NameRules.h"
#include "PanelChoice.h"

#include <gtest/gtest.h>
#include <iomanip>
#include <sstream>

using namespace velorizer;

namespace {

// Each name, then what is read from it: the tempo and the root note as the
// panel lists it, "-" for none.
const char* const kNames[] = {
    // Drums
    "Funk_Break_96bpm_Am.wav -> 96 A", "Drum Loop 01 - 120 BPM.wav -> 120 -", "HipHop_Drums_90_bpm_Full.wav -> 90 -",
    "TRAP_808_Loop_140bpm_Cm.wav -> 140 C", "Trap_808_Loop_140_Cm.wav -> 140 C", "Kick_808_Long_F#.wav -> - F#",
    "House_Kick_01_24bit_44k.wav -> - -", "Techno_Top_Loop_128.wav -> 128 -", "DnB_Amen_Break_174bpm.wav -> 174 -",
    "Jungle_Break_bpm170_V2.wav -> 170 -", "Lofi_Drums_Vol_3_85bpm.wav -> 85 -", "Shaker_Loop_16th_122BPM.wav -> 122 -",
    "Perc_Loop_Conga_100_bpm_Take_2.wav -> 100 -", "Snare_Roll_Fill_A_126bpm.wav -> 126 -",
    "Hat_Loop_Open_B.wav -> - -", "CR_78_Rimshot_Loop.wav -> - -", "TR-909_Hats_130bpm.wav -> 130 -",
    "Breakbeat_2019-05-14_95.wav -> 95 -", "Drums_Kit_120_One_Shot_Crash.wav -> - -",
    "Tribal_Toms_110bpm_(Wet).wav -> 110 -", "Drum_Fill_92.5bpm.wav -> 92.5 -",
    "Garage_Shuffle_2step_132_bpm_Gm.wav -> 132 G", "Brush_Loop_70_Take_3.wav -> 70 -", "Clap_Layer_03.wav -> - -",
    // Bass
    "Bass_Loop_Gm_128bpm.wav -> 128 G", "Sub_Bass_C#m_140.wav -> 140 C#", "Reese_Bass_F_minor_174_BPM.wav -> 174 F",
    "Acid_Bass_303_Line_Am_125bpm.wav -> 125 A", "Funk Bass - Eb - 105 BPM.wav -> 105 D#",
    "Bassline_Dmaj_118bpm_24bit.wav -> 118 D", "808_Bass_Glide_Bbm.wav -> - A#", "Slap_Bass_Riff_100_E.wav -> 100 E",
    "Wobble_Bass_150bpm_Key_G.wav -> 150 G", "Deep_House_Bass_122_Am_V2.wav -> 122 A", "Bass_Hit_C1_44.1kHz.wav -> - -",
    "Synthwave_Bass_Arp_A_Minor_100bpm.wav -> 100 A",
    // Synths and keys
    "Synth_Pad_Cmaj_90bpm.wav -> 90 C", "Pluck_Loop_F#m_128_bpm.wav -> 128 F#", "Lead_Synth_Gmaj_Full_126.wav -> 126 G",
    "Analog_Arp_Db_120bpm_Wet.wav -> 120 C#", "Juno_106_Chords_Em_84bpm.wav -> 84 E", "Juno_106_Chords_Em.wav -> - E",
    "Stab_Chord_Minor_C.wav -> - -", "Pad_Ambient_Texture_60bpm_Ab.wav -> 60 G#",
    "Supersaw_Lead_138_BPM_A#m.wav -> 138 A#", "Keys_Rhodes_Loop_80bpm_Bbmaj.wav -> 80 A#",
    "Arp_Sequence_Cmin_Vol_100.wav -> - C", "Synth_Bell_C5_One_Shot.wav -> - -", "Pad_Dark_Em7.wav -> - -",
    "Brass_Stab_G_major_110.wav -> 110 G", "Piano_Loop_C_minor_vs_Am_90bpm.wav -> 90 -",
    "Guitar_Riff_E_Major_Drop_D_110bpm.wav -> 110 E", "96BPM_Funk_Guitar_Am.wav -> 96 A",
    "Strings_Legato_Fmaj_bpm-72.wav -> 72 F", "Cb_Major_Scale_Run.wav -> - B",
    // Vocals
    "Vocal_Chop_Hey_128bpm_Fm.wav -> 128 F", "Vox_Phrase_I_Am_Free_Cm_95bpm.wav -> 95 C",
    "vocal_i_am_here_120bpm.wav -> 120 -", "Female_Vocal_Ooh_Dry_A#.wav -> - A#", "Vocal_Hook_Take_120_Gm.wav -> - G",
    "Choir_Ahh_Gbmaj_70bpm.wav -> 70 F#", "Vocal_Shout_Yeah_01.wav -> - -", "Rap_Adlib_Vol_2_140.wav -> 140 -",
    "Spoken_Word_2023_Edit.wav -> - -", "Vocal_Loop_BPM_100_Key_Dm.wav -> 100 D",
    "Acapella Verse 98 BPM D minor.wav -> 98 D", "Vox_Harmony_Stack_Em_bpm_75.wav -> 75 E",
    "Vocal_Chant_44k_16bit_Mono.wav -> - -", "Gospel_Choir_C#_minor_68bpm.wav -> 68 C#",
    "Adlib_Bb_Wet_100_vs_120.wav -> - A#",
    // Effects and odd marks
    "FX_Riser_8_Bars_128bpm.wav -> 128 -", "FX_Sweep_Up_120_Hz.wav -> - -", "Loop_96bpm_(orig_90bpm).wav -> - -",
    "Tape_Stop_Pitch_100_cents.wav -> - -", "Field_Recording_Rain_48kHz_24bit.wav -> - -",
    "Ambience_Drone_1996bpm.wav -> - -", "Packs/Funk 96bpm/Bass_Am.WAV -> - A",
    // A key after a bare tempo is no unit; units in their usual case only
    "Keys_Loop_128_Db_Major.wav -> 128 C#", "Keys_Loop_128_Eb_Major.wav -> 128 D#", "Pad_Wide_120_MS.wav -> 120 -",
    "Pad_Wide_120_ST.wav -> 120 -", "Stab_120_S.wav -> 120 -", "Delay_Throw_120_ms.wav -> - -",
    // English words, not keys
    "I_Am_Legend_Vox_Loop_120.wav -> 120 -", "Who_Am_I_Vox_128.wav -> 128 -", "6_Am_Vibes_Loop_90.wav -> 90 -",
    // Keys a musician reads at once
    "Brass_Stab_Loop_110_F.wav -> 110 F", "Bell_Loop_100_E.wav -> 100 E", "Organ_Loop_92bpm_G.wav -> 92 G",
    "Pad_Key_of_D.wav -> - D", "Strings_F_sharp_minor_80bpm.wav -> 80 F#", "Bass_Bflat_Loop.wav -> - A#",
    "Lead_Gsharp_minor_140.wav -> 140 G#", "Horn_E_flat_major.wav -> - D#",
    // Tempo ranges and decimal bare tempos
    "Drums_Loop_100-110bpm.wav -> - -", "Drum_Loop_87.5.wav -> 87.5 -", "Break_97.25_Am.wav -> 97.25 A"};
static_assert(std::size(kNames) >= 60);

}  // namespace

TEST(NameRules, TheTableOfSampleNames) {
    for (const std::string entry : kNames) {
        const size_t cut = entry.rfind(" -> ");
        const std::string name = entry.substr(0, cut);
        const std::optional<double> tempo = TempoFromName(name);
        const int root = KeyFromName(name).rootIndex;
        std::ostringstream read;
        read << std::setprecision(17);
        if (tempo) read << *tempo;
        read << (tempo ? " " : "- ") << (root == 0 ? "-" : RootNoteName(root));
        EXPECT_EQ(read.str(), entry.substr(cut + 4)) << name;
    }
}

TEST(NameRules, KeysThatDisagreeAreAllNamed) {
    const NameKey k = KeyFromName("Piano_Loop_C_minor_vs_Am_90bpm.wav");
    EXPECT_EQ(k.rootIndex, 0);
    EXPECT_EQ(k.keys, (std::vector<std::string>{"C minor", "Am"}));
    // The same tonic twice is one key.
    EXPECT_EQ(KeyFromName("Bass_A#m_Bbmin.wav").rootIndex, 11);
}
