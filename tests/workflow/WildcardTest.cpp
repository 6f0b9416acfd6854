#include "Wildcard.h"

#include <gtest/gtest.h>

using velorizer::MatchesWildcard;

TEST(Wildcard, StarDotWavTakesEveryCaseAndNothingElse) {
    for (const char* yes : {"kick.wav", "Kick.WAV", "loop.Wav", ".wav", "a.b.wav", "x.wAv"})
        EXPECT_TRUE(MatchesWildcard(yes, "*.wav")) << yes;
    for (const char* no : {"song.wave", "song.wav.bak", "wav", "songwav", "song.wa", ""})
        EXPECT_FALSE(MatchesWildcard(no, "*.wav")) << no;
}

TEST(Wildcard, QuestionMarkDigitsAndLists) {
    EXPECT_TRUE(MatchesWildcard("take1.wav", "take?.wav"));
    EXPECT_FALSE(MatchesWildcard("take.wav", "take?.wav"));
    EXPECT_TRUE(MatchesWildcard("take7.wav", "take#.wav"));
    EXPECT_FALSE(MatchesWildcard("takeX.wav", "take#.wav"));
    EXPECT_TRUE(MatchesWildcard("b", "[abc]"));
    EXPECT_TRUE(MatchesWildcard("B", "[abc]")) << "lists ignore case too";
    EXPECT_FALSE(MatchesWildcard("d", "[abc]"));
    EXPECT_TRUE(MatchesWildcard("m", "[a-z]"));
    EXPECT_FALSE(MatchesWildcard("5", "[a-z]"));
    EXPECT_TRUE(MatchesWildcard("5", "[!a-z]"));
    EXPECT_FALSE(MatchesWildcard("q", "[!a-z]"));
    EXPECT_TRUE(MatchesWildcard("x-", "x[-]"));
    EXPECT_TRUE(MatchesWildcard("a[b", "a[b")) << "an unclosed list is a plain bracket";
    EXPECT_TRUE(MatchesWildcard("loop_07_c.wav", "loop_##_[a-g].WAV"));
}

TEST(Wildcard, StarsBacktrackAndUtf8IsOneCharacter) {
    EXPECT_TRUE(MatchesWildcard("aXbXc", "*X*c"));
    EXPECT_TRUE(MatchesWildcard("abcabd", "*abd"));
    EXPECT_FALSE(MatchesWildcard("abcabe", "*abd"));
    EXPECT_TRUE(MatchesWildcard("anything", "**"));
    EXPECT_TRUE(MatchesWildcard("\xC3\xA9t\xC3\xA9.wav", "?t?.wav")) << "é is one character";
    EXPECT_TRUE(MatchesWildcard("bad\xFF.wav", "bad?.wav")) << "a stray byte is one character";
}
