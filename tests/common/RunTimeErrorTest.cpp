#include "RunTimeError.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <stdexcept>

using vb::RunTimeError;

TEST(RunTimeError, StandardTextsAndUnknownNumbers) {
    EXPECT_EQ(vb::StandardErrorText(5), "Invalid procedure call or argument");
    EXPECT_EQ(vb::StandardErrorText(6), "Overflow");
    EXPECT_EQ(vb::StandardErrorText(13), "Type mismatch");
    EXPECT_EQ(vb::StandardErrorText(53), "File not found");
    EXPECT_EQ(vb::StandardErrorText(57), "Device I/O error");
    EXPECT_EQ(vb::StandardErrorText(61), "Disk full");
    EXPECT_EQ(vb::StandardErrorText(70), "Permission denied");
    EXPECT_EQ(vb::StandardErrorText(75), "Path/File access error");
    EXPECT_EQ(vb::StandardErrorText(76), "Path not found");
    EXPECT_EQ(vb::StandardErrorText(440), "Automation error");
    EXPECT_EQ(vb::StandardErrorText(12345), "Application-defined or object-defined error");
    EXPECT_EQ(vb::StandardErrorText(-1), "Application-defined or object-defined error");
}

TEST(RunTimeError, DefaultsComeFromTheRuntimeAndTheRaisingLine) {
    const int line = __LINE__ + 1;
    RunTimeError e(53);
    EXPECT_EQ(e.Number(), 53);
    EXPECT_EQ(e.Description(), "File not found");
    EXPECT_EQ(e.Source(), vb::ProjectSource());
    EXPECT_EQ(e.Line(), line);

    RunTimeError own(vb::kObjectError + 1, "mmioOpen failed on x.wav", "VelorizeFile");
    EXPECT_EQ(own.Number(), -2147221503);
    EXPECT_EQ(own.Source(), "VelorizeFile");
    EXPECT_STREQ(own.what(), "mmioOpen failed on x.wav");
}

TEST(RunTimeError, OperatingSystemErrorsMapToRuntimeNumbers) {
    EXPECT_EQ(vb::ErrorNumberFromErrno(ENOENT), 53);
    EXPECT_EQ(vb::ErrorNumberFromErrno(ENOTDIR), 76);
    EXPECT_EQ(vb::ErrorNumberFromErrno(EACCES), 70);
    EXPECT_EQ(vb::ErrorNumberFromErrno(EROFS), 70);
    EXPECT_EQ(vb::ErrorNumberFromErrno(ENOSPC), 61);
    EXPECT_EQ(vb::ErrorNumberFromErrno(EFBIG), 61);
    EXPECT_EQ(vb::ErrorNumberFromErrno(EIO), 57);
    EXPECT_EQ(vb::ErrorNumberFromErrno(EISDIR), 75);
}

TEST(RunTimeError, ForeignExceptionsBecomeRunTimeErrorsWithoutALine) {
    auto convert = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return vb::CurrentExceptionAsRunTimeError();
        }
        return RunTimeError(0);
    };
    auto a = convert([] { throw std::runtime_error("boom"); });
    EXPECT_EQ(a.Number(), 440);
    EXPECT_EQ(a.Line(), 0);
    auto b = convert([] { throw std::bad_alloc(); });
    EXPECT_EQ(b.Number(), 7);
    auto c = convert([] { throw RunTimeError(61); });
    EXPECT_EQ(c.Number(), 61);
    EXPECT_GT(c.Line(), 0);
}
