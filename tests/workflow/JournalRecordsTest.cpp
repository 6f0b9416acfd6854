// The journal's lines: what is written is read back the same, a line changed
// by a single digit or written without its checksum is named and never used,
// and journals of the first version are still read.
#include "JournalRecords.h"

#include <gtest/gtest.h>

using namespace velorizer;

TEST(JournalRecords, WhatIsWrittenIsReadBackAndAChangedDigitIsRefusedWithItsLine) {
    FileChange c;
    c.path = "/loops/Kick 01\n\xff.wav";
    c.device = 2049;
    c.inode = 131;
    c.modifiedNs = 1699999999123456789;
    c.lengthBefore = 44;
    c.lengthAfter = 76;
    c.tail = {'a', 'c', 'i', 'd', 24, 0, 0, 0};
    c.tail.resize(32, 7);
    c.patches.push_back({4, {36, 0, 0, 0}, {68, 0, 0, 0}});
    Outcome written;
    written.result = Result::Written;
    written.lengthAfter = 76;
    written.modifiedNs = 1700000000000000001;
    const std::string change = journal::Sealed(journal::ChangeContent(7, c));
    const std::string text = std::string(journal::kMagic2) + "\n" + journal::Sealed("program velorize") +
                             journal::Sealed("started 5") + change + journal::Sealed(journal::NoteContent(7, written)) +
                             journal::Sealed("finished 6 1 cancelled");
    journal::Parsed p;
    ASSERT_TRUE(journal::Parse(text, p));
    EXPECT_EQ(p.version, 2);
    ASSERT_EQ(p.changes.size(), 1u);
    EXPECT_EQ(p.changes[0], c);
    EXPECT_EQ(p.numbers[0], 7u);
    EXPECT_EQ(p.notes.at(7).result, Result::Written);
    EXPECT_EQ(p.notes.at(7).modifiedNs, written.modifiedNs);
    EXPECT_TRUE(p.finished && p.cancelled);
    EXPECT_TRUE(p.bad.empty());

    // The old RIFF size 36 made 37 (hex 24 -> 25), and a line made by hand.
    std::string bent = text;
    bent.replace(bent.find(":24000000:"), 10, ":25000000:");
    bent += "change 8 /x.wav 1 2 0 44 76 - 4:24000000:44000000\n";
    journal::Parsed q;
    ASSERT_TRUE(journal::Parse(bent, q));
    EXPECT_TRUE(q.changes.empty());
    ASSERT_EQ(q.bad.size(), 2u);
    EXPECT_EQ(q.bad[0].line, 4u);
    EXPECT_EQ(q.bad[0].why, "its checksum is wrong");
    EXPECT_EQ(q.bad[1].line, 7u);

    // A journal of the first version (a line that ends before its tail is
    // refused, not read past), and text that is no journal.
    journal::Parsed old;
    ASSERT_TRUE(
        journal::Parse("velorizer journal 1\nprogram velorun\nchange /a.wav 1 2 44 76 - 4:24000000:44000000\n"
                       "change /b.wav 1 3 44 76\nundone 9\n",
                       old));
    EXPECT_EQ(old.version, 1);
    ASSERT_EQ(old.changes.size(), 1u);
    EXPECT_EQ(old.bad.size(), 1u);
    EXPECT_EQ(old.changes[0].lengthAfter, 76);
    EXPECT_TRUE(old.undone);
    EXPECT_FALSE(journal::Parse("a journal?\n", old));
}
