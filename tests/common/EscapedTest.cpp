// Names shown by both programs: what can hide, reorder or forge text comes out visible.
#include "Escaped.h"

#include <gtest/gtest.h>

using velorizer::Escaped;

TEST(Escaped, ReorderingAndInvisibleCharactersBecomeEscapes) {
    // U+202E right-to-left override, U+061C Arabic letter mark, U+2067 isolate,
    // U+200B zero width space, U+FEFF, a tag character beyond the first plane.
    EXPECT_EQ(Escaped("evil_\u202egnp.wav"), "evil_\\u202egnp.wav");
    EXPECT_EQ(Escaped("a\u061Cb\u2067c\u200Bd\uFEFFe"), "a\\u061cb\\u2067c\\u200bd\\ufeffe");
    EXPECT_EQ(Escaped("x\U000E0041y"), "x\\U000e0041y");
    // Visible text is left alone, however far from ASCII.
    EXPECT_EQ(Escaped("Caf\u00e9 \u05e9\u05dc\u05d5\u05dd \U0001F3B5.wav"),
              "Caf\u00e9 \u05e9\u05dc\u05d5\u05dd \U0001F3B5.wav");
    // Controls, bytes that are not UTF-8, and a backslash that would forge an escape.
    EXPECT_EQ(Escaped("a\nb\x01\xff\\u202e"), "a\\nb\\x01\\xff\\\\u202e");
}
